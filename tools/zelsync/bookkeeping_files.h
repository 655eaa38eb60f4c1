// Decoders of the library's bookkeeping files: pure functions over the
// bytes of a file, for `zelsync inspect` and for the host's read-only
// planning. A damaged file (a short header, a trailing fragment, a string
// without terminator) is decoded as far as the library itself would read
// it, and the damage is listed, never thrown.
#ifndef ZELSYNC_TOOL_BOOKKEEPING_FILES_H
#define ZELSYNC_TOOL_BOOKKEEPING_FILES_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/records.h"

namespace zelsync_tool {

using Bytes = std::vector<unsigned char>;

// The layouts are the library's own (store/records.h); the names of the
// files are its table (store/file_names.h).
using FileKind = zelsync::FileLayout;

// The kinds of record file, in the order they are listed.
constexpr FileKind kRecordFileKinds[] = {FileKind::kDeviceDatabase, FileKind::kIrmcLog,    FileKind::kSyncMLDatabase,
                                         FileKind::kSyncMLLog,      FileKind::kNewRecords, FileKind::kUpdatedRecords};

// The short name used on the command line and in JSON ("device-db", ...).
const char* FileKindName(FileKind kind);
// A readable description ("IrMC device record database", ...).
const char* FileKindTitle(FileKind kind);
std::optional<FileKind> ParseFileKind(const std::string& name);
// The kind a file of this name holds (the names the library gives its
// files, compared without regard to case); nothing for an unknown name or
// a file that holds no records.
std::optional<FileKind> KindFromFileName(const std::string& file_name);
// True for the scratch files of a rewrite (TEMP.DAT, TEMPMODIFY.DAT,
// *_Scratch.DAT): they never outlive a call unless its process died, and
// then the next rewrite replaces them. A folder listing passes over them.
bool IsScratchFileName(const std::string& file_name);
// The one kind whose layout fits `size` exactly; nothing when none or
// several do.
std::optional<FileKind> KindFromSize(uint64_t size);

// "mail", "note", "contact", "calendar", or nothing for another value.
std::optional<std::string> ObjectTypeName(uint32_t type);

// A UTF-16LE string field.
struct FieldText {
  std::string text;         // UTF-8, up to the terminator
  bool terminated = true;   // false: no terminator within the field
};

struct Anchor {
  uint32_t kind = 0;         // 0: the number is valid; else the time stamp
  FieldText time;
  uint32_t number = 0;
};

struct DecodedRecord {
  size_t index = 0;          // 1-based, in file order
  uint64_t offset = 0;
  uint32_t type = 0;
  bool removed = false;  // databases and logs: marked removed (the library passes over it)
  std::optional<uint32_t> kind;           // logs; pending change: 1 for an update
  std::optional<FieldText> entry_id;      // databases and logs
  std::optional<FieldText>
      new_entry_id;  // updated-records, pending change (entry_id: the replaced item)
  std::optional<FieldText> luid;          // databases and new-records file
  std::optional<FieldText> change_time;   // SyncML log
  std::optional<uint32_t> change_number;  // SyncML log
};

struct DecodedFile {
  FileKind kind = FileKind::kDeviceDatabase;
  uint64_t size = 0;
  std::optional<uint32_t> change_counter;  // device record database
  std::optional<Anchor> anchor;
  std::optional<uint64_t> session_address;  // session marker: the device saved
  std::optional<uint32_t> backup_flag;      // session marker            // SyncML database
  std::vector<DecodedRecord> records;
  uint64_t fragment_offset = 0;            // a trailing part shorter than a record
  uint64_t fragment_size = 0;
  std::vector<std::string> damage;         // faults of the file's structure
  std::vector<std::string> notes;          // odd but readable values
};

DecodedFile DecodeBookkeepingFile(FileKind kind, const Bytes& bytes);

// The device address the open-session marker names; nothing when the
// marker is cut short.
std::optional<uint64_t> DecodeSessionMarker(const Bytes& bytes);

// "modified", "deleted", "deleted (hard)": the meaning of a log kind.
std::string LogKindName(uint32_t kind);
// The meaning of a record's kind in a file of `file`: a log kind, or
// "creation"/"update" for a pending change.
std::string RecordKindName(FileKind file, uint32_t kind);
// True when `text` has the form 00000000T000000Z.
bool IsTimeStamp(const std::string& text);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_BOOKKEEPING_FILES_H
