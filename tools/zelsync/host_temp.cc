#include "host_temp.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

constexpr char kPrefix[] = "zelsync-host-";

unsigned long CurrentProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

bool ProcessRuns(unsigned long pid) {
#ifdef _WIN32
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
#else
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// True when the folder belongs to the user running the host (on Windows the
// temporary folder is the user's own).
bool OwnedByUser(const fs::path& folder) {
#ifdef _WIN32
  (void)folder;
  return true;
#else
  struct stat status;
  return lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == getuid();
#endif
}

// The process ID in "zelsync-host-<pid>-<random>", or 0.
unsigned long OwnerPid(const std::string& name) {
  if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return 0;
  const std::string rest = name.substr(sizeof kPrefix - 1);
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 10) return 0;
  unsigned long pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    pid = pid * 10 + static_cast<unsigned long>(rest[i] - '0');
  }
  return pid;
}

}  // namespace

fs::path HostTempBase() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  if (runtime && *runtime) {
    fs::path folder = PathFromUtf8(runtime);
    if (folder.is_absolute() && fs::is_directory(folder, ec)) return folder;
  }
  fs::path base = fs::temp_directory_path(ec);
  return ec ? fs::path() : base;
}

int RemoveStaleHostTempFolders(const fs::path& base) {
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(base, ec)) {
    const unsigned long pid = OwnerPid(PathToUtf8(entry.path().filename()));
    if (pid == 0 || pid == CurrentProcessId() || ProcessRuns(pid) || !OwnedByUser(entry.path()))
      continue;
    std::error_code ignored;
    if (fs::remove_all(entry.path(), ignored) != static_cast<std::uintmax_t>(-1)) ++removed;
  }
  return removed;
}

HostTempFolder::HostTempFolder() {
  const fs::path base = HostTempBase();
  if (base.empty()) return;
  RemoveStaleHostTempFolders(base);
  std::random_device random;
  for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%lu-%08x", kPrefix, CurrentProcessId(),
                  static_cast<unsigned>(random()));
    const fs::path candidate = base / name;
#ifdef _WIN32
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) path_ = candidate;
#else
    // Made closed from the start: no moment in which others could enter.
    if (mkdir(candidate.c_str(), 0700) == 0) path_ = candidate;
#endif
  }
}

HostTempFolder::~HostTempFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

bool HostTempFolder::CopyIn(const fs::path& source, const fs::path& copy) const {
  // A plain copy: the library consumes it at once, and after a crash it
  // means nothing, so it is not synced to disk as the phone's files are.
  std::error_code ec;
  if (!fs::copy_file(source, copy, fs::copy_options::overwrite_existing, ec)) return false;
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                  ec);
  return !ec;
}

}  // namespace zelsync_tool
