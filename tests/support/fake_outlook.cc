#include "support/fake_outlook.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>
#include <type_traits>
#include <utility>

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;

// Files the fake reads whole: vObjects and attachment sources.
constexpr size_t kMaxSharedItemBytes = 1 << 20;
constexpr size_t kMaxAttachmentBytes = 16 << 20;

enum class Kind { kMail, kNote, kContact, kAppointment, kOther };

struct Record {
  explicit Record(Kind k) : kind(k) {}
  Kind kind;
  int32_t folder = 0;  // 0: not filed (unsaved, or stale)
  bool stale = false;  // deleted, or moved away from
  MailData mail;
  NoteData note;
  ContactData contact;
  AppointmentData appointment;
  OtherData other;

  OptString& entry_id() {
    switch (kind) {
      case Kind::kMail:
        return mail.entry_id;
      case Kind::kNote:
        return note.entry_id;
      case Kind::kContact:
        return contact.entry_id;
      case Kind::kAppointment:
        return appointment.entry_id;
      case Kind::kOther:
        break;
    }
    return other.entry_id;
  }
};
using RecordPtr = std::shared_ptr<Record>;

bool Matches(const std::string& pattern, const std::string& op) {
  if (pattern.size() > 2 && pattern[0] == '*' && pattern[1] == '.') {
    const std::string suffix = pattern.substr(1);
    return op.size() > suffix.size() &&
           op.compare(op.size() - suffix.size(), suffix.size(), suffix) == 0;
  }
  return pattern == op;
}

std::string Text(const WString& s) { return Utf16ToUtf8(s); }
std::string Text(int32_t v) { return std::to_string(v); }

int32_t HomeFolder(Kind kind) {
  switch (kind) {
    case Kind::kMail:
      return kFolderDrafts;
    case Kind::kNote:
      return outlook::kFolderNotes;
    case Kind::kContact:
      return outlook::kFolderContacts;
    case Kind::kAppointment:
      return outlook::kFolderCalendar;
    case Kind::kOther:
      break;
  }
  return outlook::kFolderInbox;
}

bool IsDefaultFolder(int32_t folder) {
  return folder == outlook::kFolderInbox || folder == outlook::kFolderCalendar ||
         folder == outlook::kFolderContacts || folder == outlook::kFolderNotes ||
         folder == kFolderDrafts;
}

// ---- files through the platform layer ----

bool ReadWholeFile(const WString& path, size_t limit, std::string* out) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  std::string data;
  char chunk[4096];
  for (;;) {
    const size_t n = file->Read(chunk, sizeof chunk);
    if (data.size() + n > limit) return false;
    data.append(chunk, n);
    if (n < sizeof chunk) break;
  }
  *out = std::move(data);
  return true;
}

bool WriteWholeFile(const WString& path, const std::string& data) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  return file->Write(data.data(), data.size()) == data.size();
}

// ---- vCard and vCalendar, written and read back ----

// Text values: backslash, line breaks, ';' and ',' escaped with a backslash.
std::string EscapeValue(const WString& value) {
  std::string out;
  for (char c : Utf16ToUtf8(value)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case ';':
        out += "\\;";
        break;
      case ',':
        out += "\\,";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char c = value[++i];
    out += c == 'n' || c == 'N' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '=' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
        HexDigit(value[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Property {
  std::string name;    // upper case
  std::string params;  // upper case, ";"-separated, without the leading ';'
  std::string value;   // decoded and unescaped
};

// Splits a vObject into properties: unfolds continuation lines (leading
// space or tab) and quoted-printable soft line breaks.
std::vector<Property> ParseVObject(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  bool soft_break = false;
  for (std::string raw; std::getline(in, raw);) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (soft_break || (!lines.empty() && !raw.empty() && (raw[0] == ' ' || raw[0] == '\t'))) {
      if (!soft_break) raw.erase(0, 1);
      lines.back() += raw;
    } else {
      lines.push_back(raw);
    }
    const std::string& last = lines.back();
    const size_t colon = last.find(':');
    soft_break = colon != std::string::npos && !last.empty() && last.back() == '=' &&
                 Upper(last.substr(0, colon)).find("QUOTED-PRINTABLE") != std::string::npos;
    if (soft_break) lines.back().pop_back();
  }
  std::vector<Property> props;
  for (const std::string& l : lines) {
    const size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    const std::string head = Upper(l.substr(0, colon));
    Property p;
    const size_t semi = head.find(';');
    p.name = head.substr(0, semi);
    p.params = semi == std::string::npos ? "" : head.substr(semi + 1);
    p.value = l.substr(colon + 1);
    if (p.params.find("QUOTED-PRINTABLE") != std::string::npos)
      p.value = DecodeQuotedPrintable(p.value);
    else
      p.value = UnescapeValue(p.value);
    props.push_back(std::move(p));
  }
  return props;
}

// The first property `name` (with this value, in any letter case, when
// `value` is given).
const Property* FindProperty(const std::vector<Property>& props, const std::string& name,
                             const std::string& value = "") {
  for (const Property& p : props)
    if (p.name == name && (value.empty() || Upper(p.value) == value)) return &p;
  return nullptr;
}

// OLE Automation dates <-> "YYYYMMDD" / "YYYYMMDDTHHMMSS".
constexpr int64_t kOleDayOfUnixEpoch = 25569;  // 1970-01-01

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp + (mp < 10 ? 3 : -9);
  *y = yoe + era * 400 + (*m <= 2);
}

std::string FormatDate(double ole, bool date_only) {
  const double clamped = std::min(std::max(ole, -600000.0), 3000000.0);
  int64_t days = static_cast<int64_t>(std::floor(clamped));
  int64_t seconds = std::llround((clamped - std::floor(clamped)) * 86400.0);
  if (seconds >= 86400) {
    ++days;
    seconds -= 86400;
  }
  int64_t y, m, d;
  CivilFromDays(days - kOleDayOfUnixEpoch, &y, &m, &d);
  char buf[32];
  if (date_only) {
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d));
  } else {
    std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", static_cast<int>(y),
                  static_cast<int>(m), static_cast<int>(d), static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  }
  return buf;
}

// Parses a date or date-time; *date_only tells which it was.
bool ParseDate(const std::string& text, double* ole, bool* date_only) {
  auto digits = [&](size_t pos, size_t n, int* out) {
    if (pos + n > text.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (!digits(0, 4, &y) || !digits(4, 2, &mo) || !digits(6, 2, &d)) return false;
  *date_only = text.size() == 8;
  if (!*date_only) {
    if (text.size() < 15 || text[8] != 'T' || !digits(9, 2, &h) || !digits(11, 2, &mi) ||
        !digits(13, 2, &s))
      return false;
  }
  *ole = static_cast<double>(DaysFromCivil(y, mo, d) + kOleDayOfUnixEpoch) +
         (h * 3600 + mi * 60 + s) / 86400.0;
  return true;
}

std::string VCard(const ContactData& c) {
  std::string out = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  std::string family, given;
  if (c.full_name) {
    const size_t space = c.full_name->rfind(u' ');
    if (space == WString::npos) {
      family = EscapeValue(*c.full_name);
    } else {
      family = EscapeValue(c.full_name->substr(space + 1));
      given = EscapeValue(c.full_name->substr(0, space));
    }
  }
  out += "N:" + family + ";" + given + "\r\n";
  if (c.full_name) out += "FN:" + EscapeValue(*c.full_name) + "\r\n";
  return out + "END:VCARD\r\n";
}

std::string VCalendar(const AppointmentData& a, const OptString& uid, bool icalendar) {
  std::string out = "BEGIN:VCALENDAR\r\n";
  out += icalendar ? "PRODID:-//zelsync//test store//EN\r\nVERSION:2.0\r\n" : "VERSION:1.0\r\n";
  out += "BEGIN:VEVENT\r\n";
  if (icalendar) {
    out += "UID:" + EscapeValue(uid.value_or(u"unsaved")) + "\r\n";
    out += "DTSTAMP:" + FormatDate(a.start, false) + "Z\r\n";
  }
  if (a.subject) out += "SUMMARY:" + EscapeValue(*a.subject) + "\r\n";
  const std::string date_param = a.all_day && icalendar ? ";VALUE=DATE" : "";
  out += "DTSTART" + date_param + ":" + FormatDate(a.start, a.all_day) + "\r\n";
  out += "DTEND" + date_param + ":" + FormatDate(a.end, a.all_day) + "\r\n";
  return out + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

bool ParseContact(const std::string& text, ContactData* contact) {
  const std::vector<Property> props = ParseVObject(text);
  if (!FindProperty(props, "BEGIN", "VCARD") || !FindProperty(props, "END", "VCARD")) return false;
  if (const Property* fn = FindProperty(props, "FN")) {
    contact->full_name = Utf8ToUtf16(fn->value);
  } else if (const Property* n = FindProperty(props, "N")) {
    // "family;given;..." -> "given family"
    const std::string& v = n->value;
    const size_t semi = v.find(';');
    std::string family = v.substr(0, semi), given;
    if (semi != std::string::npos) given = v.substr(semi + 1, v.find(';', semi + 1) - semi - 1);
    std::string full = given.empty() ? family : family.empty() ? given : given + " " + family;
    if (!full.empty()) contact->full_name = Utf8ToUtf16(full);
  }
  return true;
}

bool ParseAppointment(const std::string& text, AppointmentData* appointment) {
  const std::vector<Property> props = ParseVObject(text);
  if (!FindProperty(props, "BEGIN", "VCALENDAR") || !FindProperty(props, "BEGIN", "VEVENT") ||
      !FindProperty(props, "END", "VEVENT"))
    return false;
  // Only the first event's properties.
  bool in_event = false;
  bool have_start = false;
  for (const Property& p : props) {
    if (p.name == "BEGIN" && Upper(p.value) == "VEVENT") in_event = true;
    if (!in_event) continue;
    if (p.name == "END" && Upper(p.value) == "VEVENT") break;
    bool date_only = false;
    double date = 0;
    if (p.name == "SUMMARY") {
      appointment->subject = Utf8ToUtf16(p.value);
    } else if (p.name == "DTSTART" && ParseDate(p.value, &date, &date_only)) {
      appointment->start = date;
      appointment->end = date_only ? date + 1 : date;
      appointment->all_day = date_only;
      have_start = true;
    } else if (p.name == "DTEND" && ParseDate(p.value, &date, &date_only)) {
      appointment->end = date;
    }
  }
  return have_start;
}

WString LowerExtension(const WString& path) {
  const size_t dot = path.rfind(u'.');
  const size_t sep = path.find_last_of(u"/\\");
  if (dot == WString::npos || (sep != WString::npos && sep > dot)) return WString();
  WString ext = path.substr(dot);
  for (char16_t& c : ext)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return ext;
}

}  // namespace

// ---- the shared state ----

struct FakeOutlook::State {
  enum class Outcome { kRun, kFail, kNull };
  struct Rule {
    std::string pattern;
    FailWhen when;
    Outcome outcome;
    std::optional<ConnectResult> connect;
    int seen = 0;
  };

  std::map<int32_t, std::vector<RecordPtr>> folders;
  bool window = true;
  uint32_t next_id = 1;
  std::vector<Call> calls;
  std::vector<Rule> rules;
  std::map<std::string, int> live;

  // Records a call and decides its fate; *index is its place in `calls`.
  Outcome Enter(std::string op, std::vector<std::string> args, Record* item, size_t* index,
                std::optional<ConnectResult>* connect = nullptr) {
    Call call;
    call.op = std::move(op);
    call.args = std::move(args);
    if (item) call.entry_id = item->entry_id();
    Outcome outcome = Outcome::kRun;
    for (Rule& rule : rules) {
      if (!Matches(rule.pattern, call.op)) continue;
      ++rule.seen;
      if (outcome == Outcome::kRun && rule.when(call, rule.seen)) {
        outcome = rule.outcome;
        if (connect) *connect = rule.connect;
      }
    }
    call.injected = outcome != Outcome::kRun;
    call.ok = outcome == Outcome::kNull;
    calls.push_back(std::move(call));
    *index = calls.size() - 1;
    return outcome;
  }
  bool Done(size_t index, bool ok) {
    calls[index].ok = ok;
    return ok;
  }

  bool IdInUse(const WString& id) const {
    for (const auto& folder : folders)
      for (const RecordPtr& r : folder.second)
        if (r->entry_id() == id) return true;
    return false;
  }
  WString NewEntryId() {
    for (;;) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "00000000A1B2C3D4E5F60718293A4B5C%08X", next_id++);
      WString id = Utf8ToUtf16(buf);
      if (!IdInUse(id)) return id;
    }
  }
  RecordPtr Find(const WString& id, Kind kind) const {
    for (const auto& folder : folders)
      for (const RecordPtr& r : folder.second)
        if (r->kind == kind && r->entry_id() == id) return r;
    return nullptr;
  }
  void Unfile(const RecordPtr& r) {
    if (r->folder == 0) return;
    auto& items = folders[r->folder];
    items.erase(std::remove(items.begin(), items.end(), r), items.end());
    r->folder = 0;
  }
  void File(const RecordPtr& r, int32_t folder) {
    r->folder = folder;
    folders[folder].push_back(r);
  }
  WString Add(int32_t folder, RecordPtr r) {
    if (!r->entry_id()) r->entry_id() = NewEntryId();
    File(r, folder);
    return *r->entry_id();
  }
};

namespace {

using State = FakeOutlook::State;
using StatePtr = std::shared_ptr<State>;
using Outcome = State::Outcome;

// Counts itself among the live objects while it exists.
class Tracked {
 public:
  Tracked(StatePtr state, const char* name) : state_(std::move(state)), name_(name) {
    ++state_->live[name_];
  }
  ~Tracked() { --state_->live[name_]; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

 protected:
  State& state() const { return *state_; }
  const StatePtr& state_ptr() const { return state_; }
  std::string Op(const char* method) const { return std::string(name_) + "." + method; }

 private:
  StatePtr state_;
  const char* name_;
};

std::shared_ptr<outlook::Item> MakeItem(const StatePtr& state, RecordPtr record);
std::shared_ptr<outlook::MailItem> MakeMail(const StatePtr& state, RecordPtr record);
std::shared_ptr<outlook::NoteItem> MakeNote(const StatePtr& state, RecordPtr record);
std::shared_ptr<outlook::ContactItem> MakeContact(const StatePtr& state, RecordPtr record);
std::shared_ptr<outlook::AppointmentItem> MakeAppointment(const StatePtr& state, RecordPtr record);

// What every item class shares: property access with recording and rules,
// EntryID, Save and Delete.
template <class Interface>
class ItemObject : public Interface, protected Tracked {
 public:
  ItemObject(StatePtr state, RecordPtr record, const char* name)
      : Tracked(std::move(state), name), record_(std::move(record)) {}

  Record& record() const { return *record_; }
  const RecordPtr& record_ptr() const { return record_; }

  bool EntryID(OptString* entry_id) override {
    return Get("EntryID", record_->entry_id(), entry_id);
  }

  bool Save() override {
    size_t call;
    if (state().Enter(Op("Save"), {}, record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    if (record_->stale) return state().Done(call, false);
    if (record_->folder == 0) {
      record_->entry_id() = state().NewEntryId();
      state().File(record_, HomeFolder(record_->kind));
    }
    state().calls[call].new_entry_id = record_->entry_id();
    return state().Done(call, true);
  }

  bool Delete() override {
    size_t call;
    if (state().Enter(Op("Delete"), {}, record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    if (record_->stale) return state().Done(call, false);
    state().Unfile(record_);
    record_->stale = true;
    return state().Done(call, true);
  }

 protected:
  // A getter: a rule's null gives a null string (other values stay).
  template <typename T>
  bool Get(const char* method, const T& field, T* out) {
    size_t call;
    switch (state().Enter(Op(method), {}, record_.get(), &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        if constexpr (std::is_same_v<T, OptString>) *out = std::nullopt;
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    *out = field;
    return state().Done(call, true);
  }
  template <typename T>
  bool Put(const char* method, T* field, const T& value, std::string arg) {
    size_t call;
    if (state().Enter(Op(method), {std::move(arg)}, record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    *field = value;
    return state().Done(call, true);
  }
  bool PutText(const char* method, OptString* field, const WString& value) {
    return Put<OptString>(method, field, value, Text(value));
  }

 private:
  RecordPtr record_;
};

class FakeAttachment : public outlook::Attachment, private Tracked {
 public:
  FakeAttachment(StatePtr state, RecordPtr record, size_t index)
      : Tracked(std::move(state), "Attachment"), record_(std::move(record)), index_(index) {}

  bool FileName(OptString* name) override {
    size_t call;
    switch (state().Enter(Op("FileName"), {}, record_.get(), &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        *name = std::nullopt;
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    *name = data().file_name;
    return state().Done(call, true);
  }

  bool SaveAsFile(const WString& path) override {
    size_t call;
    if (state().Enter(Op("SaveAsFile"), {Text(path)}, record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    return state().Done(call, WriteWholeFile(path, data().bytes));
  }

 private:
  const AttachmentData& data() const { return record_->mail.attachments[index_]; }
  RecordPtr record_;
  size_t index_;
};

class FakeAttachments : public outlook::Attachments, private Tracked {
 public:
  FakeAttachments(StatePtr state, RecordPtr record)
      : Tracked(std::move(state), "Attachments"), record_(std::move(record)) {}

  bool Count(int32_t* count) override {
    size_t call;
    if (state().Enter(Op("Count"), {}, record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    *count = static_cast<int32_t>(record_->mail.attachments.size());
    return state().Done(call, true);
  }

  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* attachment) override {
    size_t call;
    switch (state().Enter(Op("Item"), {Text(index)}, record_.get(), &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        attachment->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    if (index < 1 || static_cast<size_t>(index) > record_->mail.attachments.size())
      return state().Done(call, false);
    *attachment =
        std::make_shared<FakeAttachment>(state_ptr(), record_, static_cast<size_t>(index - 1));
    return state().Done(call, true);
  }

  bool Add(const WString& source, int32_t type, int32_t position,
           const WString& display_name) override {
    size_t call;
    if (state().Enter(Op("Add"), {Text(source), Text(type), Text(position), Text(display_name)},
                      record_.get(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    AttachmentData data;
    if (type != outlook::kAttachByValue || !ReadWholeFile(source, kMaxAttachmentBytes, &data.bytes))
      return state().Done(call, false);
    const size_t sep = source.find_last_of(u"/\\");
    data.file_name = sep == WString::npos ? source : source.substr(sep + 1);
    data.display_name = display_name;
    data.position = position;
    record_->mail.attachments.push_back(std::move(data));
    return state().Done(call, true);
  }

 private:
  RecordPtr record_;
};

class FakeFolder : public outlook::Folder, private Tracked {
 public:
  FakeFolder(StatePtr state, int32_t id) : Tracked(std::move(state), "Folder"), id_(id) {}
  int32_t id() const { return id_; }
  bool GetItems(std::shared_ptr<outlook::Items>* items) override;

 private:
  int32_t id_;
};

class FakeMailItem : public ItemObject<outlook::MailItem> {
 public:
  FakeMailItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "MailItem") {}

  bool SenderName(OptString* v) override { return Get("SenderName", mail().sender_name, v); }
  bool SentOnBehalfOfName(OptString* v) override {
    return Get("SentOnBehalfOfName", mail().sent_on_behalf_of_name, v);
  }
  bool PutSentOnBehalfOfName(const WString& v) override {
    return PutText("PutSentOnBehalfOfName", &mail().sent_on_behalf_of_name, v);
  }
  bool To(OptString* v) override { return Get("To", mail().to, v); }
  bool PutTo(const WString& v) override { return PutText("PutTo", &mail().to, v); }
  bool CC(OptString* v) override { return Get("CC", mail().cc, v); }
  bool PutCC(const WString& v) override { return PutText("PutCC", &mail().cc, v); }
  bool Subject(OptString* v) override { return Get("Subject", mail().subject, v); }
  bool PutSubject(const WString& v) override { return PutText("PutSubject", &mail().subject, v); }
  bool SentOn(double* v) override { return Get("SentOn", mail().sent_on, v); }
  bool Importance(int32_t* v) override { return Get("Importance", mail().importance, v); }
  bool PutImportance(int32_t v) override {
    return Put("PutImportance", &mail().importance, v, Text(v));
  }
  bool HTMLBody(OptString* v) override { return Get("HTMLBody", mail().html_body, v); }
  bool PutHTMLBody(const WString& v) override {
    return PutText("PutHTMLBody", &mail().html_body, v);
  }
  bool UnRead(bool* v) override { return Get("UnRead", mail().unread, v); }
  bool PutUnRead(bool v) override { return Put("PutUnRead", &mail().unread, v, v ? "1" : "0"); }
  bool PutBodyFormat(int32_t f) override {
    return Put("PutBodyFormat", &mail().body_format, f, Text(f));
  }

  bool GetAttachments(std::shared_ptr<outlook::Attachments>* attachments) override {
    size_t call;
    switch (state().Enter(Op("GetAttachments"), {}, &record(), &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        attachments->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    *attachments = std::make_shared<FakeAttachments>(state_ptr(), record_ptr());
    return state().Done(call, true);
  }

  bool Move(const std::shared_ptr<outlook::Folder>& folder,
            std::shared_ptr<outlook::MailItem>* moved) override {
    auto* target = dynamic_cast<FakeFolder*>(folder.get());
    size_t call;
    switch (state().Enter(Op("Move"), {target ? Text(target->id()) : "?"}, &record(), &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        moved->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    if (!target || record().stale) return state().Done(call, false);
    // The mail in its new place is a new item with a new entry ID; the
    // object moved from goes stale.
    auto copy = std::make_shared<Record>(record());
    copy->folder = 0;
    copy->entry_id() = state().NewEntryId();
    state().Unfile(record_ptr());
    record().stale = true;
    state().File(copy, target->id());
    state().calls[call].new_entry_id = copy->entry_id();
    *moved = MakeMail(state_ptr(), copy);
    return state().Done(call, true);
  }

 private:
  MailData& mail() const { return record().mail; }
};

class FakeNoteItem : public ItemObject<outlook::NoteItem> {
 public:
  FakeNoteItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "NoteItem") {}
  bool Body(OptString* v) override { return Get("Body", record().note.body, v); }
  bool PutBody(const WString& v) override { return PutText("PutBody", &record().note.body, v); }
};

class FakeContactItem : public ItemObject<outlook::ContactItem> {
 public:
  FakeContactItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "ContactItem") {}
  bool FullName(OptString* v) override { return Get("FullName", record().contact.full_name, v); }
  bool SaveAs(const WString& path, int32_t type) override {
    size_t call;
    if (state().Enter(Op("SaveAs"), {Text(path), Text(type)}, &record(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    if (type != outlook::kSaveAsVCard) return state().Done(call, false);
    return state().Done(call, WriteWholeFile(path, VCard(record().contact)));
  }
};

class FakeAppointmentItem : public ItemObject<outlook::AppointmentItem> {
 public:
  FakeAppointmentItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "AppointmentItem") {}
  bool Subject(OptString* v) override { return Get("Subject", record().appointment.subject, v); }
  bool PutAllDayEvent(bool v) override {
    return Put("PutAllDayEvent", &record().appointment.all_day, v, v ? "1" : "0");
  }
  bool SaveAs(const WString& path, int32_t type) override {
    size_t call;
    if (state().Enter(Op("SaveAs"), {Text(path), Text(type)}, &record(), &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    if (type != outlook::kSaveAsVCalendar && type != outlook::kSaveAsICalendar)
      return state().Done(call, false);
    const std::string text =
        VCalendar(record().appointment, record().entry_id(), type == outlook::kSaveAsICalendar);
    return state().Done(call, WriteWholeFile(path, text));
  }
};

class FakeItem : public outlook::Item, private Tracked {
 public:
  FakeItem(StatePtr state, RecordPtr record)
      : Tracked(std::move(state), "Item"), record_(std::move(record)) {}

  std::shared_ptr<outlook::MailItem> QueryMail() override {
    return Query("QueryMail", Kind::kMail, [this] { return MakeMail(state_ptr(), record_); });
  }
  std::shared_ptr<outlook::NoteItem> QueryNote() override {
    return Query("QueryNote", Kind::kNote, [this] { return MakeNote(state_ptr(), record_); });
  }
  std::shared_ptr<outlook::ContactItem> QueryContact() override {
    return Query("QueryContact", Kind::kContact,
                 [this] { return MakeContact(state_ptr(), record_); });
  }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override {
    return Query("QueryAppointment", Kind::kAppointment,
                 [this] { return MakeAppointment(state_ptr(), record_); });
  }

 private:
  template <typename Make>
  auto Query(const char* method, Kind kind, Make make) -> decltype(make()) {
    size_t call;
    if (state().Enter(Op(method), {}, record_.get(), &call) != Outcome::kRun ||
        record_->kind != kind) {
      state().Done(call, false);
      return nullptr;
    }
    state().Done(call, true);
    return make();
  }
  RecordPtr record_;
};

class FakeItems : public outlook::Items, private Tracked {
 public:
  FakeItems(StatePtr state, int32_t folder) : Tracked(std::move(state), "Items"), folder_(folder) {}

  bool Count(int32_t* count) override {
    size_t call;
    if (state().Enter(Op("Count"), {}, nullptr, &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    *count = static_cast<int32_t>(state().folders[folder_].size());
    return state().Done(call, true);
  }

  bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) override {
    size_t call;
    switch (state().Enter(Op("Item"), {Text(index)}, nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        item->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    const auto& items = state().folders[folder_];
    if (index < 1 || static_cast<size_t>(index) > items.size()) return state().Done(call, false);
    state().calls[call].entry_id = items[static_cast<size_t>(index - 1)]->entry_id();
    *item = MakeItem(state_ptr(), items[static_cast<size_t>(index - 1)]);
    return state().Done(call, true);
  }

 private:
  int32_t folder_;
};

bool FakeFolder::GetItems(std::shared_ptr<outlook::Items>* items) {
  size_t call;
  switch (state().Enter(Op("GetItems"), {Text(id_)}, nullptr, &call)) {
    case Outcome::kFail:
      return state().Done(call, false);
    case Outcome::kNull:
      items->reset();
      return state().Done(call, true);
    case Outcome::kRun:
      break;
  }
  *items = std::make_shared<FakeItems>(state_ptr(), id_);
  return state().Done(call, true);
}

class FakeNamespace : public outlook::Namespace, private Tracked {
 public:
  explicit FakeNamespace(StatePtr state) : Tracked(std::move(state), "Namespace") {}

  bool GetDefaultFolder(int32_t folder, std::shared_ptr<outlook::Folder>* result) override {
    size_t call;
    switch (state().Enter(Op("GetDefaultFolder"), {Text(folder)}, nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        result->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    if (!IsDefaultFolder(folder)) return state().Done(call, false);
    *result = std::make_shared<FakeFolder>(state_ptr(), folder);
    return state().Done(call, true);
  }

  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) override {
    size_t call;
    switch (state().Enter(Op("OpenSharedItem"), {Text(path)}, nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        item->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    const WString ext = LowerExtension(path);
    std::string text;
    if (!ReadWholeFile(path, kMaxSharedItemBytes, &text)) return state().Done(call, false);
    RecordPtr record;
    if (ext == u".vcf") {
      record = std::make_shared<Record>(Kind::kContact);
      if (!ParseContact(text, &record->contact)) return state().Done(call, false);
    } else if (ext == u".vcs" || ext == u".ics") {
      record = std::make_shared<Record>(Kind::kAppointment);
      if (!ParseAppointment(text, &record->appointment)) return state().Done(call, false);
    } else {
      return state().Done(call, false);
    }
    *item = MakeItem(state_ptr(), record);
    return state().Done(call, true);
  }

  bool Logoff() override {
    size_t call;
    if (state().Enter(Op("Logoff"), {}, nullptr, &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    return state().Done(call, true);
  }
};

class FakeApplication : public outlook::Application, private Tracked {
 public:
  explicit FakeApplication(StatePtr state) : Tracked(std::move(state), "Application") {}

  bool ActiveExplorer(bool* present) override {
    size_t call;
    switch (state().Enter(Op("ActiveExplorer"), {}, nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        *present = false;
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    *present = state().window;
    return state().Done(call, true);
  }

  bool Session(std::shared_ptr<outlook::Namespace>* result) override {
    return NewNamespace("Session", {}, true, result);
  }
  bool GetNamespace(const WString& type, std::shared_ptr<outlook::Namespace>* result) override {
    return NewNamespace("GetNamespace", {Text(type)}, type == u"MAPI", result);
  }

  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) override {
    size_t call;
    switch (state().Enter(Op("CreateItem"), {Text(type)}, nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        item->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    if (type != outlook::kMailItem && type != outlook::kNoteItem) return state().Done(call, false);
    *item =
        MakeItem(state_ptr(),
                 std::make_shared<Record>(type == outlook::kMailItem ? Kind::kMail : Kind::kNote));
    return state().Done(call, true);
  }

  bool Quit() override {
    size_t call;
    if (state().Enter(Op("Quit"), {}, nullptr, &call) != Outcome::kRun)
      return state().Done(call, state().calls[call].ok);
    return state().Done(call, true);
  }

 private:
  bool NewNamespace(const char* method, std::vector<std::string> args, bool valid,
                    std::shared_ptr<outlook::Namespace>* result) {
    size_t call;
    switch (state().Enter(Op(method), std::move(args), nullptr, &call)) {
      case Outcome::kFail:
        return state().Done(call, false);
      case Outcome::kNull:
        result->reset();
        return state().Done(call, true);
      case Outcome::kRun:
        break;
    }
    if (!valid) return state().Done(call, false);
    *result = std::make_shared<FakeNamespace>(state_ptr());
    return state().Done(call, true);
  }
};

std::shared_ptr<outlook::Item> MakeItem(const StatePtr& state, RecordPtr record) {
  return std::make_shared<FakeItem>(state, std::move(record));
}
std::shared_ptr<outlook::MailItem> MakeMail(const StatePtr& state, RecordPtr record) {
  return std::make_shared<FakeMailItem>(state, std::move(record));
}
std::shared_ptr<outlook::NoteItem> MakeNote(const StatePtr& state, RecordPtr record) {
  return std::make_shared<FakeNoteItem>(state, std::move(record));
}
std::shared_ptr<outlook::ContactItem> MakeContact(const StatePtr& state, RecordPtr record) {
  return std::make_shared<FakeContactItem>(state, std::move(record));
}
std::shared_ptr<outlook::AppointmentItem> MakeAppointment(const StatePtr& state, RecordPtr record) {
  return std::make_shared<FakeAppointmentItem>(state, std::move(record));
}

template <class Object>
Record* RecordOf(outlook::ItemBase& item) {
  auto* object = dynamic_cast<Object*>(&item);
  return object ? &object->record() : nullptr;
}

}  // namespace

// ---- conditions ----

FailWhen Always() {
  return [](const Call&, int) { return true; };
}
FailWhen OnCall(int nth) {
  return [nth](const Call&, int n) { return n == nth; };
}
FailWhen FromCall(int nth) {
  return [nth](const Call&, int n) { return n >= nth; };
}
FailWhen WithArgs(std::vector<std::string> args) {
  return [args = std::move(args)](const Call& call, int) { return call.args == args; };
}
FailWhen WithArg(size_t index, std::string value) {
  return [index, value = std::move(value)](const Call& call, int) {
    return index < call.args.size() && call.args[index] == value;
  };
}
FailWhen OnItem(WString entry_id) {
  return [id = std::move(entry_id)](const Call& call, int) { return call.entry_id == id; };
}

// ---- FakeOutlook ----

FakeOutlook::FakeOutlook() : state_(std::make_shared<State>()) {
  const int32_t folders[] = {outlook::kFolderInbox, outlook::kFolderCalendar,
                             outlook::kFolderContacts, outlook::kFolderNotes, kFolderDrafts};
  for (int32_t folder : folders) state_->folders[folder];
}
FakeOutlook::~FakeOutlook() = default;

ConnectResult FakeOutlook::Connect(std::shared_ptr<outlook::Application>* application) {
  size_t call;
  std::optional<ConnectResult> forced;
  switch (state_->Enter("Connect", {}, nullptr, &call, &forced)) {
    case Outcome::kFail: {
      const ConnectResult result = forced.value_or(ConnectResult::kCreationFailed);
      state_->Done(call, result == ConnectResult::kOk);
      if (result == ConnectResult::kOk) *application = std::make_shared<FakeApplication>(state_);
      return result;
    }
    case Outcome::kNull:
      application->reset();
      state_->Done(call, false);
      return ConnectResult::kNoObject;
    case Outcome::kRun:
      break;
  }
  *application = std::make_shared<FakeApplication>(state_);
  state_->Done(call, true);
  return ConnectResult::kOk;
}

WString FakeOutlook::AddMail(int32_t folder, MailData data) {
  auto r = std::make_shared<Record>(Kind::kMail);
  r->mail = std::move(data);
  return state_->Add(folder, r);
}
WString FakeOutlook::AddNote(int32_t folder, NoteData data) {
  auto r = std::make_shared<Record>(Kind::kNote);
  r->note = std::move(data);
  return state_->Add(folder, r);
}
WString FakeOutlook::AddContact(int32_t folder, ContactData data) {
  auto r = std::make_shared<Record>(Kind::kContact);
  r->contact = std::move(data);
  return state_->Add(folder, r);
}
WString FakeOutlook::AddAppointment(int32_t folder, AppointmentData data) {
  auto r = std::make_shared<Record>(Kind::kAppointment);
  r->appointment = std::move(data);
  return state_->Add(folder, r);
}
WString FakeOutlook::AddOther(int32_t folder, OtherData data) {
  auto r = std::make_shared<Record>(Kind::kOther);
  r->other = std::move(data);
  return state_->Add(folder, r);
}

void FakeOutlook::SetWindow(bool open) { state_->window = open; }

void FakeOutlook::FailOn(std::string pattern, FailWhen when) {
  state_->rules.push_back({std::move(pattern), std::move(when), Outcome::kFail, std::nullopt});
}
void FakeOutlook::FailOn(std::string pattern, ConnectResult result, FailWhen when) {
  state_->rules.push_back({std::move(pattern), std::move(when), Outcome::kFail, result});
}
void FakeOutlook::NullOn(std::string pattern, FailWhen when) {
  state_->rules.push_back({std::move(pattern), std::move(when), Outcome::kNull, std::nullopt});
}
void FakeOutlook::ClearFailures() { state_->rules.clear(); }

const std::vector<Call>& FakeOutlook::calls() const { return state_->calls; }
std::vector<Call> FakeOutlook::Calls(const std::string& pattern) const {
  std::vector<Call> out;
  for (const Call& c : state_->calls)
    if (Matches(pattern, c.op)) out.push_back(c);
  return out;
}
int FakeOutlook::Count(const std::string& pattern) const {
  return static_cast<int>(Calls(pattern).size());
}
int FakeOutlook::Count(const std::string& pattern, const std::vector<std::string>& args) const {
  int n = 0;
  for (const Call& c : state_->calls) n += Matches(pattern, c.op) && c.args == args;
  return n;
}
void FakeOutlook::ClearCalls() { state_->calls.clear(); }

int FakeOutlook::live_objects() const {
  int n = 0;
  for (const auto& entry : state_->live) n += entry.second;
  return n;
}
std::string FakeOutlook::DescribeLiveObjects() const {
  std::string out;
  for (const auto& entry : state_->live) {
    if (entry.second == 0) continue;
    if (!out.empty()) out += ", ";
    out += entry.first + " " + std::to_string(entry.second);
  }
  return out.empty() ? "none" : out;
}

std::vector<WString> FakeOutlook::EntryIds(int32_t folder) const {
  std::vector<WString> ids;
  auto it = state_->folders.find(folder);
  if (it == state_->folders.end()) return ids;
  for (const RecordPtr& r : it->second) ids.push_back(r->entry_id().value_or(WString()));
  return ids;
}
int32_t FakeOutlook::FolderOf(const WString& entry_id) const {
  for (const auto& folder : state_->folders)
    for (const RecordPtr& r : folder.second)
      if (r->entry_id() == entry_id) return folder.first;
  return 0;
}

MailData* FakeOutlook::FindMail(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kMail);
  return r ? &r->mail : nullptr;
}
NoteData* FakeOutlook::FindNote(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kNote);
  return r ? &r->note : nullptr;
}
ContactData* FakeOutlook::FindContact(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kContact);
  return r ? &r->contact : nullptr;
}
AppointmentData* FakeOutlook::FindAppointment(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kAppointment);
  return r ? &r->appointment : nullptr;
}

MailData* FakeOutlook::DataOf(outlook::MailItem& item) {
  Record* r = RecordOf<FakeMailItem>(item);
  return r ? &r->mail : nullptr;
}
NoteData* FakeOutlook::DataOf(outlook::NoteItem& item) {
  Record* r = RecordOf<FakeNoteItem>(item);
  return r ? &r->note : nullptr;
}
ContactData* FakeOutlook::DataOf(outlook::ContactItem& item) {
  Record* r = RecordOf<FakeContactItem>(item);
  return r ? &r->contact : nullptr;
}
AppointmentData* FakeOutlook::DataOf(outlook::AppointmentItem& item) {
  Record* r = RecordOf<FakeAppointmentItem>(item);
  return r ? &r->appointment : nullptr;
}

std::shared_ptr<outlook::MailItem> FakeOutlook::GetMail(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kMail);
  return r ? MakeMail(state_, r) : nullptr;
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::GetNote(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kNote);
  return r ? MakeNote(state_, r) : nullptr;
}
std::shared_ptr<outlook::ContactItem> FakeOutlook::GetContact(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kContact);
  return r ? MakeContact(state_, r) : nullptr;
}
std::shared_ptr<outlook::AppointmentItem> FakeOutlook::GetAppointment(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kAppointment);
  return r ? MakeAppointment(state_, r) : nullptr;
}
std::shared_ptr<outlook::MailItem> FakeOutlook::NewMail(MailData data) {
  auto r = std::make_shared<Record>(Kind::kMail);
  r->mail = std::move(data);
  r->mail.entry_id.reset();
  return MakeMail(state_, r);
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::NewNote(NoteData data) {
  auto r = std::make_shared<Record>(Kind::kNote);
  r->note = std::move(data);
  r->note.entry_id.reset();
  return MakeNote(state_, r);
}

}  // namespace testing
}  // namespace zelsync
