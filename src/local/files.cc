#include "local/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/platform.h"

namespace zelsync {
namespace local {

bool ListFiles(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  std::vector<WString> wide;
  if (Env::Current().ListFiles(PathFromNative(folder), &wide) != FsStatus::kOk) return false;
  names->reserve(wide.size());
  for (const WString& name : wide) names->push_back(NativePath(name));
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content, size_t limit) {
  Env& env = Env::Current();
  const WString wide = PathFromNative(path);
  // Only a regular file is an item: a folder would read as empty.
  if (env.StatRegularFile(wide) != FsStatus::kOk) return false;
  std::unique_ptr<File> file = env.Open(wide, OpenMode::kReadBinary, nullptr);
  if (!file || !file->Seek(0, SeekFrom::kEnd)) return false;
  // A read stops short at the end and on an error alike: reading less than
  // the file held when it was opened is an error.
  const int64_t size = file->Tell();
  if (size < 0 || static_cast<uint64_t>(size) > limit || !file->Seek(0, SeekFrom::kBegin))
    return false;
  std::string out;
  out.reserve(static_cast<size_t>(size));
  char buffer[65536];
  for (;;) {
    const size_t got = file->Read(buffer, sizeof buffer);
    if (got == 0) break;
    if (out.size() + got > limit) return false;
    out.append(buffer, got);
  }
  if (out.size() < static_cast<uint64_t>(size)) return false;
  *content = std::move(out);
  return true;
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

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  Env& env = Env::Current();
  const WString wide = PathFromNative(folder);
  // Something other than a regular file is taken for the folder.
  const FsStatus found = env.StatRegularFile(wide);
  if (found == FsStatus::kOk || found == FsStatus::kExists) return found == FsStatus::kExists;
  std::string parent = FolderOf(folder);
  if (parent != folder && parent != "." && parent != "/" && !MakeFolders(parent)) return false;
  const FsStatus made = env.MakeFolder(wide);
  return made == FsStatus::kOk ||
         (made == FsStatus::kExists && env.StatRegularFile(wide) == FsStatus::kExists);
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
