// The report of items deleted on the PC, shared by GetDeletedRecord and
// SyncMLGetDeletedRecord: the first deletion of the type in the log whose
// item the device knows (an assigned LUID) is reported and forgotten; stale
// deletions on the way are dropped from the log.
#ifndef ZELSYNC_STORE_DELETIONS_H
#define ZELSYNC_STORE_DELETIONS_H

#include "store/device_database.h"
#include "store/modification_log.h"

namespace zelsync {

// 1 with the item's record in *found and the hard-delete flag (kind 2) in
// *hard_delete; 0 when there is nothing (more) to report.
int ReportNextDeletion(const ModificationLog& log, const DeviceDatabase& db, uint32_t type,
                       DeviceRecord* found, int32_t* hard_delete);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_DELETIONS_H
