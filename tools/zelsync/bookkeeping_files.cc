#include "bookkeeping_files.h"

#include <cstddef>

#include "store/file_names.h"
#include "text.h"

namespace zelsync_tool {
namespace {

uint32_t ReadU32(const Bytes& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// A field of `units` UTF-16LE code units; only the part before the first
// NUL is significant.
FieldText ReadField(const Bytes& bytes, size_t at, size_t units) {
  std::u16string text;
  FieldText field;
  field.terminated = false;
  for (size_t n = 0; n < units; ++n) {
    char16_t unit = static_cast<char16_t>(bytes[at + 2 * n] | bytes[at + 2 * n + 1] << 8);
    if (unit == 0) {
      field.terminated = true;
      break;
    }
    text.push_back(unit);
  }
  field.text = Utf16ToUtf8(text);
  return field;
}

// The units of an anchor's or a change's time stamp field.
constexpr size_t kTimeUnits = sizeof(_SYNCML_SYNCANCHOR_RECORD{}.TimeAnchor) / sizeof(ZS_WCHAR);

void CheckField(const FieldText& field, const std::string& where, DecodedFile* file) {
  if (!field.terminated) file->damage.push_back(where + " has no terminator within its field");
}

}  // namespace

const char* FileKindName(FileKind kind) {
  switch (kind) {
    case FileKind::kDeviceDatabase: return "device-db";
    case FileKind::kIrmcLog: return "irmc-log";
    case FileKind::kSyncMLDatabase: return "syncml-db";
    case FileKind::kSyncMLLog: return "syncml-log";
    case FileKind::kNewRecords: return "new-records";
    case FileKind::kUpdatedRecords: return "updated-records";
    case FileKind::kSessionMarker: return "session-marker";
    case FileKind::kPendingChange:
      return "pending-change";
    case FileKind::kText: break;
  }
  return "?";
}

const char* FileKindTitle(FileKind kind) {
  switch (kind) {
    case FileKind::kDeviceDatabase: return "IrMC device record database";
    case FileKind::kIrmcLog: return "IrMC modification log";
    case FileKind::kSyncMLDatabase: return "SyncML database";
    case FileKind::kSyncMLLog: return "SyncML modification log";
    case FileKind::kNewRecords: return "SyncML new-records file";
    case FileKind::kUpdatedRecords: return "SyncML updated-records file";
    case FileKind::kSessionMarker: return "SyncML open-session marker";
    case FileKind::kPendingChange:
      return "pending creation or update";
    case FileKind::kText: break;
  }
  return "?";
}

std::optional<FileKind> ParseFileKind(const std::string& name) {
  for (FileKind kind : kRecordFileKinds) {
    if (name == FileKindName(kind)) return kind;
  }
  for (FileKind kind : {FileKind::kSessionMarker, FileKind::kPendingChange}) {
    if (name == FileKindName(kind)) return kind;
  }
  return std::nullopt;
}

bool IsScratchFileName(const std::string& file_name) {
  zelsync::BookkeepingFile file;
  if (!zelsync::BookkeepingFileOf(file_name, &file)) return false;
  return file == zelsync::BookkeepingFile::kIrmcDatabaseScratch ||
         file == zelsync::BookkeepingFile::kIrmcLogScratch ||
         file == zelsync::BookkeepingFile::kSyncMLDatabaseScratch ||
         file == zelsync::BookkeepingFile::kSyncMLLogScratch;
}

std::optional<uint64_t> DecodeSessionMarker(const Bytes& bytes) {
  if (bytes.size() < sizeof(zelsync::SyncMLSessionMarker)) return std::nullopt;
  return static_cast<uint64_t>(ReadU32(bytes, 0)) | static_cast<uint64_t>(ReadU32(bytes, 4)) << 32;
}

std::optional<FileKind> KindFromFileName(const std::string& file_name) {
  zelsync::BookkeepingFile file;
  if (!zelsync::BookkeepingFileOf(file_name, &file)) return std::nullopt;
  const FileKind kind = zelsync::InfoOf(file).layout;
  if (kind == FileKind::kText) return std::nullopt;
  return kind;
}

std::optional<FileKind> KindFromSize(uint64_t size) {
  std::optional<FileKind> found;
  int matches = 0;
  for (FileKind kind : kRecordFileKinds) {
    const zelsync::LayoutSizes layout = zelsync::SizesOf(kind);
    if (size > layout.header && (size - layout.header) % layout.record == 0) {
      found = kind;
      ++matches;
    }
  }
  if (matches != 1) return std::nullopt;
  return found;
}

std::optional<std::string> ObjectTypeName(uint32_t type) {
  switch (type) {
    case 0: return std::string("mail");
    case 1: return std::string("note");
    case 2: return std::string("contact");
    case 3: return std::string("calendar");
    default: return std::nullopt;
  }
}

std::string RecordKindName(FileKind file, uint32_t kind) {
  if (file == FileKind::kPendingChange) return kind == 0 ? "creation" : "update";
  return LogKindName(kind);
}

std::string LogKindName(uint32_t kind) {
  if (kind == 0) return "modified";
  if (kind == 2) return "deleted (hard)";
  return "deleted";
}

bool IsTimeStamp(const std::string& text) {
  if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') return false;
  for (size_t i = 0; i < 15; ++i) {
    if (i == 8) continue;
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

DecodedFile DecodeBookkeepingFile(FileKind kind, const Bytes& bytes) {
  DecodedFile file;
  file.kind = kind;
  file.size = bytes.size();
  const zelsync::LayoutSizes layout = zelsync::SizesOf(kind);
  if (kind == FileKind::kSessionMarker) {
    file.session_address = DecodeSessionMarker(bytes);
    if (!file.session_address) {
      file.damage.push_back("the marker has " + std::to_string(bytes.size()) + " of its " +
                            std::to_string(layout.header) + " bytes");
      file.fragment_size = bytes.size();
      return file;
    }
    file.backup_flag = ReadU32(bytes, offsetof(zelsync::SyncMLSessionMarker, flag));
    if (bytes.size() > layout.header) {
      file.fragment_offset = layout.header;
      file.fragment_size = bytes.size() - layout.header;
      file.damage.push_back(std::to_string(file.fragment_size) + " bytes follow the marker");
    }
    return file;
  }
  if (layout.record == 0) {
    file.damage.push_back("the file holds no records");
    return file;
  }

  if (bytes.size() < layout.header) {
    file.damage.push_back("the file has " + std::to_string(bytes.size()) +
                          " bytes, shorter than its " + std::to_string(layout.header) +
                          "-byte header; the library reads no record from it");
    if (!bytes.empty()) {
      file.fragment_offset = 0;
      file.fragment_size = bytes.size();
    }
    return file;
  }
  if (kind == FileKind::kDeviceDatabase) file.change_counter = ReadU32(bytes, 0);
  if (kind == FileKind::kSyncMLDatabase) {
    Anchor anchor;
    anchor.kind = ReadU32(bytes, offsetof(_SYNCML_SYNCANCHOR_RECORD, AnchorKind));
    anchor.time = ReadField(bytes, offsetof(_SYNCML_SYNCANCHOR_RECORD, TimeAnchor), kTimeUnits);
    anchor.number = ReadU32(bytes, offsetof(_SYNCML_SYNCANCHOR_RECORD, NumericAnchor));
    CheckField(anchor.time, "the anchor's time stamp", &file);
    if (anchor.kind != 0 && anchor.time.terminated && !IsTimeStamp(anchor.time.text)) {
      file.notes.push_back("the anchor's time stamp \"" + anchor.time.text +
                           "\" is not of the form 00000000T000000Z");
    }
    file.anchor = anchor;
  }

  size_t at = layout.header;
  size_t index = 0;
  while (bytes.size() - at >= layout.record) {
    DecodedRecord record;
    record.index = ++index;
    record.offset = at;
    record.type = ReadU32(bytes, at);
    const std::string where = "record " + std::to_string(record.index);
    switch (kind) {
      case FileKind::kDeviceDatabase:
      case FileKind::kSyncMLDatabase:
      case FileKind::kIrmcLog:
      case FileKind::kSyncMLLog:
        record.removed = record.type == zelsync::kRemovedRecordType;
        break;
      default:
        break;
    }
    switch (kind) {
      case FileKind::kDeviceDatabase:
      case FileKind::kSyncMLDatabase:
        record.entry_id = ReadField(bytes, at + offsetof(zelsync::DeviceRecord, entry_id), zelsync::kWideUnits);
        record.luid = ReadField(bytes, at + offsetof(zelsync::DeviceRecord, luid), zelsync::kWideUnits);
        CheckField(*record.entry_id, where + ": the entry ID", &file);
        CheckField(*record.luid, where + ": the LUID", &file);
        break;
      case FileKind::kIrmcLog:
      case FileKind::kSyncMLLog:
        record.kind = ReadU32(bytes, at + offsetof(zelsync::ModificationLogRecord, kind));
        record.entry_id =
            ReadField(bytes, at + offsetof(zelsync::ModificationLogRecord, entry_id), zelsync::kWideUnits);
        CheckField(*record.entry_id, where + ": the entry ID", &file);
        if (kind == FileKind::kSyncMLLog) {
          record.change_time =
              ReadField(bytes, at + offsetof(zelsync::SyncMLModificationLogRecord, change_time), kTimeUnits);
          record.change_number = ReadU32(bytes, at + offsetof(zelsync::SyncMLModificationLogRecord, change_number));
          CheckField(*record.change_time, where + ": the change time", &file);
        }
        break;
      case FileKind::kNewRecords:
        record.luid = ReadField(bytes, at + offsetof(zelsync::TempNewRecord, luid), zelsync::kWideUnits);
        CheckField(*record.luid, where + ": the LUID", &file);
        break;
      case FileKind::kUpdatedRecords:
        record.luid = ReadField(bytes, at + offsetof(zelsync::TempUpdatedRecord, luid), zelsync::kWideUnits);
        record.entry_id =
            ReadField(bytes, at + offsetof(zelsync::TempUpdatedRecord, old_entry_id), zelsync::kWideUnits);
        record.new_entry_id =
            ReadField(bytes, at + offsetof(zelsync::TempUpdatedRecord, new_entry_id), zelsync::kWideUnits);
        CheckField(*record.luid, where + ": the LUID", &file);
        CheckField(*record.entry_id, where + ": the replaced entry ID", &file);
        CheckField(*record.new_entry_id, where + ": the new entry ID", &file);
        break;
      case FileKind::kPendingChange:
        record.kind = ReadU32(bytes, at + offsetof(zelsync::PendingChange, update));
        record.luid =
            ReadField(bytes, at + offsetof(zelsync::PendingChange, luid), zelsync::kWideUnits);
        record.entry_id = ReadField(bytes, at + offsetof(zelsync::PendingChange, old_entry_id),
                                    zelsync::kWideUnits);
        record.new_entry_id = ReadField(bytes, at + offsetof(zelsync::PendingChange, new_entry_id),
                                        zelsync::kWideUnits);
        CheckField(*record.luid, where + ": the LUID", &file);
        CheckField(*record.entry_id, where + ": the replaced entry ID", &file);
        CheckField(*record.new_entry_id, where + ": the new entry ID", &file);
        if (*record.kind > 1)
          file.notes.push_back(where + ": operation " + std::to_string(*record.kind) +
                               " is neither creation (0) nor update (1)");
        break;
      case FileKind::kSessionMarker:
      case FileKind::kText:
        break;
    }
    if (!record.removed && !ObjectTypeName(record.type)) {
      file.notes.push_back(where + ": object type " + std::to_string(record.type) +
                           " is none of the four (0 mail, 1 note, 2 contact, 3 calendar)");
    }
    file.records.push_back(std::move(record));
    at += layout.record;
  }
  if (at < bytes.size()) {
    file.fragment_offset = at;
    file.fragment_size = bytes.size() - at;
    file.damage.push_back("a trailing fragment of " + std::to_string(file.fragment_size) +
                          " bytes at offset " + std::to_string(at) + " is not a whole " +
                          std::to_string(layout.record) +
                          "-byte record; the library never reads it");
  }
  return file;
}

}  // namespace zelsync_tool
