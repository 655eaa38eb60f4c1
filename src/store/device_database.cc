#include "store/device_database.h"

#include <cstring>

#include "store/session.h"

namespace zelsync {
namespace {

constexpr RecordLayout kIrmcLayout{4, sizeof(DeviceRecord)};
constexpr RecordLayout kSyncMLLayout{sizeof(_SYNCML_SYNCANCHOR_RECORD), sizeof(DeviceRecord)};

bool SkipHeader(const DeviceDatabase& db, File& stream) {
  unsigned char header[sizeof(_SYNCML_SYNCANCHOR_RECORD)];
  return ReadExact(stream, header, db.files.layout.header_size);
}

bool ReadRecord(File& stream, DeviceRecord* record) {
  return ReadExact(stream, record, sizeof *record);
}

// Reads records after the header into *out until `match` accepts one.
int FindRecord(const DeviceDatabase& db, Stream stream, DeviceRecord* out,
               const std::function<bool(const DeviceRecord&)>& match) {
  if (!SkipHeader(db, *stream)) return 0;
  while (ReadRecord(*stream, out)) {
    if (match(*out)) return 1;
  }
  return 0;
}

// Overwrites, in place, the first record that `match` accepts with what
// `rewrite` makes of it. Returns 0 when the header cannot be read or the
// record could not be written; 1 otherwise, also when nothing matched.
int RewriteFirstInPlace(const DeviceDatabase& db, Stream stream,
                        const std::function<bool(const DeviceRecord&)>& match,
                        const std::function<DeviceRecord(const DeviceRecord&)>& rewrite) {
  if (!SkipHeader(db, *stream)) return 0;
  DeviceRecord stored;
  while (ReadRecord(*stream, &stored)) {
    if (!match(stored)) continue;
    DeviceRecord replacement = rewrite(stored);
    return stream->Seek(-static_cast<int64_t>(sizeof stored), SeekFrom::kCurrent) &&
                   stream->Write(&replacement, sizeof replacement) == sizeof replacement &&
                   stream->Sync()
               ? 1
               : 0;
  }
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
  Env& env = Env::Current();
  FsStatus status;
  Stream stream = env.Open(db.files.path, OpenMode::kUpdateBinary, &status);
  if (!stream) {
    if (status != FsStatus::kNotFound) return 0;
    stream = env.Open(db.files.path, OpenMode::kCreateUpdateBinary, nullptr);
    if (!stream) return 0;
    if (stream->Write(db.new_header.data(), db.new_header.size()) != db.new_header.size()) return 0;
  }
  if (!stream->Seek(0, SeekFrom::kEnd)) return 0;
  return stream->Write(&record, sizeof record) == sizeof record ? 1 : 0;
}

int RemoveRecord(const DeviceDatabase& db, const DeviceRecord& record, Stream stream) {
  return RewriteWithout(std::move(stream), db.files, [&](const void* bytes) {
    DeviceRecord stored;
    memcpy(&stored, bytes, sizeof stored);
    return stored.type == record.type && FieldEquals(stored.entry_id, record.entry_id) &&
           FieldEquals(stored.luid, record.luid);
  }) ? 1 : 0;
}

int LookupRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                       DeviceRecord* out, Stream stream) {
  DeviceRecord key = MakeDeviceRecord(type, WString(), luid);
  return FindRecord(db, std::move(stream), out, [&](const DeviceRecord& stored) {
    return stored.type == type && FieldEquals(stored.luid, key.luid);
  });
}

int LookupMappedRecord(const DeviceDatabase& db, uint32_t type, const WString& entry_id,
                       DeviceRecord* out, Stream stream) {
  DeviceRecord key = MakeDeviceRecord(type, entry_id, WString());
  return FindRecord(db, std::move(stream), out, [&](const DeviceRecord& stored) {
    return stored.type == type && FieldEquals(stored.entry_id, key.entry_id) &&
           !HasUndefinedLuid(stored);
  });
}

int RedirectRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                         const WString& entry_id, bool* found, Stream stream) {
  const DeviceRecord key = MakeDeviceRecord(type, entry_id, luid);
  *found = false;
  return RewriteFirstInPlace(
      db, std::move(stream),
      [&](const DeviceRecord& stored) {
        return stored.type == type && FieldEquals(stored.luid, key.luid);
      },
      [&](const DeviceRecord&) {
        *found = true;
        return key;
      });
}

int AppendDeviceRecord(const DeviceRecord& record) { return AppendRecord(IrmcDatabase(), record); }

int ReplaceDeviceRecord(const DeviceRecord& record, Stream stream) {
  // The first record of the item (same type and entry ID) takes the whole
  // given record.
  return RewriteFirstInPlace(
      IrmcDatabase(), std::move(stream),
      [&](const DeviceRecord& stored) {
        return stored.type == record.type && FieldEquals(stored.entry_id, record.entry_id);
      },
      [&](const DeviceRecord&) { return record; });
}

int RemoveDeviceRecord(const DeviceRecord& record, Stream stream) {
  return RemoveRecord(IrmcDatabase(), record, std::move(stream));
}

int FindDeviceRecordByEntryID(const DeviceRecord& record, Stream stream) {
  DeviceRecord stored;
  return FindRecord(IrmcDatabase(), std::move(stream), &stored, [&](const DeviceRecord& s) {
    return s.type == record.type && FieldEquals(s.entry_id, record.entry_id);
  });
}

int LookupDeviceRecordByLUID(uint32_t type, const WString& luid, DeviceRecord* out, Stream stream) {
  return LookupRecordByLUID(IrmcDatabase(), type, luid, out, std::move(stream));
}

int FindMappedSyncMLRecordByEntryID(const DeviceRecord& record, Stream stream) {
  // The object type is not compared: an entry ID names one item.
  DeviceRecord stored;
  return FindRecord(SyncMLDatabase(), std::move(stream), &stored, [&](const DeviceRecord& s) {
    return FieldEquals(s.entry_id, record.entry_id) && !HasUndefinedLuid(s);
  });
}

int RemapSyncMLRecord(const DeviceRecord& record, Stream stream) {
  // The first record of the type whose entry ID contains the given one, or
  // whose LUID equals the given one, keeps its entry ID and takes the LUID.
  return RewriteFirstInPlace(
      SyncMLDatabase(), std::move(stream),
      [&](const DeviceRecord& stored) {
        return stored.type == record.type && (FieldContains(stored.entry_id, record.entry_id) ||
                                              FieldEquals(stored.luid, record.luid));
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
