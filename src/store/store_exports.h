// The bookkeeping exports, in the library's own terms: UTF-16 strings in,
// 1 or 0 out. The C boundary (src/exports.cc) checks and converts the
// caller's arguments and calls these.
#ifndef ZELSYNC_STORE_STORE_EXPORTS_H
#define ZELSYNC_STORE_STORE_EXPORTS_H

#include <functional>

#include "store/records.h"

namespace zelsync {

// IrMC device session and change counter.
int SetDeviceIDDatabaseID(const WString& device_id, const WString& database_id);
int IsDeviceIDKnown();
int FileExists(const WString& path);
int UpdateChangeCounter(uint32_t value);
int GetChangeCounter(uint32_t* counter);

// IrMC record bookkeeping.
int UpdateLUIDofPrevGetNewRecord(uint32_t type, const WString& entry_id, const WString& luid);
int GetDeletedRecord(uint32_t type, WString* luid, int32_t* hard_delete);
int DeleteDBRecord(uint32_t type, const WString& luid);

// SyncML device store and anchors.
int SyncMLSetBDAddrLastSyncAnchor(uint64_t address, const _SYNCML_SYNCANCHOR_RECORD& anchor);
int SyncMLGetLastSyncAnchor(uint64_t address, _SYNCML_SYNCANCHOR_RECORD* anchor);
int SyncMLSetSyncComplete(const _SYNCML_SYNCANCHOR_RECORD& anchor);

// SyncML session bookkeeping.
int SyncMLResetCounters();
int SyncMLDecrementSyncObjectIndex(uint32_t type);
int SyncMLSaveDBFiles(uint64_t address);
// Deletes the items the session created (through `delete_record`, which is
// SyncMLDeleteRecord in the library) and rolls the files back to the saved
// copies. First, with the session's device selected, `finish_pending` (when
// set) completes a creation or update its process left unfinished, so that
// the rollback finds the item through its record; false from it leaves the
// session open and returns 0.
using DeleteRecordFn = std::function<int(uint32_t type, const WString& luid)>;
int SyncMLRestoreDBFiles(uint64_t address, const DeleteRecordFn& delete_record,
                         const std::function<bool()>& finish_pending = nullptr);
int SyncMLAddNewRecToTempDBFile(uint32_t type, const WString& luid);
// Lists the LUID in the new-records file when a SyncML session is open (its
// marker stands); 0 when there is none or the record could not be written.
int ListSyncMLCreation(uint32_t type, const WString& luid);
// Notes, for the rollback, that SyncMLUpdateRecord replaced the item of
// `luid` (entry ID `old_entry_id`, empty when the LUID was not mapped) by
// the item `new_entry_id`. 0 when there is no open session or the note
// could not be written.
int JournalSyncMLUpdate(uint32_t type, const WString& luid, const WString& old_entry_id,
                        const WString& new_entry_id);
void SyncMLDeleteTempFiles();

// The pending change of the current device of a scheme (IrMC or SyncML):
// written before a creation saves its item, cleared once the operation is
// complete. False when it could not be written or removed (a scheme with
// no current device has no file: writing fails, clearing succeeds).
bool WritePendingChange(bool syncml, const PendingChange& change);
bool ClearPendingChange(bool syncml);
// kNone: no file; kCutShort: a file cut short by a kill while it was
// written, before any item was saved; kFailed: it cannot be read.
enum class PendingRead { kNone, kRead, kCutShort, kFailed };
PendingRead ReadPendingChange(bool syncml, PendingChange* change);
int SyncMLGetDeletedRecord(uint32_t type, WString* entry_id, WString* luid, int32_t* hard_delete);
int SyncMLUpdateEntryIDLUIDMapping(uint32_t type, const WString& entry_id, const WString& luid);

// The 12 lower-case hex digits naming a device's SyncML files.
WString DeviceAddressName(uint64_t address);

// True when `id` may stand in a file name: not empty, not "." or "..", and
// free of separators, ":", the characters Windows forbids and control
// characters.
bool IsSafeFileNamePart(const WString& id);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_STORE_EXPORTS_H
