// The POSIX backend of the platform layer.
//
// Where the library lives on Linux:
// - local application data: $XDG_DATA_HOME when it is an absolute path, else
//   $HOME/.local/share; when neither is known the fallback root "/" stands in
//   (a folder only root can write, so the library fails cleanly rather than
//   writing to a shared place);
// - temporary folder: $XDG_RUNTIME_DIR/zelsync/ when XDG_RUNTIME_DIR is an
//   absolute path, else ${TMPDIR:-/tmp}/zelsync-<uid>/; created with mode
//   0700 and refused unless it is a real folder owned by the user and closed
//   to everyone else; the files in it that a killed process left (handed to
//   a service that never took them, or half written) are removed once they
//   ten minutes past both their last change and their arrival, the first
//   time a process uses the folder;
// - the "MailAttachment" setting: the line "MailAttachment=<number>" in
//   $XDG_CONFIG_HOME/Tolvane/Default/PIMSettings (else
//   ~/.config/Tolvane/Default/PIMSettings), mirroring the Windows registry key
//   HKEY_CURRENT_USER\SOFTWARE\Tolvane\Default\PIMSettings.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <set>

#include "platform/platform.h"

namespace zelsync {
namespace {

FsStatus PosixError(int error) {
  switch (error) {
    case 0:
      return FsStatus::kOk;
    case ENOENT:
      return FsStatus::kNotFound;
    case ENOTDIR:
      return FsStatus::kPathNotFound;
    case EEXIST:
      return FsStatus::kExists;
    default:
      return FsStatus::kOther;
  }
}

std::string Narrow(const WString& path) { return NativePath(path); }

// Text mode on POSIX: the library reads and writes the same bytes as the
// Windows C runtime does, so CR LF is folded into LF on reading and LF is
// written as CR LF.
class PosixFile : public File {
 public:
  PosixFile(FILE* file, bool text) : file_(file), text_(text) {
    // Record files are read and written a record (about 1 KB) at a time: a
    // buffer of 64 KiB instead of the default 4 KiB takes a sixteenth of
    // the system calls.
    if (!text_ && setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize) != 0) buffer_.reset();
  }
  ~PosixFile() override { fclose(file_); }

  size_t Read(void* buffer, size_t size) override {
    if (!text_) return fread(buffer, 1, size, file_);
    auto* out = static_cast<unsigned char*>(buffer);
    size_t n = 0;
    while (n < size) {
      int c = getc(file_);
      if (c == EOF) break;
      if (c == '\r') {
        int next = getc(file_);
        if (next == '\n') {
          c = '\n';
        } else if (next != EOF) {
          ungetc(next, file_);
        }
      }
      out[n++] = static_cast<unsigned char>(c);
    }
    return n;
  }

  size_t Write(const void* data, size_t size) override {
    if (!text_) return fwrite(data, 1, size, file_);
    const auto* in = static_cast<const unsigned char*>(data);
    size_t n = 0;
    while (n < size) {
      // Write runs without LF in one call; each LF becomes CR LF.
      const void* lf = memchr(in + n, '\n', size - n);
      size_t run = lf ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - (in + n))
                      : size - n;
      if (run && fwrite(in + n, 1, run, file_) != run) return n;
      n += run;
      if (n < size) {
        if (fwrite("\r\n", 1, 2, file_) != 2) return n;
        ++n;
      }
    }
    return n;
  }

  bool Seek(int64_t offset, SeekFrom from) override {
    int whence = from == SeekFrom::kBegin ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
    return fseeko(file_, static_cast<off_t>(offset), whence) == 0;
  }

  int64_t Tell() override { return static_cast<int64_t>(ftello(file_)); }

  bool Flush() override { return fflush(file_) == 0; }
  bool Sync() override { return fflush(file_) == 0 && fsync(fileno(file_)) == 0; }

  bool Truncate(int64_t size) override {
    return fflush(file_) == 0 && ftruncate(fileno(file_), static_cast<off_t>(size)) == 0 &&
           fseeko(file_, static_cast<off_t>(size), SEEK_SET) == 0;
  }

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  FILE* file_;
  bool text_;
  std::unique_ptr<char[]> buffer_{new char[kBufferSize]};  // freed after the destructor closed file_
};

std::string GetEnvAbsolute(const char* name) {
  const char* value = getenv(name);
  if (value && value[0] == '/') return value;
  return std::string();
}

std::string ConfigHome() {
  std::string config = GetEnvAbsolute("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  std::string home = GetEnvAbsolute("HOME");
  if (!home.empty()) return home + "/.config";
  return std::string();
}

// A folder is private when it is a real folder (not a symbolic link), owned
// by this user and closed to group and others.
bool IsPrivateFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// A file in the temporary folder younger than this may belong to a session
// that is running now.
constexpr time_t kLeftoverAgeSeconds = 600;

// Sweeps `folder` once per process and folder. The folder is the library's
// own and private, and a service takes each handed file at once, so an old
// file there is what a killed process left: phone data no one will read.
void RemoveLeftovers(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!done.insert(folder).second) return;
  }
  RemoveOldFiles(folder, time(nullptr));
}

}  // namespace

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

long ProcessId() { return static_cast<long>(getpid()); }

void RemoveOldFiles(const std::string& folder, int64_t now) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A file moved or linked in keeps its old modification time; the change
    // of its inode (ctime) tells when it arrived.
    const int64_t last = std::max<int64_t>(st.st_mtime, st.st_ctime);
    if (S_ISREG(st.st_mode) && now - last >= kLeftoverAgeSeconds)
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

namespace {

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { close(fd_); }  // releases the lock

 private:
  int fd_;
};

class PosixEnv : public Env {
 public:
  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override {
    static const char* const kModes[] = {"rb", "rb+", "wb", "wb+", "r", "w", "ab"};
    const bool text = mode == OpenMode::kReadText || mode == OpenMode::kWriteText;
    std::string narrow = Narrow(path);
    errno = 0;
    FILE* file = narrow.empty() ? nullptr : fopen(narrow.c_str(), kModes[static_cast<int>(mode)]);
    if (!file) {
      if (status) *status = narrow.empty() ? FsStatus::kPathNotFound : PosixError(errno ? errno : EIO);
      return nullptr;
    }
    if (status) *status = FsStatus::kOk;
    return std::make_unique<PosixFile>(file, text);
  }

  FsStatus Stat(const WString& path) override {
    struct stat st;
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    return stat(narrow.c_str(), &st) == 0 ? FsStatus::kOk : PosixError(errno);
  }

  FsStatus ListFiles(const WString& folder, std::vector<WString>* names) override {
    std::string narrow = Narrow(folder);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    DIR* dir = opendir(narrow.c_str());
    if (!dir) return PosixError(errno);
    while (struct dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      // The entry's type comes with its name on most file systems: a stat
      // per entry only where it does not, or for a link.
      if (entry->d_type != DT_REG) {
        if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) continue;
        struct stat st;
        if (fstatat(dirfd(dir), name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      }
      names->push_back(PathFromNative(name));
    }
    closedir(dir);
    return FsStatus::kOk;
  }

  FsStatus StatRegularFile(const WString& path) override {
    struct stat st;
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    if (stat(narrow.c_str(), &st) != 0) return PosixError(errno);
    return S_ISREG(st.st_mode) ? FsStatus::kOk : FsStatus::kExists;
  }

  FsStatus StampFile(const WString& path, FileStamp* stamp) override {
    struct stat st;
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    if (stat(narrow.c_str(), &st) != 0) return PosixError(errno);
    stamp->volume = static_cast<uint64_t>(st.st_dev);
    stamp->identity = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return FsStatus::kOk;
  }

  FsStatus FindFile(const WString& path) override {
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    struct stat st;
    if (stat(narrow.c_str(), &st) == 0) return FsStatus::kOk;
    if (errno != ENOENT) return errno == ENOTDIR ? FsStatus::kPathNotFound : FsStatus::kOther;
    // Tell a missing file from a missing folder, as a directory search does.
    size_t slash = narrow.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : narrow.substr(0, slash);
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FsStatus::kNotFound;
    return FsStatus::kPathNotFound;
  }

  FsStatus MakeFolder(const WString& path) override {
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    return mkdir(narrow.c_str(), 0700) == 0 ? FsStatus::kOk : PosixError(errno);
  }

  FsStatus RemoveFile(const WString& path) override {
    std::string narrow = Narrow(path);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    return unlink(narrow.c_str()) == 0 ? FsStatus::kOk : PosixError(errno);
  }

  FsStatus Replace(const WString& from, const WString& to) override {
    std::string source = Narrow(from), target = Narrow(to);
    if (source.empty() || target.empty()) return FsStatus::kPathNotFound;
    return rename(source.c_str(), target.c_str()) == 0 ? FsStatus::kOk : PosixError(errno);
  }

  std::unique_ptr<FileLock> LockFile(const WString& path, FsStatus* status) override {
    std::string narrow = Narrow(path);
    FsStatus outcome = FsStatus::kPathNotFound;
    if (!narrow.empty()) {
      int fd = open(narrow.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) {
        int locked;
        do {
          locked = flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked == 0) {
          if (status) *status = FsStatus::kOk;
          return std::make_unique<PosixFileLock>(fd);
        }
        outcome = PosixError(errno);
        close(fd);
      } else {
        outcome = PosixError(errno);
      }
    }
    if (status) *status = outcome;
    return nullptr;
  }

  FsStatus SyncFolder(const WString& folder) override {
    std::string narrow = Narrow(folder);
    if (narrow.empty()) return FsStatus::kPathNotFound;
    int fd = open(narrow.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return PosixError(errno);
    FsStatus status = fsync(fd) == 0 ? FsStatus::kOk : PosixError(errno);
    close(fd);
    return status;
  }

  FsStatus Copy(const WString& from, const WString& to) override {
    std::string source = Narrow(from), target = Narrow(to);
    if (source.empty() || target.empty()) return FsStatus::kPathNotFound;
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return PosixError(errno);
    // Copy into a neighbour and rename it over the target, so the target is
    // never seen half written.
    std::string scratch = target + ".copy~";
    int out = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
      FsStatus status = PosixError(errno);
      close(in);
      return status;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
      ssize_t got = read(in, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ok = got == 0;
        break;
      }
      for (ssize_t done = 0; done < got && ok;) {
        ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) done += put;
      }
      if (!ok) break;
    }
    close(in);
    ok = (fsync(out) == 0) && ok;
    ok = (close(out) == 0) && ok;
    if (ok && rename(scratch.c_str(), target.c_str()) == 0) return FsStatus::kOk;
    unlink(scratch.c_str());
    return FsStatus::kOther;
  }

  bool LocalAppDataFolder(WString* folder) override {
    std::string data = GetEnvAbsolute("XDG_DATA_HOME");
    if (data.empty()) {
      std::string home = GetEnvAbsolute("HOME");
      if (home.empty()) return false;
      data = home + "/.local/share";
    }
    while (data.size() > 1 && data.back() == '/') data.pop_back();
    // As the Windows shell does when asked to create the folder: every
    // missing level is made (private to the user), so the library can make
    // its own folder inside it on a fresh account.
    for (size_t slash = data.find('/', 1);; slash = data.find('/', slash + 1)) {
      const std::string level = data.substr(0, slash);
      if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) break;
      if (slash == std::string::npos) break;
    }
    *folder = Utf8ToUtf16(data);
    return true;
  }

  WString FallbackRoot() override { return u"/"; }

  bool TempFolder(WString* folder) override {
    std::string base = GetEnvAbsolute("XDG_RUNTIME_DIR");
    std::string path;
    if (!base.empty()) {
      path = base + "/zelsync";
    } else {
      base = GetEnvAbsolute("TMPDIR");
      if (base.empty()) base = "/tmp";
      path = base + "/zelsync-" + std::to_string(static_cast<unsigned long>(geteuid()));
    }
    while (path.find("//") != std::string::npos) path.erase(path.find("//"), 1);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (!IsPrivateFolder(path)) return false;
    RemoveLeftovers(path);
    *folder = Utf8ToUtf16(path + "/");
    return true;
  }

  uint32_t MailAttachmentSetting() override {
    std::string config = ConfigHome();
    if (config.empty()) return 0;
    std::ifstream in(config + "/Tolvane/Default/PIMSettings");
    std::string line;
    uint32_t value = 0;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      static const char kKey[] = "MailAttachment=";
      if (line.compare(0, sizeof kKey - 1, kKey) != 0) continue;
      const char* digits = line.c_str() + sizeof kKey - 1;
      char* end = nullptr;
      errno = 0;
      unsigned long long parsed = strtoull(digits, &end, 0);
      // A DWORD: a value that is not a number, or too large, reads as 0.
      value = (end != digits && *end == '\0' && errno == 0 && parsed <= 0xFFFFFFFFull)
                  ? static_cast<uint32_t>(parsed)
                  : 0;
    }
    return value;
  }

  WString CreateUuidString() override {
    unsigned char bytes[16];
    std::random_device random;
    for (size_t i = 0; i < sizeof bytes; i += 4) {
      uint32_t word = random();
      memcpy(bytes + i, &word, 4);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const char kHex[] = "0123456789abcdef";
    WString out;
    for (int i = 0; i < 16; ++i) {
      if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back(u'-');
      out.push_back(static_cast<char16_t>(kHex[bytes[i] >> 4]));
      out.push_back(static_cast<char16_t>(kHex[bytes[i] & 15]));
    }
    return out;
  }
  void Pause(unsigned milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Env& Env::Default() {
  static PosixEnv env;
  return env;
}

}  // namespace zelsync
