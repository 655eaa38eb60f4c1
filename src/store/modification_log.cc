#include "store/modification_log.h"

#include <cstring>
#include <vector>

#include "store/session.h"
#include "store/file_names.h"
#include "store/sync_folder.h"

namespace zelsync {
namespace {

constexpr size_t kEntryIdOffset = 8;

LogEntry DecodeEntry(const unsigned char* bytes) {
  LogEntry entry;
  memcpy(&entry.type, bytes, 4);
  memcpy(&entry.kind, bytes + 4, 4);
  char16_t entry_id[kWideUnits];
  memcpy(entry_id, bytes + kEntryIdOffset, sizeof entry_id);
  entry.entry_id = FieldText(entry_id);
  entry.bytes = bytes;
  return entry;
}

}  // namespace

ModificationLog IrmcModificationLog() {
  const IrmcPaths& paths = CurrentSession().irmc;
  return ModificationLog{
      {{0, sizeof(ModificationLogRecord)}, paths.modification_log, paths.log_scratch}};
}

ModificationLog SyncMLModificationLog() {
  const SyncMLPaths& paths = CurrentSession().syncml;
  return ModificationLog{
      {{0, sizeof(SyncMLModificationLogRecord)}, paths.modification_log, paths.log_scratch}};
}

namespace {

ModificationLog LogInSyncFolder(const WString& name, size_t record_size) {
  BoundedPath path = SyncFolderPath();
  path.Append(kPathSeparator);
  path.Append(name);
  return ModificationLog{{{0, record_size}, path.ok() ? path.str() : WString(), WString()}};
}

}  // namespace

ModificationLog IrmcLogInSyncFolder() {
  return LogInSyncFolder(BookkeepingFileNameW(BookkeepingFile::kIrmcLog), sizeof(ModificationLogRecord));
}

ModificationLog SyncMLLogInSyncFolder() {
  return LogInSyncFolder(BookkeepingFileNameW(BookkeepingFile::kSyncMLLog), sizeof(SyncMLModificationLogRecord));
}

int AppendLogEntry(const ModificationLog& log, uint32_t type, uint32_t kind, const WString& entry_id) {
  const WString& path = log.files.path;
  if (type == kRemovedRecordType) return 0;  // the entry would read as removed
  if (log.files.layout.record_size == sizeof(ModificationLogRecord)) {
    ModificationLogRecord record;
    record.type = type;
    record.kind = kind;
    CopyBounded(record.entry_id, kWideUnits, entry_id);
    return AppendWholeRecord(path, &record, sizeof record) ? 1 : 0;
  }
  SyncMLModificationLogRecord record;
  // The change number goes on from the last whole entry's, also when that
  // entry is marked removed (the mark leaves its number).
  if (Stream stream = Env::Current().Open(path, OpenMode::kReadBinary, nullptr)) {
    if (!stream->Seek(0, SeekFrom::kEnd)) return 0;
    const int64_t whole =
        stream->Tell() / static_cast<int64_t>(sizeof record) * static_cast<int64_t>(sizeof record);
    if (whole > 0) {
      if (!stream->Seek(whole - static_cast<int64_t>(sizeof record), SeekFrom::kBegin) ||
          !ReadExact(*stream, &record, sizeof record)) {
        return 0;
      }
      ++record.change_number;
    }
  }
  record.type = type;
  record.kind = kind;
  memset(record.entry_id, 0, sizeof record.entry_id);
  CopyBounded(record.entry_id, kWideUnits, entry_id);
  memset(record.change_time, 0, sizeof record.change_time);
  CopyBounded(record.change_time, 20, Utf8ToUtf16(UtcTimeStamp()));
  return AppendWholeRecord(path, &record, sizeof record) ? 1 : 0;
}

bool FindLogEntry(const ModificationLog& log, const std::function<bool(const LogEntry&)>& match,
                  LogEntry* found) {
  if (Env::Current().Stat(log.files.path) != FsStatus::kOk) return false;
  Stream stream = OpenForUpdate(log.files.path);
  if (!stream) return false;
  RecordReader reader(*stream, log.files.layout.record_size);
  while (const unsigned char* bytes = reader.Next()) {
    if (IsRemovedRecord(bytes)) continue;
    LogEntry entry = DecodeEntry(bytes);
    // An entry ID without its terminator names no item and could never be
    // removed by its name: it is passed over.
    if (entry.entry_id.size() > kMaxWideLength) continue;
    if (match(entry)) {
      *found = entry;
      found->bytes = nullptr;
      return true;
    }
  }
  return false;
}

int RemoveLogEntries(const ModificationLog& log, uint32_t type, const WString& entry_id,
                     Stream stream) {
  char16_t key[kWideUnits] = {};
  CopyBounded(key, kWideUnits, entry_id);
  auto matches = [&](const void* bytes) {
    uint32_t stored_type;
    char16_t stored_id[kWideUnits];
    memcpy(&stored_type, bytes, 4);
    memcpy(stored_id, static_cast<const unsigned char*>(bytes) + kEntryIdOffset, sizeof stored_id);
    return stored_type == type && type != kRemovedRecordType && FieldEquals(stored_id, key);
  };
  // One pass finds the entries and counts the records already marked.
  std::vector<int64_t> positions;
  size_t records = 0, removed = 0;
  {
    RecordReader reader(*stream, log.files.layout.record_size);
    for (; const unsigned char* bytes = reader.Next(); ++records) {
      if (IsRemovedRecord(bytes)) {
        ++removed;
      } else if (matches(bytes)) {
        positions.push_back(static_cast<int64_t>(records));
      }
    }
  }
  if (positions.empty()) return 1;
  if ((removed + positions.size()) * 2 < records) {
    return MarkRemoved(*stream, log.files.layout, positions, type) ? 1 : 0;
  }
  // Half the records or more would be marked: the log is rewritten without
  // any of them.
  if (!stream->Seek(0, SeekFrom::kBegin)) return 0;
  return RewriteWithout(std::move(stream), log.files,
                        [&](const void* bytes) { return IsRemovedRecord(bytes) || matches(bytes); })
             ? 1
             : 0;
}

bool CompactLog(const ModificationLog& log) { return CompactRecordFile(log.files); }

}  // namespace zelsync
