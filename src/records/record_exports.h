// The record exports that reach the PC's item store through the object
// model: new, modified, created, updated and deleted records of both
// schemes.
#ifndef ZELSYNC_RECORDS_RECORD_EXPORTS_H
#define ZELSYNC_RECORDS_RECORD_EXPORTS_H

#include "platform/platform.h"

namespace zelsync {

int GetNewRecord(uint32_t type, WString* entry_id, WString* file_path);
int GetModifiedRecord(uint32_t type, WString* entry_id, WString* luid, WString* file_path);
int CreateNewRecord(uint32_t type, const WString& luid, const WString& file_path);
int UpdateRecord(uint32_t type, const WString& luid, const WString& file_path);
int DeleteRecord(uint32_t type, const WString& luid);

int SyncMLGetNewRecord(uint32_t type, WString* entry_id, WString* file_path);
int SyncMLGetModifiedRecord(uint32_t type, WString* entry_id, WString* luid, WString* file_path);
// `luid` may be null: the record then carries "UNDEFINED".
int SyncMLCreateNewRecord(uint32_t type, const WString& file_path, const WString* luid);
int SyncMLUpdateRecord(uint32_t type, const WString& luid, const WString& file_path);
int SyncMLDeleteRecord(uint32_t type, const WString& luid);
// The rollback's deletion of an item its session made: as SyncMLDeleteRecord,
// but the other scheme is not told, since none of its phones has seen it.
int SyncMLDeleteSessionRecord(uint32_t type, const WString& luid);
// Completes a SyncML creation or update that a killed process left between
// its item and its record; false when that cannot be done now.
bool SyncMLFinishPendingChange();

}  // namespace zelsync

#endif  // ZELSYNC_RECORDS_RECORD_EXPORTS_H
