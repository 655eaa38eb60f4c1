// Whole-file reads and writes of the host (the phone's files and state).
#ifndef ZELSYNC_TOOL_FILE_UTIL_H
#define ZELSYNC_TOOL_FILE_UTIL_H

#include <filesystem>

#include "bookkeeping_files.h"

namespace zelsync_tool {

bool ReadWholeFile(const std::filesystem::path& path, Bytes* bytes);
// Writes a scratch file beside `path` and puts it over `path` with the
// library's own atomic write (synced, folder synced), so that `path` holds
// either the old or the new content, never a part.
bool WriteFileReplacing(const std::filesystem::path& path, const Bytes& bytes);
bool CopyWholeFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_FILE_UTIL_H
