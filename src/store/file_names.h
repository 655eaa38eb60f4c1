// Every file the library and its change tracker keep in the sync folder, in
// one list. A file of one device is named by the device's part followed by
// the list's suffix: "<deviceID>_<databaseID>" for the IrMC database and
// its pending change, "<address>" (12 lower-case hex digits) for the SyncML
// files. The host
// reads the same list to find, name and decode the files.
#ifndef ZELSYNC_STORE_FILE_NAMES_H
#define ZELSYNC_STORE_FILE_NAMES_H

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "store/records.h"

namespace zelsync {

// X(id, name or suffix, one per device, layout)
#define ZELSYNC_BOOKKEEPING_FILES(X)                                               \
  X(kIrmcDatabase, ".DAT", true, FileLayout::kDeviceDatabase)                      \
  X(kIrmcLog, "SyncModificationLog.DAT", false, FileLayout::kIrmcLog)              \
  X(kIrmcDatabaseScratch, "TEMP.DAT", false, FileLayout::kDeviceDatabase)          \
  X(kIrmcLogScratch, "TEMPMODIFY.DAT", false, FileLayout::kIrmcLog)                \
  X(kSyncMLDatabase, "_SyncMLDB.DAT", true, FileLayout::kSyncMLDatabase)           \
  X(kSyncMLDatabaseScratch, "_SyncMLDB_Scratch.DAT", true, FileLayout::kSyncMLDatabase) \
  X(kSyncMLDatabaseBackup, "_SyncMLDB_Temp.DAT", true, FileLayout::kSyncMLDatabase) \
  X(kSyncMLLog, "SyncMLModificationLog.DAT", false, FileLayout::kSyncMLLog)        \
  X(kSyncMLLogScratch, "SyncMLModificationLog_Scratch.DAT", false, FileLayout::kSyncMLLog) \
  X(kSyncMLLogBackup, "SyncMLModificationLog_Temp.DAT", false, FileLayout::kSyncMLLog) \
  X(kNewRecords, "SyncMLTempNewDBRecords.DAT", false, FileLayout::kNewRecords)     \
  X(kUpdatedRecords, "SyncMLTempUpdatedRecords.DAT", false, FileLayout::kUpdatedRecords) \
  X(kSessionMarker, "SyncMLSessionOpen.DAT", false, FileLayout::kSessionMarker)    \
  X(kIrmcPendingChange, "_PendingChange.DAT", true, FileLayout::kPendingChange)    \
  X(kSyncMLPendingChange, "_SyncMLPendingChange.DAT", true, FileLayout::kPendingChange) \
  X(kStoreState, "LocalStoreState.txt", false, FileLayout::kText)                  \
  X(kStoreStateScratch, "LocalStoreState.txt.tmp", false, FileLayout::kText)       \
  X(kStoreStateLock, "LocalStoreState.lock", false, FileLayout::kText)

enum class BookkeepingFile {
#define ZELSYNC_FILE_ID(id, name, per_device, layout) id,
  ZELSYNC_BOOKKEEPING_FILES(ZELSYNC_FILE_ID)
#undef ZELSYNC_FILE_ID
};

struct BookkeepingFileInfo {
  BookkeepingFile file;
  const char* name;  // the whole name, or the suffix after the device's part
  bool per_device;
  FileLayout layout;
};

// The list, in the order above.
constexpr BookkeepingFileInfo kBookkeepingFiles[] = {
#define ZELSYNC_FILE_INFO(id, name, per_device, layout) {BookkeepingFile::id, name, per_device, layout},
    ZELSYNC_BOOKKEEPING_FILES(ZELSYNC_FILE_INFO)
#undef ZELSYNC_FILE_INFO
};

constexpr const BookkeepingFileInfo& InfoOf(BookkeepingFile file) {
  return kBookkeepingFiles[static_cast<size_t>(file)];
}

// The file's name (ASCII) for the device whose part of the name is
// `device`; `device` is ignored for a file that is not per device.
std::string BookkeepingFileName(BookkeepingFile file, const std::string& device = std::string());
WString BookkeepingFileNameW(BookkeepingFile file, const WString& device = WString());

// The file a name in the sync folder belongs to, compared without regard
// to case (as the Windows file system names them). The IrMC database,
// whose suffix is only ".DAT", is matched last and needs the '_' between
// device and database IDs. False for a name of no bookkeeping file.
bool BookkeepingFileOf(const std::string& name, BookkeepingFile* file);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_FILE_NAMES_H
