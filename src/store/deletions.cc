#include "store/deletions.h"

namespace zelsync {

int ReportNextDeletion(const ModificationLog& log, const DeviceDatabase& db, uint32_t type,
                       DeviceRecord* found, int32_t* hard_delete) {
  *hard_delete = 0;
  for (;;) {
    LogEntry deletion;
    bool any = FindLogEntry(
        log, [&](const LogEntry& entry) { return entry.type == type && entry.kind != 0; },
        &deletion);
    if (!any) return 0;
    Stream database = OpenForUpdate(db.files.path);
    if (database &&
        LookupMappedRecord(db, type, deletion.entry_id, found, std::move(database)) == 1) {
      if (deletion.kind == 2) *hard_delete = 1;
      if (Stream again = OpenForUpdate(db.files.path)) RemoveRecord(db, *found, std::move(again));
      if (Stream entries = OpenForUpdate(log.files.path)) {
        RemoveLogEntries(log, type, deletion.entry_id, std::move(entries));
      }
      return 1;
    }
    // The device never had the item (or never confirmed it): the entry is
    // stale. Drop all of the item's entries and look again from the start.
    Stream entries = OpenForUpdate(log.files.path);
    if (!entries || RemoveLogEntries(log, type, deletion.entry_id, std::move(entries)) != 1) {
      return 0;
    }
  }
}

}  // namespace zelsync
