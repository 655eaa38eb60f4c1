// Where the library keeps its bookkeeping files, found by the same rule the
// library follows, so that the host can show and inspect them. The host
// never writes there itself: only the library does.
#ifndef ZELSYNC_TOOL_SYNC_FOLDER_H
#define ZELSYNC_TOOL_SYNC_FOLDER_H

#include <filesystem>

namespace zelsync_tool {

// The sync folder ("ZelBtOutlookSync" in the local application-data
// folder); empty when the application-data folder is unknown.
std::filesystem::path LibrarySyncFolder();

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_SYNC_FOLDER_H
