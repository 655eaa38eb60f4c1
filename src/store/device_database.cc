#include "store/device_database.h"

#include <algorithm>
#include <cstring>

#include "store/record_index.h"
#include "store/session.h"

namespace zelsync {
namespace {

constexpr RecordLayout kIrmcLayout{4, sizeof(DeviceRecord)};
constexpr RecordLayout kSyncMLLayout{sizeof(_SYNCML_SYNCANCHOR_RECORD), sizeof(DeviceRecord)};

// The database's records, from the kept index or read through `stream`;
// null when the header cannot be read.
std::shared_ptr<RecordIndex> Records(const DeviceDatabase& db, Stream stream) {
  std::shared_ptr<RecordIndex> index = IndexOf(db.files, *stream);
  return index && index->header_ok() ? index : nullptr;
}

// The text a search compares against: the argument as a record field holds
// it (cut to 259 units).
WString AsField(const WString& text) {
  char16_t field[kWideUnits];
  CopyBounded(field, kWideUnits, text);
  return FieldText(field);
}

// Overwrites, in place, the record at `position` (the first one that
// `match` accepts, by the index) with what `rewrite` makes of it. Returns 0
// when the header cannot be read or the record could not be written; 1
// otherwise, also when nothing matched.
int RewriteFirstInPlace(const DeviceDatabase& db, Stream stream,
                        const std::function<int64_t(const RecordIndex&)>& first_match,
                        const std::function<DeviceRecord(const DeviceRecord&)>& rewrite) {
  std::shared_ptr<RecordIndex> index = IndexOf(db.files, *stream, true);
  if (!index || !index->header_ok()) return 0;
  const int64_t at = first_match(*index);
  if (at < 0) return 1;
  const int64_t offset = static_cast<int64_t>(db.files.layout.header_size) +
                         at * static_cast<int64_t>(sizeof(DeviceRecord));
  // The record is read back first: its bytes past each terminator stay as
  // they were, and a file that no longer holds what the index says is not
  // written.
  DeviceRecord stored;
  const IndexedRecord& expected = index->at(static_cast<size_t>(at));
  if (!stream->Seek(offset, SeekFrom::kBegin) || !ReadExact(*stream, &stored, sizeof stored) ||
      stored.type != expected.type || FieldText(stored.entry_id) != expected.entry_id ||
      FieldText(stored.luid) != expected.luid) {
    DropIndex(db.files.path);
    return 0;
  }
  const DeviceRecord replacement = rewrite(stored);
  // Written through to the operating system, not to the disk: a lost update
  // of one record costs no more than a lost append.
  const bool written = stream->Seek(offset, SeekFrom::kBegin) &&
                       stream->Write(&replacement, sizeof replacement) == sizeof replacement &&
                       stream->Flush();
  stream.reset();
  if (!written) {
    DropIndex(db.files.path);
    return 0;
  }
  index->Overwrite(static_cast<size_t>(at), replacement);
  KeepIndex(db.files, index);
  return 1;
}

}  // namespace

DeviceDatabase IrmcDatabase() {
  const IrmcPaths& paths = CurrentSession().irmc;
  return DeviceDatabase{{kIrmcLayout, paths.database, paths.record_scratch},
                        std::vector<unsigned char>(4, 0)};
}

DeviceDatabase SyncMLDatabase() {
  const Session& session = CurrentSession();
  return SyncMLDatabaseAt(session.syncml.database, session.syncml.database_scratch);
}

DeviceDatabase SyncMLDatabaseAt(const WString& path, const WString& scratch) {
  const Session& session = CurrentSession();
  std::vector<unsigned char> header(sizeof session.anchor);
  memcpy(header.data(), &session.anchor, header.size());
  return DeviceDatabase{{kSyncMLLayout, path, scratch}, header};
}

int AppendRecord(const DeviceDatabase& db, const DeviceRecord& record) {
  // Such a record would read as removed.
  if (record.type == kRemovedRecordType) return 0;
  Env& env = Env::Current();
  // The kept index follows the append only when it holds every record of
  // the file (no trailing fragment that the record would land behind).
  std::shared_ptr<RecordIndex> index = IndexForChange(db.files);
  FileStamp stamp;
  if (index && (env.StampFile(db.files.path, &stamp) != FsStatus::kOk ||
                stamp.size != db.files.layout.header_size + index->size() * sizeof record)) {
    index = nullptr;
  }
  DropIndex(db.files.path);
  FsStatus status;
  Stream stream = env.Open(db.files.path, OpenMode::kUpdateBinary, &status);
  if (!stream) {
    if (status != FsStatus::kNotFound) return 0;
    stream = env.Open(db.files.path, OpenMode::kCreateUpdateBinary, nullptr);
    if (!stream) return 0;
    if (stream->Write(db.new_header.data(), db.new_header.size()) != db.new_header.size()) return 0;
  }
  if (!SeekAppendPosition(*stream, db.files.layout)) return 0;
  if (stream->Write(&record, sizeof record) != sizeof record || !stream->Flush()) return 0;
  stream.reset();
  if (index) {
    index->Append(record);
    KeepIndex(db.files, std::move(index));
  }
  return 1;
}

namespace {

// True when the record at `position` of the file holds what the index says
// (the removal then marks the right record).
bool StoredAsIndexed(File& file, const DeviceDatabase& db, const RecordIndex& index,
                     int64_t position) {
  DeviceRecord stored;
  const IndexedRecord& expected = index.at(static_cast<size_t>(position));
  const int64_t offset = static_cast<int64_t>(db.files.layout.header_size) +
                         position * static_cast<int64_t>(sizeof(DeviceRecord));
  return file.Seek(offset, SeekFrom::kBegin) && ReadExact(file, &stored, sizeof stored) &&
         stored.type == expected.type && FieldText(stored.entry_id) == expected.entry_id &&
         FieldText(stored.luid) == expected.luid;
}

}  // namespace

int RemoveRecord(const DeviceDatabase& db, const DeviceRecord& record, Stream stream) {
  const WString entry_id = FieldText(record.entry_id), luid = FieldText(record.luid);
  std::shared_ptr<RecordIndex> index;
  std::vector<int64_t> positions;
  // A kept index that no longer matches the file is read afresh, once.
  for (int attempt = 0; attempt < 2 && !index; ++attempt) {
    if (attempt && !stream->Seek(0, SeekFrom::kBegin)) return 0;
    index = IndexOf(db.files, *stream, true);
    if (!index || !index->header_ok()) return 0;
    // The records of the entry (a field without terminator names none)
    // that hold the LUID.
    positions = index->AllOfEntry(record.type, entry_id);
    positions.erase(std::remove_if(positions.begin(), positions.end(),
                                   [&](int64_t at) {
                                     return !IndexedEquals(index->at(static_cast<size_t>(at)).luid,
                                                           luid);
                                   }),
                    positions.end());
    for (int64_t position : positions) {
      if (!StoredAsIndexed(*stream, db, *index, position)) {
        DropIndex(db.files.path);
        index = nullptr;
        break;
      }
    }
  }
  if (!index) return 0;
  if (positions.empty()) return 1;
  if ((index->removed() + positions.size()) * 2 < index->size()) {
    // Marked in place; the records keep their positions and the index its
    // records.
    const bool marked = MarkRemoved(*stream, db.files.layout, positions, record.type);
    stream.reset();
    if (!marked) {
      DropIndex(db.files.path);
      return 0;
    }
    for (int64_t position : positions) index->Remove(static_cast<size_t>(position));
    KeepIndex(db.files, std::move(index));
    return 1;
  }
  // Half the records or more would be marked: the file is rewritten without
  // any of them, and the pass indexes what it keeps.
  DropIndex(db.files.path);
  if (!stream->Seek(0, SeekFrom::kBegin)) return 0;
  auto kept = std::make_shared<RecordIndex>(true);
  const bool rewritten = RewriteWithout(std::move(stream), db.files, [&](const void* bytes) {
    DeviceRecord stored;
    memcpy(&stored, bytes, sizeof stored);
    if (stored.type == kRemovedRecordType ||
        (stored.type == record.type && FieldEquals(stored.entry_id, record.entry_id) &&
         FieldEquals(stored.luid, record.luid))) {
      return true;
    }
    kept->Append(stored);
    return false;
  });
  if (!rewritten) return 0;
  KeepIndex(db.files, std::move(kept));
  return 1;
}

bool MayHoldMarks(const DeviceDatabase& db) {
  std::shared_ptr<RecordIndex> index = IndexForChange(db.files);
  return !index || index->removed() > 0;
}

bool CompactDatabase(const DeviceDatabase& db) {
  DropIndex(db.files.path);
  return CompactRecordFile(db.files);
}

// Lookups go through the index's maps by entry ID and by LUID: a scan of
// every record per call made a session that hands out or takes in every
// item cost the square of their number.
int LookupRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                       DeviceRecord* out, Stream stream) {
  std::shared_ptr<RecordIndex> index = Records(db, std::move(stream));
  const int64_t at = index ? index->FirstOfLuid(type, AsField(luid)) : -1;
  if (at < 0) return 0;
  if (out) *out = ToDeviceRecord(index->at(static_cast<size_t>(at)));
  return 1;
}

int LookupMappedRecord(const DeviceDatabase& db, uint32_t type, const WString& entry_id,
                       DeviceRecord* out, Stream stream) {
  std::shared_ptr<RecordIndex> index = Records(db, std::move(stream));
  if (!index) return 0;
  for (int64_t at : index->AllOfEntry(type, AsField(entry_id))) {
    const IndexedRecord& stored = index->at(static_cast<size_t>(at));
    if (IndexedUndefined(stored)) continue;
    if (out) *out = ToDeviceRecord(stored);
    return 1;
  }
  return 0;
}

int RedirectRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                         const WString& entry_id, bool* found, Stream stream) {
  const DeviceRecord key = MakeDeviceRecord(type, entry_id, luid);
  *found = false;
  return RewriteFirstInPlace(
      db, std::move(stream),
      [&](const RecordIndex& index) { return index.FirstOfLuid(type, FieldText(key.luid)); },
      [&](const DeviceRecord&) {
        *found = true;
        return key;
      });
}

int AppendDeviceRecord(const DeviceRecord& record) { return AppendRecord(IrmcDatabase(), record); }

int ReplaceDeviceRecord(const DeviceRecord& record, Stream stream) {
  // The first record of the item (same type and entry ID) takes the whole
  // given record.
  const WString entry_id = FieldText(record.entry_id);
  return RewriteFirstInPlace(
      IrmcDatabase(), std::move(stream),
      [&](const RecordIndex& index) {
        return entry_id.size() < kWideUnits ? index.FirstOfEntry(record.type, entry_id) : -1;
      },
      [&](const DeviceRecord&) { return record; });
}

int RemoveDeviceRecord(const DeviceRecord& record, Stream stream) {
  return RemoveRecord(IrmcDatabase(), record, std::move(stream));
}

int HasRecordOfEntry(const DeviceDatabase& db, uint32_t type, const WString& entry_id, Stream stream) {
  std::shared_ptr<RecordIndex> index = Records(db, std::move(stream));
  return index && entry_id.size() < kWideUnits && index->FirstOfEntry(type, entry_id) >= 0;
}

int FindDeviceRecordByEntryID(const DeviceRecord& record, Stream stream) {
  return HasRecordOfEntry(IrmcDatabase(), record.type, FieldText(record.entry_id), std::move(stream));
}

int LookupDeviceRecordByLUID(uint32_t type, const WString& luid, DeviceRecord* out, Stream stream) {
  return LookupRecordByLUID(IrmcDatabase(), type, luid, out, std::move(stream));
}

int FindMappedSyncMLRecordByEntryID(const DeviceRecord& record, Stream stream) {
  // The object type is not compared: an entry ID names one item.
  const WString entry_id = FieldText(record.entry_id);
  std::shared_ptr<RecordIndex> index = Records(SyncMLDatabase(), std::move(stream));
  return index && entry_id.size() < kWideUnits && index->HasMappedEntry(entry_id);
}

int RemapSyncMLRecord(const DeviceRecord& record, Stream stream) {
  // The first record of the type whose entry ID contains the given one, or
  // whose LUID equals the given one, keeps its entry ID and takes the LUID.
  const WString entry_id = FieldText(record.entry_id), luid = FieldText(record.luid);
  const bool usable_entry = entry_id.size() < kWideUnits, usable_luid = luid.size() < kWideUnits;
  return RewriteFirstInPlace(
      SyncMLDatabase(), std::move(stream),
      [&](const RecordIndex& index) {
        return index.FindFirst([&](const IndexedRecord& stored) {
          if (stored.type != record.type) return false;
          if (usable_entry && stored.entry_id.size() < kWideUnits &&
              stored.entry_id.find(entry_id) != WString::npos) {
            return true;
          }
          return usable_luid && IndexedEquals(stored.luid, luid);
        });
      },
      [&](const DeviceRecord& stored) {
        DeviceRecord replacement = record;
        memcpy(replacement.entry_id, stored.entry_id, sizeof replacement.entry_id);
        return replacement;
      });
}

DeviceRecord MakeDeviceRecord(uint32_t type, const WString& entry_id, const WString& luid) {
  DeviceRecord record;
  record.type = type;
  CopyBounded(record.entry_id, kWideUnits, entry_id);
  CopyBounded(record.luid, kWideUnits, luid);
  return record;
}

bool HasUndefinedLuid(const DeviceRecord& record) {
  return FieldEquals(record.luid, kUndefinedLuid, sizeof kUndefinedLuid / sizeof(char16_t));
}

}  // namespace zelsync
