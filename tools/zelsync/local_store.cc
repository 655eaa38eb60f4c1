#include "local_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#ifndef _WIN32
#include "local/entry_ids.h"
#endif
#include "file_util.h"
#include "object_types.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

std::string RandomHex(int digits) {
  static std::mt19937_64 engine{std::random_device{}()};
  std::string out;
  while (static_cast<int>(out.size()) < digits) {
    char chunk[17];
    std::snprintf(chunk, sizeof chunk, "%016llx", static_cast<unsigned long long>(engine()));
    out += chunk;
  }
  return out.substr(0, static_cast<size_t>(digits));
}

// A fresh stem that sorts after older ones: creation time, then chance.
std::string NewStem() {
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  char time[17];
  std::snprintf(time, sizeof time, "%016llx", static_cast<unsigned long long>(micros));
  return std::string(time) + "-" + RandomHex(16);
}

std::string NewMaildirStem() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000;
  return std::to_string(seconds) + ".M" + std::to_string(micros) + "R" + RandomHex(8) + ".zelsync";
}

const char* Extension(uint32_t type) {
  switch (type) {
    case 2: return ".vcf";
    case 3: return ".ics";
    case 1: return ".txt";
    default: return "";
  }
}

bool IsMail(uint32_t type) { return type == 0; }

std::string ReadText(const fs::path& path) {
  Bytes bytes;
  if (!ReadWholeFile(path, &bytes)) return "";
  return std::string(bytes.begin(), bytes.end());
}

bool WriteText(const fs::path& path, const std::string& text) {
  return WriteFileReplacing(path, Bytes(text.begin(), text.end()));
}

std::vector<std::string> SplitLines(const std::string& text, bool* crlf) {
  *crlf = text.find("\r\n") != std::string::npos;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, bool crlf) {
  std::string out;
  for (const std::string& line : lines) out += line + (crlf ? "\r\n" : "\n");
  return out;
}

// True when `line` is the property `name` ("NAME:..." or "NAME;...").
bool IsProperty(const std::string& line, const std::string& name) {
  if (line.size() <= name.size()) return false;
  if (AsciiLower(line.substr(0, name.size())) != AsciiLower(name)) return false;
  return line[name.size()] == ':' || line[name.size()] == ';';
}

std::string EscapeText(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

std::string UnescapeText(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      char next = value[++i];
      out += (next == 'n' || next == 'N') ? '\n' : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string Base64(const std::string& data) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t line = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[n & 63] : '=';
    if ((line += 4) >= 76) {
      out += "\r\n";
      line = 0;
    }
  }
  if (line) out += "\r\n";
  return out;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A header value: as it is when ASCII, else an RFC 2047 encoded word.
std::string HeaderValue(const std::string& value) {
  return IsAscii(value) ? value : "=?UTF-8?B?" + [&] {
    std::string encoded = Base64(value);
    encoded.erase(std::remove(encoded.begin(), encoded.end(), '\r'), encoded.end());
    encoded.erase(std::remove(encoded.begin(), encoded.end(), '\n'), encoded.end());
    return encoded;
  }() + "?=";
}

std::string MailHeader(const std::string& text, const std::string& name) {
  bool crlf = false;
  std::vector<std::string> lines = SplitLines(text, &crlf);
  for (size_t i = 0; i < lines.size() && !lines[i].empty(); ++i) {
    if (lines[i].size() > name.size() && AsciiLower(lines[i].substr(0, name.size() + 1)) == AsciiLower(name) + ":") {
      std::string value = lines[i].substr(name.size() + 1);
      for (size_t k = i + 1; k < lines.size() && !lines[k].empty() && (lines[k][0] == ' ' || lines[k][0] == '\t'); ++k)
        value += lines[k];
      while (!value.empty() && value.front() == ' ') value.erase(value.begin());
      return value;
    }
  }
  return "";
}

std::string SetMailHeader(const std::string& text, const std::string& name, const std::string& value) {
  bool crlf = false;
  std::vector<std::string> lines = SplitLines(text, &crlf);
  size_t end = 0;
  while (end < lines.size() && !lines[end].empty()) ++end;
  for (size_t i = 0; i < end; ++i) {
    if (AsciiLower(lines[i].substr(0, name.size() + 1)) == AsciiLower(name) + ":") {
      size_t k = i + 1;
      while (k < end && (lines[k][0] == ' ' || lines[k][0] == '\t')) ++k;
      lines.erase(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(k));
      lines[i] = name + ": " + HeaderValue(value);
      return JoinLines(lines, crlf);
    }
  }
  lines.insert(lines.begin() + static_cast<long>(end), name + ": " + HeaderValue(value));
  return JoinLines(lines, crlf);
}

std::string OneLine(std::string text, size_t limit = 60) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  return text;
}

std::string Summarise(uint32_t type, const std::string& text) {
  switch (type) {
    case 2: return OneLine(GetProperty(text, "FN"));
    case 3: {
      std::string start = GetProperty(text, "DTSTART");
      return OneLine(GetProperty(text, "SUMMARY") + (start.empty() ? "" : "  (" + start + ")"));
    }
    case 1: {
      bool crlf = false;
      auto lines = SplitLines(text, &crlf);
      return lines.empty() ? "" : OneLine(lines.front());
    }
    default: return OneLine(MailHeader(text, "Subject") + "  (from " + MailHeader(text, "From") + ")");
  }
}

// The library's entry ID of the item named `stem`, as the bookkeeping files
// name it.
std::string EntryIdFor(uint32_t type, const std::string& stem) {
#ifndef _WIN32
  static const zelsync::local::FolderKind kKinds[] = {
      zelsync::local::FolderKind::kInbox, zelsync::local::FolderKind::kNotes,
      zelsync::local::FolderKind::kContacts, zelsync::local::FolderKind::kCalendar};
  if (type < 4) return zelsync::Utf16ToUtf8(zelsync::local::EntryIdOf(kKinds[type], stem));
#else
  (void)type;
#endif
  return stem;
}

std::string NowStamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

std::string MailDate() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[parts.tm_wday], parts.tm_mday,
                kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace

std::string GetProperty(const std::string& text, const std::string& name) {
  bool crlf = false;
  std::vector<std::string> lines = SplitLines(text, &crlf);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!IsProperty(lines[i], name)) continue;
    std::string value = lines[i].substr(lines[i].find(':') + 1);
    for (size_t k = i + 1; k < lines.size() && !lines[k].empty() && (lines[k][0] == ' ' || lines[k][0] == '\t'); ++k)
      value += lines[k].substr(1);
    return UnescapeText(value);
  }
  return "";
}

std::string SetProperty(const std::string& text, const std::string& name, const std::string& value) {
  bool crlf = true;
  std::vector<std::string> lines = SplitLines(text, &crlf);
  if (text.empty()) crlf = true;
  const std::string line = name + ":" + EscapeText(value);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!IsProperty(lines[i], name)) continue;
    size_t k = i + 1;
    while (k < lines.size() && !lines[k].empty() && (lines[k][0] == ' ' || lines[k][0] == '\t')) ++k;
    lines.erase(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(k));
    lines[i] = line;
    return JoinLines(lines, crlf);
  }
  // A new property goes into the event of a calendar, else before the
  // first component's end.
  size_t at = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (AsciiLower(lines[i]) == "end:vevent") {
      at = i;
      break;
    }
    if (at == lines.size() && AsciiLower(lines[i].substr(0, 4)) == "end:") at = i;
  }
  lines.insert(lines.begin() + static_cast<long>(at), line);
  return JoinLines(lines, crlf);
}

std::string MakeVCard(const ItemFields& fields) {
  const std::string name = fields.name.value_or("Unnamed");
  // N: family name last, given names first.
  std::string family = name, given;
  if (size_t space = name.rfind(' '); space != std::string::npos) {
    family = name.substr(space + 1);
    given = name.substr(0, space);
  }
  std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  out += "N:" + EscapeText(family) + ";" + EscapeText(given) + ";;;\r\n";
  out += "FN:" + EscapeText(name) + "\r\n";
  if (fields.phone) out += "TEL;TYPE=CELL:" + EscapeText(*fields.phone) + "\r\n";
  if (fields.email) out += "EMAIL;TYPE=INTERNET:" + EscapeText(*fields.email) + "\r\n";
  out += "UID:" + NewStem() + "\r\nEND:VCARD\r\n";
  return out;
}

std::string MakeVEvent(const ItemFields& fields) {
  std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//zelsync//command-line host//EN\r\n";
  out += "BEGIN:VEVENT\r\nUID:" + NewStem() + "@zelsync\r\nDTSTAMP:" + NowStamp() + "\r\n";
  const std::string start = fields.start.value_or(NowStamp().substr(0, 9) + "120000");
  out += "DTSTART:" + start + "\r\n";
  out += "DTEND:" + fields.end.value_or(start) + "\r\n";
  out += "SUMMARY:" + EscapeText(fields.summary.value_or("Untitled")) + "\r\n";
  if (fields.location) out += "LOCATION:" + EscapeText(*fields.location) + "\r\n";
  out += "END:VEVENT\r\nEND:VCALENDAR\r\n";
  return out;
}

std::string MakeMail(const ItemFields& fields, std::string* error) {
  std::string head = "From: " + HeaderValue(fields.from.value_or("Someone <someone@example.org>")) + "\r\n";
  head += "To: " + HeaderValue(fields.to.value_or("PC user <user@localhost>")) + "\r\n";
  head += "Subject: " + HeaderValue(fields.subject.value_or("(no subject)")) + "\r\n";
  head += "Date: " + MailDate() + "\r\nMessage-ID: <" + NewStem() + "@zelsync>\r\nMIME-Version: 1.0\r\n";
  std::string body = fields.text.value_or("");
  if (fields.attachments.empty()) {
    return head + "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body +
           "\r\n";
  }
  const std::string boundary = "zelsync-" + RandomHex(16);
  std::string out = head + "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  out += "--" + boundary + "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
         body + "\r\n";
  for (const fs::path& file : fields.attachments) {
    Bytes bytes;
    if (!ReadWholeFile(file, &bytes)) {
      *error = PathToUtf8(file) + ": cannot read the attachment";
      return "";
    }
    const std::string name = PathToUtf8(file.filename());
    out += "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" + name +
           "\"\r\n\r\n" + Base64(std::string(bytes.begin(), bytes.end()));
  }
  out += "--" + boundary + "--\r\n";
  return out;
}

bool LocalStore::Find(LocalStore* store, std::string* why) {
#ifdef _WIN32
  (void)store;
  *why = "the local item store belongs to the Linux build; on Windows the items live in Outlook";
  return false;
#else
  const char* explicit_root = std::getenv("ZELSYNC_STORE");
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string root;
  if (explicit_root && explicit_root[0]) {
    root = explicit_root;
  } else if (data && data[0] == '/') {
    root = std::string(data) + "/zelsync";
  } else if (home && home[0] == '/') {
    root = std::string(home) + "/.local/share/zelsync";
  } else {
    *why = "no store folder can be named: set ZELSYNC_STORE, XDG_DATA_HOME or HOME";
    return false;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  *store = LocalStore(root);
  return true;
#endif
}

fs::path LocalStore::Folder(uint32_t type) const {
  switch (type) {
    case 2: return root_ / "contacts";
    case 3: return root_ / "calendar";
    case 1: return root_ / "notes";
    default: return root_ / "mail" / "inbox";
  }
}

std::vector<StoreItem> LocalStore::List(uint32_t type) const {
  std::map<std::string, fs::path> by_id;
  const fs::path folder = Folder(type);
  std::vector<fs::path> dirs = IsMail(type) ? std::vector<fs::path>{folder / "cur", folder / "new"}
                                            : std::vector<fs::path>{folder};
  const std::string ext = Extension(type);
  for (const fs::path& dir : dirs) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      std::error_code type_ec;
      if (!entry.is_regular_file(type_ec)) continue;
      std::string name = PathToUtf8(entry.path().filename());
      if (name.empty() || name[0] == '.') continue;
      std::string id;
      if (IsMail(type)) {
        id = name.substr(0, name.find(':'));
      } else {
        if (name.size() <= ext.size() || name.compare(name.size() - ext.size(), ext.size(), ext) != 0) continue;
        id = name.substr(0, name.size() - ext.size());
      }
      if (!id.empty()) by_id.emplace(id, entry.path());
    }
  }
  std::vector<StoreItem> items;
  for (const auto& [stem, path] : by_id) {
    items.push_back({type, EntryIdFor(type, stem), path, Summarise(type, ReadText(path))});
  }
  return items;
}

std::optional<StoreItem> LocalStore::Get(uint32_t type, const std::string& id) const {
  // The entry ID, or the file name it carries after its kind's tag.
  for (StoreItem& item : List(type))
    if (item.id == id || item.id.substr(item.id.find('/') + 1) == id) return item;
  return std::nullopt;
}

bool LocalStore::Add(uint32_t type, const ItemFields& fields, const std::optional<fs::path>& file, std::string* id,
                     std::string* error) const {
  std::string text;
  if (file) {
    Bytes bytes;
    if (!ReadWholeFile(*file, &bytes)) {
      *error = PathToUtf8(*file) + ": cannot read the file";
      return false;
    }
    text.assign(bytes.begin(), bytes.end());
  } else {
    switch (type) {
      case 2: text = MakeVCard(fields); break;
      case 3: text = MakeVEvent(fields); break;
      case 1: text = fields.text.value_or(""); break;
      default: text = MakeMail(fields, error); if (text.empty()) return false; break;
    }
  }
  const fs::path folder = Folder(type);
  std::error_code ec;
  if (IsMail(type)) {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(folder / sub, ec);
    *id = NewMaildirStem();
    // Maildir delivery: written in tmp/, then moved into new/.
    const fs::path scratch = folder / "tmp" / PathFromUtf8(*id);
    if (!WriteText(scratch, text)) {
      *error = PathToUtf8(scratch) + ": cannot write the message";
      return false;
    }
    fs::rename(scratch, folder / "new" / PathFromUtf8(*id), ec);
    if (ec) {
      fs::remove(scratch, ec);
      *error = PathToUtf8(folder / "new") + ": cannot deliver the message";
      return false;
    }
    *id = EntryIdFor(type, *id);
    return true;
  }
  fs::create_directories(folder, ec);
  *id = NewStem();
  const fs::path target = folder / PathFromUtf8(*id + Extension(type));
  if (!WriteText(target, text)) {
    *error = PathToUtf8(target) + ": cannot write the item";
    return false;
  }
  *id = EntryIdFor(type, *id);
  return true;
}

bool LocalStore::Edit(uint32_t type, const std::string& id, const ItemFields& fields,
                      const std::optional<fs::path>& file, std::string* error) const {
  std::optional<StoreItem> item = Get(type, id);
  if (!item) {
    *error = "no " + std::string(TypeByCode(type).name) + " with the ID " + id + " in " + PathToUtf8(Folder(type));
    return false;
  }
  std::string text;
  if (file) {
    Bytes bytes;
    if (!ReadWholeFile(*file, &bytes)) {
      *error = PathToUtf8(*file) + ": cannot read the file";
      return false;
    }
    text.assign(bytes.begin(), bytes.end());
  } else {
    text = ReadText(item->path);
    switch (type) {
      case 2:
        if (fields.name) {
          text = SetProperty(text, "FN", *fields.name);
          std::string family = *fields.name, given;
          if (size_t space = fields.name->rfind(' '); space != std::string::npos) {
            family = fields.name->substr(space + 1);
            given = fields.name->substr(0, space);
          }
          // N is structured: its parts are joined unescaped by ';'.
          text = SetProperty(text, "N", "");
          bool crlf = false;
          auto lines = SplitLines(text, &crlf);
          for (std::string& line : lines)
            if (IsProperty(line, "N")) line = "N:" + EscapeText(family) + ";" + EscapeText(given) + ";;;";
          text = JoinLines(lines, crlf);
        }
        if (fields.phone) text = SetProperty(text, "TEL", *fields.phone);
        if (fields.email) text = SetProperty(text, "EMAIL", *fields.email);
        break;
      case 3:
        if (fields.summary) text = SetProperty(text, "SUMMARY", *fields.summary);
        if (fields.start) text = SetProperty(text, "DTSTART", *fields.start);
        if (fields.end) text = SetProperty(text, "DTEND", *fields.end);
        if (fields.location) text = SetProperty(text, "LOCATION", *fields.location);
        break;
      case 1:
        if (fields.text) text = *fields.text;
        break;
      default:
        if (fields.subject) text = SetMailHeader(text, "Subject", *fields.subject);
        break;
    }
  }
  if (!WriteText(item->path, text)) {
    *error = PathToUtf8(item->path) + ": cannot write the item";
    return false;
  }
  return true;
}

bool LocalStore::Delete(uint32_t type, const std::string& id, std::string* error) const {
  std::optional<StoreItem> item = Get(type, id);
  if (!item) {
    *error = "no " + std::string(TypeByCode(type).name) + " with the ID " + id + " in " + PathToUtf8(Folder(type));
    return false;
  }
  std::error_code ec;
  if (!fs::remove(item->path, ec)) {
    *error = PathToUtf8(item->path) + ": cannot delete the item (" + ec.message() + ")";
    return false;
  }
  return true;
}

}  // namespace zelsync_tool
