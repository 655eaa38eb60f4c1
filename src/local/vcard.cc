#include "local/vcard.h"

#include <cctype>

namespace zelsync {
namespace local {
namespace {

bool IsStructured(const std::string& name) { return name == "N" || name == "ADR" || name == "ORG"; }

bool IsModern(const std::string& version) { return version == "3.0" || version == "4.0"; }

const VersitProperty* Find(const VCard& card, const std::string& name) {
  for (const VersitProperty& p : card.properties) {
    if (p.depth == 1 && p.name == name) return &p;
  }
  return nullptr;
}

// The name built from N: prefix, given, additional, family, suffix.
std::optional<std::string> NameFromN(const VersitProperty& n) {
  std::vector<std::string> parts = SplitStructured(DecodedText(n));
  parts.resize(5);
  std::string name;
  for (int index : {3, 1, 2, 0, 4}) {
    std::string part = Trim(UnescapeText(parts[index]));
    if (part.empty()) continue;
    if (!name.empty()) name += ' ';
    name += part;
  }
  return name;
}

// A 2.1 value in the escaping of 3.0: the 2.1 escapes "\;", "\n" and "\\"
// are kept, commas and line breaks are escaped, and a ';' outside a
// structured value is escaped as well.
std::string Escape21As30(const std::string& text, bool structured) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if (next == ';' || next == ',' || next == 'n' || next == 'N' || next == '\\') {
        out += c;
        out += next;
        ++i;
      } else {
        out += "\\\\";
      }
    } else if (c == ';') {
      out += structured ? ";" : "\\;";
    } else if (c == ',') {
      out += "\\,";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      // A CR alone (=0D of some phones) is a line break too; 3.0 has no
      // other way to carry it.
      if (i + 1 == text.size() || text[i + 1] != '\n') out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// A parameter value in quotes when it holds ':', ';' or (outside TYPE,
// whose commas separate its values) ','.
std::string QuoteParam(const std::string& name, const std::string& value) {
  if (value.find_first_of(name == "TYPE" ? ":;" : ":;,") == std::string::npos) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c != '"') out += c;
  }
  return out + "\"";
}

// A single 2.1 value: only the backslash, which readers undo, is escaped.
std::string EscapeBackslash(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string Head(const VersitProperty& p) {
  return p.group.empty() ? p.name : p.group + "." + p.name;
}

std::string StripSpaces(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (!isspace(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

}  // namespace

bool ParseVCard(const std::string& text, VCard* card) {
  std::string version;
  std::vector<VersitProperty> all = ReadVersitObject(text, &version);
  if (all.empty() || all.front().name != "BEGIN" || Upper(Trim(all.front().value)) != "VCARD") return false;
  card->version = version;
  card->properties.clear();
  for (VersitProperty& p : all) {
    if (p.depth != 1 || p.name == "BEGIN" || p.name == "END" || p.name == "VERSION") continue;
    card->properties.push_back(std::move(p));
  }
  return true;
}

std::optional<std::string> VCardFullName(const VCard& card) {
  if (const VersitProperty* fn = Find(card, "FN")) return Trim(UnescapeText(DecodedText(*fn)));
  if (const VersitProperty* n = Find(card, "N")) return NameFromN(*n);
  return std::nullopt;
}

std::string VCardForStore(const VCard& card, const std::string& uid) {
  const bool modern = IsModern(card.version);
  std::string out = "BEGIN:VCARD\r\nVERSION:";
  out += card.version == "4.0" ? "4.0" : "3.0";
  out += "\r\n";
  for (const VersitProperty& p : card.properties) {
    std::string line = Head(p);
    std::string value;
    if (modern) {
      for (const VersitParam& param : p.params) line += ";" + param.name + "=" + QuoteParam(param.name, param.value);
      value = p.value;
    } else {
      for (const VersitParam& param : p.params) {
        std::string upper = Upper(param.value);
        if (param.name == "CHARSET") continue;
        if (param.name == "ENCODING") {
          if (upper == "BASE64" || upper == "B") line += ";ENCODING=b";
          continue;
        }
        line += ";" + param.name + "=" + QuoteParam(param.name, param.value);
      }
      value = p.IsBase64() ? StripSpaces(p.value) : Escape21As30(DecodedText(p), IsStructured(p.name));
    }
    out += FoldLine(line + ":" + value, false);
  }
  if (!Find(card, "FN")) {
    std::optional<std::string> name = VCardFullName(card);
    out += FoldLine("FN:" + EscapeText(name.value_or("")), false);
  }
  if (!Find(card, "N") && card.version != "4.0") out += "N:;;;;\r\n";
  if (!Find(card, "UID")) out += FoldLine("UID:" + uid, false);
  out += "END:VCARD\r\n";
  return out;
}

std::string VCardAs21(const VCard& card) {
  const bool modern = IsModern(card.version);
  std::string out = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  for (const VersitProperty& p : card.properties) {
    if (p.name == "PRODID") continue;
    std::string line = Head(p);
    for (const VersitParam& param : p.params) {
      std::string upper = Upper(param.value);
      if (param.name == "TYPE") {
        std::string types;
        for (char c : upper) {
          if (c == ',') {
            if (!types.empty()) line += ";" + types;
            types.clear();
          } else if (c != '"') {
            types += c;
          }
        }
        if (!types.empty()) line += ";" + types;
      } else if (param.name == "PREF") {
        line += ";PREF";
      } else if (param.name == "VALUE" && (upper == "URI" || upper == "URL")) {
        if (p.name != "TEL") line += ";VALUE=URL";
      } else if (param.name != "CHARSET" && param.name != "ENCODING" &&
                 param.value.find_first_of(":;,\"\\") == std::string::npos) {
        // 2.1 has no quoting: a value such as GEO="geo:..." or
        // SORT-AS="a;b" would break the line, and is left out.
        line += ";" + param.name + "=" + param.value;
      }
    }
    if (p.IsBase64()) {
      // Base64 lines of 2.1 are folded with leading spaces and end with an
      // empty line.
      out += FoldLine(line + ";ENCODING=BASE64:" + StripSpaces(p.value), false, 76);
      out += "\r\n";
      continue;
    }
    std::string text = DecodedText(p);
    if (modern) {
      if (IsStructured(p.name)) {
        std::string joined;
        std::vector<std::string> parts = SplitStructured(text);
        for (size_t i = 0; i < parts.size(); ++i) {
          if (i) joined += ';';
          joined += EscapeText21(UnescapeText(parts[i]));
        }
        text = joined;
      } else {
        // A single value keeps its ';' as it is (tel:...;ext=5); only the
        // backslash, which readers undo, is escaped.
        text = EscapeBackslash(UnescapeText(text));
      }
    }
    if (p.name == "TEL" && text.compare(0, 4, "tel:") == 0) text = text.substr(4);
    out += VersitLine21(line, text);
  }
  std::optional<std::string> full_name = VCardFullName(card);
  if (!Find(card, "N")) {
    out += VersitLine21("N", EscapeText21(full_name.value_or("")) + ";;;;");
  }
  if (!Find(card, "FN") && full_name) out += VersitLine21("FN", EscapeBackslash(*full_name));
  out += "END:VCARD\r\n";
  return out;
}

}  // namespace local
}  // namespace zelsync
