#include "support/fake_outlook.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>

namespace zelsync {
namespace testing {

using outlook::ConnectResult;
using Row = FakeOutlook::Row;
using RowPtr = std::shared_ptr<Row>;

namespace {

// The classes, in the order of ItemData, and where each is filed by Save
// (of a new item) and by Add.
enum Kind { kMail, kNote, kContact, kAppointment, kOther };
constexpr int32_t kSaveFolder[] = {kFolderDrafts, outlook::kFolderNotes, outlook::kFolderContacts,
                                   outlook::kFolderCalendar, outlook::kFolderInbox};
constexpr int32_t kAddFolder[] = {outlook::kFolderInbox, outlook::kFolderNotes,
                                  outlook::kFolderContacts, outlook::kFolderCalendar,
                                  outlook::kFolderInbox};
constexpr size_t kMaxFileBytes = 16 << 20;

OptString& EntryId(ItemData& data) {
  return std::visit([](auto& d) -> OptString& { return d.entry_id; }, data);
}

std::string Arg(const WString& s) { return Utf16ToUtf8(s); }
std::string Arg(int32_t v) { return std::to_string(v); }
std::string Arg(bool v) { return v ? "1" : "0"; }

bool Matches(const std::string& pattern, const std::string& op) {
  if (pattern.compare(0, 2, "*.") != 0) return pattern == op;
  return op.size() > pattern.size() - 1 &&
         op.compare(op.size() - (pattern.size() - 1), std::string::npos, pattern, 1) == 0;
}

bool ReadWholeFile(const WString& path, std::string* out) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  char chunk[4096];
  for (size_t n; file && (n = file->Read(chunk, sizeof chunk)) > 0;) {
    if (out->size() + n > kMaxFileBytes) return false;
    out->append(chunk, n);
  }
  return file != nullptr;
}

bool WriteWholeFile(const WString& path, const std::string& data) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(data.data(), data.size()) == data.size();
}

// vObject text values escape '\', ';', ',' and line breaks.
std::string Escape(const OptString& value) {
  std::string out;
  for (char c : Utf16ToUtf8(value.value_or(WString()))) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  }
  return out;
}

// The value of `name` in the vObject `object` of `text`; false when the text
// lacks the object's BEGIN or END line.
bool ReadVObject(const std::string& text, const std::string& object, const std::string& name,
                 OptString* value) {
  bool begun = false, ended = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    begun = begun || line == "BEGIN:" + object;
    ended = ended || line == "END:" + object;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || line.substr(0, std::min(colon, line.find(';'))) != name)
      continue;
    std::string v;
    for (size_t i = colon + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '\\' && i + 1 < line.size()) {
        c = line[++i];
        c = c == 'n' ? '\n' : c == 'r' ? '\r' : c;
      }
      v += c;
    }
    *value = Utf8ToUtf16(v);
  }
  return begun && ended;
}

std::string VObject(const char* object, const char* version, const std::string& body) {
  return "BEGIN:" + std::string(object) + "\r\nVERSION:" + version + "\r\n" + body +
         "END:" + object + "\r\n";
}

}  // namespace

struct FakeOutlook::State {
  struct Rule {
    std::string pattern;
    FailWhen when;
    std::optional<ConnectResult> connect;
    int seen = 0;
  };
  std::vector<RowPtr> rows;
  bool window = true, running = false;
  uint32_t next_id = 1;
  std::vector<Call> calls;
  std::vector<Rule> rules;
  std::map<std::string, int> live;

  // Logs a call; false when a rule fails it (*connect: the rule's result).
  bool Enter(std::string op, std::vector<std::string> args, Row* row,
             std::optional<ConnectResult>* connect = nullptr) {
    calls.push_back({std::move(op), std::move(args), row ? EntryId(row->data) : OptString()});
    bool run = true;
    for (Rule& rule : rules) {
      if (!Matches(rule.pattern, calls.back().op)) continue;
      if (rule.when(calls.back(), ++rule.seen) && run) {
        run = false;
        if (connect) *connect = rule.connect;
      }
    }
    return run;
  }
  WString NewEntryId() {
    char buf[48];
    std::snprintf(buf, sizeof buf, "00000000A1B2C3D4E5F6%08X", next_id++);
    return Utf8ToUtf16(buf);
  }
  std::vector<RowPtr> In(int32_t folder) const {
    std::vector<RowPtr> out;
    for (const RowPtr& r : rows)
      if (r->folder == folder) out.push_back(r);
    return out;
  }
  void File(const RowPtr& row, int32_t folder) {
    row->folder = folder;
    rows.push_back(row);
  }
  void Unfile(RowPtr row) {  // by value: the row outlives its erasure
    rows.erase(std::remove(rows.begin(), rows.end(), row), rows.end());
    row->folder = 0;
    row->stale = true;
  }
};

namespace {

using StatePtr = std::shared_ptr<FakeOutlook::State>;

// An object handed out: counted live while it exists; logs the calls made
// on it under its interface's name, with its item's entry ID.
class Object {
 public:
  Object(StatePtr state, const char* name, RowPtr row = nullptr)
      : state_(std::move(state)), name_(name), row_(std::move(row)) {
    ++state_->live[name_];
  }
  virtual ~Object() { --state_->live[name_]; }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  Row& row() const { return *row_; }

 protected:
  // Logs the call; unless a rule fails it, `body` says whether it succeeds.
  template <class Body>
  bool Run(const char* method, std::vector<std::string> args, Body body) {
    return state_->Enter(std::string(name_) + "." + method, std::move(args), row_.get()) && body();
  }
  // A call handing out an object: `make` gives it, or null to fail.
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
  bool Get(const char* method, const T& value, T* out) {
    return Run(method, {}, [&] {
      *out = value;
      return true;
    });
  }
  template <class Field, class Value>
  bool Put(const char* method, Field* field, const Value& value) {
    return Run(method, {Arg(value)}, [&] {
      *field = value;
      return true;
    });
  }
  template <class D>
  D& data() const {
    return std::get<D>(row_->data);
  }

  StatePtr state_;
  const char* name_;
  RowPtr row_;
};

#define FAKE_GET(Name, Type, value) \
  bool Name(Type* v) override { return Get(#Name, Type(value), v); }
#define FAKE_PUT(Name, Param, field) \
  bool Put##Name(Param v) override { return Put("Put" #Name, &field, v); }

// EntryID, Save and Delete, shared by the four classes.
template <class Interface>
class ItemObject : public Interface, public Object {
 public:
  ItemObject(StatePtr state, RowPtr row, const char* name)
      : Object(std::move(state), name, std::move(row)) {}
  FAKE_GET(EntryID, OptString, EntryId(row_->data))
  bool Save() override {
    return Run("Save", {}, [this] {
      if (row_->stale) return false;
      if (row_->folder == 0) {
        EntryId(row_->data) = state_->NewEntryId();
        state_->File(row_, kSaveFolder[row_->data.index()]);
      }
      return true;
    });
  }
  bool Delete() override {
    return Run("Delete", {}, [this] { return !row_->stale && (state_->Unfile(row_), true); });
  }
};

class FakeAttachment : public outlook::Attachment, public Object {
 public:
  FakeAttachment(StatePtr state, RowPtr row, size_t index)
      : Object(std::move(state), "Attachment", std::move(row)), index_(index) {}
  FAKE_GET(FileName, OptString, attachment().file_name)
  bool SaveAsFile(const WString& path) override {
    return Run("SaveAsFile", {Arg(path)}, [&] { return WriteWholeFile(path, attachment().bytes); });
  }

 private:
  const AttachmentData& attachment() const { return data<MailData>().attachments[index_]; }
  size_t index_;
};

class FakeAttachments : public outlook::Attachments, public Object {
 public:
  FakeAttachments(StatePtr state, RowPtr row)
      : Object(std::move(state), "Attachments", std::move(row)) {}
  FAKE_GET(Count, int32_t, static_cast<int32_t>(list().size()))
  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* out) override {
    return Give("Item", {Arg(index)}, out, [&]() -> std::shared_ptr<outlook::Attachment> {
      if (index < 1 || static_cast<size_t>(index) > list().size()) return nullptr;
      return std::make_shared<FakeAttachment>(state_, row_, static_cast<size_t>(index - 1));
    });
  }
  bool Add(const WString& source, int32_t type, int32_t position, const WString& name) override {
    return Run("Add", {Arg(source), Arg(type), Arg(position), Arg(name)}, [&] {
      AttachmentData a{source.substr(source.find_last_of(u"/\\") + 1), "", name, position};
      if (type != outlook::kAttachByValue || !ReadWholeFile(source, &a.bytes)) return false;
      list().push_back(std::move(a));
      return true;
    });
  }

 private:
  std::vector<AttachmentData>& list() const { return data<MailData>().attachments; }
};

class FakeFolder : public outlook::Folder, public Object {
 public:
  FakeFolder(StatePtr state, int32_t id) : Object(std::move(state), "Folder"), id(id) {}
  bool GetItems(std::shared_ptr<outlook::Items>* items) override;
  const int32_t id;
};

class FakeMailItem : public ItemObject<outlook::MailItem> {
 public:
  FakeMailItem(StatePtr state, RowPtr row)
      : ItemObject(std::move(state), std::move(row), "MailItem") {}
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
  bool GetAttachments(std::shared_ptr<outlook::Attachments>* out) override {
    return Give("GetAttachments", {}, out,
                [&] { return std::make_shared<FakeAttachments>(state_, row_); });
  }
  bool Move(const std::shared_ptr<outlook::Folder>& folder,
            std::shared_ptr<outlook::MailItem>* moved) override {
    auto* target = dynamic_cast<FakeFolder*>(folder.get());
    return Give("Move", {target ? Arg(target->id) : "?"}, moved,
                [&]() -> std::shared_ptr<outlook::MailItem> {
                  if (!target || row_->stale) return nullptr;
                  auto copy = std::make_shared<Row>(*row_);
                  EntryId(copy->data) = state_->NewEntryId();
                  state_->Unfile(row_);
                  state_->File(copy, target->id);
                  return std::make_shared<FakeMailItem>(state_, copy);
                });
  }
  MailData& mail() const { return data<MailData>(); }
};

class FakeNoteItem : public ItemObject<outlook::NoteItem> {
 public:
  FakeNoteItem(StatePtr state, RowPtr row)
      : ItemObject(std::move(state), std::move(row), "NoteItem") {}
  FAKE_GET(Body, OptString, note().body)
  FAKE_PUT(Body, const WString&, note().body)
  NoteData& note() const { return data<NoteData>(); }
};

class FakeContactItem : public ItemObject<outlook::ContactItem> {
 public:
  FakeContactItem(StatePtr state, RowPtr row)
      : ItemObject(std::move(state), std::move(row), "ContactItem") {}
  FAKE_GET(FullName, OptString, data<ContactData>().full_name)
  bool SaveAs(const WString& path, int32_t type) override {
    const std::string fn = Escape(data<ContactData>().full_name);
    return Run("SaveAs", {Arg(path), Arg(type)}, [&] {
      return type == outlook::kSaveAsVCard &&
             WriteWholeFile(path, VObject("VCARD", "2.1", "N:" + fn + "\r\nFN:" + fn + "\r\n"));
    });
  }
};

class FakeAppointmentItem : public ItemObject<outlook::AppointmentItem> {
 public:
  FakeAppointmentItem(StatePtr state, RowPtr row)
      : ItemObject(std::move(state), std::move(row), "AppointmentItem") {}
  FAKE_GET(Subject, OptString, data<AppointmentData>().subject)
  FAKE_PUT(AllDayEvent, bool, data<AppointmentData>().all_day)
  bool SaveAs(const WString& path, int32_t type) override {
    const bool ical = type == outlook::kSaveAsICalendar;
    const std::string event =
        VObject("VEVENT", ical ? "2.0" : "1.0",
                "SUMMARY:" + Escape(data<AppointmentData>().subject) +
                    "\r\nDTSTART:20240101T120000\r\nDTEND:20240101T130000\r\n");
    return Run("SaveAs", {Arg(path), Arg(type)}, [&] {
      return (ical || type == outlook::kSaveAsVCalendar) &&
             WriteWholeFile(path, VObject("VCALENDAR", ical ? "2.0" : "1.0", event));
    });
  }
};

class FakeItem : public outlook::Item, public Object {
 public:
  FakeItem(StatePtr state, RowPtr row) : Object(std::move(state), "Item", std::move(row)) {}
  std::shared_ptr<outlook::MailItem> QueryMail() override {
    return Query<FakeMailItem>("QueryMail", kMail);
  }
  std::shared_ptr<outlook::NoteItem> QueryNote() override {
    return Query<FakeNoteItem>("QueryNote", kNote);
  }
  std::shared_ptr<outlook::ContactItem> QueryContact() override {
    return Query<FakeContactItem>("QueryContact", kContact);
  }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override {
    return Query<FakeAppointmentItem>("QueryAppointment", kAppointment);
  }

 private:
  template <class T>
  std::shared_ptr<T> Query(const char* method, Kind kind) {
    std::shared_ptr<T> out;
    Give(method, {}, &out, [&] {
      return row_->data.index() == static_cast<size_t>(kind) ? std::make_shared<T>(state_, row_)
                                                             : nullptr;
    });
    return out;
  }
};

class FakeItems : public outlook::Items, public Object {
 public:
  FakeItems(StatePtr state, int32_t folder) : Object(std::move(state), "Items"), folder_(folder) {}
  FAKE_GET(Count, int32_t, static_cast<int32_t>(state_->In(folder_).size()))
  bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) override {
    return Give("Item", {Arg(index)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      const std::vector<RowPtr> rows = state_->In(folder_);
      if (index < 1 || static_cast<size_t>(index) > rows.size()) return nullptr;
      return std::make_shared<FakeItem>(state_, rows[static_cast<size_t>(index - 1)]);
    });
  }

 private:
  const int32_t folder_;
};

bool FakeFolder::GetItems(std::shared_ptr<outlook::Items>* items) {
  return Give("GetItems", {}, items, [&] { return std::make_shared<FakeItems>(state_, id); });
}

class FakeNamespace : public outlook::Namespace, public Object {
 public:
  explicit FakeNamespace(StatePtr state) : Object(std::move(state), "Namespace") {}
  bool GetDefaultFolder(int32_t folder, std::shared_ptr<outlook::Folder>* result) override {
    return Give("GetDefaultFolder", {Arg(folder)}, result,
                [&] { return std::make_shared<FakeFolder>(state_, folder); });
  }
  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) override {
    return Give("OpenSharedItem", {Arg(path)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      const WString ext = path.substr(std::min(path.rfind(u'.'), path.size()));
      std::string text;
      auto row = std::make_shared<Row>();
      const bool read = ReadWholeFile(path, &text);
      if (ext == u".vcf") {
        row->data = ContactData{};
        if (!read || !ReadVObject(text, "VCARD", "FN", &std::get<ContactData>(row->data).full_name))
          return nullptr;
      } else {
        row->data = AppointmentData{};
        if ((ext != u".vcs" && ext != u".ics") || !read ||
            !ReadVObject(text, "VEVENT", "SUMMARY", &std::get<AppointmentData>(row->data).subject))
          return nullptr;
      }
      return std::make_shared<FakeItem>(state_, row);
    });
  }
  bool Logoff() override {
    return Run("Logoff", {}, [] { return true; });
  }
};

class FakeApplication : public outlook::Application, public Object {
 public:
  explicit FakeApplication(StatePtr state) : Object(std::move(state), "Application") {}
  FAKE_GET(ActiveExplorer, bool, state_->window)
  bool Session(std::shared_ptr<outlook::Namespace>* result) override {
    return Give("Session", {}, result, [&] { return std::make_shared<FakeNamespace>(state_); });
  }
  bool GetNamespace(const WString& type, std::shared_ptr<outlook::Namespace>* result) override {
    return Give("GetNamespace", {Arg(type)}, result, [&]() -> std::shared_ptr<outlook::Namespace> {
      return type == u"MAPI" ? std::make_shared<FakeNamespace>(state_) : nullptr;
    });
  }
  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) override {
    return Give("CreateItem", {Arg(type)}, item, [&]() -> std::shared_ptr<outlook::Item> {
      if (type != outlook::kMailItem && type != outlook::kNoteItem) return nullptr;
      auto row = std::make_shared<Row>();
      if (type == outlook::kNoteItem) row->data = NoteData{};
      return std::make_shared<FakeItem>(state_, row);
    });
  }
  bool Quit() override {
    return Run("Quit", {}, [] { return true; });
  }
  bool StartedByConnect() const override { return !state_->running; }
};

#undef FAKE_GET
#undef FAKE_PUT

}  // namespace

FailWhen Always() {
  return [](const Call&, int) { return true; };
}
FailWhen OnCall(int nth) {
  return [nth](const Call&, int n) { return n == nth; };
}
FailWhen WithArgs(std::vector<std::string> args) {
  return [args = std::move(args)](const Call& call, int) { return call.args == args; };
}
FailWhen ForItem(const WString& entry_id) {
  return [entry_id](const Call& call, int) { return call.entry_id == entry_id; };
}

FakeOutlook::FakeOutlook() : state_(std::make_shared<State>()) {}

ConnectResult FakeOutlook::Connect(std::shared_ptr<outlook::Application>* application) {
  std::optional<ConnectResult> forced;
  if (!state_->Enter("Connect", {}, nullptr, &forced))
    return forced.value_or(ConnectResult::kCreationFailed);
  *application = std::make_shared<FakeApplication>(state_);
  return ConnectResult::kOk;
}

WString FakeOutlook::Add(ItemData data, int32_t folder) {
  auto row = std::make_shared<Row>(Row{0, false, std::move(data)});
  if (!EntryId(row->data)) EntryId(row->data) = state_->NewEntryId();
  state_->File(row, folder ? folder : kAddFolder[row->data.index()]);
  return *EntryId(row->data);
}
void FakeOutlook::Remove(const WString& entry_id) {
  for (RowPtr row : std::vector<RowPtr>(state_->rows))
    if (EntryId(row->data) == entry_id) state_->Unfile(row);
}
std::vector<Row*> FakeOutlook::Rows() const {
  std::vector<Row*> rows;
  for (const RowPtr& r : state_->rows) rows.push_back(r.get());
  return rows;
}
std::vector<WString> FakeOutlook::EntryIds(int32_t folder) const {
  std::vector<WString> ids;
  for (const RowPtr& r : state_->In(folder)) ids.push_back(EntryId(r->data).value_or(WString()));
  return ids;
}
MailData* FakeOutlook::DataOf(outlook::MailItem& item) {
  auto* object = dynamic_cast<FakeMailItem*>(&item);
  return object ? &object->mail() : nullptr;
}
NoteData* FakeOutlook::DataOf(outlook::NoteItem& item) {
  auto* object = dynamic_cast<FakeNoteItem*>(&item);
  return object ? &object->note() : nullptr;
}
std::shared_ptr<outlook::MailItem> FakeOutlook::NewMail(MailData data) {
  data.entry_id.reset();
  return std::make_shared<FakeMailItem>(state_,
                                        std::make_shared<Row>(Row{0, false, std::move(data)}));
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::NewNote(NoteData data) {
  data.entry_id.reset();
  return std::make_shared<FakeNoteItem>(state_,
                                        std::make_shared<Row>(Row{0, false, std::move(data)}));
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

}  // namespace testing
}  // namespace zelsync
