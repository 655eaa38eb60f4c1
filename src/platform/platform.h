// The platform layer: everything the library needs of the operating system,
// behind one small interface. The backend (win32/ or posix/) is chosen at
// build time; tests install their own Env (usually an EnvWrapper that
// overrides a call or two) with ScopedEnv.
#ifndef ZELSYNC_PLATFORM_PLATFORM_H
#define ZELSYNC_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelsync {

// UTF-16 inside the library; wide strings of the interface convert to it.
using WString = std::u16string;

#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// The few outcomes of a file-system call that the library tells apart.
enum class FsStatus {
  kOk,
  kNotFound,      // the file is missing (errno ENOENT, Windows error 2)
  kPathNotFound,  // a folder on the way is missing or the path is empty (Windows error 3)
  kExists,        // already exists (errno EEXIST)
  kOther,         // any other failure
};

// How a file is opened; the names are the C runtime's modes.
enum class OpenMode {
  kReadBinary,        // "rb": read only, must exist
  kUpdateBinary,      // "rb+": read and write, must exist, no truncation
  kCreateBinary,      // "wb": write only, created or truncated
  kCreateUpdateBinary,// "wb+": read and write, created or truncated
  kReadText,          // "r": read only, must exist; CR LF is read as LF
  kWriteText,         // "w": write only, created or truncated; LF is written as CR LF
  kAppendBinary,      // "ab": write only, created if missing; every write lands at
                      // the end, also when another program appends meanwhile
};

enum class SeekFrom { kBegin, kCurrent, kEnd };

// An open file. Destroying it closes it. Every file of the library is opened
// with shared read and write access, so other programs (and the writer of the
// modification logs) may open it at the same time.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes; returns the number read (short at end of file
  // or on error).
  virtual size_t Read(void* buffer, size_t size) = 0;
  // Writes `size` bytes; returns the number written (short on error).
  virtual size_t Write(const void* data, size_t size) = 0;
  // Moves the position; false on failure (position unchanged).
  virtual bool Seek(int64_t offset, SeekFrom from) = 0;
  // The current position, or -1 on failure.
  virtual int64_t Tell() = 0;
  // Pushes buffered data to the operating system; false on failure.
  virtual bool Flush() = 0;
  // Pushes buffered data to the operating system and the disk; false on failure.
  virtual bool Sync() = 0;
  // Cuts the file to `size` bytes, which must not exceed its length, and
  // leaves the position at the new end; false on failure.
  virtual bool Truncate(int64_t size) = 0;
};

// What tells one state of a file from another without reading it: its
// identity on its volume (where the platform gives one), size, and times.
// A write changes the stamp, except a write of the same size within the
// same tick of the file system's clock.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t identity = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds since 1970
  int64_t changed = 0;   // in the platform's own units
  bool operator==(const FileStamp& other) const {
    return volume == other.volume && identity == other.identity && size == other.size &&
           modified == other.modified && changed == other.changed;
  }
};

// An exclusive advisory lock on a file, held until this object is destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class Env {
 public:
  virtual ~Env() = default;

  // The Env the library uses: the one installed by a ScopedEnv, else the
  // backend of this platform. Never null.
  static Env& Current();
  // The backend of this platform.
  static Env& Default();

  // Opens `path`. On failure returns nullptr and stores the reason in
  // *status (when status is not null).
  virtual std::unique_ptr<File> Open(const WString& path, OpenMode mode,
                                     FsStatus* status) = 0;
  // kOk when a file or folder exists at `path`.
  virtual FsStatus Stat(const WString& path) = 0;
  // kOk and the stamp of the file at `path`; *stamp is left as it was on
  // failure.
  virtual FsStatus StampFile(const WString& path, FileStamp* stamp) = 0;
  // Appends to *names the names of the regular files in `folder` (a
  // symbolic link counts as what it points to), in no set order. kOk, or
  // why the folder cannot be read.
  virtual FsStatus ListFiles(const WString& folder, std::vector<WString>* names) = 0;
  // kOk when `path` is a regular file (a symbolic link counts as what it
  // points to), kExists when something else stands there, else why not.
  virtual FsStatus StatRegularFile(const WString& path) = 0;
  // Looks for the file `path` by a directory search for that exact name
  // (FindFirstFileW on Windows): kOk when found, kNotFound when the folder
  // exists but the file does not, kPathNotFound when the folder is missing
  // or the path is empty, kOther otherwise.
  virtual FsStatus FindFile(const WString& path) = 0;
  // Creates one folder level; kExists when something is already there.
  virtual FsStatus MakeFolder(const WString& path) = 0;
  virtual FsStatus RemoveFile(const WString& path) = 0;
  // Atomically puts `from` in the place of `to`, replacing a file there.
  // On failure `to` is left as it was.
  virtual FsStatus Replace(const WString& from, const WString& to) = 0;
  // Copies `from` over `to`, replacing a file there.
  virtual FsStatus Copy(const WString& from, const WString& to) = 0;
  // Takes an exclusive lock on the file `path` (created when missing and
  // left in place), waiting while another process holds it. Serialises
  // processes, not threads of one process. Null on failure, with the reason
  // in *status (when status is not null).
  virtual std::unique_ptr<FileLock> LockFile(const WString& path, FsStatus* status) = 0;
  // Makes the entries of `folder` durable, so that a file created, replaced
  // or removed in it stays so after a power cut.
  virtual FsStatus SyncFolder(const WString& folder) = 0;

  // The per-user local application-data folder, without a trailing
  // separator. False when it cannot be found.
  virtual bool LocalAppDataFolder(WString* folder) = 0;
  // The root that stands in for the application-data folder when it cannot
  // be found, with its trailing separator.
  virtual WString FallbackRoot() = 0;
  // The per-user temporary folder, with its trailing separator. False when
  // it cannot be found or is not private to the user.
  virtual bool TempFolder(WString* folder) = 0;
  // The "MailAttachment" setting, read afresh; 0 when it is not set.
  virtual uint32_t MailAttachmentSetting() = 0;
  // A new random UUID in its 36-character lower-case string form.
  virtual WString CreateUuidString() = 0;
  // Waits about `milliseconds` on the calling thread.
  virtual void Pause(unsigned milliseconds) = 0;
};

// Forwards every call to another Env; tests derive from it and override the
// calls they want to fail or redirect.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override {
    return target_.Open(path, mode, status);
  }
  FsStatus Stat(const WString& path) override { return target_.Stat(path); }
  FsStatus StampFile(const WString& path, FileStamp* stamp) override {
    return target_.StampFile(path, stamp);
  }
  FsStatus ListFiles(const WString& folder, std::vector<WString>* names) override {
    return target_.ListFiles(folder, names);
  }
  FsStatus StatRegularFile(const WString& path) override { return target_.StatRegularFile(path); }
  FsStatus FindFile(const WString& path) override { return target_.FindFile(path); }
  FsStatus MakeFolder(const WString& path) override { return target_.MakeFolder(path); }
  FsStatus RemoveFile(const WString& path) override { return target_.RemoveFile(path); }
  FsStatus Replace(const WString& from, const WString& to) override {
    return target_.Replace(from, to);
  }
  FsStatus Copy(const WString& from, const WString& to) override {
    return target_.Copy(from, to);
  }
  std::unique_ptr<FileLock> LockFile(const WString& path, FsStatus* status) override {
    return target_.LockFile(path, status);
  }
  FsStatus SyncFolder(const WString& folder) override { return target_.SyncFolder(folder); }
  bool LocalAppDataFolder(WString* folder) override { return target_.LocalAppDataFolder(folder); }
  WString FallbackRoot() override { return target_.FallbackRoot(); }
  bool TempFolder(WString* folder) override { return target_.TempFolder(folder); }
  uint32_t MailAttachmentSetting() override { return target_.MailAttachmentSetting(); }
  WString CreateUuidString() override { return target_.CreateUuidString(); }
  void Pause(unsigned milliseconds) override { target_.Pause(milliseconds); }

 private:
  Env& target_;
};

// Installs `env` as Env::Current() for the lifetime of this object.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env& env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

// The way every file is rewritten: the new content is complete and synced in
// `scratch` (a file in the target's folder) before it replaces `target` in
// one atomic step, and the folder is synced after, so there is never a
// moment when `target` is missing or half written. On failure `target` is
// left as it was and `scratch` is removed. Both go through Env::Current().
//
// How long a rewrite is made to last: through a power cut (the content and
// the folder are synced), or through a killed process only (the replace is
// just as atomic, without the syncs), for files that are cheap to make again
// or committed again with kPowerCut before their work is reported done.
enum class Lasting { kPowerCut, kKilledProcess };
// Puts the finished `scratch` in the place of `target`.
bool CommitScratchFile(const WString& scratch, const WString& target, Lasting lasting = Lasting::kPowerCut);
// Writes `size` bytes of `data` into `scratch` (created or truncated),
// syncs it and commits it over `target`.
bool WriteFileAtomically(const WString& target, const WString& scratch, const void* data, size_t size,
                         Lasting lasting = Lasting::kPowerCut);

// UTF-16 <-> UTF-8. A lone surrogate or an invalid UTF-8 sequence becomes
// U+FFFD, as the Windows converters do.
std::string Utf16ToUtf8(const WString& text);
WString Utf8ToUtf16(const std::string& text);
// UTF-8 to UTF-16 that refuses ill-formed input: false, with *out left as it
// was, when `text` is not well-formed UTF-8. Tells a text in an 8-bit code
// page apart from UTF-8.
bool Utf8ToUtf16Strict(const std::string& text, WString* out);
// The system's ANSI code page to UTF-16: the ANSI code page of the system on
// Windows, Windows-1252 elsewhere (its five unassigned bytes map to the C1
// controls of the same value, as Windows maps them).
WString AnsiToUtf16(const std::string& text);

// Text in the named character set (a MIME charset name such as "UTF-8",
// "ISO-8859-1", "Windows-1252", "KOI8-R", any case) to UTF-16. False, with
// *out left as it was, when the platform does not know the character set or
// the text is not valid in it.
bool CharsetToUtf16(const std::string& charset, const std::string& text, WString* out);

// The current UTC time as "YYYYMMDDTHHMMSSZ", the form of a time anchor.
std::string UtcTimeStamp();

// The longest name of one file (its folder left out) that the file system
// takes, counted by FileNameLength.
constexpr size_t kMaxFileNameLength = 255;
// The length of a file name in the units the file system limits: UTF-8 bytes
// on POSIX file systems, UTF-16 code units on Windows.
size_t FileNameLength(const WString& name);

#ifndef _WIN32
// A file name on POSIX is bytes and need not be UTF-8. A path read from the
// file system goes into a wide path and back unchanged: each byte of an
// ill-formed sequence becomes the lone surrogate U+DC00 + byte and back. The
// POSIX Env passes every path through NativePath.
WString PathFromNative(const std::string& bytes);
std::string NativePath(const WString& path);
// Removes from `folder` the regular files that neither changed nor arrived
// (by a move or link, which keeps a file's modification time) within ten
// minutes before `now` (seconds since the epoch): what a killed process
// left in the temporary folder, which TempFolder sweeps once per process.
void RemoveOldFiles(const std::string& folder, int64_t now);
// The machine's host name ("localhost" when it has none) and the process's
// ID, which unique file names carry.
std::string HostName();
long ProcessId();
#endif

// The digits that the C runtime's _fcvt_s gives for `value` with
// `fraction_digits` (0 to 100) digits after the point: no sign, no point, no
// leading zeros; it works from the value rounded to 17 significant digits
// and pads further digits with "0". Empty for 0.0 and for values that are
// not finite.
std::string FcvtDigits(double value, int fraction_digits);

}  // namespace zelsync

#endif  // ZELSYNC_PLATFORM_PLATFORM_H
