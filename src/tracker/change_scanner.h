// The change scanner of the local item store: the writer of the two
// modification logs ("SyncModificationLog.DAT", "SyncMLModificationLog.DAT")
// in the sync folder.
//
// It compares the store with the state it saw last (kept in the sync folder
// as "LocalStoreState.txt") and appends, for every item changed since, a
// change record (kind 0) to both logs, and for every item gone a deletion
// record (kind 1). Items it has not seen before are only remembered: the
// new-record enumeration finds them. What the library itself writes or
// removes through the store is remembered at once, so it never comes back
// to the device as a change.
#ifndef ZELSYNC_TRACKER_CHANGE_SCANNER_H
#define ZELSYNC_TRACKER_CHANGE_SCANNER_H

#include <cstdint>
#include <string>

namespace zelsync {
namespace local {

class Store;
enum class FolderKind;

struct ScanResult {
  bool ok = false;          // false: the store or the sync folder could not be read or written
  uint32_t changed = 0;     // change records appended to each log
  uint32_t deleted = 0;     // deletion records appended to each log
  bool baseline = false;    // true: no earlier state; everything was only remembered
};

// Scans the store named by the environment (as the library's item store
// finds it) against the state in the sync folder.
ScanResult ScanStoreChanges();

// Carries the bookkeeping files over to the store's current entry IDs when
// the state in the sync folder comes from a store that named items by their
// bare file names (see local/entry_ids.h). Runs when the store connects, so
// that no export meets a record of the earlier form. False when a file
// could not be carried over; true when there was nothing to do.
bool CarryOverStoreState();

// Called by the store after the library wrote or removed an item.
void RememberLibraryWrite(const Store& store, FolderKind folder, const std::string& stem);
void RememberLibraryRemoval(const Store& store, FolderKind folder, const std::string& stem);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_TRACKER_CHANGE_SCANNER_H
