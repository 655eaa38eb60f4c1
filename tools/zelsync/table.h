// Plain-text tables with aligned columns, for the host's reports.
#ifndef ZELSYNC_TOOL_TABLE_H
#define ZELSYNC_TOOL_TABLE_H

#include <string>
#include <vector>

namespace zelsync_tool {

// Renders `rows` (the first being the heading) with columns padded to
// their widest cell, each line indented by `indent` spaces. Widths count
// characters, not bytes, so UTF-8 text lines up.
std::string RenderTable(const std::vector<std::vector<std::string>>& rows, size_t indent = 2);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_TABLE_H
