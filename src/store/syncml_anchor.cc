// The SyncML device store: the device's database named after its Bluetooth
// address and headed by the anchor of the last completed synchronisation.
#include <cstdio>
#include <cstring>

#include "store/device_database.h"
#include "store/file_names.h"
#include "store/modification_log.h"
#include "store/record_file.h"
#include "store/session.h"
#include "store/store_exports.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace {

using Anchor = _SYNCML_SYNCANCHOR_RECORD;
constexpr size_t kTimeUnits = sizeof(Anchor{}.TimeAnchor) / sizeof(ZS_WCHAR);

char16_t* Time(Anchor& anchor) { return reinterpret_cast<char16_t*>(anchor.TimeAnchor); }
const char16_t* Time(const Anchor& anchor) {
  return reinterpret_cast<const char16_t*>(anchor.TimeAnchor);
}

void SetInitialTime(Anchor& anchor) {
  memset(anchor.TimeAnchor, 0, sizeof anchor.TimeAnchor);
  CopyBounded(Time(anchor), kTimeUnits, kInitialTimeAnchor);
}

// <sync folder><address>_<suffix>, the sync folder created if missing.
struct DevicePaths {
  BoundedPath folder;
  int result = 1;
  WString InFolder(const WString& name) {
    BoundedPath path(folder.str());
    path.Append(name);
    if (!folder.ok() || !path.ok()) {
      result = 0;
      return WString();
    }
    return path.str();
  }
};

DevicePaths PrepareDevicePaths() {
  DevicePaths paths;
  if (!PrepareSyncFolder(&paths.folder)) paths.result = 0;
  return paths;
}

}  // namespace

bool SyncMLPathsIn(const BoundedPath& folder, uint64_t address, SyncMLPaths* paths) {
  const WString name = DeviceAddressName(address);
  DevicePaths in{folder, 1};
  paths->modification_log = in.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLog));
  paths->log_scratch = in.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLogScratch));
  paths->database = in.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabase, name));
  paths->database_scratch = in.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabaseScratch, name));
  paths->pending = in.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLPendingChange, name));
  return in.result == 1;
}

WString DeviceAddressName(uint64_t address) {
  char text[13];
  snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", unsigned((address >> 40) & 0xFF),
           unsigned((address >> 32) & 0xFF), unsigned((address >> 24) & 0xFF),
           unsigned((address >> 16) & 0xFF), unsigned((address >> 8) & 0xFF),
           unsigned(address & 0xFF));
  return WString(text, text + 12);
}

int SyncMLSetBDAddrLastSyncAnchor(uint64_t address, const Anchor& anchor) {
  Session& session = CurrentSession();
  const WString name = DeviceAddressName(address);
  DevicePaths paths = PrepareDevicePaths();
  const int result = SyncMLPathsIn(paths.folder, address, &session.syncml) ? paths.result : 0;
  session.anchor.AnchorKind = anchor.AnchorKind;

  Env& env = Env::Current();
  const WString& database = session.syncml.database;
  if (env.Stat(database) != FsStatus::kOk) {
    // First contact: the device's anchor heads its new database.
    Stream created = env.Open(database, OpenMode::kCreateUpdateBinary, nullptr);
    if (!created) return 0;
    if (created->Write(&anchor, sizeof anchor) != sizeof anchor || !created->Sync()) return 0;
    if (anchor.AnchorKind != 0) {
      memcpy(session.anchor.TimeAnchor, anchor.TimeAnchor, sizeof anchor.TimeAnchor);
    } else {
      session.anchor.NumericAnchor = anchor.NumericAnchor;
    }
    return result;
  }

  Stream stream = OpenForUpdate(database);
  if (!stream) return 0;
  Anchor stored{};
  // A header shorter than 48 bytes holds no known anchor: a mismatch.
  const bool whole = ReadExact(*stream, &stored, sizeof stored);
  if (anchor.AnchorKind != 0) {
    if (whole && FieldEquals(Time(stored), Time(anchor), kTimeUnits)) return result;
    stored.AnchorKind = anchor.AnchorKind;
    SetInitialTime(stored);
    SetInitialTime(session.anchor);
  } else {
    if (whole && stored.NumericAnchor == anchor.NumericAnchor) return result;
    stored.AnchorKind = 0;
    stored.NumericAnchor = 0;
    session.anchor.NumericAnchor = 0;
  }
  if (!stream->Seek(0, SeekFrom::kBegin) ||
      stream->Write(&stored, sizeof stored) != sizeof stored || !stream->Sync()) {
    return 0;
  }
  return result;
}

int SyncMLGetLastSyncAnchor(uint64_t address, Anchor* anchor) {
  DevicePaths paths = PrepareDevicePaths();
  const WString database = paths.InFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLDatabase, DeviceAddressName(address)));
  if (Env::Current().Stat(database) != FsStatus::kOk) return 0;
  Stream stream = OpenForUpdate(database);
  if (!stream) return 0;
  Anchor stored;
  if (!ReadExact(*stream, &stored, sizeof stored)) return 0;
  *anchor = stored;
  return paths.result;
}

int SyncMLSetSyncComplete(const Anchor& anchor) {
  Session& session = CurrentSession();
  session.ClearAnchor();
  session.RewindCursors();
  // Asked before the anchor is written, which the kept index cannot follow.
  const bool marked = MayHoldMarks(SyncMLDatabase());
  Stream stream = OpenForUpdate(session.syncml.database);
  if (!stream) return 0;
  Anchor stored;
  if (!ReadExact(*stream, &stored, sizeof stored)) return 0;
  if (!stream->Seek(0, SeekFrom::kBegin)) return 0;
  if (stream->Write(&anchor, sizeof anchor) != sizeof anchor || !stream->Sync()) return 0;
  stream.reset();
  // The session is complete: the records its removals marked go, so that
  // the files at rest normally hold none. A compaction that fails leaves
  // the marks, which every reader passes over.
  if (marked) CompactDatabase(SyncMLDatabase());
  CompactLog(SyncMLModificationLog());
  return 1;
}

}  // namespace zelsync
