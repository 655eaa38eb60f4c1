// GetNewRecord and SyncMLGetNewRecord: deliver, one per call, the next item
// of a type's default folder that the device does not know yet, walking the
// folder with the type's enumeration cursor.
#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/session.h"

namespace zelsync {
namespace outlook {
namespace {

// Whether the device's database already knows the item. IrMC: any record
// of the type and entry ID. SyncML: a record of the entry ID, any type,
// with an assigned LUID. A database that cannot be opened knows nothing.
bool IsKnown(const Scheme& scheme, uint32_t type, const WString& entry_id) {
  const DeviceRecord key = MakeDeviceRecord(type, entry_id, kUndefinedLuid);
  Stream stream = OpenForUpdate(scheme.Database().files.path);
  if (!stream) return false;
  return scheme.syncml ? FindMappedSyncMLRecordByEntryID(key, std::move(stream)) == 1
                       : FindDeviceRecordByEntryID(key, std::move(stream)) == 1;
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
    if (AppendRecord(scheme.Database(), MakeDeviceRecord(type, id, kUndefinedLuid))) return 1;
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
