#include "store/record_index.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/file_stamp.h"

namespace zelsync {
namespace {

constexpr WString::size_type kNoTerminator = kWideUnits;

struct KeptIndex {
  FileStamp stamp;
  std::shared_ptr<RecordIndex> index;
  bool settled;  // the stamp vouches for the index
};

std::mutex& IndexMutex() {
  static std::mutex mutex;
  return mutex;
}

// Keyed by the database's path.
std::map<WString, KeptIndex>& KeptIndexes() {
  static std::map<WString, KeptIndex> kept;
  return kept;
}

IndexedRecord FromDeviceRecord(const DeviceRecord& record) {
  return IndexedRecord{record.type, FieldText(record.entry_id), FieldText(record.luid)};
}

}  // namespace

bool IndexedEquals(const WString& field, const WString& text) {
  return field.size() < kNoTerminator && field == text;
}

bool IndexedUndefined(const IndexedRecord& record) {
  return IndexedEquals(record.luid, kUndefinedLuid);
}

DeviceRecord ToDeviceRecord(const IndexedRecord& record) {
  DeviceRecord out;
  out.type = record.type;
  // Copied unit by unit, so that a field without terminator stays one.
  memcpy(out.entry_id, record.entry_id.data(), record.entry_id.size() * sizeof(char16_t));
  memcpy(out.luid, record.luid.data(), record.luid.size() * sizeof(char16_t));
  return out;
}

namespace {
bool Live(const IndexedRecord& record) { return record.type != kRemovedRecordType; }
// Has an entry ID (a field with a terminator) under which it is found.
bool Named(const IndexedRecord& record) {
  return Live(record) && record.entry_id.size() < kNoTerminator;
}
bool Mapped(const IndexedRecord& record) { return Named(record) && !IndexedUndefined(record); }
}  // namespace

int64_t RecordIndex::FindFirst(const std::function<bool(const IndexedRecord&)>& match) const {
  for (size_t i = 0; i < records_.size(); ++i) {
    if (Live(records_[i]) && match(records_[i])) return static_cast<int64_t>(i);
  }
  return -1;
}

// A lookup by entry ID scans the records until this many were made since
// the file was read; the maps are built for the next.
constexpr size_t kScansBeforeMaps = 3;

bool RecordIndex::UseMaps() const {
  if (maps_built_) return true;
  if (++lookups_ <= kScansBeforeMaps) return false;
  maps_built_ = true;
  for (size_t i = 0; i < records_.size(); ++i) {
    IndexEntry(i);
    CountMapped(records_[i], 1);
  }
  return true;
}

void RecordIndex::CountMapped(const IndexedRecord& record, int delta) const {
  if (maps_built_ && Mapped(record)) mapped_entries_[record.entry_id] += static_cast<size_t>(delta);
}

int64_t RecordIndex::FirstOfEntry(uint32_t type, const WString& entry_id) const {
  if (!UseMaps()) {
    const size_t at = NextOfEntry(EntryKey{type, entry_id}, static_cast<size_t>(-1));
    return at < records_.size() ? static_cast<int64_t>(at) : -1;
  }
  auto found = entries_.find(EntryKey{type, entry_id});
  return found == entries_.end() ? -1 : static_cast<int64_t>(found->second.first);
}

size_t RecordIndex::NextOfEntry(const EntryKey& key, size_t position) const {
  while (++position < records_.size()) {
    const IndexedRecord& record = records_[position];
    if (record.type == key.type && Named(record) && record.entry_id == key.entry_id) break;
  }
  return position;
}

std::vector<int64_t> RecordIndex::AllOfEntry(uint32_t type, const WString& entry_id) const {
  std::vector<int64_t> all;
  const EntryKey key{type, entry_id};
  size_t at = static_cast<size_t>(-1), count = records_.size();
  if (UseMaps()) {
    auto found = entries_.find(key);
    if (found == entries_.end()) return all;
    at = found->second.first - 1;
    count = found->second.count;
  }
  for (size_t n = 0; n < count && (at = NextOfEntry(key, at)) < records_.size(); ++n) {
    all.push_back(static_cast<int64_t>(at));
  }
  return all;
}

bool RecordIndex::HasMappedEntry(const WString& entry_id) const {
  if (!UseMaps()) {
    return std::any_of(records_.begin(), records_.end(), [&](const IndexedRecord& record) {
      return Mapped(record) && record.entry_id == entry_id;
    });
  }
  auto found = mapped_entries_.find(entry_id);
  return found != mapped_entries_.end() && found->second > 0;
}

void RecordIndex::IndexEntry(size_t position) const {
  const IndexedRecord& record = records_[position];
  if (!Named(record)) return;
  auto inserted = entries_.emplace(EntryKey{record.type, record.entry_id}, EntrySpan{position, 1});
  if (inserted.second) return;
  EntrySpan& span = inserted.first->second;
  ++span.count;
  if (span.first > position) span.first = position;
}

void RecordIndex::Append(const DeviceRecord& record) {
  records_.push_back(FromDeviceRecord(record));
  const IndexedRecord& indexed = records_.back();
  if (!Live(indexed)) ++removed_;
  if (!maps_built_) return;
  IndexEntry(records_.size() - 1);
  CountMapped(indexed, 1);
}

void RecordIndex::Overwrite(size_t position, const DeviceRecord& record) {
  IndexedRecord& stored = records_[position];
  CountMapped(stored, -1);
  IndexedRecord replacement = FromDeviceRecord(record);
  const bool same_entry =
      replacement.type == stored.type && replacement.entry_id == stored.entry_id;
  stored = std::move(replacement);
  CountMapped(stored, 1);
  if (maps_built_ && !same_entry) {
    // The first record of an entry may have moved: the entry map is rebuilt.
    entries_.clear();
    for (size_t i = 0; i < records_.size(); ++i) IndexEntry(i);
  }
}

void RecordIndex::Remove(size_t position) {
  IndexedRecord& stored = records_[position];
  CountMapped(stored, -1);
  if (maps_built_ && Named(stored)) {
    const EntryKey key{stored.type, stored.entry_id};
    auto found = entries_.find(key);
    if (found != entries_.end()) {
      EntrySpan& span = found->second;
      if (--span.count == 0) {
        entries_.erase(found);
      } else if (span.first == position) {
        span.first = NextOfEntry(key, position);  // the next record becomes the entry's first
      }
    }
  }
  stored.type = kRemovedRecordType;
  ++removed_;
}

std::shared_ptr<RecordIndex> RecordIndex::Read(File& file, const RecordLayout& layout,
                                               uint64_t file_size) {
  unsigned char header[64];
  if (layout.header_size > sizeof header) return nullptr;
  auto index = std::make_shared<RecordIndex>(ReadExact(file, header, layout.header_size));
  if (!index->header_ok()) return index;
  if (file_size > layout.header_size && layout.record_size) {
    // At most a million records ahead: the rest, if any, as they come.
    const size_t expected = static_cast<size_t>(
        std::min<uint64_t>((file_size - layout.header_size) / layout.record_size, 1u << 20));
    index->records_.reserve(expected);
  }
  RecordReader reader(file, layout.record_size);
  DeviceRecord record;
  while (const unsigned char* bytes = reader.Next()) {
    memcpy(&record, bytes, sizeof record);
    index->Append(record);
  }
  return index;
}

namespace {

// The kept index when the file's stamp still matches. One read so recently
// after a write by someone else that the stamp cannot vouch for it serves
// only a change by the library (which the library then vouches for).
std::shared_ptr<RecordIndex> Kept(const RecordFiles& files, bool for_change) {
  FileStamp stamp;
  if (Env::Current().StampFile(files.path, &stamp) != FsStatus::kOk) return nullptr;
  std::lock_guard<std::mutex> lock(IndexMutex());
  auto kept = KeptIndexes().find(files.path);
  if (kept == KeptIndexes().end() || !(kept->second.stamp == stamp)) return nullptr;
  if (!kept->second.settled && !for_change) return nullptr;
  return kept->second.index;
}

}  // namespace

std::shared_ptr<RecordIndex> IndexForChange(const RecordFiles& files) { return Kept(files, true); }

std::shared_ptr<RecordIndex> IndexOf(const RecordFiles& files, File& file, bool for_change) {
  if (std::shared_ptr<RecordIndex> kept = Kept(files, for_change)) return kept;
  FileStamp before;
  const bool stamped = Env::Current().StampFile(files.path, &before) == FsStatus::kOk;
  std::shared_ptr<RecordIndex> index =
      RecordIndex::Read(file, files.layout, stamped ? before.size : 0);
  if (!index) return nullptr;
  // Kept only when nothing changed the file while it was read.
  FileStamp after;
  std::lock_guard<std::mutex> lock(IndexMutex());
  if (stamped && Env::Current().StampFile(files.path, &after) == FsStatus::kOk && before == after) {
    KeptIndexes()[files.path] = KeptIndex{after, index, StampSettled(after)};
  } else {
    KeptIndexes().erase(files.path);
  }
  return index;
}

void KeepIndex(const RecordFiles& files, std::shared_ptr<RecordIndex> index) {
  FileStamp stamp;
  const bool stamped = Env::Current().StampFile(files.path, &stamp) == FsStatus::kOk;
  std::lock_guard<std::mutex> lock(IndexMutex());
  if (stamped && index) {
    KeptIndexes()[files.path] = KeptIndex{stamp, std::move(index), true};
  } else {
    KeptIndexes().erase(files.path);
  }
}

void DropIndex(const WString& path) {
  std::lock_guard<std::mutex> lock(IndexMutex());
  KeptIndexes().erase(path);
}

}  // namespace zelsync
