#include "sync_folder.h"

#include "store/sync_folder.h"
#include "text.h"

namespace zelsync_tool {

std::filesystem::path LibrarySyncFolder() {
  const zelsync::BoundedPath folder = zelsync::SyncFolderPath();
  if (!folder.ok()) return {};
  return PathFromUtf16(folder.str());
}

}  // namespace zelsync_tool
