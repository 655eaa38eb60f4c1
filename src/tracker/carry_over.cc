#include "tracker/carry_over.h"

#include <cstring>
#include <string>
#include <vector>

#include "local/entry_ids.h"
#include "local/files.h"
#include "store/file_names.h"
#include "store/records.h"

namespace zelsync {
namespace local {
namespace {

// Where the entry IDs lie in a bookkeeping file: its header and record
// sizes from the library's table of files, and the ID field's offset.
struct IdLayout {
  size_t header_size;
  size_t record_size;
  size_t id_offset;  // of the entry ID field in a record; the type is at 0
};

// False for files without entry IDs.
bool LayoutOf(const std::string& name, IdLayout* layout) {
  BookkeepingFile file;
  if (!BookkeepingFileOf(name, &file)) return false;
  const FileLayout kind = InfoOf(file).layout;
  size_t id_offset;
  switch (kind) {
    case FileLayout::kDeviceDatabase:
    case FileLayout::kSyncMLDatabase: id_offset = offsetof(DeviceRecord, entry_id); break;
    case FileLayout::kIrmcLog: id_offset = offsetof(ModificationLogRecord, entry_id); break;
    case FileLayout::kSyncMLLog: id_offset = offsetof(SyncMLModificationLogRecord, entry_id); break;
    default: return false;
  }
  const LayoutSizes sizes = SizesOf(kind);
  *layout = {sizes.header, sizes.record, id_offset};
  return true;
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
  if (!ListFiles(NativePath(sync_folder), &names)) return false;
  bool ok = true;
  for (const std::string& name : names) {
    IdLayout layout;
    if (!LayoutOf(name, &layout)) continue;
    const WString path = sync_folder + PathFromNative(name);
    std::string bytes;
    // A read error must not pass for the end of the file: what was read
    // would be written back in the file's place.
    if (!ReadWholeFile(NativePath(path), &bytes, kMaxSyncFileSize)) {
      ok = false;
      continue;
    }
    bool changed = false;
    // Whole records only: a trailing fragment is not a record and stays.
    for (size_t at = layout.header_size; at + layout.record_size <= bytes.size(); at += layout.record_size) {
      changed = CarryOverRecord(&bytes[at], layout) || changed;
    }
    if (changed && !zelsync::WriteFileAtomically(path, path + u".tmp", bytes.data(), bytes.size())) ok = false;
  }
  return ok;
}

}  // namespace local
}  // namespace zelsync
