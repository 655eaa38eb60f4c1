// Whole-file reads and writes of the host (the phone's files and state).
#ifndef ZELSYNC_TOOL_FILE_UTIL_H
#define ZELSYNC_TOOL_FILE_UTIL_H

#include <filesystem>
#include <string>

#include "bookkeeping_files.h"
#include "platform/platform.h"

namespace zelsync_tool {

// On failure *reason, when given, holds the operating system's reason
// ("Permission denied", "No such file or directory").
bool ReadWholeFile(const std::filesystem::path& path, Bytes* bytes, std::string* reason = nullptr);
// The operating system's reason for the last failed call of this thread.
std::string LastOsReason();
// Writes a scratch file beside `path` and puts it over `path` with the
// library's own atomic write (synced, folder synced, unless `lasting` says
// a killed process is all it must outlast), so that `path` holds either the
// old or the new content, never a part.
bool WriteFileReplacing(const std::filesystem::path& path, const Bytes& bytes, std::string* reason = nullptr,
                        zelsync::Lasting lasting = zelsync::Lasting::kPowerCut);
// Sets an environment variable of this process (the library reads its
// settings from there); false when it cannot be set.
bool SetEnvironment(const char* name, const std::filesystem::path& value);
bool CopyWholeFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_FILE_UTIL_H
