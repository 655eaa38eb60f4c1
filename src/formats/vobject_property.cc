#include "formats/vobject_property.h"

#include "formats/vnote.h"

namespace zelsync {
namespace formats {
namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool NextLine(std::string_view text, size_t* at, std::string_view* line) {
  if (*at >= text.size()) return false;
  const size_t end = text.find_first_of("\r\n", *at);
  *line = text.substr(*at, end == std::string_view::npos ? std::string_view::npos : end - *at);
  *at = end == std::string_view::npos ? text.size() : end + 1;
  if (end != std::string_view::npos && text[end] == '\r' && *at < text.size() && text[*at] == '\n')
    ++*at;
  return true;
}

WString DecodeText(const std::string& charset, const std::string& bytes) {
  WString text;
  if (!charset.empty() && CharsetToUtf16(charset, bytes, &text)) return text;
  if (Utf8ToUtf16Strict(bytes, &text)) return text;
  return AnsiToUtf16(bytes);
}

bool ReadProperty(std::string_view text, std::string_view name, WString* value) {
  size_t at = 0;
  std::string_view line;
  while (NextLine(text, &at, &line)) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view head = line.substr(0, colon);
    if (!SameName(head.substr(0, head.find(';')), name)) continue;
    // The parameters between the name and the colon.
    bool quoted_printable = false;
    std::string charset;
    for (size_t start = head.find(';'); start != std::string_view::npos;) {
      const size_t end = head.find(';', start + 1);
      const std::string_view param =
          head.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
      const size_t equals = param.find('=');
      const std::string_view key =
          equals == std::string_view::npos ? std::string_view() : param.substr(0, equals);
      const std::string_view setting =
          param.substr(equals == std::string_view::npos ? 0 : equals + 1);
      if ((key.empty() || SameName(key, "ENCODING")) && SameName(setting, "QUOTED-PRINTABLE")) {
        quoted_printable = true;
      } else if (SameName(key, "CHARSET")) {
        charset.assign(setting);
      }
      start = end;
    }
    std::string bytes;
    std::string_view rest = line.substr(colon + 1);
    if (!quoted_printable) {
      bytes.assign(rest);
    } else {
      // A line ending in "=" goes on in the next one; an empty line ends
      // the value.
      while (!rest.empty() && DecodeVNoteLine(rest, &bytes) && NextLine(text, &at, &rest)) {
      }
    }
    *value = DecodeText(charset, bytes);
    return true;
  }
  return false;
}

}  // namespace formats
}  // namespace zelsync
