// The record operations on the device record database (IrMC) and the SyncML
// database. Both files are a header followed by 1044-byte DeviceRecords; the
// IrMC header is the 4-byte change counter, the SyncML header the 48-byte
// sync anchor. Each twin is one implementation working on a DeviceDatabase.
//
// Every operation that takes a Stream is handed the database opened "rb+" at
// offset 0 and closes it on every path; it first reads the header and
// returns 0 when it cannot.
#ifndef ZELSYNC_STORE_DEVICE_DATABASE_H
#define ZELSYNC_STORE_DEVICE_DATABASE_H

#include <vector>

#include "store/record_file.h"
#include "store/records.h"

namespace zelsync {

// A device database: where it is, where compactions rewrite it, and the header
// a missing file is created with.
struct DeviceDatabase {
  RecordFiles files;
  std::vector<unsigned char> new_header;
};

// The database of the current IrMC device session (header: counter 0).
DeviceDatabase IrmcDatabase();
// The database of the current SyncML device (header: the session anchor).
DeviceDatabase SyncMLDatabase();
// The SyncML database at `path` (a removal rewrites it through `scratch`).
DeviceDatabase SyncMLDatabaseAt(const WString& path, const WString& scratch);

// Shared implementations.
int AppendRecord(const DeviceDatabase& db, const DeviceRecord& record);
// Removes every record equal to `record` (type, entry ID and LUID): each is
// marked removed in place, or, when half the file's records or more would
// then be marked, the file is rewritten without any marked record. 1 also
// when no record is equal.
int RemoveRecord(const DeviceDatabase& db, const DeviceRecord& record, Stream stream);
// False when the kept index shows that the database holds no marked record.
bool MayHoldMarks(const DeviceDatabase& db);
// Rewrites the database without its marked records when it holds any.
// False when that rewrite failed.
bool CompactDatabase(const DeviceDatabase& db);
int LookupRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                       DeviceRecord* out, Stream stream);
int LookupMappedRecord(const DeviceDatabase& db, uint32_t type, const WString& entry_id,
                       DeviceRecord* out, Stream stream);
// 1 when a record of the type and entry ID stands, with or without a LUID.
int HasRecordOfEntry(const DeviceDatabase& db, uint32_t type, const WString& entry_id, Stream stream);
// Gives the first record of the type and LUID the entry ID `entry_id`, in
// place. 1 with *found set when such a record was rewritten, 1 with *found
// false when none exists; 0 when the file could not be read or written.
int RedirectRecordByLUID(const DeviceDatabase& db, uint32_t type, const WString& luid,
                         const WString& entry_id, bool* found, Stream stream);

// IrMC device record database.
int AppendDeviceRecord(const DeviceRecord& record);
int ReplaceDeviceRecord(const DeviceRecord& record, Stream stream);
int RemoveDeviceRecord(const DeviceRecord& record, Stream stream);
int FindDeviceRecordByEntryID(const DeviceRecord& record, Stream stream);
int LookupDeviceRecordByLUID(uint32_t type, const WString& luid, DeviceRecord* out, Stream stream);

// SyncML database.
int FindMappedSyncMLRecordByEntryID(const DeviceRecord& record, Stream stream);
int RemapSyncMLRecord(const DeviceRecord& record, Stream stream);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_DEVICE_DATABASE_H
