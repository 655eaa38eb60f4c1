// The IrMC device session: the paths of the current device database and the
// change counter in its first 4 bytes.
#include "platform/platform.h"
#include "store/device_database.h"
#include "store/file_names.h"
#include "store/modification_log.h"
#include "store/record_file.h"
#include "store/session.h"
#include "store/store_exports.h"
#include "store/sync_folder.h"

namespace zelsync {

bool IsSafeFileNamePart(const WString& id) {
  if (id.empty() || id == u"." || id == u"..") return false;
  for (char16_t c : id) {
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?':
      case u'"': case u'<': case u'>': case u'|':
        return false;
      default:
        break;
    }
  }
  return true;
}

int SetDeviceIDDatabaseID(const WString& device_id, const WString& database_id) {
  IrmcPaths& paths = CurrentSession().irmc;
  BoundedPath folder = SyncFolderPath();
  int result = folder.ok() ? 1 : 0;
  auto in_folder = [&](const WString& name) {
    BoundedPath path(folder.str());
    path.Append(kPathSeparator);
    path.Append(name);
    if (!path.ok() || !folder.ok()) {
      result = 0;
      return WString();
    }
    return path.str();
  };
  paths.record_scratch = in_folder(BookkeepingFileNameW(BookkeepingFile::kIrmcDatabaseScratch));
  paths.log_scratch = in_folder(BookkeepingFileNameW(BookkeepingFile::kIrmcLogScratch));
  if (folder.ok() && !EnsureFolder(folder.str())) result = 0;
  paths.modification_log = in_folder(BookkeepingFileNameW(BookkeepingFile::kIrmcLog));
  // The IDs become part of a file name: one that could reach outside the
  // sync folder, or is no valid name, leaves the session without a database.
  if (IsSafeFileNamePart(device_id) && IsSafeFileNamePart(database_id)) {
    const WString device = device_id + u"_" + database_id;
    paths.database = in_folder(BookkeepingFileNameW(BookkeepingFile::kIrmcDatabase, device));
    paths.pending = in_folder(BookkeepingFileNameW(BookkeepingFile::kIrmcPendingChange, device));
  } else {
    paths.database.clear();
    paths.pending.clear();
    result = 0;
  }
  return result;
}

int IsDeviceIDKnown() {
  return Env::Current().FindFile(CurrentSession().irmc.database) == FsStatus::kOk ? 1 : 0;
}

int FileExists(const WString& path) { return Env::Current().Stat(path) == FsStatus::kOk ? 1 : 0; }

namespace {

// The search both counter operations begin with: -1 when the database is
// there, else the result to return (0 for a missing file, 1 when the folder
// or the path is missing).
int CounterPrecheck() {
  switch (Env::Current().FindFile(CurrentSession().irmc.database)) {
    case FsStatus::kOk:
      return -1;
    case FsStatus::kNotFound:
      return 0;
    default:
      return 1;
  }
}

}  // namespace

int UpdateChangeCounter(uint32_t value) {
  // Nothing is stored unless the database is there: 0 in every such case.
  if (CounterPrecheck() != -1) return 0;
  // Asked before the counter is written, which the kept index cannot follow.
  const bool marked = MayHoldMarks(IrmcDatabase());
  Stream stream = OpenForUpdate(CurrentSession().irmc.database);
  if (!stream) return 0;
  uint32_t old_value;
  if (!ReadExact(*stream, &old_value, sizeof old_value)) return 0;
  if (!stream->Seek(0, SeekFrom::kBegin)) return 0;
  if (stream->Write(&value, sizeof value) != sizeof value || !stream->Sync()) return 0;
  stream.reset();
  // The counter is stored at the end of a session: the records its removals
  // marked go, so that the files at rest normally hold none. A compaction
  // that fails leaves the marks, which every reader passes over.
  if (marked) CompactDatabase(IrmcDatabase());
  CompactLog(IrmcModificationLog());
  return 1;
}

int GetChangeCounter(uint32_t* counter) {
  *counter = 0;
  int precheck = CounterPrecheck();
  if (precheck != -1) return precheck;
  Stream stream = OpenForUpdate(CurrentSession().irmc.database);
  if (!stream) return 0;
  uint32_t value;
  if (!ReadExact(*stream, &value, sizeof value)) return 0;
  *counter = value;
  return 1;
}

}  // namespace zelsync
