// The process-wide state of the library: the paths of the current IrMC
// device database and SyncML device, the SyncML session anchor, the SyncML
// backups and the enumeration cursors. Calls never overlap, so nothing is
// locked.
#ifndef ZELSYNC_STORE_SESSION_H
#define ZELSYNC_STORE_SESSION_H

#include <array>
#include <cstdint>

#include "platform/platform.h"
#include "store/wide.h"
#include "zelsyncdll.h"

namespace zelsync {

constexpr uint32_t kObjectTypeCount = 4;
inline bool IsObjectType(uint32_t type) { return type < kObjectTypeCount; }

// Set by SetDeviceIDDatabaseID.
struct IrmcPaths {
  WString database;          // <sync folder><deviceID>_<databaseID>.DAT
  WString modification_log;  // <sync folder>SyncModificationLog.DAT
  WString record_scratch;    // <sync folder>TEMP.DAT
  WString log_scratch;       // <sync folder>TEMPMODIFY.DAT
  WString pending;           // <sync folder><deviceID>_<databaseID>_PendingChange.DAT
};

// Set by SyncMLSetBDAddrLastSyncAnchor. The scratch files of removals are
// files of their own, so that a removal never consumes a backup.
struct SyncMLPaths {
  WString database;          // <sync folder><address>_SyncMLDB.DAT
  WString modification_log;  // <sync folder>SyncMLModificationLog.DAT
  WString database_scratch;  // <sync folder><address>_SyncMLDB_Scratch.DAT
  WString log_scratch;       // <sync folder>SyncMLModificationLog_Scratch.DAT
  WString pending;           // <sync folder><address>_SyncMLPendingChange.DAT
};

// Set by SyncMLSaveDBFiles, or taken from the marker an unfinished session
// left on disk (SyncMLRestoreDBFiles in a later process). The targets are
// the files the backups belong to: those of the device that was saved,
// whichever device the process selected since.
struct SyncMLBackups {
  WString database;         // <sync folder><address>_SyncMLDB_Temp.DAT
  WString log;              // <sync folder>SyncMLModificationLog_Temp.DAT
  WString new_records;      // <sync folder>SyncMLTempNewDBRecords.DAT
  WString updates;          // <sync folder>SyncMLTempUpdatedRecords.DAT
  WString marker;           // <sync folder>SyncMLSessionOpen.DAT
  WString database_target;  // <sync folder><address>_SyncMLDB.DAT
  WString log_target;       // <sync folder>SyncMLModificationLog.DAT
  uint32_t flag = 0;        // 1 when SyncMLSaveDBFiles copied at least one file
};

// Per object type: the 1-based index of the next item to visit in the type's
// folder, and the folder's item count (0: not read yet). Shared by the IrMC
// and SyncML new-record enumerations.
struct EnumerationCursor {
  int32_t index = 1;
  int32_t count = 0;
};

struct Session {
  IrmcPaths irmc;
  SyncMLPaths syncml;
  _SYNCML_SYNCANCHOR_RECORD anchor{};  // the session anchor
  SyncMLBackups backups;
  std::array<EnumerationCursor, kObjectTypeCount> cursors{};

  void RewindCursors() { cursors.fill(EnumerationCursor{}); }
  void ClearAnchor() { anchor = _SYNCML_SYNCANCHOR_RECORD{}; }
};

// The SyncML paths of the device `address` in `folder` (the sync folder with
// its trailing separator). False when a path does not fit (it is then empty).
bool SyncMLPathsIn(const BoundedPath& folder, uint64_t address, SyncMLPaths* paths);

Session& CurrentSession();
// Back to the state of a freshly loaded library.
void ResetSession();

}  // namespace zelsync

#endif  // ZELSYNC_STORE_SESSION_H
