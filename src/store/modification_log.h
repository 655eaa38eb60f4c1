// The two modification logs, written by the change-tracking component and
// read and pruned here: "SyncModificationLog.DAT" (528-byte records) and
// "SyncMLModificationLog.DAT" (572-byte records). Both begin each record
// with the object type, the kind and the entry ID.
#ifndef ZELSYNC_STORE_MODIFICATION_LOG_H
#define ZELSYNC_STORE_MODIFICATION_LOG_H

#include <functional>

#include "store/record_file.h"
#include "store/records.h"

namespace zelsync {

// A modification log: where it is, where removals rewrite it, its record size.
struct ModificationLog {
  RecordFiles files;
};

ModificationLog IrmcModificationLog();
ModificationLog SyncMLModificationLog();

// The fields every log record starts with.
struct LogEntry {
  uint32_t type = 0;
  uint32_t kind = 0;
  WString entry_id;
  const unsigned char* bytes = nullptr;  // the whole record, valid during the call
};

// Opens the log "rb+" when it exists and returns the first entry `match`
// accepts (the log is closed again before this returns). False when the log
// is missing, cannot be opened or holds no such entry.
bool FindLogEntry(const ModificationLog& log, const std::function<bool(const LogEntry&)>& match,
                  LogEntry* found);

// Rewrites the log without any record of that type and entry ID, whatever
// its kind. 1 on success.
int RemoveLogEntries(const ModificationLog& log, uint32_t type, const WString& entry_id,
                     Stream stream);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_MODIFICATION_LOG_H
