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

// A modification log: where it is, where compactions rewrite it, its record size.
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
// accepts (the log is closed again before this returns); records marked
// removed are passed over. False when the log is missing, cannot be opened
// or holds no such entry.
bool FindLogEntry(const ModificationLog& log, const std::function<bool(const LogEntry&)>& match,
                  LogEntry* found);

// Removes every record of that type and entry ID, whatever its kind: each
// is marked removed in place, or, when half the log's records or more would
// then be marked, the log is rewritten without any marked record. Readers
// pass over marked records. 1 on success, also when there is none.
int RemoveLogEntries(const ModificationLog& log, uint32_t type, const WString& entry_id,
                     Stream stream);
// Rewrites the log without its marked records when it holds any. False
// when that rewrite failed.
bool CompactLog(const ModificationLog& log);

// The logs as they lie in the sync folder, whatever device session is open.
// The library's own deletions go into the log of the other scheme, which
// may have no session in this process.
ModificationLog IrmcLogInSyncFolder();
ModificationLog SyncMLLogInSyncFolder();

// Appends the entry {type, kind, entry ID} after the log's last whole
// record, creating a missing log; a SyncML entry is stamped with the
// current time and the change number after the last entry's. 1 on success.
int AppendLogEntry(const ModificationLog& log, uint32_t type, uint32_t kind, const WString& entry_id);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_MODIFICATION_LOG_H
