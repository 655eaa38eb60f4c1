#include "tracker/change_scanner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include "local/entry_ids.h"
#include "local/files.h"
#include "local/store.h"
#include "store/records.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace local {
namespace {

constexpr char kStateName[] = "LocalStoreState.txt";
constexpr char kStateHeader[] = "zelsync local store state 1";
constexpr FolderKind kTrackedFolders[] = {FolderKind::kInbox, FolderKind::kNotes, FolderKind::kContacts,
                                          FolderKind::kCalendar};

using ItemKey = std::pair<int, std::string>;  // object type, stem

struct State {
  std::string root;
  uint32_t counter = 0;
  std::map<ItemKey, uint64_t> items;  // fingerprints
};

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

bool Unhex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    if (sscanf(hex.c_str() + i, "%2x", &value) != 1) return false;
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

// Serialises the scans and the store's own updates of the state, across
// processes, with an advisory lock beside the state file.
class StateLock {
 public:
  explicit StateLock(const WString& folder) {
    std::string path = Utf16ToUtf8(folder) + "LocalStoreState.lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~StateLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_ = -1;
};

bool ReadEnvFile(const WString& path, std::string* content) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  content->clear();
  char buffer[8192];
  for (;;) {
    size_t got = file->Read(buffer, sizeof buffer);
    content->append(buffer, got);
    if (got < sizeof buffer) break;
    if (content->size() > (256u << 20)) return false;
  }
  return true;
}

// False when there is no usable state (missing or not ours).
bool LoadState(const WString& path, State* state) {
  std::string content;
  if (!ReadEnvFile(path, &content)) return false;
  size_t start = 0;
  int line_number = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (line_number == 1) {
      if (line != kStateHeader) return false;
      continue;
    }
    if (line.compare(0, 5, "root ") == 0) {
      if (!Unhex(line.substr(5), &state->root)) return false;
    } else if (line.compare(0, 8, "counter ") == 0) {
      unsigned long value = 0;
      if (sscanf(line.c_str() + 8, "%lu", &value) != 1) return false;
      state->counter = static_cast<uint32_t>(value);
    } else if (!line.empty()) {
      int type = 0;
      unsigned long long fingerprint = 0;
      int used = 0;
      if (sscanf(line.c_str(), "%d %llx %n", &type, &fingerprint, &used) < 2 || used <= 0) return false;
      std::string stem;
      if (!Unhex(line.substr(static_cast<size_t>(used)), &stem) || stem.empty()) return false;
      state->items[{type, stem}] = fingerprint;
    }
  }
  return line_number >= 1;
}

bool SaveState(const WString& path, const State& state) {
  std::string content = std::string(kStateHeader) + "\nroot " + Hex(state.root) + "\ncounter " +
                        std::to_string(state.counter) + "\n";
  char fingerprint[24];
  for (const auto& item : state.items) {
    snprintf(fingerprint, sizeof fingerprint, "%016llx", static_cast<unsigned long long>(item.second));
    content += std::to_string(item.first.first) + " " + fingerprint + " " + Hex(item.first.second) + "\n";
  }
  Env& env = Env::Current();
  WString scratch = path + u".tmp";
  std::unique_ptr<File> file = env.Open(scratch, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  bool ok = file->Write(content.data(), content.size()) == content.size() && file->Sync();
  file.reset();
  if (ok && env.Replace(scratch, path) == FsStatus::kOk) return true;
  env.RemoveFile(scratch);
  return false;
}

// The fingerprint of an item as it is now: its bytes, and for mail its
// Maildir flags too (UnRead is one of them).
bool ItemFingerprint(const ItemFile& file, uint64_t* fingerprint) {
  std::string content;
  if (!ReadWholeFile(file.path, &content)) return false;
  uint64_t hash = Fingerprint(content);
  if (file.folder == FolderKind::kInbox) {
    std::string name = BaseName(file.path);
    size_t info = name.find(":2,");
    hash = Fingerprint(info == std::string::npos ? std::string() : name.substr(info + 3), hash);
  }
  *fingerprint = hash;
  return true;
}

std::string ChangeTime() {
  time_t now = time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  char text[24];
  strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

// Appends whole records, each in one write at the end of the log, so that
// nothing another writer appends at the same time is overwritten.
bool AppendRecords(const WString& folder, const std::vector<StoreChange>& entries, uint32_t* counter) {
  if (entries.empty()) return true;
  Env& env = Env::Current();
  std::unique_ptr<File> irmc = env.Open(folder + u"SyncModificationLog.DAT", OpenMode::kAppendBinary, nullptr);
  std::unique_ptr<File> syncml = env.Open(folder + u"SyncMLModificationLog.DAT", OpenMode::kAppendBinary, nullptr);
  if (!irmc || !syncml) return false;
  const WString time = Utf8ToUtf16(ChangeTime());
  bool ok = true;
  for (const StoreChange& entry : entries) {
    ModificationLogRecord record;
    record.type = static_cast<uint32_t>(entry.type);
    record.kind = entry.kind;
    CopyBounded(record.entry_id, kWideUnits, entry.entry_id);
    SyncMLModificationLogRecord stamped;
    stamped.type = record.type;
    stamped.kind = record.kind;
    CopyBounded(stamped.entry_id, kWideUnits, entry.entry_id);
    CopyBounded(stamped.change_time, 20, time);
    stamped.change_number = ++*counter;
    ok = irmc->Write(&record, sizeof record) == sizeof record && irmc->Sync() && ok;
    ok = syncml->Write(&stamped, sizeof stamped) == sizeof stamped && syncml->Sync() && ok;
  }
  return ok;
}

std::map<ItemKey, uint64_t> CurrentItems(const Store& store, const State& previous) {
  std::map<ItemKey, uint64_t> items;
  for (FolderKind folder : kTrackedFolders) {
    int type = ObjectTypeOf(folder);
    for (const ItemFile& file : store.List(folder)) {
      uint64_t fingerprint = 0;
      if (ItemFingerprint(file, &fingerprint)) {
        items[{type, file.stem}] = fingerprint;
      } else {
        // Unreadable for now (being replaced, no permission): unchanged.
        auto known = previous.items.find({type, file.stem});
        if (known != previous.items.end()) items[known->first] = known->second;
      }
    }
  }
  return items;
}

void UpdateState(const Store& store, FolderKind folder, const std::string& stem, bool removed) {
  BoundedPath folder_path = SyncFolderPath();
  if (!folder_path.ok() || !folder_path.Append(kPathSeparator)) return;
  if (Env::Current().Stat(folder_path.str()) != FsStatus::kOk) return;  // no scan has run yet
  StateLock lock(folder_path.str());
  WString path = folder_path.str() + Utf8ToUtf16(kStateName);
  State state;
  if (!LoadState(path, &state) || state.root != store.root()) return;  // the first scan sees everything
  ItemKey key{ObjectTypeOf(folder), stem};
  if (removed) {
    state.items.erase(key);
  } else {
    ItemFile file;
    uint64_t fingerprint = 0;
    if (!store.Find(folder, stem, &file) || !ItemFingerprint(file, &fingerprint)) return;
    state.items[key] = fingerprint;
  }
  SaveState(path, state);
}

// The changes from `previous` to `next`, counted in *result.
std::vector<StoreChange> Differences(const State& previous, const State& next, ScanResult* result) {
  std::vector<StoreChange> entries;
  for (const auto& item : next.items) {
    auto before = previous.items.find(item.first);
    if (before != previous.items.end() && before->second != item.second) {
      entries.push_back({item.first.first, 0, EntryIdFromStem(item.first.second)});
      ++result->changed;
    }
  }
  for (const auto& item : previous.items) {
    if (!next.items.count(item.first)) {
      entries.push_back({item.first.first, 1, EntryIdFromStem(item.first.second)});
      ++result->deleted;
    }
  }
  return entries;
}

}  // namespace

ScanResult PreviewStoreChanges(std::vector<StoreChange>* changes, std::vector<StoreChange>* items) {
  ScanResult result;
  changes->clear();
  items->clear();
  std::string root;
  if (!StoreRoot(&root)) return result;
  Store store(root);
  State previous;
  bool known = false;
  BoundedPath folder = SyncFolderPath();
  if (folder.ok() && folder.Append(kPathSeparator) && Env::Current().Stat(folder.str()) == FsStatus::kOk) {
    StateLock lock(folder.str());
    known = LoadState(folder.str() + Utf8ToUtf16(kStateName), &previous) && previous.root == root;
  }
  State next;
  next.items = CurrentItems(store, known ? previous : State());
  for (const auto& item : next.items) items->push_back({item.first.first, 0, EntryIdFromStem(item.first.second)});
  result.baseline = !known;
  if (known) *changes = Differences(previous, next, &result);
  result.ok = true;
  return result;
}

ScanResult ScanStoreChanges() {
  ScanResult result;
  std::string root;
  if (!StoreRoot(&root)) return result;
  Store store(root);
  if (!store.Prepare()) return result;
  BoundedPath folder;
  if (!PrepareSyncFolder(&folder)) return result;
  StateLock lock(folder.str());
  WString path = folder.str() + Utf8ToUtf16(kStateName);

  State previous;
  bool known = LoadState(path, &previous) && previous.root == root;
  State next;
  next.root = root;
  next.counter = known ? previous.counter : 0;
  next.items = CurrentItems(store, known ? previous : State());
  if (!known) {
    result.baseline = true;
    result.ok = SaveState(path, next);
    return result;
  }
  std::vector<StoreChange> entries = Differences(previous, next, &result);
  // The records go first: a crash before the state is saved reports the
  // same changes again rather than losing them.
  if (!AppendRecords(folder.str(), entries, &next.counter)) return result;
  result.ok = SaveState(path, next);
  return result;
}

void RememberLibraryWrite(const Store& store, FolderKind folder, const std::string& stem) {
  UpdateState(store, folder, stem, false);
}

void RememberLibraryRemoval(const Store& store, FolderKind folder, const std::string& stem) {
  UpdateState(store, folder, stem, true);
}

}  // namespace local
}  // namespace zelsync
