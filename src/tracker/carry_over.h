// Carries the bookkeeping files of the sync folder over from the local
// store's earlier entry IDs (the bare file name) to the current ones (the
// tagged name, see local/entry_ids.h), so that every record a device
// already holds keeps naming the same item.
#ifndef ZELSYNC_TRACKER_CARRY_OVER_H
#define ZELSYNC_TRACKER_CARRY_OVER_H

#include <string>

#include "platform/platform.h"

namespace zelsync {
namespace local {

// Rewrites, in every device record database, SyncML database and
// modification log of `sync_folder` (with its trailing separator), the
// backups and scratch copies included, each entry ID of the earlier form
// into the current one. Each file is replaced atomically, and only when a
// record changed; IDs of the current form are left alone, so running it
// again changes nothing. False when a file could not be read or replaced
// (the files done so far stay done).
bool CarryOverEntryIds(const WString& sync_folder);

// The largest bookkeeping file of the sync folder that is read whole.
constexpr size_t kMaxSyncFileSize = size_t{1} << 30;

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_TRACKER_CARRY_OVER_H
