// Loads the zelsync library at run time, the way the synchronisation
// service does: by path (dlopen / LoadLibraryW), every export looked up by
// its exported name. Nothing of the library is linked into the host.
#ifndef ZELSYNC_TOOL_LIBRARY_H
#define ZELSYNC_TOOL_LIBRARY_H

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "zelsyncdll.h"

namespace zelsync_tool {

// Every export of the interface, by its exported name.
#define ZELSYNC_TOOL_EXPORTS(X)                                                       \
  X(SetDeviceIDDatabaseID) X(IsDeviceIDKnown) X(FileExists) X(GetChangeCounter)       \
  X(UpdateChangeCounter) X(UpdateLUIDofPrevGetNewRecord)                              \
  X(UpdateLUIDofPrevModifiedRecord) X(GetDeletedRecord) X(DeleteDBRecord)             \
  X(GetNewRecord) X(GetModifiedRecord) X(CreateNewRecord) X(UpdateRecord)             \
  X(DeleteRecord) X(SyncMLSetBDAddrLastSyncAnchor) X(SyncMLGetLastSyncAnchor)         \
  X(SyncMLSetSyncComplete) X(SyncMLResetCounters) X(SyncMLDecrementSyncObjectIndex)   \
  X(SyncMLSaveDBFiles) X(SyncMLRestoreDBFiles) X(SyncMLAddNewRecToTempDBFile)         \
  X(SyncMLDeleteTempFiles) X(SyncMLGetDeletedRecord) X(SyncMLUpdateEntryIDLUIDMapping) \
  X(SyncMLGetNewRecord) X(SyncMLGetModifiedRecord) X(SyncMLCreateNewRecord)           \
  X(SyncMLUpdateRecord) X(SyncMLDeleteRecord)

// The table of function pointers the host calls through. Tests may fill it
// with functions of their own.
struct Exports {
#define ZELSYNC_TOOL_DECLARE(name) decltype(&::name) name = nullptr;
  ZELSYNC_TOOL_EXPORTS(ZELSYNC_TOOL_DECLARE)
#undef ZELSYNC_TOOL_DECLARE

  // The local store's change scanner (Linux), the writer of the IrMC and
  // SyncML modification logs: appends the store's changes since its
  // previous scan; 1 on success, 0 on failure. It is not part of the
  // library's interface but a component of its own, built into the host;
  // null where there is none (Windows, where Outlook's own tracking writes
  // the logs).
  int (*LocalStoreScan)(void) = nullptr;
};

class Library {
 public:
  // Loads the library at `path` and looks up every export. On failure
  // returns null and describes the fault in *error, naming the file and,
  // for a missing export, the export.
  static std::unique_ptr<Library> Load(const std::filesystem::path& path, std::string* error);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  const Exports& exports() const { return exports_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  Library() = default;
  void* FindSymbol(const char* name) const;

  void* handle_ = nullptr;
  std::filesystem::path path_;
  Exports exports_;
};

// The file name of the library on this platform.
const char* LibraryFileName();
// Where the host looks for the library when no path is given: next to its
// own executable, in the installed library folder beside its bin/ (Linux),
// then in the build folder it was built in.
std::vector<std::filesystem::path> DefaultLibraryCandidates();
// The folder of the running executable (empty when unknown).
std::filesystem::path ExecutableFolder();

// A caller-owned buffer of the interface: 260 UTF-16 units, zero-filled.
class WideBuffer {
 public:
  ZS_WCHAR* data() { return units_.data(); }
  // The text up to its terminator; false when no terminator lies within
  // the 260 units (the library overran or never wrote the buffer).
  bool Text(std::u16string* text) const;

 private:
  std::array<ZS_WCHAR, ZS_MAX_PATH> units_{};
};

// A string argument of the interface: NUL-terminated UTF-16 of at most 259
// units plus the terminator.
class WideArg {
 public:
  explicit WideArg(const std::u16string& text);
  // False when the text does not fit the interface's 260-unit strings.
  bool fits() const { return fits_; }
  const ZS_WCHAR* get() const { return units_.data(); }

 private:
  std::array<ZS_WCHAR, ZS_MAX_PATH> units_{};
  bool fits_ = false;
};

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_LIBRARY_H
