// The pending-change file of each scheme's current device: one
// PendingChange while a creation or update is between its item and its
// record, absent otherwise.
#include "store/record_file.h"
#include "store/session.h"
#include "store/store_exports.h"

namespace zelsync {
namespace {

const WString& PendingPath(bool syncml) {
  const Session& session = CurrentSession();
  return syncml ? session.syncml.pending : session.irmc.pending;
}

}  // namespace

bool WritePendingChange(bool syncml, const PendingChange& change) {
  const WString& path = PendingPath(syncml);
  if (path.empty()) return false;
  // Written in place, not through a scratch file: the item is saved only
  // after this returns, so a file cut short by a kill names no item and is
  // read as no pending change. A killed process is all it must outlast: the
  // records it guards are written through to the operating system only.
  Stream stream = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return stream && stream->Write(&change, sizeof change) == sizeof change && stream->Flush();
}

PendingRead ReadPendingChange(bool syncml, PendingChange* change) {
  const WString& path = PendingPath(syncml);
  if (path.empty()) return PendingRead::kNone;
  FsStatus status;
  Stream stream = Env::Current().Open(path, OpenMode::kReadBinary, &status);
  if (!stream) return status == FsStatus::kNotFound ? PendingRead::kNone : PendingRead::kFailed;
  return ReadExact(*stream, change, sizeof *change) ? PendingRead::kRead : PendingRead::kCutShort;
}

bool ClearPendingChange(bool syncml) {
  const WString& path = PendingPath(syncml);
  Env& env = Env::Current();
  return path.empty() || env.RemoveFile(path) == FsStatus::kOk ||
         env.Stat(path) == FsStatus::kNotFound;
}

}  // namespace zelsync
