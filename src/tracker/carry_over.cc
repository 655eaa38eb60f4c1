#include "tracker/carry_over.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "local/entry_ids.h"
#include "local/files.h"
#include "store/records.h"

namespace zelsync {
namespace local {
namespace {

// Where the entry IDs lie in a kind of bookkeeping file.
struct IdLayout {
  size_t header_size;
  size_t record_size;
  size_t id_offset;  // of the entry ID field in a record; the type is at 0
};

constexpr IdLayout kDeviceDatabase{4, sizeof(DeviceRecord), offsetof(DeviceRecord, entry_id)};
constexpr IdLayout kSyncMLDatabase{sizeof(_SYNCML_SYNCANCHOR_RECORD), sizeof(DeviceRecord),
                                   offsetof(DeviceRecord, entry_id)};
constexpr IdLayout kIrmcLog{0, sizeof(ModificationLogRecord), offsetof(ModificationLogRecord, entry_id)};
constexpr IdLayout kSyncMLLog{0, sizeof(SyncMLModificationLogRecord),
                              offsetof(SyncMLModificationLogRecord, entry_id)};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The layout of a bookkeeping file by its name, as the library names them
// (the names compared without case); false for files without entry IDs.
bool LayoutOf(const std::string& file_name, IdLayout* layout) {
  const std::string name = Lower(file_name);
  if (!EndsWith(name, ".dat") || name == "syncmltempnewdbrecords.dat") return false;
  if (name == "syncmodificationlog.dat" || name == "tempmodify.dat") {
    *layout = kIrmcLog;
  } else if (name.compare(0, 21, "syncmlmodificationlog") == 0) {
    *layout = kSyncMLLog;  // the log, its backup and its scratch copy
  } else if (EndsWith(name, "_syncmldb.dat") || EndsWith(name, "_syncmldb_temp.dat") ||
             EndsWith(name, "_syncmldb_scratch.dat")) {
    *layout = kSyncMLDatabase;
  } else if (name == "temp.dat" || name.find('_') != std::string::npos) {
    *layout = kDeviceDatabase;  // <deviceID>_<databaseID>.DAT and its scratch copy
  } else {
    return false;
  }
  return true;
}

bool ReadAll(const WString& path, std::string* bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  bytes->clear();
  char buffer[16384];
  for (;;) {
    size_t got = file->Read(buffer, sizeof buffer);
    bytes->append(buffer, got);
    if (got < sizeof buffer) return true;
    if (bytes->size() > kMaxItemFileSize * 4) return false;
  }
}

bool WriteReplacing(const WString& path, const std::string& bytes) {
  Env& env = Env::Current();
  const WString scratch = path + u".carry-over";
  std::unique_ptr<File> file = env.Open(scratch, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  bool ok = file->Write(bytes.data(), bytes.size()) == bytes.size() && file->Sync();
  file.reset();
  if (ok && env.Replace(scratch, path) == FsStatus::kOk) return true;
  env.RemoveFile(scratch);
  return false;
}

// Rewrites the IDs of one record in place; true when it changed.
bool CarryOverRecord(char* record, const IdLayout& layout) {
  uint32_t type = 0;
  memcpy(&type, record, sizeof type);
  char16_t field[kWideUnits];
  memcpy(field, record + layout.id_offset, sizeof field);
  WString old_id = FieldText(field);
  WString id;
  if (old_id.size() > kMaxWideLength || type > INT32_MAX ||
      !CarriedOverEntryId(static_cast<int>(type), old_id, &id)) {
    return false;
  }
  char16_t rewritten[kWideUnits] = {};
  CopyBounded(rewritten, kWideUnits, id);
  memcpy(record + layout.id_offset, rewritten, sizeof rewritten);
  return true;
}

}  // namespace

bool CarryOverEntryIds(const WString& sync_folder) {
  std::vector<std::string> names;
  if (!ListFiles(Utf16ToUtf8(sync_folder), &names)) return false;
  bool ok = true;
  for (const std::string& name : names) {
    IdLayout layout;
    if (!LayoutOf(name, &layout)) continue;
    const WString path = sync_folder + Utf8ToUtf16(name);
    std::string bytes;
    if (!ReadAll(path, &bytes)) {
      ok = false;
      continue;
    }
    bool changed = false;
    // Whole records only: a trailing fragment is not a record and stays.
    for (size_t at = layout.header_size; at + layout.record_size <= bytes.size(); at += layout.record_size) {
      changed = CarryOverRecord(&bytes[at], layout) || changed;
    }
    if (changed && !WriteReplacing(path, bytes)) ok = false;
  }
  return ok;
}

}  // namespace local
}  // namespace zelsync
