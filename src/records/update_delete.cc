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

// The kind of a log entry that reports a deletion.
constexpr uint32_t kDeletion = 1;

// Whether the phones of the other scheme are told of a deletion: always but
// for the items a rolled-back session made, which no other phone has seen.
enum class Tell { kOtherScheme, kNobody };

Forget ForgetItem(const Scheme& scheme, const DeviceRecord& found, Tell tell) {
  const WString entry_id = FieldText(found.entry_id);
  if (!DeleteOutlookItemByEntryID(found.type, entry_id)) return Forget::kItemKept;
  // The phones of the other scheme hear of the deletion through their log
  // (the change tracker leaves the library's own deletions out). This
  // scheme's entries and record go below, so its phone never gets it back.
  // Should the entry not be written, the other phone keeps its copy until
  // it is deleted there: no data is lost, and this deletion stands.
  if (tell == Tell::kOtherScheme) {
    AppendLogEntry(scheme.syncml ? IrmcLogInSyncFolder() : SyncMLLogInSyncFolder(), found.type, kDeletion,
                   entry_id);
  }
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
int Update(const Scheme& scheme, uint32_t type, const WString& luid, const WString& path) {
  // A SyncML session notes each replacement, so that its rollback maps the
  // LUID to the new item instead of the deleted one.
  WString made;
  auto journal = [&](const WString& old_entry_id) {
    if (scheme.syncml && !made.empty()) JournalSyncMLUpdate(type, luid, old_entry_id, made);
  };
  // CreateRecord consumes the file, except when the store cannot be started:
  // then the file stays for a retry of the update.
  DeviceRecord old;
  if (!FindByLuid(scheme, type, luid, &old)) {
    // The lookup just made found no duplicate.
    const WString none;
    const int created = CreateRecord(scheme, type, &luid, path, false, &made, &none);
    if (created) {
      journal(WString());
      ClearPendingChange(scheme.syncml);
    }
    return created ? 1 : 0;
  }
  {
    // The old item can only be deleted while the store shows a window:
    // without one nothing is changed and the file stays for a retry.
    Connection connection;
    if (!ConnectWithWindow(&connection)) return 0;
  }
  const WString old_entry_id = FieldText(old.entry_id);
  const int created = CreateRecord(scheme, type, &luid, path, false, &made, &old_entry_id);
  if (!created) return 0;
  switch (ForgetItem(scheme, old, Tell::kOtherScheme)) {
    case Forget::kDone:
      journal(old_entry_id);
      ClearPendingChange(scheme.syncml);
      return 1;
    case Forget::kRecordKept:
      // The old item is gone and the new one stands; the pending change
      // stays, so that the next call removes the old record.
      journal(old_entry_id);
      return 0;
    case Forget::kItemKept:
      // The old item stays; the new one goes again, so that the LUID names
      // one item.
      if (!made.empty() && DeleteOutlookItemByEntryID(type, made)) {
        const DeviceDatabase db = scheme.Database();
        if (Stream stream = OpenForUpdate(db.files.path)) {
          RemoveRecord(db, MakeDeviceRecord(type, made, luid), std::move(stream));
        }
        ClearPendingChange(scheme.syncml);
      }
      return 0;
  }
  return 0;
}

// The record of the type that names `entry_id`; false when there is none
// (or the database cannot be read).
bool FindByEntryID(const DeviceDatabase& db, uint32_t type, const WString& entry_id,
                   DeviceRecord* found) {
  Stream stream = OpenForUpdate(db.files.path);
  return stream && LookupMappedRecord(db, type, entry_id, found, std::move(stream)) == 1;
}

int Delete(const Scheme& scheme, uint32_t type, const WString& luid, Tell tell) {
  DeviceRecord found;
  if (!FindByLuid(scheme, type, luid, &found)) return 1;  // nothing known, nothing to delete
  return ForgetItem(scheme, found, tell) == Forget::kDone ? 1 : 0;
}

}  // namespace

bool FinishPendingChange(const Scheme& scheme) {
  PendingChange change;
  switch (ReadPendingChange(scheme.syncml, &change)) {
    case PendingRead::kNone:
      return true;
    case PendingRead::kCutShort:
      return ClearPendingChange(scheme.syncml);  // written before any item was saved
    case PendingRead::kFailed:
      return false;
    case PendingRead::kRead:
      break;
  }
  const uint32_t type = change.type;
  const WString luid = FieldText(change.luid);
  const WString old_entry_id = FieldText(change.old_entry_id);
  const WString made = FieldText(change.new_entry_id);
  {
    Connection connection;
    TypedItem item;
    switch (LookupItemByEntryID(&connection, type, made, &item)) {
      case Lookup::kFailed:
        return false;
      case Lookup::kAbsent:
        return ClearPendingChange(scheme.syncml);  // the process died before the item was saved
      case Lookup::kFound:
        break;
    }
  }
  const DeviceDatabase db = scheme.Database();
  DeviceRecord found;
  // The replaced item and its record go, as the update removes them once
  // the new item stands. Its record gone means that step was complete.
  if (change.update && !old_entry_id.empty() && FindByEntryID(db, type, old_entry_id, &found) &&
      FieldText(found.luid) == luid &&
      ForgetItem(scheme, found, Tell::kOtherScheme) != Forget::kDone) {
    return false;
  }
  if (!FindByEntryID(db, type, made, &found) &&
      !AppendRecord(db, MakeDeviceRecord(type, made, luid))) {
    return false;
  }
  // A repeated journal entry maps the LUID to the same item again.
  if (scheme.syncml && change.update) JournalSyncMLUpdate(type, luid, old_entry_id, made);
  return ClearPendingChange(scheme.syncml);
}

}  // namespace outlook

int UpdateRecord(uint32_t type, const WString& luid, const WString& file_path) {
  if (!outlook::FinishPendingChange(outlook::kIrmc)) return 0;
  return outlook::Update(outlook::kIrmc, type, luid, file_path);
}

int DeleteRecord(uint32_t type, const WString& luid) {
  if (!outlook::FinishPendingChange(outlook::kIrmc)) return 0;
  return outlook::Delete(outlook::kIrmc, type, luid, outlook::Tell::kOtherScheme);
}

int SyncMLUpdateRecord(uint32_t type, const WString& luid, const WString& file_path) {
  if (!outlook::FinishPendingChange(outlook::kSyncML)) return 0;
  return outlook::Update(outlook::kSyncML, type, luid, file_path);
}

int SyncMLDeleteRecord(uint32_t type, const WString& luid) {
  if (!outlook::FinishPendingChange(outlook::kSyncML)) return 0;
  return outlook::Delete(outlook::kSyncML, type, luid, outlook::Tell::kOtherScheme);
}

bool SyncMLFinishPendingChange() { return outlook::FinishPendingChange(outlook::kSyncML); }

int SyncMLDeleteSessionRecord(uint32_t type, const WString& luid) {
  return outlook::Delete(outlook::kSyncML, type, luid, outlook::Tell::kNobody);
}

}  // namespace zelsync
