// UpdateRecord, DeleteRecord and their SyncML twins: a change or deletion
// the device reports for one of its objects, named by type and LUID.
#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/log_writer.h"
#include "store/store_exports.h"

namespace zelsync {
namespace outlook {
namespace {

// Deletes the item the database maps to the LUID, its log records and its
// record. kNone when the database does not know the LUID.
enum class Forget { kDone, kNone, kFailed };

Forget ForgetMappedItem(const Scheme& scheme, uint32_t type, const WString& luid,
                        WString* forgotten = nullptr) {
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  DeviceRecord found;
  if (!stream || !LookupRecordByLUID(db, type, luid, &found, std::move(stream))) {
    return Forget::kNone;
  }
  const WString entry_id = FieldText(found.entry_id);
  if (forgotten) *forgotten = entry_id;
  if (!DeleteOutlookItemByEntryID(type, entry_id)) return Forget::kFailed;
  const ModificationLog log = scheme.Log();
  if (Stream entries = OpenForUpdate(log.files.path)) {
    RemoveLogEntries(log, type, entry_id, std::move(entries));
  }
  stream = OpenForUpdate(db.files.path);
  if (!stream || !RemoveRecord(db, found, std::move(stream))) return Forget::kFailed;
  return Forget::kDone;
}

// The old item goes first, then the new one is made from the file under the
// same LUID (the entry ID changes).
// A SyncML session notes each replacement, so that its rollback maps the
// LUID to the new item instead of the deleted one.
int Update(const Scheme& scheme, uint32_t type, const WString& luid, const WString& path) {
  StoreWriterScope writer(scheme.syncml ? StoreWriter::kSyncML : StoreWriter::kIrmc);
  WString old_entry_id;
  if (ForgetMappedItem(scheme, type, luid, &old_entry_id) == Forget::kFailed) return 0;
  const int created = CreateRecord(scheme, type, &luid, path);
  Env::Current().RemoveFile(path);
  if (created && scheme.syncml) {
    const DeviceDatabase db = scheme.Database();
    DeviceRecord made;
    if (Stream stream = OpenForUpdate(db.files.path)) {
      if (LookupRecordByLUID(db, type, luid, &made, std::move(stream))) {
        JournalSyncMLUpdate(type, luid, old_entry_id, FieldText(made.entry_id));
      }
    }
  }
  return created ? 1 : 0;
}

int Delete(const Scheme& scheme, uint32_t type, const WString& luid) {
  StoreWriterScope writer(scheme.syncml ? StoreWriter::kSyncML : StoreWriter::kIrmc);
  return ForgetMappedItem(scheme, type, luid) == Forget::kFailed ? 0 : 1;
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
