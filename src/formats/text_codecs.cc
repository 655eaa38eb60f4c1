// UTF-16 to UTF-8 for the writers, and the vNote value escaper.
#include "formats/codecs.h"

namespace zelsync {
namespace formats {

std::optional<std::string> WideToUtf8(const std::optional<WString>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::string utf8 = Utf16ToUtf8(*text);
  if (utf8.empty()) return std::nullopt;  // the conversion failed
  const size_t nul = utf8.find('\0');
  if (nul != std::string::npos) utf8.resize(nul);
  return utf8;
}

std::string EscapeNoteValue(std::string_view value, int* escaped) {
  std::string out;
  out.reserve(value.size() + value.size() / 4);
  for (size_t i = 0; i < value.size() && value[i] != '\0'; ++i) {
    const char c = value[i];
    switch (c) {
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') {
          out += "=0D=0A=\n";
          *escaped = 1;
          ++i;
        } else {
          out.push_back(c);
        }
        break;
      case ':':
        out += "=3A";
        *escaped = 1;
        break;
      case ';':
        out += "=5C=3B";
        *escaped = 1;
        break;
      case '=':
        out += "=3D";
        *escaped = 1;
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace formats
}  // namespace zelsync
