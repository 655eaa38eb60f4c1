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

// A lookup scans the records until this many were made since the file was
// read; the maps are built for the next.
constexpr size_t kScansBeforeMaps = 3;

bool RecordIndex::UseMaps() const {
  if (maps_built_) return true;
  if (++lookups_ <= kScansBeforeMaps) return false;
  maps_built_ = true;
  for (size_t i = 0; i < records_.size(); ++i) CountInMaps(i, 1);
  return true;
}

void RecordIndex::CountInMaps(size_t position, int delta) const {
  if (!maps_built_) return;
  const IndexedRecord& record = records_[position];
  if (delta > 0) {
    AddToSpans(entries_, &IndexedRecord::entry_id, position);
    AddToSpans(luids_, &IndexedRecord::luid, position);
  } else {
    DropFromSpans(entries_, &IndexedRecord::entry_id, position);
    DropFromSpans(luids_, &IndexedRecord::luid, position);
  }
  if (Mapped(record)) mapped_entries_[record.entry_id] += static_cast<size_t>(delta);
}

namespace {
// Found under its `field`: live, and the field has its terminator.
bool Keyed(const IndexedRecord& record, const WString& field) {
  return Live(record) && field.size() < kNoTerminator;
}
}  // namespace

size_t RecordIndex::NextWith(Field field, const Key& key, size_t position) const {
  while (++position < records_.size()) {
    const IndexedRecord& record = records_[position];
    if (record.type == key.type && Keyed(record, record.*field) && record.*field == key.text) break;
  }
  return position;
}

int64_t RecordIndex::FirstWith(Field field, const Spans& spans, const Key& key) const {
  if (!UseMaps()) {
    const size_t at = NextWith(field, key, static_cast<size_t>(-1));
    return at < records_.size() ? static_cast<int64_t>(at) : -1;
  }
  auto found = spans.find(key);
  return found == spans.end() ? -1 : static_cast<int64_t>(found->second.first);
}

void RecordIndex::AddToSpans(Spans& spans, Field field, size_t position) const {
  const IndexedRecord& record = records_[position];
  if (!Keyed(record, record.*field)) return;
  auto inserted = spans.emplace(Key{record.type, record.*field}, Span{position, 1});
  if (inserted.second) return;
  Span& span = inserted.first->second;
  ++span.count;
  if (span.first > position) span.first = position;
}

void RecordIndex::DropFromSpans(Spans& spans, Field field, size_t position) const {
  const IndexedRecord& record = records_[position];
  if (!Keyed(record, record.*field)) return;
  const Key key{record.type, record.*field};
  auto found = spans.find(key);
  if (found == spans.end()) return;
  Span& span = found->second;
  if (--span.count == 0) {
    spans.erase(found);
  } else if (span.first == position) {
    span.first = NextWith(field, key, position);  // the next record becomes the key's first
  }
}

int64_t RecordIndex::FirstOfEntry(uint32_t type, const WString& entry_id) const {
  return FirstWith(&IndexedRecord::entry_id, entries_, Key{type, entry_id});
}

int64_t RecordIndex::FirstOfLuid(uint32_t type, const WString& luid) const {
  return FirstWith(&IndexedRecord::luid, luids_, Key{type, luid});
}

std::vector<int64_t> RecordIndex::AllOfEntry(uint32_t type, const WString& entry_id) const {
  std::vector<int64_t> all;
  const Key key{type, entry_id};
  size_t at = static_cast<size_t>(-1), count = records_.size();
  if (UseMaps()) {
    auto found = entries_.find(key);
    if (found == entries_.end()) return all;
    at = found->second.first - 1;
    count = found->second.count;
  }
  for (size_t n = 0;
       n < count && (at = NextWith(&IndexedRecord::entry_id, key, at)) < records_.size(); ++n) {
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

void RecordIndex::Append(const DeviceRecord& record) {
  records_.push_back(FromDeviceRecord(record));
  if (!Live(records_.back())) ++removed_;
  CountInMaps(records_.size() - 1, 1);
}

void RecordIndex::Overwrite(size_t position, const DeviceRecord& record) {
  CountInMaps(position, -1);
  records_[position] = FromDeviceRecord(record);
  CountInMaps(position, 1);
}

void RecordIndex::Remove(size_t position) {
  CountInMaps(position, -1);
  records_[position].type = kRemovedRecordType;
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
