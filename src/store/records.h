// The records of the bookkeeping files, byte for byte as they are stored:
// little-endian, no padding, UTF-16LE strings in fixed 260-unit fields.
#ifndef ZELSYNC_STORE_RECORDS_H
#define ZELSYNC_STORE_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store/wide.h"
#include "zelsyncdll.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the bookkeeping files are little-endian; this build assumes a little-endian host"
#endif

namespace zelsync {

// The object type a removal writes over the first 4 bytes of a record of a
// device database or modification log: no object type has this value, so
// the record stays in its place (order carries meaning in these files) and
// every reader passes over it. A 4-byte write inside one record is never
// torn; a power cut leaves the old type or the marker. Marked records are
// dropped when enough of them gather (the file is then rewritten).
constexpr uint32_t kRemovedRecordType = 0xFFFFFFFF;

// True when the record starting at `record` is marked removed.
inline bool IsRemovedRecord(const void* record) {
  uint32_t type;
  memcpy(&type, record, sizeof type);
  return type == kRemovedRecordType;
}

// Ties an Outlook entry ID to the device's LUID: the record of the device
// record database and of the SyncML database.
struct DeviceRecord {
  uint32_t type = 0;
  char16_t entry_id[kWideUnits] = {};
  char16_t luid[kWideUnits] = {};
};
static_assert(sizeof(DeviceRecord) == 1044, "DeviceRecord is 1044 bytes");

// An entry of the IrMC modification log. Kind 0 is a change, any other kind
// a deletion, 2 a deletion with the hard-delete flag.
struct ModificationLogRecord {
  uint32_t type = 0;
  uint32_t kind = 0;
  char16_t entry_id[kWideUnits] = {};
};
static_assert(sizeof(ModificationLogRecord) == 528, "ModificationLogRecord is 528 bytes");

// An entry of the SyncML modification log: the same fields, then the
// change's stamp in both anchor forms.
struct SyncMLModificationLogRecord {
  uint32_t type = 0;
  uint32_t kind = 0;
  char16_t entry_id[kWideUnits] = {};
  char16_t change_time[20] = {};
  uint32_t change_number = 0;
};
static_assert(sizeof(SyncMLModificationLogRecord) == 572, "SyncMLModificationLogRecord is 572 bytes");

// A record created during a SyncML session, kept for the rollback.
struct TempNewRecord {
  uint32_t type = 0;
  char16_t luid[kWideUnits] = {};
};
static_assert(sizeof(TempNewRecord) == 524, "TempNewRecord is 524 bytes");

// An item that SyncMLUpdateRecord replaced during a SyncML session: the
// LUID, the entry ID of the item it replaced (empty when the LUID was not
// mapped) and the entry ID of the item that now holds the device's version.
// The rollback maps the LUID to the new item, which is the one that exists.
struct TempUpdatedRecord {
  uint32_t type = 0;
  char16_t luid[kWideUnits] = {};
  char16_t old_entry_id[kWideUnits] = {};
  char16_t new_entry_id[kWideUnits] = {};
};
static_assert(sizeof(TempUpdatedRecord) == 1564, "TempUpdatedRecord is 1564 bytes");

// The marker of an open SyncML session, written by SyncMLSaveDBFiles once
// the backups stand and removed when the session ends (completed or rolled
// back). While it exists the backups belong to that session: a later process
// can still roll it back, and nothing overwrites them.
struct SyncMLSessionMarker {
  uint64_t address = 0;  // the device whose database was saved
  uint32_t flag = 0;     // the backup flag of that save
  uint32_t reserved = 0;
};
static_assert(sizeof(SyncMLSessionMarker) == 16, "SyncMLSessionMarker is 16 bytes");

// A creation (or the creation half of an update) under way: written before
// the new item is saved, under the entry ID the store reserved for it, and
// removed once the record (and, for an update, the old item's removal and
// the SyncML journal entry) stands. A later call finishes the operation
// when the item exists and forgets it when it does not.
struct PendingChange {
  uint32_t type = 0;
  uint32_t update = 0;  // 1: an update, which replaces the LUID's item (if any)
  char16_t luid[kWideUnits] = {};
  char16_t old_entry_id[kWideUnits] = {};  // the replaced item; empty when none
  char16_t new_entry_id[kWideUnits] = {};  // the entry ID reserved for the new item
};
static_assert(sizeof(PendingChange) == 1568, "PendingChange is 1568 bytes");

static_assert(sizeof(_SYNCML_SYNCANCHOR_RECORD) == 48, "anchor header is 48 bytes");

// How a bookkeeping file is laid out: a fixed header, then fixed records.
enum class FileLayout {
  kDeviceDatabase,  // 4-byte change counter, DeviceRecords
  kIrmcLog,         // ModificationLogRecords
  kSyncMLDatabase,  // 48-byte anchor, DeviceRecords
  kSyncMLLog,       // SyncMLModificationLogRecords
  kNewRecords,      // TempNewRecords
  kUpdatedRecords,  // TempUpdatedRecords
  kSessionMarker,   // one SyncMLSessionMarker, no records
  kPendingChange,   // PendingChanges (one at most)
  kText,            // none of these: the change tracker's own text and lock files
};

struct LayoutSizes {
  size_t header;
  size_t record;  // 0 for kText
};

constexpr LayoutSizes SizesOf(FileLayout layout) {
  switch (layout) {
    case FileLayout::kDeviceDatabase: return {sizeof(uint32_t), sizeof(DeviceRecord)};
    case FileLayout::kIrmcLog: return {0, sizeof(ModificationLogRecord)};
    case FileLayout::kSyncMLDatabase: return {sizeof(_SYNCML_SYNCANCHOR_RECORD), sizeof(DeviceRecord)};
    case FileLayout::kSyncMLLog: return {0, sizeof(SyncMLModificationLogRecord)};
    case FileLayout::kNewRecords: return {0, sizeof(TempNewRecord)};
    case FileLayout::kUpdatedRecords: return {0, sizeof(TempUpdatedRecord)};
    case FileLayout::kSessionMarker: return {sizeof(SyncMLSessionMarker), 0};
    case FileLayout::kPendingChange:
      return {0, sizeof(PendingChange)};
    case FileLayout::kText: break;
  }
  return {0, 0};
}

constexpr char16_t kUndefinedLuid[] = u"UNDEFINED";
constexpr char16_t kInitialTimeAnchor[] = u"00000000T000000Z";

// A DeviceRecord built from its parts with bounded copies.
DeviceRecord MakeDeviceRecord(uint32_t type, const WString& entry_id, const WString& luid);

// True when the record's LUID is the placeholder "UNDEFINED".
bool HasUndefinedLuid(const DeviceRecord& record);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_RECORDS_H
