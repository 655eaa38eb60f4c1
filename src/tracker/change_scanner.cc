#include "tracker/change_scanner.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "local/entry_ids.h"
#include "tracker/carry_over.h"
#include "local/files.h"
#include "local/store.h"
#include "store/file_names.h"
#include "store/log_writer.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace local {
namespace {

// State 1 came from a store that named items by their bare file names;
// state 2 means the bookkeeping files carry the tagged entry IDs.
constexpr char kStateHeaderV1[] = "zelsync local store state 1";
constexpr char kStateHeader[] = "zelsync local store state 2";
constexpr FolderKind kTrackedFolders[] = {FolderKind::kInbox, FolderKind::kNotes, FolderKind::kContacts,
                                          FolderKind::kCalendar};

using ItemKey = std::pair<int, std::string>;  // object type, stem

// The fingerprint an item line carries for an item the library removed: a
// removal is appended like a write, and the line takes the item out of the
// state. No item's fingerprint takes this value (see ItemFingerprint).
constexpr uint64_t kRemovedFingerprint = 0;

struct State {
  bool current = true;  // false: read from state 1, not yet carried over
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
// processes, with a lock file beside the state file. Without the lock the
// state is still read and written whole; only a concurrent update may be
// lost, and that item is then reported once more.
std::unique_ptr<FileLock> LockState(const WString& folder) {
  return Env::Current().LockFile(folder + BookkeepingFileNameW(BookkeepingFile::kStoreStateLock), nullptr);
}

// What LoadState found: a state, none, a file that cannot be read, or one
// that is not a state of ours.
enum class Loaded { kState, kMissing, kUnreadable, kForeign };

// False when `content` is not a state of ours.
bool ParseState(const std::string& content, State* state);

Loaded LoadState(const WString& path, State* state) {
  std::string content;
  if (!ReadWholeFile(NativePath(path), &content, kMaxSyncFileSize)) {
    const FsStatus status = Env::Current().Stat(path);
    return status == FsStatus::kNotFound || status == FsStatus::kPathNotFound ? Loaded::kMissing
                                                                              : Loaded::kUnreadable;
  }
  return ParseState(content, state) ? Loaded::kState : Loaded::kForeign;
}

bool ParseState(const std::string& content, State* state) {
  size_t start = 0;
  int line_number = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    // A line without its line end after the header is an append that a
    // killed process did not finish: it does not count.
    if (end == std::string::npos && line_number >= 1) break;
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (line_number == 1) {
      if (line != kStateHeader && line != kStateHeaderV1) return false;
      state->current = line == kStateHeader;
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
      if (fingerprint == kRemovedFingerprint) {
        state->items.erase({type, stem});
      } else {
        state->items[{type, stem}] = fingerprint;
      }
    }
  }
  return line_number >= 1;
}

std::string ItemLine(const ItemKey& key, uint64_t fingerprint) {
  char hex[24];
  snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fingerprint));
  return std::to_string(key.first) + " " + hex + " " + Hex(key.second) + "\n";
}

bool SaveState(const WString& folder, const State& state) {
  std::string content = std::string(kStateHeader) + "\nroot " + Hex(state.root) + "\ncounter " +
                        std::to_string(state.counter) + "\n";
  for (const auto& item : state.items) content += ItemLine(item.first, item.second);
  return zelsync::WriteFileAtomically(folder + BookkeepingFileNameW(BookkeepingFile::kStoreState),
                                      folder + BookkeepingFileNameW(BookkeepingFile::kStoreStateScratch),
                                      content.data(), content.size());
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
  *fingerprint = hash == kRemovedFingerprint ? kRemovedFingerprint + 1 : hash;
  return true;
}

WString IdOf(const ItemKey& key) {
  for (FolderKind folder : kTrackedFolders) {
    if (ObjectTypeOf(folder) == key.first) return EntryIdOf(folder, key.second);
  }
  return WString();
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

// The state grows by appends up to this size before a write folds it.
constexpr int64_t kFoldStateAt = int64_t{64} << 20;

enum class Appended { kDone, kNotOurs, kRewrite };

// The library's own write or removal of one item, in time that does not
// grow with the store: one item line appended to the state (a later line of
// an item overrides an earlier one; the next scan writes the state whole
// again). Only the state's head is read, to tell whether it is a current
// state of this store. kRewrite when the state must be rewritten whole
// instead (it ends in an unfinished line, or has grown large).
Appended AppendItemLine(const WString& path, const Store& store, const ItemKey& key,
                        uint64_t fingerprint) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kUpdateBinary, nullptr);
  if (!file) return Appended::kNotOurs;
  std::string head;
  size_t header_end = std::string::npos, root_end = std::string::npos;
  char buffer[4096];
  while (root_end == std::string::npos && head.size() < kMaxSyncFileSize) {
    const size_t got = file->Read(buffer, sizeof buffer);
    if (got == 0) return Appended::kNotOurs;
    head.append(buffer, got);
    header_end = head.find('\n');
    if (header_end != std::string::npos) root_end = head.find('\n', header_end + 1);
  }
  std::string root;
  if (root_end == std::string::npos || head.compare(0, header_end, kStateHeader) != 0 ||
      head.compare(header_end + 1, 5, "root ") != 0 ||
      !Unhex(head.substr(header_end + 6, root_end - header_end - 6), &root) ||
      root != store.root()) {
    return Appended::kNotOurs;
  }
  char last = 0;
  if (!file->Seek(-1, SeekFrom::kEnd) || file->Read(&last, 1) != 1 || last != '\n' ||
      !file->Seek(0, SeekFrom::kEnd) || file->Tell() >= kFoldStateAt) {
    return Appended::kRewrite;
  }
  const std::string line = ItemLine(key, fingerprint);
  // Lasts through a killed process; a power cut that loses it makes the next
  // scan report the library's write as a change, once.
  if (file->Write(line.data(), line.size()) != line.size() || !file->Flush())
    return Appended::kRewrite;
  return Appended::kDone;
}

// The state after the library's own write of `written`, or (null) its
// removal of the item `stem`.
void UpdateState(const Store& store, FolderKind folder, const std::string& stem, const ItemFile* written) {
  BoundedPath folder_path = SyncFolderPath();
  if (!folder_path.ok() || !folder_path.Append(kPathSeparator)) return;
  if (Env::Current().Stat(folder_path.str()) != FsStatus::kOk) return;  // no scan has run yet
  std::unique_ptr<FileLock> lock = LockState(folder_path.str());
  WString path = folder_path.str() + BookkeepingFileNameW(BookkeepingFile::kStoreState);
  // The file as written is fingerprinted: looking it up would list the
  // whole folder at every write of a session.
  uint64_t fingerprint = kRemovedFingerprint;
  if (written && !ItemFingerprint(*written, &fingerprint)) return;
  if (AppendItemLine(path, store, {ObjectTypeOf(folder), stem}, fingerprint) != Appended::kRewrite)
    return;
  State state;
  // The first scan sees everything; a state not yet carried over is the
  // next scan's to carry over and rewrite.
  if (LoadState(path, &state) != Loaded::kState || !state.current || state.root != store.root()) return;
  ItemKey key{ObjectTypeOf(folder), stem};
  if (written) {
    state.items[key] = fingerprint;
  } else {
    state.items.erase(key);
  }
  SaveState(folder_path.str(), state);
}

// Carries the bookkeeping files over to the tagged entry IDs when the state
// comes from a store that named items by their bare file names (see
// local/entry_ids.h). Runs when the store connects, so that no export meets
// a record of the earlier form. False when a file could not be carried
// over; true when there was nothing to do.
bool CarryOverStoreState() {
  BoundedPath folder_path = SyncFolderPath();
  // No sync folder that can be named holds no records to carry over.
  if (!folder_path.ok() || !folder_path.Append(kPathSeparator)) return true;
  const WString path = folder_path.str() + BookkeepingFileNameW(BookkeepingFile::kStoreState);
  // Only the first line is read: this runs at every connection.
  {
    std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
    if (!file) return true;  // no state: the first scan carries over
    char head[sizeof kStateHeaderV1] = {};
    size_t got = file->Read(head, sizeof head);
    if (got < sizeof head || memcmp(head, kStateHeaderV1, sizeof head - 1) != 0 || head[sizeof head - 1] != '\n') {
      return true;  // current, or not a state the scanner would use
    }
  }
  std::unique_ptr<FileLock> lock = LockState(folder_path.str());
  State state;
  if (LoadState(path, &state) != Loaded::kState || state.current) return true;
  if (!CarryOverEntryIds(folder_path.str())) return false;
  state.current = true;
  return SaveState(folder_path.str(), state);
}

// The changes from `previous` to `next`, counted in *result.
std::vector<LoggedChange> Differences(const State& previous, const State& next, ScanResult* result) {
  std::vector<LoggedChange> entries;
  for (const auto& item : next.items) {
    auto before = previous.items.find(item.first);
    if (before != previous.items.end() && before->second != item.second) {
      entries.push_back({static_cast<uint32_t>(item.first.first), 0, IdOf(item.first)});
      ++result->changed;
    }
  }
  for (const auto& item : previous.items) {
    if (!next.items.count(item.first)) {
      entries.push_back({static_cast<uint32_t>(item.first.first), 1, IdOf(item.first)});
      ++result->deleted;
    }
  }
  return entries;
}

}  // namespace

ScanResult PreviewStoreChanges(std::vector<LoggedChange>* changes, std::vector<LoggedChange>* items) {
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
    std::unique_ptr<FileLock> lock = LockState(folder.str());
    const Loaded loaded = LoadState(folder.str() + BookkeepingFileNameW(BookkeepingFile::kStoreState), &previous);
    if (loaded == Loaded::kUnreadable) return result;
    known = loaded == Loaded::kState && previous.root == root;
  }
  State next;
  next.items = CurrentItems(store, known ? previous : State());
  for (const auto& item : next.items) {
    items->push_back({static_cast<uint32_t>(item.first.first), 0, IdOf(item.first)});
  }
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
  std::unique_ptr<FileLock> lock = LockState(folder.str());
  WString path = folder.str() + BookkeepingFileNameW(BookkeepingFile::kStoreState);

  State previous;
  const Loaded read = LoadState(path, &previous);
  // A state that stands but cannot be read now is kept: a new baseline in
  // its place would never report the changes made since the last scan.
  if (read == Loaded::kUnreadable) return result;
  const bool loaded = read == Loaded::kState;
  // Without a current state the bookkeeping files may still name items the
  // earlier way: they are carried over before anything is reported.
  if ((!loaded || !previous.current) && !CarryOverEntryIds(folder.str())) return result;
  bool known = loaded && previous.root == root;
  State next;
  next.root = root;
  next.counter = known ? previous.counter : 0;
  next.items = CurrentItems(store, known ? previous : State());
  if (!known) {
    result.baseline = true;
    result.ok = SaveState(folder.str(), next);
    return result;
  }
  std::vector<LoggedChange> entries = Differences(previous, next, &result);
  // The records go first: a crash before the state is saved reports the
  // same changes again rather than losing them.
  if (!AppendToModificationLogs(folder.str(), entries, Utf8ToUtf16(UtcTimeStamp()), &next.counter)) return result;
  result.ok = SaveState(folder.str(), next);
  return result;
}

StoreObserver& LibraryWriteObserver() {
  class Observer : public StoreObserver {
   public:
    void ItemWritten(const Store& store, const ItemFile& file) override {
      UpdateState(store, file.folder, file.stem, &file);
    }
    void ItemRemoved(const Store& store, FolderKind folder, const std::string& stem) override {
      UpdateState(store, folder, stem, nullptr);
    }
    bool StoreConnecting(const Store&) override { return CarryOverStoreState(); }
  };
  static Observer observer;
  return observer;
}

}  // namespace local
}  // namespace zelsync
