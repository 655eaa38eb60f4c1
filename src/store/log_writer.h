// The writing side of the two modification logs: appending the records of
// store changes, as the change tracker does. The library reads and prunes
// the logs, and adds its own deletions to them (modification_log.h).
#ifndef ZELSYNC_STORE_LOG_WRITER_H
#define ZELSYNC_STORE_LOG_WRITER_H

#include <cstdint>
#include <vector>

#include "store/records.h"

namespace zelsync {

// One change of an item: kind 0 a change, 1 a deletion.
struct LoggedChange {
  uint32_t type = 0;
  uint32_t kind = 0;
  WString entry_id;
};

// Appends a record of each change to both logs in `folder` (which ends in a
// separator): the IrMC log's 528-byte record and the SyncML log's 572-byte
// record stamped with `change_time` ("YYYYMMDDTHHMMSSZ") and the next
// change number after *change_number (advanced for each record). Each
// record goes to the end of its log in one write, so nothing another writer
// appends meanwhile is overwritten; both logs are synced once, after the
// last record. False when a log cannot be opened or a write or sync fails;
// the records before it may be in place.
bool AppendToModificationLogs(const WString& folder, const std::vector<LoggedChange>& changes,
                              const WString& change_time, uint32_t* change_number);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_LOG_WRITER_H
