// The per-user sync folder "ZelBtOutlookSync" in the local application-data
// folder, where every bookkeeping file lives.
#ifndef ZELSYNC_STORE_SYNC_FOLDER_H
#define ZELSYNC_STORE_SYNC_FOLDER_H

#include "store/wide.h"

namespace zelsync {

// The sync folder without its trailing separator. When the application-data
// folder is unknown the platform's fallback root stands in its place. Not
// ok() when the path does not fit.
BoundedPath SyncFolderPath();

// Creates the folder (one level) when nothing exists at its path. False
// when the creation failed for any reason but an existing folder.
bool EnsureFolder(const WString& folder);

// The sync folder with its trailing separator, created if missing. False
// when it could not be made or its path does not fit; the path is still
// returned as far as it was built.
bool PrepareSyncFolder(BoundedPath* folder);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_SYNC_FOLDER_H
