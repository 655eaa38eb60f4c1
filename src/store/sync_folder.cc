#include "store/sync_folder.h"

namespace zelsync {

BoundedPath SyncFolderPath() {
  Env& env = Env::Current();
  WString base;
  BoundedPath path;
  if (env.LocalAppDataFolder(&base)) {
    path.Append(base);
    path.Append(kPathSeparator);
  } else {
    path.Append(env.FallbackRoot());
  }
  path.Append(u"ZelBtOutlookSync");
  return path;
}

bool EnsureFolder(const WString& folder) {
  Env& env = Env::Current();
  if (env.Stat(folder) == FsStatus::kOk) return true;
  FsStatus made = env.MakeFolder(folder);
  return made == FsStatus::kOk || made == FsStatus::kExists;
}

bool PrepareSyncFolder(BoundedPath* folder) {
  *folder = SyncFolderPath();
  bool ok = folder->ok() && EnsureFolder(folder->str());
  return folder->Append(kPathSeparator) && ok;
}

}  // namespace zelsync
