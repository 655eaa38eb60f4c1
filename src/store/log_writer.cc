#include "store/log_writer.h"

#include "store/file_names.h"

namespace zelsync {

namespace {
// Calls never overlap (see the interface), so one value serves.
StoreWriter current_writer = StoreWriter::kNone;
}  // namespace

StoreWriter CurrentStoreWriter() { return current_writer; }

StoreWriterScope::StoreWriterScope(StoreWriter writer) : previous_(current_writer) {
  if (previous_ != StoreWriter::kRollback) current_writer = writer;
}

StoreWriterScope::~StoreWriterScope() { current_writer = previous_; }

bool AppendToModificationLogs(const WString& folder, const std::vector<LoggedChange>& changes,
                              const WString& change_time, uint32_t* change_number, bool to_irmc,
                              bool to_syncml) {
  if (changes.empty()) return true;
  Env& env = Env::Current();
  std::unique_ptr<File> irmc, syncml;
  if (to_irmc) irmc = env.Open(folder + BookkeepingFileNameW(BookkeepingFile::kIrmcLog), OpenMode::kAppendBinary, nullptr);
  if (to_syncml) {
    syncml = env.Open(folder + BookkeepingFileNameW(BookkeepingFile::kSyncMLLog), OpenMode::kAppendBinary, nullptr);
  }
  if ((to_irmc && !irmc) || (to_syncml && !syncml)) return false;
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
    if (irmc && (irmc->Write(&record, sizeof record) != sizeof record || !irmc->Sync())) return false;
    if (syncml && (syncml->Write(&stamped, sizeof stamped) != sizeof stamped || !syncml->Sync())) return false;
  }
  return true;
}

}  // namespace zelsync
