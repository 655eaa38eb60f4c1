#include "text.h"

#include <cctype>

#include "platform/platform.h"

namespace zelsync_tool {

std::string Utf16ToUtf8(const std::u16string& text) { return zelsync::Utf16ToUtf8(text); }

std::u16string Utf8ToUtf16(const std::string& text) { return zelsync::Utf8ToUtf16(text); }

std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
  return std::filesystem::path(Utf8ToUtf16(text));
#else
  return std::filesystem::path(text);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
  return Utf16ToUtf8(path.u16string());
#else
  return path.string();
#endif
}

// On POSIX a path is bytes: the library's own conversion keeps bytes that
// are not UTF-8 through the round trip, as its file calls expect them.
std::u16string PathToUtf16(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.u16string();
#else
  return zelsync::PathFromNative(path.native());
#endif
}

std::filesystem::path PathFromUtf16(const std::u16string& text) {
#ifdef _WIN32
  return std::filesystem::path(text);
#else
  return std::filesystem::path(zelsync::NativePath(text));
#endif
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace zelsync_tool
