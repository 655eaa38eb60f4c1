#include "store/log_writer.h"

#include "store/file_names.h"
#include "store/record_file.h"

namespace zelsync {

bool AppendToModificationLogs(const WString& folder, const std::vector<LoggedChange>& changes,
                              const WString& change_time, uint32_t* change_number) {
  if (changes.empty()) return true;
  Stream irmc = OpenForAppend(folder + BookkeepingFileNameW(BookkeepingFile::kIrmcLog),
                              sizeof(ModificationLogRecord));
  Stream syncml = OpenForAppend(folder + BookkeepingFileNameW(BookkeepingFile::kSyncMLLog),
                                sizeof(SyncMLModificationLogRecord));
  if (!irmc || !syncml) return false;
  for (const LoggedChange& change : changes) {
    ModificationLogRecord record;
    record.type = change.type;
    record.kind = change.kind;
    CopyBounded(record.entry_id, kWideUnits, change.entry_id);
    SyncMLModificationLogRecord stamped;
    stamped.type = change.type;
    stamped.kind = change.kind;
    CopyBounded(stamped.entry_id, kWideUnits, change.entry_id);
    CopyBounded(stamped.change_time, sizeof stamped.change_time / sizeof stamped.change_time[0], change_time);
    stamped.change_number = ++*change_number;
    if (irmc->Write(&record, sizeof record) != sizeof record) return false;
    if (syncml->Write(&stamped, sizeof stamped) != sizeof stamped) return false;
  }
  // One sync per log for the whole batch: the state that marks these changes
  // as reported is saved only after this returns, so a crash before then
  // reports them again rather than losing them.
  return irmc->Sync() && syncml->Sync();
}

}  // namespace zelsync
