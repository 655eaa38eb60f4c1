// GetModifiedRecord and SyncMLGetModifiedRecord: report, one per call, an
// item whose change the modification log holds and that the device holds
// under an assigned LUID, as a new file of the item.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/session.h"

namespace zelsync {
namespace outlook {
namespace {

// kUnreachable: the store cannot be reached or its folder opened, so no
// item can be exported in this call. kAbsent: the item is not in its
// default folder. kFailed: the item's file could not be made.
enum class Export { kDone, kUnreachable, kAbsent, kFailed };

// ExportModifiedItem / SyncMLExportModifiedItem: finds the item in its
// default folder, produces its file and removes its log records.
Export ExportModifiedItem(const Scheme& scheme, uint32_t type, const WString& entry_id,
                          WString* path) {
  Connection connection;
  if (!ConnectWithWindow(&connection) || !IsObjectType(type)) return Export::kUnreachable;
  std::shared_ptr<Items> items;
  if (!OpenTypeItems(*connection.application, type, &items)) return Export::kUnreachable;
  TypedItem item;
  switch (FindItemByEntryID(*items, type, entry_id, &item)) {
    case Lookup::kFound:
      break;
    case Lookup::kAbsent:
      return Export::kAbsent;
    case Lookup::kFailed:
      return Export::kFailed;
  }
  if (!ProduceFile(item, entry_id, scheme.note_form, path)) return Export::kFailed;
  const ModificationLog log = scheme.Log();
  if (Stream stream = OpenForUpdate(log.files.path)) {
    RemoveLogEntries(log, type, entry_id, std::move(stream));
  }
  return Export::kDone;
}

// The date and time numbers of a "00000000T000000Z" stamp; both 0 when the
// text does not parse.
void ParseStamp(const char16_t* field, unsigned* date, unsigned* time) {
  const std::string text = Utf16ToUtf8(FieldText(field, 20));
  int d = 0, t = 0;
  if (sscanf(text.c_str(), "%8dT%6dZ", &d, &t) != 2) d = t = 0;
  *date = static_cast<unsigned>(d);
  *time = static_cast<unsigned>(t);
}

// A SyncML change counts when it is not older than the session anchor.
bool NotOlderThanAnchor(const unsigned char* bytes) {
  SyncMLModificationLogRecord record;
  memcpy(&record, bytes, sizeof record);
  const _SYNCML_SYNCANCHOR_RECORD& anchor = CurrentSession().anchor;
  if (anchor.AnchorKind == 0) return record.change_number >= anchor.NumericAnchor;
  unsigned date, time, anchor_date, anchor_time;
  ParseStamp(record.change_time, &date, &time);
  ParseStamp(reinterpret_cast<const char16_t*>(anchor.TimeAnchor), &anchor_date, &anchor_time);
  return date > anchor_date || (date == anchor_date && time >= anchor_time);
}

// The first log record at or after position `*next` that fits and whose
// item is not in `passed`; *next is left on it. False at the end of the log
// or when it cannot be opened.
bool NextFitting(const Scheme& scheme, const ModificationLog& log, uint32_t type,
                 const std::vector<WString>& passed, size_t* next, WString* entry_id) {
  Stream stream = OpenForUpdate(log.files.path);
  const size_t size = log.files.layout.record_size;
  if (!stream || !stream->Seek(static_cast<int64_t>(*next * size), SeekFrom::kBegin)) return false;
  RecordReader reader(*stream, size);
  for (; const unsigned char* bytes = reader.Next(); ++*next) {
    uint32_t record_type, kind;
    memcpy(&record_type, bytes, 4);
    memcpy(&kind, bytes + 4, 4);
    // A record marked removed matches no type, not even the marker.
    if (IsRemovedRecord(bytes) || record_type != type || kind != 0) continue;
    if (scheme.syncml && !NotOlderThanAnchor(bytes)) continue;
    char16_t id[kWideUnits];
    memcpy(id, bytes + 8, sizeof id);
    *entry_id = FieldText(id);
    if (entry_id->size() > kMaxWideLength) continue;  // no terminator: names no item
    if (std::find(passed.begin(), passed.end(), *entry_id) != passed.end()) continue;
    return true;
  }
  return false;
}

int ReportModifiedRecord(const Scheme& scheme, uint32_t type, WString* entry_id, WString* luid,
                         WString* path) {
  const ModificationLog log = scheme.Log();
  const DeviceDatabase db = scheme.Database();
  if (Env::Current().Stat(log.files.path) != FsStatus::kOk) return 0;
  // Items passed over in this call. Their entries stay in the log; a removal
  // of another item's entries may move them (when it rewrites the log), so
  // the scan then starts again from the beginning and skips them by name.
  std::vector<WString> passed;
  size_t next = 0;
  WString changed;
  DeviceRecord mapped;
  auto remove_entries = [&] {
    Stream entries = OpenForUpdate(log.files.path);
    if (!entries || RemoveLogEntries(log, type, changed, std::move(entries)) != 1) return false;
    next = 0;
    return true;
  };
  for (;;) {
    if (!NextFitting(scheme, log, type, passed, &next, &changed)) return 0;
    Stream database = OpenForUpdate(db.files.path);
    if (!database || LookupMappedRecord(db, type, changed, &mapped, std::move(database)) != 1) {
      // The device does not hold the item (yet). IrMC passes the entry over;
      // SyncML drops the item's entries.
      if (!scheme.syncml || !remove_entries()) passed.push_back(changed);
      continue;
    }
    switch (ExportModifiedItem(scheme, type, changed, path)) {
      case Export::kDone:
        *luid = FieldText(mapped.luid);
        *entry_id = FieldText(mapped.entry_id);
        return 1;
      case Export::kUnreachable:
        // The store could not be reached or shows no window: the change stays
        // in the log and is reported by a later call.
        return 0;
      case Export::kAbsent:
        // IrMC: an item gone from its folder is not offered again. SyncML
        // keeps the entry (its deletion is reported on its own).
        if (scheme.syncml || !remove_entries()) passed.push_back(changed);
        continue;
      case Export::kFailed:
        // The item's file could not be made: its change stays for a later
        // session, and the changes after it are reported now.
        passed.push_back(changed);
        continue;
    }
    return 0;
  }
}

}  // namespace
}  // namespace outlook

int GetModifiedRecord(uint32_t type, WString* entry_id, WString* luid, WString* file_path) {
  if (!outlook::FinishPendingChange(outlook::kIrmc)) return 0;
  return outlook::ReportModifiedRecord(outlook::kIrmc, type, entry_id, luid, file_path);
}

int SyncMLGetModifiedRecord(uint32_t type, WString* entry_id, WString* luid, WString* file_path) {
  if (!outlook::FinishPendingChange(outlook::kSyncML)) return 0;
  return outlook::ReportModifiedRecord(outlook::kSyncML, type, entry_id, luid, file_path);
}

}  // namespace zelsync
