#include "object_text.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "formats/codecs.h"

namespace zelsync_tool {

namespace {

// Texts longer than this are not read for names or keys: no phone object
// is that large, and a key must not cost more than a glance.
constexpr size_t kMaxTextRead = 4 * 1024 * 1024;

struct Property {
  std::string name;    // upper case, without parameters
  std::string params;  // upper case, as written
  std::string value;   // unfolded, decoded, unescaped
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out.push_back(next == 'n' || next == 'N' ? '\n' : next);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// The content lines, unfolded: a line that starts with a space or a tab
// continues the one before, and a quoted-printable value that ends in '='
// goes on in the next line.
std::vector<std::string> ContentLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  bool soft_break = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!lines.empty() && soft_break) {
      lines.back().pop_back();  // the '='
      lines.back() += line;
    } else if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      lines.back() += line.substr(1);
    } else {
      lines.push_back(line);
    }
    const std::string& last = lines.back();
    soft_break = !last.empty() && last.back() == '=' &&
                 Upper(last.substr(0, last.find(':'))).find("QUOTED-PRINTABLE") != std::string::npos;
    start = end + 1;
  }
  return lines;
}

std::vector<Property> Properties(const std::string& text) {
  std::vector<Property> properties;
  for (const std::string& line : ContentLines(text.substr(0, kMaxTextRead))) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    const std::string head = Upper(line.substr(0, colon));
    const size_t semicolon = head.find(';');
    Property property{head.substr(0, semicolon), semicolon == std::string::npos ? "" : head.substr(semicolon), ""};
    // A group prefix ("item1.TEL") is no part of the name.
    const size_t dot = property.name.rfind('.');
    if (dot != std::string::npos) property.name = property.name.substr(dot + 1);
    std::string value = line.substr(colon + 1);
    if (property.params.find("QUOTED-PRINTABLE") != std::string::npos)
      value = zelsync::formats::QuotedPrintableDecode(value);
    property.value = Unescape(value);
    properties.push_back(std::move(property));
  }
  return properties;
}

std::string First(const std::vector<Property>& properties, const char* name) {
  for (const Property& property : properties)
    if (property.name == name) return property.value;
  return "";
}

std::vector<std::string> All(const std::vector<Property>& properties, const char* name) {
  std::vector<std::string> values;
  for (const Property& property : properties)
    if (property.name == name) values.push_back(property.value);
  return values;
}

// Spaces collapsed and trimmed, ASCII letters folded: "  Alice  MARTIN" and
// "alice martin" name the same person.
std::string Folded(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Digits(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c >= '0' && c <= '9') out.push_back(c);
  return out;
}

std::string ContactName(const std::vector<Property>& properties) {
  std::string name = First(properties, "FN");
  if (!Folded(name).empty()) return name;
  // N is family;given;additional;prefix;suffix; the name reads prefix
  // given additional family suffix.
  std::vector<std::string> parts(5);
  const std::string n = First(properties, "N");
  size_t start = 0;
  for (size_t i = 0; i < parts.size() && start <= n.size(); ++i) {
    size_t end = n.find(';', start);
    if (end == std::string::npos) end = n.size();
    parts[i] = n.substr(start, end - start);
    start = end + 1;
  }
  std::string out;
  for (size_t i : {3, 1, 2, 0, 4}) {
    if (parts[i].empty()) continue;
    if (!out.empty()) out += " ";
    out += parts[i];
  }
  return out;
}

// A header of the message a vMessage carries ("Subject", "From", "Date").
std::string MessageHeader(const std::string& text, const std::string& name) {
  const std::string wanted = Upper(name) + ":";
  for (const std::string& line : ContentLines(text.substr(0, kMaxTextRead))) {
    if (Upper(line.substr(0, wanted.size())) != wanted) continue;
    std::string value = line.substr(wanted.size());
    while (!value.empty() && value.front() == ' ') value.erase(value.begin());
    return value;
  }
  return "";
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string Joined(std::vector<std::string> values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  std::string out;
  for (const std::string& value : values) out += value + ",";
  return out;
}

bool Holds(const std::vector<Property>& properties, const char* begin_value) {
  for (const Property& property : properties)
    if (property.name == "BEGIN" && Upper(property.value) == begin_value) return true;
  return false;
}

}  // namespace

std::string ObjectName(uint32_t type, const std::string& text) {
  const std::string title = ObjectTitle(type, text);
  if (type != 3) return title;
  const std::string start = First(Properties(text), "DTSTART");
  return start.empty() ? title : title + " (" + start + ")";
}

std::string ObjectTitle(uint32_t type, const std::string& text) {
  const std::vector<Property> properties = Properties(text);
  switch (type) {
    case 2: return ContactName(properties);
    case 3: return First(properties, "SUMMARY");
    case 1: return FirstLine(Holds(properties, "VNOTE") ? First(properties, "BODY") : text);
    default: return MessageHeader(text, "Subject");
  }
}

std::string ContentKey(uint32_t type, const std::string& text) {
  const std::vector<Property> properties = Properties(text);
  switch (type) {
    case 2: {
      std::vector<std::string> phones, mails;
      for (const std::string& phone : All(properties, "TEL")) phones.push_back(Digits(phone));
      for (const std::string& mail : All(properties, "EMAIL")) mails.push_back(Folded(mail));
      const std::string name = Folded(ContactName(properties));
      if (name.empty() && phones.empty() && mails.empty()) return "";
      return "contact|" + name + "|" + Joined(phones) + "|" + Joined(mails);
    }
    case 3: {
      const std::string summary = Folded(First(properties, "SUMMARY"));
      const std::string start = Digits(First(properties, "DTSTART"));
      if (summary.empty() && start.empty()) return "";
      return "event|" + summary + "|" + start;
    }
    case 1: {
      // A note travels as a vNote or as its plain text.
      const std::string body =
          Folded(Holds(properties, "VNOTE") ? First(properties, "BODY") : text.substr(0, kMaxTextRead));
      return body.empty() ? "" : "note|" + body;
    }
    default: {
      const std::string subject = Folded(MessageHeader(text, "Subject"));
      const std::string from = Folded(MessageHeader(text, "From"));
      const std::string date = Folded(MessageHeader(text, "Date"));
      if (subject.empty() && from.empty() && date.empty()) return "";
      return "mail|" + subject + "|" + from + "|" + date;
    }
  }
}

std::string EvidentRefusal(uint32_t type, const std::string& text) {
  if (Folded(text).empty()) return "an empty file";
  const std::vector<Property> properties = Properties(text);
  switch (type) {
    case 2: return Holds(properties, "VCARD") ? "" : "not a vCard (no BEGIN:VCARD)";
    case 3: {
      size_t events = 0;
      for (const Property& property : properties)
        if (property.name == "BEGIN" && Upper(property.value) == "VEVENT") ++events;
      std::vector<std::string> uids = All(properties, "UID");
      std::sort(uids.begin(), uids.end());
      const bool one_event = uids.size() >= events && std::unique(uids.begin(), uids.end()) - uids.begin() == 1;
      if (events > 1 && !one_event) return "several separate events in one file, and a PC item holds one";
      if (events > 0) return "";
      if (Holds(properties, "VTODO")) return "a to-do, and the PC's calendar holds events only";
      return Holds(properties, "VCALENDAR") ? "a calendar without an event" : "not a vCalendar or iCalendar file";
    }
    case 1: return "";  // any text is a note
    default: return Holds(properties, "VMSG") ? "" : "not a vMessage (no BEGIN:VMSG)";
  }
}

}  // namespace zelsync_tool
