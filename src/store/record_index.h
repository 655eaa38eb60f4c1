// The records of a device database held in memory between calls, for as
// long as the file is as the library last left it: the same identity, size
// and times. Every lookup of the record operations is answered from it, so
// a session that hands out or maps one item per call reads the file once
// rather than once per call. The library's own appends and in-place
// rewrites and removals (a record marked removed in place) update it; a
// compaction (the file is replaced) drops it, and a change made by another
// program shows in the file's stamp. Only the
// library writes these files: a write by another program of the same size
// within the same clock tick as one of the library's own would go unseen.
#ifndef ZELSYNC_STORE_RECORD_INDEX_H
#define ZELSYNC_STORE_RECORD_INDEX_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/record_file.h"
#include "store/records.h"

namespace zelsync {

// A record as the index holds it: each string field's units up to its
// terminator, or all 260 units when it has none (such a field equals
// nothing and contains nothing, as in the file).
struct IndexedRecord {
  uint32_t type = 0;
  WString entry_id;
  WString luid;
};

class RecordIndex {
 public:
  explicit RecordIndex(bool header_ok) : header_ok_(header_ok) {}
  // False when the file was shorter than its header.
  bool header_ok() const { return header_ok_; }
  // Every whole record of the file, the ones marked removed included.
  size_t size() const { return records_.size(); }
  // The records marked removed (kRemovedRecordType).
  size_t removed() const { return removed_; }
  const IndexedRecord& at(size_t position) const { return records_[position]; }

  // Every lookup passes over the records marked removed: no caller's type
  // matches one, whatever it is.
  // The position of the first record that `match` accepts, or -1.
  int64_t FindFirst(const std::function<bool(const IndexedRecord&)>& match) const;
  // The positions of all records of that type and entry ID, in file order.
  std::vector<int64_t> AllOfEntry(uint32_t type, const WString& entry_id) const;
  // The position of the first record of that type and entry ID, or -1.
  int64_t FirstOfEntry(uint32_t type, const WString& entry_id) const;
  // The position of the first record of that type and LUID, or -1.
  int64_t FirstOfLuid(uint32_t type, const WString& luid) const;
  // True when a record of any type has this entry ID and an assigned LUID.
  bool HasMappedEntry(const WString& entry_id) const;

  void Append(const DeviceRecord& record);
  void Overwrite(size_t position, const DeviceRecord& record);
  // The record at `position` (not removed yet) was marked removed in the file.
  void Remove(size_t position);

  // Reads a whole database: its header, then every whole record.
  // `file_size`, when known (else 0), sizes the index ahead.
  static std::shared_ptr<RecordIndex> Read(File& file, const RecordLayout& layout,
                                           uint64_t file_size = 0);

 private:
  // A record's type and one of its string fields (entry ID or LUID).
  struct Key {
    uint32_t type;
    WString text;
    bool operator==(const Key& other) const { return type == other.type && text == other.text; }
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return std::hash<WString>()(key.text) ^
             (static_cast<size_t>(key.type) * 0x9E3779B97F4A7C15ull);
    }
  };
  // Where the records of one key are: the first one's position, and how many.
  struct Span {
    size_t first;
    size_t count;
  };
  using Field = WString IndexedRecord::*;
  using Spans = std::unordered_map<Key, Span, KeyHash>;

  // The position of the next record after `position` whose `field` (with
  // its terminator) and type make `key`; size() when there is none.
  size_t NextWith(Field field, const Key& key, size_t position) const;
  // The position of the first record of `key`, by `spans` or by a scan.
  int64_t FirstWith(Field field, const Spans& spans, const Key& key) const;
  // Counts the record at `position` to its key in `spans`, or takes it out
  // (before the record changes).
  void AddToSpans(Spans& spans, Field field, size_t position) const;
  void DropFromSpans(Spans& spans, Field field, size_t position) const;
  // Whether the lookups go through the maps, which are built at the first
  // lookup past a few: a call that looks up once or twice (the first after
  // the file was read) costs no more than the read.
  bool UseMaps() const;
  // The maps' share of the record at `position`: added (+1) or taken out (-1).
  void CountInMaps(size_t position, int delta) const;

  bool header_ok_;
  size_t removed_ = 0;
  std::vector<IndexedRecord> records_;
  mutable bool maps_built_ = false;
  mutable size_t lookups_ = 0;
  mutable Spans entries_, luids_;
  mutable std::unordered_map<WString, size_t> mapped_entries_;  // entry ID -> records with a LUID
};

// True when the indexed field holds exactly `text` (a field without
// terminator equals nothing).
bool IndexedEquals(const WString& field, const WString& text);
// True when the record's LUID is the placeholder "UNDEFINED".
bool IndexedUndefined(const IndexedRecord& record);
// The 1044-byte record of an indexed one; the units after each terminator
// are zero.
DeviceRecord ToDeviceRecord(const IndexedRecord& record);

// The index of the database at files.path: the kept one when the file is
// as the library left it, else read afresh from `file` (opened at offset
// 0). `for_change`: the caller is about to change the file through the
// index, and vouches for it afterwards. Null only when the read fails.
std::shared_ptr<RecordIndex> IndexOf(const RecordFiles& files, File& file, bool for_change = false);
// The kept index for a change about to be made, when the file is as the
// library left it; null otherwise.
std::shared_ptr<RecordIndex> IndexForChange(const RecordFiles& files);
// After the library changed the file through `index` (closed by now): the
// index is kept with the file's new stamp.
void KeepIndex(const RecordFiles& files, std::shared_ptr<RecordIndex> index);
// The file is being replaced or removed: the kept index goes.
void DropIndex(const WString& path);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_RECORD_INDEX_H
