#include "support/fake_outlook.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;

constexpr size_t kMaxFileBytes = 16 << 20;  // files the fake reads whole
constexpr int32_t kFolders[] = {outlook::kFolderInbox, outlook::kFolderCalendar,
                                outlook::kFolderContacts, outlook::kFolderNotes, kFolderDrafts};

enum class Kind { kMail, kNote, kContact, kAppointment, kOther };
// Where Save files a new item of each kind.
constexpr int32_t kHomeFolder[] = {kFolderDrafts, outlook::kFolderNotes, outlook::kFolderContacts,
                                   outlook::kFolderCalendar, outlook::kFolderInbox};

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
    OptString* ids[] = {&mail.entry_id, &note.entry_id, &contact.entry_id, &appointment.entry_id,
                        &other.entry_id};
    return *ids[static_cast<int>(kind)];
  }
};
using RecordPtr = std::shared_ptr<Record>;

bool Matches(const std::string& pattern, const std::string& op) {
  if (pattern.size() > 2 && pattern.compare(0, 2, "*.") == 0)
    return op.size() > pattern.size() - 1 &&
           op.compare(op.size() - (pattern.size() - 1), std::string::npos, pattern, 1) == 0;
  return pattern == op;
}

// Arguments as the call records show them.
std::string Arg(const WString& s) { return Utf16ToUtf8(s); }
std::string Arg(int32_t v) { return std::to_string(v); }
std::string Arg(bool v) { return v ? "1" : "0"; }

template <class Field, class Value>
bool Set(Field* field, const Value& value) {
  *field = value;
  return true;
}

bool ReadWholeFile(const WString& path, std::string* out) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  char chunk[4096];
  for (size_t n; (n = file->Read(chunk, sizeof chunk)) > 0;) {
    if (out->size() + n > kMaxFileBytes) return false;
    out->append(chunk, n);
  }
  return true;
}

bool WriteWholeFile(const WString& path, const std::string& data) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(data.data(), data.size()) == data.size();
}

// ---- vCard and vCalendar, written and read back ----

std::string Escape(const OptString& value) {
  std::string out;
  for (char c : Utf16ToUtf8(value.value_or(WString()))) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      c = value[++i];
      c = c == 'n' || c == 'N' ? '\n' : c == 'r' ? '\r' : c;
    }
    out += c;
  }
  return out;
}

// The properties of a vObject in file order: {upper-case name, text},
// parameters dropped. Lines are not unfolded: the files the tests feed and
// the ones the fake writes have none.
using Properties = std::vector<std::pair<std::string, std::string>>;

Properties Parse(const std::string& text) {
  Properties props;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, std::min(colon, line.find(';')));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    props.emplace_back(name, Unescape(line.substr(colon + 1)));
  }
  return props;
}

// The first property `name` (with this text, when given).
const std::string* Find(const Properties& props, const std::string& name,
                        const char* text = nullptr) {
  for (const auto& p : props)
    if (p.first == name && (!text || p.second == text)) return &p.second;
  return nullptr;
}

bool ReadContact(const Properties& props, ContactData* contact) {
  if (!Find(props, "BEGIN", "VCARD") || !Find(props, "END", "VCARD")) return false;
  if (const std::string* name = Find(props, "FN")) contact->full_name = Utf8ToUtf16(*name);
  return true;
}

bool ReadAppointment(const Properties& props, AppointmentData* appointment) {
  if (!Find(props, "BEGIN", "VEVENT") || !Find(props, "END", "VEVENT")) return false;
  if (const std::string* subject = Find(props, "SUMMARY"))
    appointment->subject = Utf8ToUtf16(*subject);
  if (const std::string* start = Find(props, "DTSTART")) {
    appointment->start = *start;
    appointment->all_day = start->size() == 8;
  }
  if (const std::string* end = Find(props, "DTEND")) appointment->end = *end;
  return true;
}

std::string VCard(const ContactData& contact) {
  std::string out = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + Escape(contact.full_name) + "\r\n";
  if (contact.full_name) out += "FN:" + Escape(contact.full_name) + "\r\n";
  return out + "END:VCARD\r\n";
}

std::string VCalendar(const AppointmentData& a, bool icalendar) {
  std::string out = "BEGIN:VCALENDAR\r\n";
  out += icalendar ? "PRODID:-//zelsync//test store//EN\r\nVERSION:2.0\r\n" : "VERSION:1.0\r\n";
  out += "BEGIN:VEVENT\r\n";
  if (a.subject) out += "SUMMARY:" + Escape(a.subject) + "\r\n";
  // An all-day event has dates without times.
  const size_t length = a.all_day ? 8 : std::string::npos;
  const std::string param = a.all_day && icalendar ? ";VALUE=DATE:" : ":";
  out += "DTSTART" + param + a.start.substr(0, length) + "\r\n";
  out += "DTEND" + param + a.end.substr(0, length) + "\r\n";
  return out + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

}  // namespace

// ---- the shared state ----

struct FakeOutlook::State {
  struct Rule {
    std::string pattern;
    FailWhen when;
    std::optional<ConnectResult> connect;
    int seen = 0;
  };

  std::map<int32_t, std::vector<RecordPtr>> folders;
  bool window = true;
  bool running = false;
  uint32_t next_id = 1;
  std::vector<Call> calls;
  std::vector<Rule> rules;
  std::map<std::string, int> live;

  // Records a call; false when a rule makes it fail (*connect: that rule's
  // Connect result).
  bool Enter(std::string op, std::vector<std::string> args, Record* item,
             std::optional<ConnectResult>* connect = nullptr) {
    calls.push_back({std::move(op), std::move(args), item ? item->entry_id() : OptString()});
    bool run = true;
    for (Rule& rule : rules) {
      if (!Matches(rule.pattern, calls.back().op)) continue;
      ++rule.seen;
      if (run && rule.when(calls.back(), rule.seen)) {
        run = false;
        if (connect) *connect = rule.connect;
      }
    }
    return run;
  }

  // Unique among the generated ones; a test that names its own entry IDs
  // keeps them apart from this form.
  WString NewEntryId() {
    char buf[64];
    std::snprintf(buf, sizeof buf, "00000000A1B2C3D4E5F60718293A4B5C%08X", next_id++);
    return Utf8ToUtf16(buf);
  }
  RecordPtr Find(const WString& id, Kind kind) const {
    for (const auto& folder : folders)
      for (const RecordPtr& r : folder.second)
        if (r->kind == kind && r->entry_id() == id) return r;
    return nullptr;
  }
  void Unfile(const RecordPtr& r) {
    auto& items = folders[r->folder];
    items.erase(std::remove(items.begin(), items.end(), r), items.end());
    r->folder = 0;
  }
  void File(const RecordPtr& r, int32_t folder) {
    r->folder = folder;
    folders[folder].push_back(r);
  }
  WString Add(int32_t folder, Kind kind, const std::function<void(Record&)>& fill) {
    auto r = std::make_shared<Record>(kind);
    fill(*r);
    if (!r->entry_id()) r->entry_id() = NewEntryId();
    File(r, folder);
    return *r->entry_id();
  }
};

namespace {

using State = FakeOutlook::State;
using StatePtr = std::shared_ptr<State>;

// Counts itself among the live objects while it exists, and records the
// calls made on it (with the entry ID of its item, if it has one).
class Tracked {
 public:
  Tracked(StatePtr state, const char* name, RecordPtr record = nullptr)
      : state_(std::move(state)), name_(name), record_(std::move(record)) {
    ++state_->live[name_];
  }
  ~Tracked() { --state_->live[name_]; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

  Record& record() const { return *record_; }

 protected:
  State& state() const { return *state_; }
  const StatePtr& state_ptr() const { return state_; }

  // Records the call; unless a rule makes it fail, runs `body`, which says
  // whether the call succeeds.
  template <class Body>
  bool Run(const char* method, std::vector<std::string> args, Body body) {
    return state_->Enter(std::string(name_) + "." + method, std::move(args), record_.get()) &&
           body();
  }
  // A call that hands out an object: `make` gives it, or null to fail.
  template <class T, class Make>
  bool Give(const char* method, std::vector<std::string> args, std::shared_ptr<T>* out, Make make) {
    return Run(method, std::move(args), [&] {
      std::shared_ptr<T> made = make();
      if (!made) return false;
      *out = std::move(made);
      return true;
    });
  }
  template <class T>
  bool Get(const char* method, const T& field, T* out) {
    return Run(method, {}, [&] { return Set(out, field); });
  }
  template <class Field, class Value>
  bool Put(const char* method, Field* field, const Value& value) {
    return Run(method, {Arg(value)}, [&] { return Set(field, value); });
  }

  StatePtr state_;
  const char* name_;
  RecordPtr record_;
};

// What every item class shares: EntryID, Save and Delete.
template <class Interface>
class ItemObject : public Interface, public Tracked {
 public:
  ItemObject(StatePtr state, RecordPtr record, const char* name)
      : Tracked(std::move(state), name, std::move(record)) {}

  bool EntryID(OptString* entry_id) override {
    return Get("EntryID", record_->entry_id(), entry_id);
  }
  bool Save() override {
    return Run("Save", {}, [this] {
      if (record_->stale) return false;
      if (record_->folder == 0) {
        record_->entry_id() = state().NewEntryId();
        state().File(record_, kHomeFolder[static_cast<int>(record_->kind)]);
      }
      return true;
    });
  }
  bool Delete() override {
    return Run("Delete", {}, [this] {
      if (record_->stale) return false;
      state().Unfile(record_);
      record_->stale = true;
      return true;
    });
  }
};

#define FAKE_GET(Name, Type, field) \
  bool Name(Type* v) override { return Get(#Name, field, v); }
#define FAKE_PUT(Name, Param, field) \
  bool Put##Name(Param v) override { return Put("Put" #Name, &field, v); }

class FakeAttachment : public outlook::Attachment, private Tracked {
 public:
  FakeAttachment(StatePtr state, RecordPtr record, size_t index)
      : Tracked(std::move(state), "Attachment", std::move(record)), index_(index) {}
  FAKE_GET(FileName, OptString, OptString(data().file_name))
  bool SaveAsFile(const WString& path) override {
    return Run("SaveAsFile", {Arg(path)}, [&] { return WriteWholeFile(path, data().bytes); });
  }

 private:
  const AttachmentData& data() const { return record().mail.attachments[index_]; }
  size_t index_;
};

class FakeAttachments : public outlook::Attachments, private Tracked {
 public:
  FakeAttachments(StatePtr state, RecordPtr record)
      : Tracked(std::move(state), "Attachments", std::move(record)) {}
  FAKE_GET(Count, int32_t, static_cast<int32_t>(list().size()))
  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* attachment) override {
    return Give("Item", {Arg(index)}, attachment, [&]() -> std::shared_ptr<outlook::Attachment> {
      if (index < 1 || static_cast<size_t>(index) > list().size()) return nullptr;
      return std::make_shared<FakeAttachment>(state_ptr(), record_, static_cast<size_t>(index - 1));
    });
  }
  bool Add(const WString& source, int32_t type, int32_t position,
           const WString& display_name) override {
    return Run("Add", {Arg(source), Arg(type), Arg(position), Arg(display_name)}, [&] {
      const size_t sep = source.find_last_of(u"/\\");
      AttachmentData data{sep == WString::npos ? source : source.substr(sep + 1), "", display_name,
                          position};
      if (type != outlook::kAttachByValue || !ReadWholeFile(source, &data.bytes)) return false;
      list().push_back(std::move(data));
      return true;
    });
  }

 private:
  std::vector<AttachmentData>& list() const { return record().mail.attachments; }
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

  FAKE_GET(SenderName, OptString, mail().sender_name)
  FAKE_GET(SentOnBehalfOfName, OptString, mail().sent_on_behalf_of_name)
  FAKE_PUT(SentOnBehalfOfName, const WString&, mail().sent_on_behalf_of_name)
  FAKE_GET(To, OptString, mail().to)
  FAKE_PUT(To, const WString&, mail().to)
  FAKE_GET(CC, OptString, mail().cc)
  FAKE_PUT(CC, const WString&, mail().cc)
  FAKE_GET(Subject, OptString, mail().subject)
  FAKE_PUT(Subject, const WString&, mail().subject)
  FAKE_GET(SentOn, double, mail().sent_on)
  FAKE_GET(Importance, int32_t, mail().importance)
  FAKE_PUT(Importance, int32_t, mail().importance)
  FAKE_GET(HTMLBody, OptString, mail().html_body)
  FAKE_PUT(HTMLBody, const WString&, mail().html_body)
  FAKE_GET(UnRead, bool, mail().unread)
  FAKE_PUT(UnRead, bool, mail().unread)
  FAKE_PUT(BodyFormat, int32_t, mail().body_format)

  bool GetAttachments(std::shared_ptr<outlook::Attachments>* attachments) override {
    return Give("GetAttachments", {}, attachments,
                [&] { return std::make_shared<FakeAttachments>(state_ptr(), record_); });
  }

  bool Move(const std::shared_ptr<outlook::Folder>& folder,
            std::shared_ptr<outlook::MailItem>* moved) override {
    auto* target = dynamic_cast<FakeFolder*>(folder.get());
    return Give("Move", {target ? Arg(target->id()) : "?"}, moved,
                [&]() -> std::shared_ptr<outlook::MailItem> {
                  if (!target || record_->stale) return nullptr;
                  // The mail in its new place is a new item with a new entry
                  // ID; the object moved from goes stale.
                  auto copy = std::make_shared<Record>(*record_);
                  copy->entry_id() = state().NewEntryId();
                  state().Unfile(record_);
                  record_->stale = true;
                  state().File(copy, target->id());
                  return std::make_shared<FakeMailItem>(state_ptr(), copy);
                });
  }

 private:
  MailData& mail() const { return record().mail; }
};

class FakeNoteItem : public ItemObject<outlook::NoteItem> {
 public:
  FakeNoteItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "NoteItem") {}
  FAKE_GET(Body, OptString, record().note.body)
  FAKE_PUT(Body, const WString&, record().note.body)
};

class FakeContactItem : public ItemObject<outlook::ContactItem> {
 public:
  FakeContactItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "ContactItem") {}
  FAKE_GET(FullName, OptString, record().contact.full_name)
  bool SaveAs(const WString& path, int32_t type) override {
    return Run("SaveAs", {Arg(path), Arg(type)}, [&] {
      return type == outlook::kSaveAsVCard && WriteWholeFile(path, VCard(record().contact));
    });
  }
};

class FakeAppointmentItem : public ItemObject<outlook::AppointmentItem> {
 public:
  FakeAppointmentItem(StatePtr state, RecordPtr record)
      : ItemObject(std::move(state), std::move(record), "AppointmentItem") {}
  FAKE_GET(Subject, OptString, record().appointment.subject)
  FAKE_PUT(AllDayEvent, bool, record().appointment.all_day)
  bool SaveAs(const WString& path, int32_t type) override {
    return Run("SaveAs", {Arg(path), Arg(type)}, [&] {
      return (type == outlook::kSaveAsVCalendar || type == outlook::kSaveAsICalendar) &&
             WriteWholeFile(path,
                            VCalendar(record().appointment, type == outlook::kSaveAsICalendar));
    });
  }
};

class FakeItem : public outlook::Item, private Tracked {
 public:
  FakeItem(StatePtr state, RecordPtr record)
      : Tracked(std::move(state), "Item", std::move(record)) {}

  std::shared_ptr<outlook::MailItem> QueryMail() override {
    return Query<outlook::MailItem, FakeMailItem>("QueryMail", Kind::kMail);
  }
  std::shared_ptr<outlook::NoteItem> QueryNote() override {
    return Query<outlook::NoteItem, FakeNoteItem>("QueryNote", Kind::kNote);
  }
  std::shared_ptr<outlook::ContactItem> QueryContact() override {
    return Query<outlook::ContactItem, FakeContactItem>("QueryContact", Kind::kContact);
  }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override {
    return Query<outlook::AppointmentItem, FakeAppointmentItem>("QueryAppointment",
                                                                Kind::kAppointment);
  }

 private:
  template <class T, class Object>
  std::shared_ptr<T> Query(const char* method, Kind kind) {
    std::shared_ptr<T> out;
    Give(method, {}, &out, [&]() -> std::shared_ptr<T> {
      return record_->kind == kind ? std::make_shared<Object>(state_ptr(), record_) : nullptr;
    });
    return out;
  }
};

class FakeItems : public outlook::Items, private Tracked {
 public:
  FakeItems(StatePtr state, int32_t folder) : Tracked(std::move(state), "Items"), folder_(folder) {}
  FAKE_GET(Count, int32_t, static_cast<int32_t>(state().folders[folder_].size()))
  bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) override {
    return Give("Item", {Arg(index)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      const auto& items = state().folders[folder_];
      if (index < 1 || static_cast<size_t>(index) > items.size()) return nullptr;
      return std::make_shared<FakeItem>(state_ptr(), items[static_cast<size_t>(index - 1)]);
    });
  }

 private:
  int32_t folder_;
};

bool FakeFolder::GetItems(std::shared_ptr<outlook::Items>* items) {
  return Give("GetItems", {}, items, [&] { return std::make_shared<FakeItems>(state_ptr(), id_); });
}

class FakeNamespace : public outlook::Namespace, private Tracked {
 public:
  explicit FakeNamespace(StatePtr state) : Tracked(std::move(state), "Namespace") {}

  bool GetDefaultFolder(int32_t folder, std::shared_ptr<outlook::Folder>* result) override {
    return Give(
        "GetDefaultFolder", {Arg(folder)}, result, [&]() -> std::shared_ptr<outlook::Folder> {
          if (std::find(std::begin(kFolders), std::end(kFolders), folder) == std::end(kFolders))
            return nullptr;
          return std::make_shared<FakeFolder>(state_ptr(), folder);
        });
  }

  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) override {
    return Give("OpenSharedItem", {Arg(path)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      const WString ext = path.substr(std::min(path.rfind(u'.'), path.size()));
      const bool contact = ext == u".vcf";
      auto record = std::make_shared<Record>(contact ? Kind::kContact : Kind::kAppointment);
      std::string text;
      if ((!contact && ext != u".vcs" && ext != u".ics") || !ReadWholeFile(path, &text) ||
          !(contact ? ReadContact(Parse(text), &record->contact)
                    : ReadAppointment(Parse(text), &record->appointment)))
        return nullptr;
      return std::make_shared<FakeItem>(state_ptr(), record);
    });
  }

  bool Logoff() override {
    return Run("Logoff", {}, [] { return true; });
  }
};

class FakeApplication : public outlook::Application, private Tracked {
 public:
  explicit FakeApplication(StatePtr state) : Tracked(std::move(state), "Application") {}

  FAKE_GET(ActiveExplorer, bool, state().window)
  bool Session(std::shared_ptr<outlook::Namespace>* result) override {
    return Give("Session", {}, result,
                [&] { return std::make_shared<FakeNamespace>(state_ptr()); });
  }
  bool GetNamespace(const WString& type, std::shared_ptr<outlook::Namespace>* result) override {
    return Give("GetNamespace", {Arg(type)}, result, [&]() -> std::shared_ptr<outlook::Namespace> {
      return type == u"MAPI" ? std::make_shared<FakeNamespace>(state_ptr()) : nullptr;
    });
  }
  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) override {
    return Give("CreateItem", {Arg(type)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      if (type != outlook::kMailItem && type != outlook::kNoteItem) return nullptr;
      return std::make_shared<FakeItem>(
          state_ptr(),
          std::make_shared<Record>(type == outlook::kMailItem ? Kind::kMail : Kind::kNote));
    });
  }
  bool Quit() override {
    return Run("Quit", {}, [] { return true; });
  }
  bool StartedByConnect() const override { return !state().running; }
};

#undef FAKE_GET
#undef FAKE_PUT

}  // namespace

// ---- conditions ----

FailWhen Always() {
  return [](const Call&, int) { return true; };
}
FailWhen OnCall(int nth) {
  return [nth](const Call&, int n) { return n == nth; };
}
FailWhen WithArgs(std::vector<std::string> args) {
  return [args = std::move(args)](const Call& call, int) { return call.args == args; };
}
FailWhen WithArg(size_t index, std::string value) {
  return [index, value = std::move(value)](const Call& call, int) {
    return index < call.args.size() && call.args[index] == value;
  };
}

// ---- FakeOutlook ----

FakeOutlook::FakeOutlook() : state_(std::make_shared<State>()) {
  for (int32_t folder : kFolders) state_->folders[folder];
}
FakeOutlook::~FakeOutlook() = default;

ConnectResult FakeOutlook::Connect(std::shared_ptr<outlook::Application>* application) {
  std::optional<ConnectResult> forced;
  const ConnectResult result = state_->Enter("Connect", {}, nullptr, &forced)
                                   ? ConnectResult::kOk
                                   : forced.value_or(ConnectResult::kCreationFailed);
  if (result == ConnectResult::kOk) *application = std::make_shared<FakeApplication>(state_);
  return result;
}

WString FakeOutlook::AddMail(int32_t folder, MailData data) {
  return state_->Add(folder, Kind::kMail, [&](Record& r) { r.mail = std::move(data); });
}
WString FakeOutlook::AddNote(int32_t folder, NoteData data) {
  return state_->Add(folder, Kind::kNote, [&](Record& r) { r.note = std::move(data); });
}
WString FakeOutlook::AddContact(int32_t folder, ContactData data) {
  return state_->Add(folder, Kind::kContact, [&](Record& r) { r.contact = std::move(data); });
}
WString FakeOutlook::AddAppointment(int32_t folder, AppointmentData data) {
  return state_->Add(folder, Kind::kAppointment,
                     [&](Record& r) { r.appointment = std::move(data); });
}
WString FakeOutlook::AddOther(int32_t folder, OtherData data) {
  return state_->Add(folder, Kind::kOther, [&](Record& r) { r.other = std::move(data); });
}

void FakeOutlook::SetWindow(bool open) { state_->window = open; }
void FakeOutlook::SetRunning(bool running) { state_->running = running; }

void FakeOutlook::FailOn(std::string pattern, FailWhen when) {
  state_->rules.push_back({std::move(pattern), std::move(when), std::nullopt});
}
void FakeOutlook::FailOn(std::string pattern, ConnectResult result, FailWhen when) {
  state_->rules.push_back({std::move(pattern), std::move(when), result});
}
void FakeOutlook::ClearFailures() { state_->rules.clear(); }

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
  const std::vector<Call> calls = Calls(pattern);
  return static_cast<int>(
      std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.args == args; }));
}
void FakeOutlook::ClearCalls() { state_->calls.clear(); }

int FakeOutlook::live_objects() const {
  int n = 0;
  for (const auto& entry : state_->live) n += entry.second;
  return n;
}
std::string FakeOutlook::DescribeLiveObjects() const {
  std::string out;
  for (const auto& [name, count] : state_->live)
    if (count != 0) out += (out.empty() ? "" : ", ") + name + " " + std::to_string(count);
  return out.empty() ? "none" : out;
}

std::vector<WString> FakeOutlook::EntryIds(int32_t folder) const {
  std::vector<WString> ids;
  for (const RecordPtr& r : state_->folders[folder])
    ids.push_back(r->entry_id().value_or(WString()));
  return ids;
}
NoteData* FakeOutlook::FindNote(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kNote);
  return r ? &r->note : nullptr;
}
ContactData* FakeOutlook::FindContact(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kContact);
  return r ? &r->contact : nullptr;
}
MailData* FakeOutlook::DataOf(outlook::MailItem& item) {
  auto* object = dynamic_cast<FakeMailItem*>(&item);
  return object ? &object->record().mail : nullptr;
}
NoteData* FakeOutlook::DataOf(outlook::NoteItem& item) {
  auto* object = dynamic_cast<FakeNoteItem*>(&item);
  return object ? &object->record().note : nullptr;
}

std::shared_ptr<outlook::ContactItem> FakeOutlook::GetContact(const WString& id) {
  RecordPtr r = state_->Find(id, Kind::kContact);
  return r ? std::make_shared<FakeContactItem>(state_, r) : nullptr;
}
std::shared_ptr<outlook::MailItem> FakeOutlook::NewMail(MailData data) {
  auto r = std::make_shared<Record>(Kind::kMail);
  r->mail = std::move(data);
  r->mail.entry_id.reset();
  return std::make_shared<FakeMailItem>(state_, r);
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::NewNote(NoteData data) {
  auto r = std::make_shared<Record>(Kind::kNote);
  r->note = std::move(data);
  r->note.entry_id.reset();
  return std::make_shared<FakeNoteItem>(state_, r);
}

}  // namespace testing
}  // namespace zelsync
