// UpdateRecord, DeleteRecord and their SyncML twins: a change or deletion
// the device reports for one of its objects, named by type and LUID.
#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/store_exports.h"

namespace zelsync {
namespace outlook {
namespace {

// The record the database holds for the LUID; false when it knows none.
bool FindByLuid(const Scheme& scheme, uint32_t type, const WString& luid, DeviceRecord* found) {
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  return stream && LookupRecordByLUID(db, type, luid, found, std::move(stream)) == 1;
}

// Deletes the item of `found`, its log records and the record itself.
enum class Forget { kDone, kItemKept, kRecordKept };

Forget ForgetItem(const Scheme& scheme, const DeviceRecord& found) {
  const WString entry_id = FieldText(found.entry_id);
  if (!DeleteOutlookItemByEntryID(found.type, entry_id)) return Forget::kItemKept;
  const ModificationLog log = scheme.Log();
  if (Stream entries = OpenForUpdate(log.files.path)) {
    RemoveLogEntries(log, found.type, entry_id, std::move(entries));
  }
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  if (!stream || !RemoveRecord(db, found, std::move(stream))) return Forget::kRecordKept;
  return Forget::kDone;
}

// The new item is made from the file first, under the same LUID, and the old
// one goes only once the new one exists: a file the PC cannot read leaves
// the old item as it was. The bookkeeping ends as a deletion followed by a
// creation would leave it: one record for the LUID, with the new entry ID.
// A SyncML session notes each replacement, so that its rollback maps the
// LUID to the new item instead of the deleted one.
int Update(const Scheme& scheme, uint32_t type, const WString& luid, const WString& path) {
  DeviceRecord old;
  if (!FindByLuid(scheme, type, luid, &old)) {
    WString made;
    const int created = CreateRecord(scheme, type, &luid, path, true, &made);
    Env::Current().RemoveFile(path);
    if (created && scheme.syncml && !made.empty()) JournalSyncMLUpdate(type, luid, WString(), made);
    return created ? 1 : 0;
  }
  {
    // The old item can only be deleted while the store shows a window:
    // without one nothing is changed and the file stays for a retry.
    Connection connection;
    if (!ConnectWithWindow(&connection)) return 0;
  }
  WString made;
  const int created = CreateRecord(scheme, type, &luid, path, false, &made);
  Env::Current().RemoveFile(path);
  if (!created) return 0;
  const Forget forgotten = ForgetItem(scheme, old);
  if (forgotten != Forget::kItemKept && scheme.syncml) {
    // The old item is gone and the new one stands.
    JournalSyncMLUpdate(type, luid, FieldText(old.entry_id), made);
  }
  switch (forgotten) {
    case Forget::kDone:
      return 1;
    case Forget::kRecordKept:
      return 0;
    case Forget::kItemKept:
      // The old item stays; the new one goes again, so that the LUID names
      // one item.
      if (!made.empty() && DeleteOutlookItemByEntryID(type, made)) {
        const DeviceDatabase db = scheme.Database();
        if (Stream stream = OpenForUpdate(db.files.path)) {
          RemoveRecord(db, MakeDeviceRecord(type, made, luid), std::move(stream));
        }
      }
      return 0;
  }
  return 0;
}

int Delete(const Scheme& scheme, uint32_t type, const WString& luid) {
  DeviceRecord found;
  if (!FindByLuid(scheme, type, luid, &found)) return 1;  // nothing known, nothing to delete
  return ForgetItem(scheme, found) == Forget::kDone ? 1 : 0;
}

}  // namespace
}  // namespace outlook

int UpdateRecord(uint32_t type, const WString& luid, const WString& file_path) {
  return outlook::Update(outlook::kIrmc, type, luid, file_path);
}

int DeleteRecord(uint32_t type, const WString& luid) {
  return outlook::Delete(outlook::kIrmc, type, luid);
}

int SyncMLUpdateRecord(uint32_t type, const WString& luid, const WString& file_path) {
  return outlook::Update(outlook::kSyncML, type, luid, file_path);
}

int SyncMLDeleteRecord(uint32_t type, const WString& luid) {
  return outlook::Delete(outlook::kSyncML, type, luid);
}

}  // namespace zelsync
