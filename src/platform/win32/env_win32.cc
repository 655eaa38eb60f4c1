// The Windows backend of the platform layer, on the wide (W) APIs only.
#include <windows.h>
#include <shlobj.h>
#include <share.h>
#include <stdio.h>
#include <wchar.h>
#include <rpc.h>
#include <io.h>

#include "platform/platform.h"

namespace zelsync {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

const wchar_t* W(const WString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

FsStatus WindowsError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return FsStatus::kOk;
    case ERROR_FILE_NOT_FOUND:
      return FsStatus::kNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return FsStatus::kPathNotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return FsStatus::kExists;
    default:
      return FsStatus::kOther;
  }
}

FsStatus ErrnoStatus(int error) {
  switch (error) {
    case ENOENT:
      return FsStatus::kNotFound;
    case EEXIST:
      return FsStatus::kExists;
    default:
      return FsStatus::kOther;
  }
}

// Antivirus scanners and indexers hold files open for a moment; a replace
// that meets a sharing violation is tried again a few times.
template <typename Call>
BOOL RetryOnSharing(Call call) {
  for (int attempt = 0;; ++attempt) {
    if (call()) return TRUE;
    DWORD error = GetLastError();
    if (attempt >= 5 || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
                         error != ERROR_ACCESS_DENIED)) {
      SetLastError(error);
      return FALSE;
    }
    Sleep(20 * (attempt + 1));
  }
}

// The C runtime's streams, opened with _wfsopen and no sharing restriction;
// text mode is the runtime's own translation.
class Win32File : public File {
 public:
  explicit Win32File(FILE* file) : file_(file) {
    // Record files are read and written a record (about 1 KB) at a time: a
    // buffer of 64 KiB instead of the default 4 KiB takes a sixteenth of
    // the system calls.
    if (setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize) != 0) buffer_.reset();
  }
  ~Win32File() override { fclose(file_); }
  size_t Read(void* buffer, size_t size) override { return fread(buffer, 1, size, file_); }
  size_t Write(const void* data, size_t size) override { return fwrite(data, 1, size, file_); }
  bool Seek(int64_t offset, SeekFrom from) override {
    int whence = from == SeekFrom::kBegin ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
    return _fseeki64(file_, offset, whence) == 0;
  }
  int64_t Tell() override { return _ftelli64(file_); }
  bool Flush() override { return fflush(file_) == 0; }
  bool Sync() override {
    if (fflush(file_) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
  }
  bool Truncate(int64_t size) override {
    return fflush(file_) == 0 && _chsize_s(_fileno(file_), size) == 0 &&
           _fseeki64(file_, size, SEEK_SET) == 0;
  }

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  FILE* file_;
  std::unique_ptr<char[]> buffer_{new char[kBufferSize]};  // freed after the destructor closed file_
};

class Win32FileLock : public FileLock {
 public:
  explicit Win32FileLock(HANDLE handle) : handle_(handle) {}
  ~Win32FileLock() override { CloseHandle(handle_); }  // releases the lock

 private:
  HANDLE handle_;
};

class Win32Env : public Env {
 public:
  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override {
    static const wchar_t* const kModes[] = {L"rb", L"rb+", L"wb", L"wb+", L"rt", L"wt", L"ab"};
    if (path.empty()) {
      if (status) *status = FsStatus::kPathNotFound;
      return nullptr;
    }
    errno = 0;
    FILE* file = _wfsopen(W(path), kModes[static_cast<int>(mode)], _SH_DENYNO);
    if (!file) {
      if (status) *status = ErrnoStatus(errno);
      return nullptr;
    }
    if (status) *status = FsStatus::kOk;
    return std::make_unique<Win32File>(file);
  }

  FsStatus Stat(const WString& path) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES ? FsStatus::kOk
                                                                  : WindowsError(GetLastError());
  }

  FsStatus StampFile(const WString& path, FileStamp* stamp) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    // No access rights asked: only the file's attributes are read, and no
    // other opener is kept out.
    HANDLE handle = CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return WindowsError(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(handle, &info);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!ok) return WindowsError(error);
    const auto join = [](DWORD high, DWORD low) {
      return (static_cast<uint64_t>(high) << 32) | static_cast<uint64_t>(low);
    };
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->identity = join(info.nFileIndexHigh, info.nFileIndexLow);
    stamp->size = join(info.nFileSizeHigh, info.nFileSizeLow);
    // FILETIME counts 100 ns from 1601.
    stamp->modified = (static_cast<int64_t>(join(info.ftLastWriteTime.dwHighDateTime,
                                                 info.ftLastWriteTime.dwLowDateTime)) -
                       116444736000000000) *
                      100;
    stamp->changed = static_cast<int64_t>(
        join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime));
    return FsStatus::kOk;
  }

  FsStatus ListFiles(const WString& folder, std::vector<WString>* names) override {
    if (folder.empty()) return FsStatus::kPathNotFound;
    WIN32_FIND_DATAW data;
    HANDLE handle = FindFirstFileW(W(folder + u"\\*"), &data);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? FsStatus::kOk : WindowsError(error);
    }
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        names->push_back(WString(reinterpret_cast<const char16_t*>(data.cFileName)));
      }
    } while (FindNextFileW(handle, &data));
    FindClose(handle);
    return FsStatus::kOk;
  }

  FsStatus StatRegularFile(const WString& path) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return WindowsError(GetLastError());
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FsStatus::kExists : FsStatus::kOk;
  }

  FsStatus FindFile(const WString& path) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    WIN32_FIND_DATAW data;
    HANDLE handle = FindFirstFileW(W(path), &data);
    if (handle == INVALID_HANDLE_VALUE) return WindowsError(GetLastError());
    FindClose(handle);
    return FsStatus::kOk;
  }

  FsStatus MakeFolder(const WString& path) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    return CreateDirectoryW(W(path), nullptr) ? FsStatus::kOk : WindowsError(GetLastError());
  }

  FsStatus RemoveFile(const WString& path) override {
    if (path.empty()) return FsStatus::kPathNotFound;
    return DeleteFileW(W(path)) ? FsStatus::kOk : WindowsError(GetLastError());
  }

  FsStatus Replace(const WString& from, const WString& to) override {
    if (from.empty() || to.empty()) return FsStatus::kPathNotFound;
    BOOL ok = RetryOnSharing([&] {
      return MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    });
    return ok ? FsStatus::kOk : WindowsError(GetLastError());
  }

  std::unique_ptr<FileLock> LockFile(const WString& path, FsStatus* status) override {
    FsStatus outcome = FsStatus::kPathNotFound;
    if (!path.empty()) {
      HANDLE handle = INVALID_HANDLE_VALUE;
      RetryOnSharing([&] {
        handle = CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
      });
      if (handle != INVALID_HANDLE_VALUE) {
        OVERLAPPED whole{};
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
          if (status) *status = FsStatus::kOk;
          return std::make_unique<Win32FileLock>(handle);
        }
        outcome = WindowsError(GetLastError());
        CloseHandle(handle);
      } else {
        outcome = WindowsError(GetLastError());
      }
    }
    if (status) *status = outcome;
    return nullptr;
  }

  // Replace moves with MOVEFILE_WRITE_THROUGH, which returns only once the
  // move is on disk: nothing is left to sync.
  FsStatus SyncFolder(const WString& folder) override {
    return folder.empty() ? FsStatus::kPathNotFound : FsStatus::kOk;
  }

  FsStatus Copy(const WString& from, const WString& to) override {
    if (from.empty() || to.empty()) return FsStatus::kPathNotFound;
    BOOL ok = RetryOnSharing([&] { return CopyFileW(W(from), W(to), FALSE); });
    return ok ? FsStatus::kOk : WindowsError(GetLastError());
  }

  bool LocalAppDataFolder(WString* folder) override {
    wchar_t buffer[MAX_PATH] = {0};
    // CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE: the shell creates the folder.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                buffer))) {
      return false;
    }
    buffer[MAX_PATH - 1] = 0;
    folder->assign(reinterpret_cast<const char16_t*>(buffer));
    return true;
  }

  WString FallbackRoot() override { return u"D:\\"; }

  bool TempFolder(WString* folder) override {
    wchar_t buffer[MAX_PATH + 1] = {0};
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return false;
    folder->assign(reinterpret_cast<const char16_t*>(buffer), length);
    return true;
  }

  uint32_t MailAttachmentSetting() override {
    HKEY key = nullptr;
    // Read rights with set-value and create-subkey rights (0x2001F).
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Tolvane\\Default\\PIMSettings", 0, 0x2001F,
                      &key) != ERROR_SUCCESS) {
      return 0;
    }
    DWORD value = 0, type = 0, size = sizeof value;
    LONG status = RegQueryValueExW(key, L"MailAttachment", nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return 0;
    return value;
  }

  WString CreateUuidString() override {
    UUID uuid;
    RPC_WSTR text = nullptr;
    RPC_STATUS created = UuidCreate(&uuid);
    if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY) return WString();
    if (UuidToStringW(&uuid, &text) != RPC_S_OK || !text) return WString();
    WString out(reinterpret_cast<const char16_t*>(text));
    RpcStringFreeW(&text);
    return out;
  }
  void Pause(unsigned milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

Env& Env::Default() {
  static Win32Env env;
  return env;
}

}  // namespace zelsync
