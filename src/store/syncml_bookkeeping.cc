// The exports around a SyncML session: cursor resets, the saved copies of
// the device's files, the rollback, the list of records the session
// created, the report of deletions and the LUIDs the device assigned.
#include "store/deletions.h"
#include "store/file_names.h"
#include "store/session.h"
#include "store/store_exports.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace {

// Copies `backup` over `target` and removes the backup once the copy stands.
void RestoreFrom(const WString& backup, const WString& target) {
  Env& env = Env::Current();
  if (env.Stat(backup) != FsStatus::kOk) return;
  if (env.Copy(backup, target) == FsStatus::kOk) env.RemoveFile(backup);
}

// Deletes, through `delete_record`, every item listed in the new-records
// file, then the file. False when the file exists but cannot be read.
bool DeleteCreatedItems(const WString& new_records, const DeleteRecordFn& delete_record) {
  Env& env = Env::Current();
  if (env.Stat(new_records) != FsStatus::kOk) return true;
  Stream stream = env.Open(new_records, OpenMode::kReadBinary, nullptr);
  if (!stream) return false;
  TempNewRecord record;
  while (ReadExact(*stream, &record, sizeof record)) {
    delete_record(record.type, FieldText(record.luid));
  }
  stream.reset();
  env.RemoveFile(new_records);
  return true;
}

}  // namespace

int SyncMLResetCounters() {
  Session& session = CurrentSession();
  session.RewindCursors();
  session.ClearAnchor();
  return 1;
}

int SyncMLDecrementSyncObjectIndex(uint32_t type) {
  if (!IsObjectType(type)) return 0;
  EnumerationCursor& cursor = CurrentSession().cursors[type];
  if (cursor.index <= 1) return 0;
  --cursor.index;
  return 1;
}

int SyncMLSaveDBFiles(uint64_t address) {
  Session& session = CurrentSession();
  Env& env = Env::Current();
  SyncMLBackups& backups = session.backups;
  backups.flag = 0;
  BoundedPath folder = SyncFolderPath();
  // Without a sync folder there is nothing to save (and it is not made here).
  if (!folder.ok() || env.Stat(folder.str()) != FsStatus::kOk) return 1;
  folder.Append(kPathSeparator);
  int result = 1;
  auto in_folder = [&](const WString& name) {
    BoundedPath path(folder.str());
    path.Append(name);
    if (!folder.ok() || !path.ok()) result = 0;
    return path.str();
  };
  backups.log = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLogBackup));
  backups.new_records = in_folder(BookkeepingFileNameW(BookkeepingFile::kNewRecords));
  backups.database = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabaseBackup, DeviceAddressName(address)));
  if (env.Stat(session.syncml.database) == FsStatus::kOk &&
      env.Copy(session.syncml.database, backups.database) == FsStatus::kOk) {
    backups.flag = 1;
  }
  if (env.Stat(session.syncml.modification_log) == FsStatus::kOk &&
      env.Copy(session.syncml.modification_log, backups.log) == FsStatus::kOk) {
    backups.flag = 1;
  }
  return result;
}

int SyncMLRestoreDBFiles(uint64_t /*address*/, const DeleteRecordFn& delete_record) {
  Session& session = CurrentSession();
  const SyncMLBackups& backups = session.backups;
  // The items the session created go first, while the database still knows
  // their LUIDs; only then are the saved files put back.
  const bool listed = DeleteCreatedItems(backups.new_records, delete_record);
  if (backups.flag) {
    RestoreFrom(backups.database, session.syncml.database);
    RestoreFrom(backups.log, session.syncml.modification_log);
  }
  if (!listed) return 0;
  if (!backups.flag) {
    // Nothing was saved: the next session with the device starts afresh.
    Env::Current().RemoveFile(session.syncml.database);
    Env::Current().RemoveFile(session.syncml.modification_log);
  }
  return 1;
}

int SyncMLAddNewRecToTempDBFile(uint32_t type, const WString& luid) {
  Env& env = Env::Current();
  const WString& path = CurrentSession().backups.new_records;
  Stream stream;
  if (env.Stat(path) == FsStatus::kOk) {
    stream = OpenForUpdate(path);
    if (!stream || !stream->Seek(0, SeekFrom::kEnd)) return 0;
  } else {
    stream = env.Open(path, OpenMode::kCreateUpdateBinary, nullptr);
    if (!stream) return 0;
  }
  TempNewRecord record;
  record.type = type;
  CopyBounded(record.luid, kWideUnits, luid);
  return stream->Write(&record, sizeof record) == sizeof record && stream->Sync() ? 1 : 0;
}

void SyncMLDeleteTempFiles() {
  Env& env = Env::Current();
  const SyncMLBackups& backups = CurrentSession().backups;
  if (backups.flag) {
    env.RemoveFile(backups.database);
    env.RemoveFile(backups.log);
  }
  if (env.Stat(backups.new_records) == FsStatus::kOk) env.RemoveFile(backups.new_records);
}

int SyncMLGetDeletedRecord(uint32_t type, WString* entry_id, WString* luid, int32_t* hard_delete) {
  DeviceRecord found;
  if (!ReportNextDeletion(SyncMLModificationLog(), SyncMLDatabase(), type, &found, hard_delete)) {
    return 0;
  }
  *entry_id = FieldText(found.entry_id);
  *luid = FieldText(found.luid);
  return 1;
}

int SyncMLUpdateEntryIDLUIDMapping(uint32_t type, const WString& entry_id, const WString& luid) {
  Stream stream = OpenForUpdate(SyncMLDatabase().files.path);
  if (!stream) return 0;
  return RemapSyncMLRecord(MakeDeviceRecord(type, entry_id, luid), std::move(stream));
}

}  // namespace zelsync
