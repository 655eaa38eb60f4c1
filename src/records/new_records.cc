// GetNewRecord and SyncMLGetNewRecord: deliver, one per call, the next item
// of a type's default folder that the device does not know yet, walking the
// folder with the type's enumeration cursor.
#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/session.h"

namespace zelsync {
namespace outlook {
namespace {

// Whether the device already holds the item: a record of the item (SyncML:
// of any type) with an assigned LUID. A record still without a LUID names an
// item handed out whose arrival the device never confirmed (the link dropped
// or the service died before the LUID came back): it is offered again, or it
// would never reach the device. A database that cannot be opened knows
// nothing.
bool IsKnown(const Scheme& scheme, uint32_t type, const WString& entry_id) {
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  if (!stream) return false;
  if (scheme.syncml) {
    return FindMappedSyncMLRecordByEntryID(MakeDeviceRecord(type, entry_id, kUndefinedLuid), std::move(stream)) ==
           1;
  }
  DeviceRecord found;
  return LookupMappedRecord(db, type, entry_id, &found, std::move(stream)) == 1;
}

// Whether the database holds a record of the item's type and entry ID,
// with or without a LUID: an item offered again keeps its one record.
bool HasRecord(const Scheme& scheme, uint32_t type, const WString& entry_id) {
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  return stream && HasRecordOfEntry(db, type, entry_id, std::move(stream)) == 1;
}

int DeliverNewRecord(const Scheme& scheme, uint32_t type, WString* entry_id, WString* path) {
  Connection connection;
  if (!ConnectWithWindow(&connection)) return 0;
  if (!IsObjectType(type)) return 0;
  std::shared_ptr<Items> items;
  if (!OpenTypeItems(*connection.application, type, &items)) return 0;

  EnumerationCursor& cursor = CurrentSession().cursors[type];
  if (cursor.count == 0 && !items->Count(&cursor.count)) return 0;
  if (cursor.index > cursor.count) return 0;  // exhausted until the cursors are reset

  // Walk from the cursor to the first item of the type that is new and whose
  // file can be made; past the last item Item() fails and the index rests
  // there. An item that cannot be read or written out (Item() failing within
  // the count included) is passed over with nothing recorded, so the items
  // after it still reach the device and it is tried again in a later session.
  for (;;) {
    std::shared_ptr<Item> item;
    const bool read = items->Item(cursor.index, &item) && item;
    if (!read && cursor.index >= cursor.count) return 0;
    ++cursor.index;
    if (!read) continue;
    TypedItem typed;
    WString id;
    if (!QueryType(*item, type, &typed) || !ReadEntryID(*typed.base, &id)) continue;
    if (IsKnown(scheme, type, id)) continue;
    if (!ProduceFile(typed, id, scheme.note_form, path)) continue;
    *entry_id = id;
    // An item without its record would be delivered again later (a duplicate
    // on the device): report failure instead. A fresh cursor offers it again.
    if (HasRecord(scheme, type, id) ||
        AppendRecord(scheme.Database(), MakeDeviceRecord(type, id, kUndefinedLuid))) {
      return 1;
    }
    Env::Current().RemoveFile(*path);
    return 0;
  }
}

}  // namespace
}  // namespace outlook

int GetNewRecord(uint32_t type, WString* entry_id, WString* file_path) {
  if (!outlook::FinishPendingChange(outlook::kIrmc)) return 0;
  return outlook::DeliverNewRecord(outlook::kIrmc, type, entry_id, file_path);
}

int SyncMLGetNewRecord(uint32_t type, WString* entry_id, WString* file_path) {
  if (!outlook::FinishPendingChange(outlook::kSyncML)) return 0;
  return outlook::DeliverNewRecord(outlook::kSyncML, type, entry_id, file_path);
}

}  // namespace zelsync
