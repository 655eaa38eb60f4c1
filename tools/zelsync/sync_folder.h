// Where the library keeps its bookkeeping files, found by the library's own
// code, so that the host can show and inspect them. The host never writes
// there itself: only the library does.
#ifndef ZELSYNC_TOOL_SYNC_FOLDER_H
#define ZELSYNC_TOOL_SYNC_FOLDER_H

#include <filesystem>

namespace zelsync_tool {

// The sync folder ("ZelBtOutlookSync" in the local application-data
// folder, or under the platform's fallback root when that is unknown);
// empty when its path does not fit the library's 260-unit paths.
std::filesystem::path LibrarySyncFolder();

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_SYNC_FOLDER_H
