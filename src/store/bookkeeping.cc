// The IrMC record bookkeeping exports: the LUID the device gave an item,
// the report of deleted items, and forgetting a LUID.
#include "store/deletions.h"
#include "store/session.h"
#include "store/store_exports.h"

namespace zelsync {

int UpdateLUIDofPrevGetNewRecord(uint32_t type, const WString& entry_id, const WString& luid) {
  DeviceRecord record = MakeDeviceRecord(type, entry_id, luid);
  Stream stream = OpenForUpdate(IrmcDatabase().files.path);
  if (!stream) return 0;
  return ReplaceDeviceRecord(record, std::move(stream));
}

int GetDeletedRecord(uint32_t type, WString* luid, int32_t* hard_delete) {
  DeviceRecord found;
  if (!ReportNextDeletion(IrmcModificationLog(), IrmcDatabase(), type, &found, hard_delete)) {
    return 0;
  }
  *luid = FieldText(found.luid);
  return 1;
}

int DeleteDBRecord(uint32_t type, const WString& luid) {
  DeviceDatabase db = IrmcDatabase();
  Stream stream = OpenForUpdate(db.files.path);
  if (!stream) return 1;
  DeviceRecord found;
  if (!LookupDeviceRecordByLUID(type, luid, &found, std::move(stream))) return 1;
  stream = OpenForUpdate(db.files.path);
  if (!stream) return 0;
  return RemoveDeviceRecord(found, std::move(stream));
}

}  // namespace zelsync
