#include "local/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/platform.h"

namespace zelsync {
namespace local {

bool ListFiles(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    if (entry->d_type != DT_REG) {
      if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) continue;
      struct stat st;
      if (fstatat(dirfd(dir), name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    }
    names->emplace_back(name);
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content, size_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
    close(fd);
    return false;
  }
  std::string out;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (out.size() + static_cast<size_t>(got) > limit) {
      ok = false;
      break;
    }
    out.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (ok) *content = std::move(out);
  return ok;
}

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A fresh hidden scratch file beside `path`, which the store's listing
// passes over and RemoveStaleScratchFiles clears once a writer died.
std::string ScratchPathFor(const std::string& path) {
  char suffix[32];
  snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(RandomNumber()));
  return FolderOf(path) + "/." + BaseName(path).substr(0, 200) + suffix;
}

}  // namespace

// The writes go through the platform layer, so that they are as durable as
// the library's own files and a test's Env can make them fail.
bool WriteThenRename(const std::string& scratch, const std::string& path,
                     const std::string& content) {
  return zelsync::WriteFileAtomically(PathFromNative(path), PathFromNative(scratch), content.data(),
                                      content.size());
}

int RemoveStaleScratchFiles(const std::string& folder, bool all, int64_t min_age_seconds,
                            bool* none_left) {
  bool left = false;
  std::vector<std::string> names;
  if (!ListFiles(folder, &names)) left = true;
  const int64_t now = NowMicroseconds() / 1000000;
  Env& env = Env::Current();
  int removed = 0;
  for (const std::string& name : names) {
    if (!all && (name.size() < 2 || name[0] != '.' || name.find(".tmp-") == std::string::npos))
      continue;
    const WString path = PathFromNative(folder + "/" + name);
    FileStamp stamp;
    if (env.StampFile(path, &stamp) != FsStatus::kOk ||
        now - stamp.modified / 1000000000 < min_age_seconds) {
      left = true;
      continue;
    }
    if (env.RemoveFile(path) == FsStatus::kOk) {
      ++removed;
    } else {
      left = true;
    }
  }
  if (none_left) *none_left = !left;
  return removed;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  return WriteThenRename(ScratchPathFor(path), path, content);
}

bool WriteHandedFile(const std::string& path, const std::string& content) {
  const WString scratch = PathFromNative(ScratchPathFor(path));
  Env& env = Env::Current();
  std::unique_ptr<File> file = env.Open(scratch, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  const bool written = file->Write(content.data(), content.size()) == content.size() && file->Flush();
  file.reset();
  if (written && env.Replace(scratch, PathFromNative(path)) == FsStatus::kOk) return true;
  env.RemoveFile(scratch);
  return false;
}

bool RenameFile(const std::string& from, const std::string& to) {
  Env& env = Env::Current();
  if (env.Replace(PathFromNative(from), PathFromNative(to)) != FsStatus::kOk) return false;
  env.SyncFolder(PathFromNative(FolderOf(to)));
  return true;
}

bool RemoveFile(const std::string& path) { return Env::Current().RemoveFile(PathFromNative(path)) == FsStatus::kOk; }

bool FileExists(const std::string& path) {
  return Env::Current().Stat(PathFromNative(path)) == FsStatus::kOk;
}

EntryKind KindOfEntry(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) ? EntryKind::kFile : EntryKind::kOther;
  return errno == ENOENT || errno == ENOTDIR ? EntryKind::kMissing : EntryKind::kUnknown;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = FolderOf(folder);
  if (parent != folder && parent != "." && parent != "/" && !MakeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

uint64_t RandomNumber() {
  static std::random_device device;
  static std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device() ^
                                static_cast<uint64_t>(NowMicroseconds()));
  return engine();
}

int64_t NowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

uint64_t Fingerprint(const std::string& bytes, uint64_t seed) {
  uint64_t hash = seed;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace local
}  // namespace zelsync
