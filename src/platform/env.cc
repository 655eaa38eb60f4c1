// What every backend shares: the current-Env switch. The text conversions
// live in the backends (text_posix.cc, text_win32.cc).
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/file_stamp.h"

namespace zelsync {
namespace {
Env* g_installed = nullptr;
}  // namespace

Env& Env::Current() { return g_installed ? *g_installed : Default(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(g_installed) { g_installed = &env; }
ScopedEnv::~ScopedEnv() { g_installed = previous_; }

namespace {
WString FolderOf(const WString& path) {
  const size_t separator = path.find_last_of(WString{u'/', kPathSeparator});
  if (separator == WString::npos) return u".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}
}  // namespace

bool CommitScratchFile(const WString& scratch, const WString& target, Lasting lasting) {
  Env& env = Env::Current();
  if (env.Replace(scratch, target) != FsStatus::kOk) {
    env.RemoveFile(scratch);
    return false;
  }
  // The new content is in place; a failed folder sync only weakens how long
  // it lasts through a power cut, so it is not reported as a failed write.
  if (lasting == Lasting::kPowerCut) env.SyncFolder(FolderOf(target));
  return true;
}

bool WriteFileAtomically(const WString& target, const WString& scratch, const void* data, size_t size,
                         Lasting lasting) {
  Env& env = Env::Current();
  std::unique_ptr<File> file = env.Open(scratch, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  bool ok = (size == 0 || file->Write(data, size) == size) &&
            (lasting == Lasting::kPowerCut ? file->Sync() : file->Flush());
  file.reset();
  if (!ok) {
    env.RemoveFile(scratch);
    return false;
  }
  return CommitScratchFile(scratch, target, lasting);
}

bool StampSettled(const FileStamp& stamp) {
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const int64_t window = stamp.modified % 1000000000 == 0 ? 3000000000 : 100000000;
  return now - stamp.modified >= window;
}

std::string UtcTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[72];  // room for any int in each field; a real date takes 16
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace zelsync
