// The change scanner of the local item store: the writer of the two
// modification logs ("SyncModificationLog.DAT", "SyncMLModificationLog.DAT")
// in the sync folder.
//
// It compares the store with the state it saw last (kept in the sync folder
// as "LocalStoreState.txt") and appends, for every item changed since, a
// change record (kind 0) to both logs, and for every item gone a deletion
// record (kind 1). Items it has not seen before are only remembered: the
// new-record enumeration finds them. What the library itself writes or
// removes through the store is remembered at once (the store tells the
// tracker through its StoreObserver hook), so it never comes back to the
// device as a change.
//
// The tracker stands beside the store: it reads the store through the
// store's public interface and appends to the logs through src/store's log
// writer; the store knows nothing of it.
#ifndef ZELSYNC_TRACKER_CHANGE_SCANNER_H
#define ZELSYNC_TRACKER_CHANGE_SCANNER_H

#include <cstdint>
#include <string>

#include "local/store.h"

namespace zelsync {
namespace local {

struct ScanResult {
  bool ok = false;          // false: the store or the sync folder could not be read or written
  uint32_t changed = 0;     // change records appended to each log
  uint32_t deleted = 0;     // deletion records appended to each log
  bool baseline = false;    // true: no earlier state; everything was only remembered
};

// Scans the store named by the environment (as the library's item store
// finds it) against the state in the sync folder.
ScanResult ScanStoreChanges();

// The observer the library installs on the store: it remembers the
// library's own writes and removals in the state, so the next scan does not
// report them. It does nothing before the first scan.
StoreObserver& LibraryWriteObserver();

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_TRACKER_CHANGE_SCANNER_H
