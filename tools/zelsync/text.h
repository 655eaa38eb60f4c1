// Text and path helpers of the command-line host: UTF-8 <-> UTF-16, and
// paths spelled as the library and the operating system want them. The
// host keeps text in UTF-8 and converts at the library's boundary.
#ifndef ZELSYNC_TOOL_TEXT_H
#define ZELSYNC_TOOL_TEXT_H

#include <filesystem>
#include <string>

namespace zelsync_tool {

// The platform layer's conversions: UTF-16 -> UTF-8 (a lone surrogate
// becomes U+FFFD) and UTF-8 -> UTF-16 (an ill-formed sequence becomes
// U+FFFD).
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);
// The path as the library's wide strings spell it, and back.
std::u16string PathToUtf16(const std::filesystem::path& path);
std::filesystem::path PathFromUtf16(const std::u16string& text);

// Lower-case ASCII copy.
std::string AsciiLower(std::string text);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_TEXT_H
