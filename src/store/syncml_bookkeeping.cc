// The exports around a SyncML session: cursor resets, the saved copies of
// the device's files, the rollback, the list of records the session
// created, the report of deletions and the LUIDs the device assigned.
#include <algorithm>
#include <utility>
#include <vector>

#include "store/deletions.h"
#include "store/file_names.h"
#include "store/record_index.h"
#include "store/session.h"
#include "store/store_exports.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace {

// Copies `backup` over `target` and removes the backup once the copy stands.
// False when the copy failed: the backup stays for another attempt.
bool RestoreFrom(const WString& backup, const WString& target) {
  Env& env = Env::Current();
  if (env.Stat(backup) != FsStatus::kOk) return true;
  DropIndex(target);
  if (env.Copy(backup, target) != FsStatus::kOk) return false;
  env.RemoveFile(backup);
  return true;
}

bool Exists(const WString& path) { return Env::Current().Stat(path) == FsStatus::kOk; }

// A LUID of one object type.
using TypedLuid = std::pair<uint32_t, WString>;

// Deletes, through `delete_record`, every item listed in the new-records
// file; the LUIDs whose items went are added to *deleted. The file stays
// until the rollback is complete, so that a repeated rollback knows the
// LUIDs again. False when the file exists but cannot be read, or an item
// could not be deleted.
bool DeleteCreatedItems(const WString& new_records, const DeleteRecordFn& delete_record,
                        std::vector<TypedLuid>* deleted) {
  Env& env = Env::Current();
  if (!Exists(new_records)) return true;
  Stream stream = env.Open(new_records, OpenMode::kReadBinary, nullptr);
  if (!stream) return false;
  bool all = true;
  TempNewRecord record;
  while (ReadExact(*stream, &record, sizeof record)) {
    TypedLuid listed{record.type, FieldText(record.luid)};
    if (delete_record(listed.first, listed.second)) {
      deleted->push_back(std::move(listed));
    } else {
      all = false;
    }
  }
  return all;
}

// After the saved database is back, each LUID that an update gave a new
// item is pointed at that item: the old one is gone from the store, the new
// one holds the device's version. A LUID the saved database does not know
// is mapped afresh, so the new item is not offered to the device as new.
// A LUID in `deleted` is left alone: the rollback deleted the item that its
// session created under it, and with it every item an update put in its
// place, so a record would tie the LUID to an item that no longer exists
// (and make a later creation under it look like a duplicate).
// False when the journal exists but cannot be read or a record not written.
bool RedirectUpdatedLuids(const SyncMLBackups& backups, const std::vector<TypedLuid>& deleted) {
  Env& env = Env::Current();
  if (!Exists(backups.updates)) return true;
  Stream journal = env.Open(backups.updates, OpenMode::kReadBinary, nullptr);
  if (!journal) return false;
  bool ok = true;
  const DeviceDatabase db = SyncMLDatabaseAt(backups.database_target, WString());
  TempUpdatedRecord entry;
  while (ReadExact(*journal, &entry, sizeof entry)) {
    if (!Exists(db.files.path)) break;
    const WString luid = FieldText(entry.luid), entry_id = FieldText(entry.new_entry_id);
    if (std::find(deleted.begin(), deleted.end(), TypedLuid{entry.type, luid}) != deleted.end()) {
      continue;
    }
    bool found = false;
    if (!RedirectRecordByLUID(db, entry.type, luid, entry_id, &found,
                              OpenForUpdate(db.files.path))) {
      ok = false;
    } else if (!found && !AppendRecord(db, MakeDeviceRecord(entry.type, entry_id, luid))) {
      ok = false;
    }
  }
  journal.reset();
  if (ok) env.RemoveFile(backups.updates);
  return ok;
}

// The session files in the sync folder for a save of `address`; false when
// a path does not fit.
bool BuildBackupPaths(const BoundedPath& folder, uint64_t address, SyncMLBackups* backups) {
  bool fits = folder.ok();
  auto in_folder = [&](const WString& name) {
    BoundedPath path(folder.str());
    path.Append(name);
    if (!path.ok()) fits = false;
    return path.str();
  };
  const WString device = DeviceAddressName(address);
  backups->log = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLogBackup));
  backups->new_records = in_folder(BookkeepingFileNameW(BookkeepingFile::kNewRecords));
  backups->updates = in_folder(BookkeepingFileNameW(BookkeepingFile::kUpdatedRecords));
  backups->marker = in_folder(BookkeepingFileNameW(BookkeepingFile::kSessionMarker));
  backups->database = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabaseBackup, device));
  backups->database_target = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabase, device));
  backups->log_target = in_folder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLog));
  return fits;
}

// The sync folder with its trailing separator, when it exists.
bool ExistingSyncFolder(BoundedPath* folder) {
  *folder = SyncFolderPath();
  if (!folder->ok() || !Exists(folder->str())) return false;
  folder->Append(kPathSeparator);
  return folder->ok();
}

enum class Marker { kAbsent, kRead, kDamaged };

// Reads the marker of an open session. A marker cut short by a crash while
// it was written still marks the session as open; its content is then
// unknown.
Marker ReadMarker(const WString& path, SyncMLSessionMarker* marker) {
  if (!Exists(path)) return Marker::kAbsent;
  Stream stream = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!stream || !ReadExact(*stream, marker, sizeof *marker)) return Marker::kDamaged;
  return Marker::kRead;
}

bool WriteMarker(const WString& path, const SyncMLSessionMarker& marker) {
  Stream stream = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return stream && stream->Write(&marker, sizeof marker) == sizeof marker && stream->Sync();
}

// Takes over the session that the marker in `folder` describes: the paths
// and flag of its save. `fallback` names the device when the marker cannot
// be read; the flag then follows from the backups that exist.
// Returns the device of that session.
uint64_t AdoptOpenSession(const BoundedPath& folder, uint64_t fallback, SyncMLBackups* backups) {
  SyncMLSessionMarker marker;
  WString marker_path = backups->marker;
  if (ReadMarker(marker_path, &marker) != Marker::kRead) {
    marker.address = fallback;
    BuildBackupPaths(folder, fallback, backups);
    marker.flag = Exists(backups->database) || Exists(backups->log) ? 1 : 0;
  }
  BuildBackupPaths(folder, marker.address, backups);
  backups->flag = marker.flag;
  return marker.address;
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
  // Without a sync folder there is nothing to save (and it is not made here).
  BoundedPath folder;
  if (!ExistingSyncFolder(&folder)) return 1;
  const bool fits = BuildBackupPaths(folder, address, &backups);
  if (Exists(backups.marker)) {
    // The backups belong to a session that never ended (its process may
    // have died). They are the only way back to a state the device agreed
    // to, so they are kept for SyncMLRestoreDBFiles and nothing is saved.
    AdoptOpenSession(folder, address, &backups);
    return 0;
  }
  // Lists of an earlier session that ended without removing them (its
  // marker was already gone) would join this session's rollback.
  env.RemoveFile(backups.new_records);
  env.RemoveFile(backups.updates);
  if (Exists(session.syncml.database) &&
      env.Copy(session.syncml.database, backups.database) == FsStatus::kOk) {
    backups.flag = 1;
  }
  if (Exists(session.syncml.modification_log) &&
      env.Copy(session.syncml.modification_log, backups.log) == FsStatus::kOk) {
    backups.flag = 1;
  }
  if (!fits) return 0;
  // The marker goes last: once it stands, the backups are complete and any
  // later process can roll the session back.
  SyncMLSessionMarker marker;
  marker.address = address;
  marker.flag = backups.flag;
  if (!WriteMarker(backups.marker, marker)) {
    env.RemoveFile(backups.marker);
    return 0;
  }
  return 1;
}

int SyncMLRestoreDBFiles(uint64_t address, const DeleteRecordFn& delete_record,
                         const std::function<bool()>& finish_pending) {
  Session& session = CurrentSession();
  Env& env = Env::Current();
  SyncMLBackups& backups = session.backups;
  BoundedPath folder;
  if (!ExistingSyncFolder(&folder)) return 1;
  BuildBackupPaths(folder, address, &backups);
  // Only a session whose marker stands has anything to roll back; without
  // one the device's files are current and stay as they are.
  if (!Exists(backups.marker)) return 1;
  const uint64_t device = AdoptOpenSession(folder, address, &backups);
  // The items the session created go first, while the database still knows
  // their LUIDs; then the saved files are put back, and the LUIDs that
  // updates moved to new items follow them.
  const SyncMLPaths selected = session.syncml;
  SyncMLPathsIn(folder, device, &session.syncml);
  if (finish_pending && !finish_pending()) {
    session.syncml = selected;
    return 0;
  }
  std::vector<TypedLuid> deleted;
  const bool listed = DeleteCreatedItems(backups.new_records, delete_record, &deleted);
  session.syncml = selected;
  // Only the current database maps a created item's LUID to the item: with
  // an item not deleted (or the list unread), the saved files stay where
  // they are, so that a later rollback can still find and delete it. An
  // item left behind and unknown to the restored database would go to the
  // device as new, beside the device's own copy of it.
  if (!listed) return 0;
  bool restored = true;
  if (backups.flag) {
    restored = RestoreFrom(backups.database, backups.database_target);
    restored = RestoreFrom(backups.log, backups.log_target) && restored;
  }
  // A saved file that could not be put back leaves the session open: its
  // marker and lists stay, and a later rollback finishes the work.
  if (!restored) return 0;
  if (!backups.flag) {
    // Nothing was saved: the next session with the device starts afresh.
    DropIndex(backups.database_target);
    env.RemoveFile(backups.database_target);
    env.RemoveFile(backups.log_target);
  }
  if (!RedirectUpdatedLuids(backups, deleted)) return 0;
  env.RemoveFile(backups.new_records);
  env.RemoveFile(backups.marker);
  return 1;
}

int SyncMLAddNewRecToTempDBFile(uint32_t type, const WString& luid) {
  TempNewRecord record;
  record.type = type;
  CopyBounded(record.luid, kWideUnits, luid);
  return AppendWholeRecord(CurrentSession().backups.new_records, &record, sizeof record) ? 1 : 0;
}

int ListSyncMLCreation(uint32_t type, const WString& luid) {
  const SyncMLBackups& backups = CurrentSession().backups;
  if (backups.marker.empty() || !Exists(backups.marker)) return 0;
  return SyncMLAddNewRecToTempDBFile(type, luid);
}

int JournalSyncMLUpdate(uint32_t type, const WString& luid, const WString& old_entry_id,
                        const WString& new_entry_id) {
  const SyncMLBackups& backups = CurrentSession().backups;
  const WString& path = backups.updates;
  if (path.empty() || !Exists(backups.marker)) return 0;
  TempUpdatedRecord record;
  record.type = type;
  CopyBounded(record.luid, kWideUnits, luid);
  CopyBounded(record.old_entry_id, kWideUnits, old_entry_id);
  CopyBounded(record.new_entry_id, kWideUnits, new_entry_id);
  return AppendWholeRecord(path, &record, sizeof record) ? 1 : 0;
}

void SyncMLDeleteTempFiles() {
  Env& env = Env::Current();
  const SyncMLBackups& backups = CurrentSession().backups;
  // The session is over once its marker is gone; what follows is cleanup
  // that the next save repeats if this process dies first.
  if (!backups.marker.empty()) env.RemoveFile(backups.marker);
  if (!backups.updates.empty()) env.RemoveFile(backups.updates);
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
