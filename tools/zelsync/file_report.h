// `zelsync inspect`: the bookkeeping files as a readable table or as JSON.
#ifndef ZELSYNC_TOOL_FILE_REPORT_H
#define ZELSYNC_TOOL_FILE_REPORT_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bookkeeping_files.h"

namespace zelsync_tool {

struct InspectOptions {
  // Files or folders; empty: every file of the library's sync folder.
  std::vector<std::string> paths;
  std::optional<FileKind> kind;  // overrides the kind found from the name
  bool json = false;
};

nlohmann::json DecodedFileToJson(const DecodedFile& file);
std::string DecodedFileToText(const DecodedFile& file);

// Exit status: 0 when every file was read and is sound, 1 when a file is
// missing, unreadable, of unknown kind or damaged (everything readable is
// shown all the same).
int RunInspect(const InspectOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_FILE_REPORT_H
