#include "local/versit.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

namespace zelsync {
namespace local {
namespace {

std::string Unquote(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Splits on `separator` outside double quotes.
std::vector<std::string> SplitOutsideQuotes(const std::string& s, char separator) {
  std::vector<std::string> parts(1);
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (c == separator && !quoted) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// Reads "group.name;params" into the property; false when there is no name.
bool ReadHead(const std::string& head, VersitProperty* property) {
  std::vector<std::string> parts = SplitOutsideQuotes(head, ';');
  std::string name = parts[0];
  while (!name.empty() && isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    property->group = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  property->name = Upper(name);
  if (property->name.empty()) return false;
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) continue;
    size_t eq = part.find('=');
    VersitParam param;
    if (eq == std::string::npos) {
      std::string bare = Upper(part);
      bool encoding = bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" ||
                      bare == "7BIT" || bare == "B";
      param.name = encoding ? "ENCODING" : "TYPE";
      param.value = part;
    } else {
      param.name = Upper(part.substr(0, eq));
      param.value = Unquote(part.substr(eq + 1));
    }
    property->params.push_back(std::move(param));
  }
  return true;
}

// The position of the ':' that ends the head, outside quotes.
size_t HeadEnd(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string::npos;
}

std::string Convert(const std::string& text, const char* charset, bool* ok) {
  gsize written = 0;
  GError* error = nullptr;
  gchar* converted =
      g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8", charset, nullptr, &written, &error);
  if (error) g_error_free(error);
  *ok = converted != nullptr;
  std::string out = converted ? std::string(converted, written) : std::string();
  g_free(converted);
  return out;
}

std::string Windows1252ToUtf8(const std::string& text) {
  bool ok = false;
  std::string out = Convert(text, "WINDOWS-1252", &ok);
  if (ok) return out;
  out.clear();
  for (unsigned char c : text) {  // Latin-1 as the last resort
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

const std::string* VersitProperty::Param(const std::string& wanted) const {
  for (const VersitParam& param : params) {
    if (param.name == wanted) return &param.value;
  }
  return nullptr;
}

bool VersitProperty::HasType(const std::string& type) const {
  for (const VersitParam& param : params) {
    if (param.name != "TYPE") continue;
    for (const std::string& one : SplitOutsideQuotes(param.value, ',')) {
      if (Upper(one) == Upper(type)) return true;
    }
  }
  return false;
}

bool VersitProperty::IsQuotedPrintable() const {
  const std::string* encoding = Param("ENCODING");
  return encoding && Upper(*encoding) == "QUOTED-PRINTABLE";
}

bool VersitProperty::IsBase64() const {
  const std::string* encoding = Param("ENCODING");
  return encoding && (Upper(*encoding) == "BASE64" || Upper(*encoding) == "B");
}

std::vector<VersitProperty> ReadVersitObject(const std::string& text, std::string* version) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  std::vector<VersitProperty> properties;
  version->clear();
  int depth = 0;
  size_t i = 0;
  while (i < lines.size()) {
    std::string logical = lines[i++];
    size_t colon = HeadEnd(logical);
    if (colon == std::string::npos) continue;
    VersitProperty property;
    if (!ReadHead(logical.substr(0, colon), &property)) continue;
    const bool qp = property.IsQuotedPrintable();
    const bool v21 = *version == "2.1" || *version == "1.0";
    for (;;) {
      if (i >= lines.size()) break;
      const std::string& next = lines[i];
      if (qp && !logical.empty() && logical.back() == '=') {
        // A soft line break: the value goes on in the next line as it stands.
        logical.pop_back();
        logical += next;
        ++i;
      } else if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
        logical += v21 ? next : next.substr(1);
        ++i;
      } else {
        break;
      }
    }
    property.value = logical.substr(colon + 1);
    if (property.name == "BEGIN") {
      if (depth == 0) properties.clear();
      if (++depth > kMaxVersitDepth) {
        version->clear();
        return {};
      }
    }
    if (depth == 0) continue;  // text before the object
    property.depth = depth;
    if (depth == 1 && property.name == "VERSION") {
      *version = property.value;
      while (!version->empty() && isspace(static_cast<unsigned char>(version->back()))) version->pop_back();
    }
    bool is_end = property.name == "END";
    properties.push_back(std::move(property));
    if (is_end && --depth == 0) break;
  }
  return properties;
}

std::string DecodeQuotedPrintable(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c != '=') {
      out += c;
      continue;
    }
    if (i + 1 < value.size() && value[i + 1] == '\n') {
      i += 1;
      continue;
    }
    if (i + 2 < value.size() && value[i + 1] == '\r' && value[i + 2] == '\n') {
      i += 2;
      continue;
    }
    if (i + 2 < value.size()) {
      int high = HexDigit(value[i + 1]), low = HexDigit(value[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::string DecodedText(const VersitProperty& property) {
  std::string raw = property.IsQuotedPrintable() ? DecodeQuotedPrintable(property.value) : property.value;
  const std::string* charset = property.Param("CHARSET");
  std::string name = charset ? Upper(*charset) : std::string();
  if (!name.empty() && name != "UTF-8" && name != "UTF8" && name != "US-ASCII") {
    bool ok = false;
    std::string converted = Convert(raw, name.c_str(), &ok);
    if (ok) return ToValidUtf8(converted);
  }
  if (IsValidUtf8(raw)) return raw;
  return Windows1252ToUtf8(raw);
}

bool IsValidUtf8(const std::string& text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

std::string ToValidUtf8(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid ? valid : "";
  g_free(valid);
  return out;
}

std::string UnescapeText(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char next = value[++i];
    if (next == 'n' || next == 'N') out += '\n';
    else out += next;
  }
  return out;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ',': out += "\\,"; break;
      case ';': out += "\\;"; break;
      case '\n': out += "\\n"; break;
      case '\r': break;
      default: out += c;
    }
  }
  return out;
}

std::string EscapeText21(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == ';') out += '\\';
    out += c;
  }
  return out;
}

std::vector<std::string> SplitStructured(const std::string& value) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      parts.back() += value[i];
      parts.back() += value[++i];
    } else if (value[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

std::string EncodeQuotedPrintable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n') {
      out += "=0D=0A";
    } else if (c < 0x20 || c >= 0x7F || c == '=') {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string FoldLine(const std::string& line, bool quoted_printable, size_t width) {
  std::string out;
  size_t column = 0;
  for (size_t i = 0; i < line.size();) {
    // The unit that must not be split: an "=XX" triplet or a UTF-8 sequence.
    size_t unit = 1;
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (quoted_printable && c == '=') {
      unit = 3;
    } else if (c >= 0xC0) {
      while (i + unit < line.size() && (static_cast<unsigned char>(line[i + unit]) & 0xC0) == 0x80) ++unit;
    }
    unit = std::min(unit, line.size() - i);
    size_t limit = quoted_printable ? width - 1 : width;
    if (column > 0 && column + unit > limit) {
      out += quoted_printable ? "=\r\n" : "\r\n ";
      column = quoted_printable ? 0 : 1;
    }
    out.append(line, i, unit);
    column += unit;
    i += unit;
  }
  out += "\r\n";
  return out;
}

std::string VersitLine21(const std::string& head, const std::string& text) {
  bool plain = true;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F) plain = false;
  }
  if (plain) return head + ":" + text + "\r\n";
  return FoldLine(head + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" + EncodeQuotedPrintable(text), true, 76);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

}  // namespace local
}  // namespace zelsync
