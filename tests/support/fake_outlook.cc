#include "support/fake_outlook.h"

#include <algorithm>
#include <optional>

namespace zelsync {
namespace testing {

using outlook::ConnectResult;

namespace {

struct Row {
  int32_t folder = 0;  // 0: not filed (new, deleted or moved away)
  bool stale = false;  // deleted or moved away
  ItemData data;
};
using RowPtr = std::shared_ptr<Row>;
RowPtr NewRow(ItemData data) { return std::make_shared<Row>(Row{0, false, std::move(data)}); }

// The classes, in the order of ItemData.
enum Kind { kMail, kNote, kContact, kAppointment, kOther };

// Where Save files a new item of the class, and where Add files one.
int32_t HomeFolder(size_t kind, bool saved) {
  constexpr int32_t kFolders[] = {outlook::kFolderInbox, outlook::kFolderNotes,
                                  outlook::kFolderContacts, outlook::kFolderCalendar,
                                  outlook::kFolderInbox};
  return kind == kMail && saved ? kFolderDrafts : kFolders[kind];
}

OptString& EntryId(ItemData& data) {
  return std::visit([](auto& d) -> OptString& { return d.entry_id; }, data);
}

std::string Arg(const WString& s) { return Utf16ToUtf8(s); }
std::string Arg(int32_t v) { return std::to_string(v); }
std::string Arg(bool v) { return v ? "1" : "0"; }

bool Matches(const std::string& pattern, const std::string& op) {
  if (pattern.compare(0, 2, "*.") != 0) return pattern == op;
  const size_t n = pattern.size() - 1;
  return op.size() > n && op.compare(op.size() - n, n, pattern, 1) == 0;
}

bool ReadWholeFile(const WString& path, std::string* out) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  char chunk[4096];
  for (size_t n; file && out->size() < (16u << 20) && (n = file->Read(chunk, sizeof chunk)) > 0;)
    out->append(chunk, n);
  return file != nullptr;
}

bool WriteWholeFile(const WString& path, const std::string& data) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(data.data(), data.size()) == data.size();
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
      if (Matches(rule.pattern, calls.back().op) && rule.when(calls.back(), ++rule.seen) && run) {
        run = false;
        if (connect) *connect = rule.connect;
      }
    }
    return run;
  }
  WString NewEntryId() { return Utf8ToUtf16("00000000A1B2C3D4E5F6" + std::to_string(next_id++)); }
  std::vector<RowPtr> In(int32_t folder) const {
    std::vector<RowPtr> out;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(out),
                 [&](const RowPtr& r) { return r->folder == folder; });
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

// Every object the fake hands out, whichever interface it is handed out as:
// `iface` names it ("MailItem"), for the call log and the live count; `row`
// is its item (none for the application, namespace and folders); `index` is
// the folder of a folder or collection, the attachment of an attachment.
// clang-format off
class Fake final : public outlook::Application, public outlook::Namespace, public outlook::Folder,
    public outlook::Items, public outlook::Item, public outlook::MailItem, public outlook::NoteItem,
    public outlook::ContactItem, public outlook::AppointmentItem, public outlook::Attachments,
    public outlook::Attachment {
  // clang-format on
 public:
  Fake(StatePtr state, const char* iface, RowPtr row = nullptr, int32_t index = 0)
      : state_(std::move(state)), iface_(iface), row_(std::move(row)), index_(index) {
    ++state_->live[iface_];
  }
  ~Fake() override { --state_->live[iface_]; }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;

  // Application.
#define FAKE_GET(Name, Type, value)                                  \
  bool Name(Type* v) override {                                      \
    return Run(#Name, {}, [&] { return (*v = Type(value), true); }); \
  }
#define FAKE_PUT(Name, Param, field)                                      \
  bool Put##Name(Param v) override {                                      \
    return Run("Put" #Name, {Arg(v)}, [&] { return (field = v, true); }); \
  }
#define FAKE_PROP(Name, Type, Param, field) \
  FAKE_GET(Name, Type, field)               \
  FAKE_PUT(Name, Param, field)
  FAKE_GET(ActiveExplorer, bool, state_->window)
  bool Session(std::shared_ptr<outlook::Namespace>* out) override {
    return Give("Session", {}, out, [&] { return Make("Namespace"); });
  }
  bool GetNamespace(const WString& type, std::shared_ptr<outlook::Namespace>* out) override {
    return Give("GetNamespace", {Arg(type)}, out,
                [&] { return type == u"MAPI" ? Make("Namespace") : nullptr; });
  }
  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* out) override {
    return Give("CreateItem", {Arg(type)}, out, [&]() -> std::shared_ptr<Fake> {
      if (type != outlook::kMailItem && type != outlook::kNoteItem) return nullptr;
      const bool note = type == outlook::kNoteItem;
      return Make("Item", NewRow(note ? ItemData(NoteData{}) : MailData{}));
    });
  }
  bool Quit() override {
    return Run("Quit", {}, [] { return true; });
  }
  bool StartedByConnect() const override { return !state_->running; }

  // Namespace, Folder, Items.
  bool GetDefaultFolder(int32_t folder, std::shared_ptr<outlook::Folder>* out) override {
    return Give("GetDefaultFolder", {Arg(folder)}, out,
                [&] { return Make("Folder", nullptr, folder); });
  }
  // A ".vcf" file as a contact, a ".vcs" or ".ics" file as an event: the text
  // must hold the BEGIN and END lines of its object.
  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* out) override {
    return Give("OpenSharedItem", {Arg(path)}, out, [&]() -> std::shared_ptr<Fake> {
      const WString ext = path.substr(std::min(path.rfind(u'.'), path.size()));
      const bool card = ext == u".vcf";
      const std::string object = card ? "VCARD" : "VEVENT";
      std::string text;
      if ((!card && ext != u".vcs" && ext != u".ics") || !ReadWholeFile(path, &text) ||
          text.find("BEGIN:" + object + "\r\n") == std::string::npos ||
          text.find("END:" + object + "\r\n") == std::string::npos)
        return nullptr;
      return Make("Item", NewRow(card ? ItemData(ContactData{}) : AppointmentData{}));
    });
  }
  bool Logoff() override {
    return Run("Logoff", {}, [] { return true; });
  }
  bool GetItems(std::shared_ptr<outlook::Items>* out) override {
    return Give("GetItems", {}, out, [&] { return Make("Items", nullptr, index_); });
  }
  // Items and Attachments.
  FAKE_GET(Count, int32_t,
           iface_ == std::string("Items") ? state_->In(index_).size() : attachments().size())
  bool Item(int32_t index, std::shared_ptr<outlook::Item>* out) override {
    return Give("Item", {Arg(index)}, out, [&]() -> std::shared_ptr<Fake> {
      const std::vector<RowPtr> rows = state_->In(index_);
      if (index < 1 || size_t(index) > rows.size()) return nullptr;
      return Make("Item", rows[size_t(index - 1)]);
    });
  }

  // Item: the queries give the item's interface of its class.
  std::shared_ptr<outlook::MailItem> QueryMail() override { return Query("QueryMail", kMail); }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return Query("QueryNote", kNote); }
  std::shared_ptr<outlook::ContactItem> QueryContact() override {
    return Query("QueryContact", kContact);
  }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override {
    return Query("QueryAppointment", kAppointment);
  }

  // The four classes.
  FAKE_GET(EntryID, OptString, EntryId(row_->data))
  bool Save() override {
    return Run("Save", {}, [this] {
      if (!row_->stale && row_->folder == 0) {
        EntryId(row_->data) = state_->NewEntryId();
        state_->File(row_, HomeFolder(row_->data.index(), true));
      }
      return !row_->stale;
    });
  }
  bool Delete() override {
    return Run("Delete", {}, [this] { return !row_->stale && (state_->Unfile(row_), true); });
  }
  FAKE_GET(SenderName, OptString, mail().sender_name)
  FAKE_PROP(SentOnBehalfOfName, OptString, const WString&, mail().sent_on_behalf_of_name)
  FAKE_PROP(To, OptString, const WString&, mail().to)
  FAKE_PROP(CC, OptString, const WString&, mail().cc)
  FAKE_GET(Subject, OptString, Is(kMail) ? mail().subject : Of<AppointmentData>().subject)
  FAKE_PUT(Subject, const WString&, mail().subject)
  FAKE_GET(SentOn, double, mail().sent_on)
  FAKE_PROP(Importance, int32_t, int32_t, mail().importance)
  FAKE_PROP(HTMLBody, OptString, const WString&, mail().html_body)
  FAKE_PROP(UnRead, bool, bool, mail().unread)
  bool PutBodyFormat(int32_t v) override {
    return Run("PutBodyFormat", {Arg(v)}, [] { return true; });
  }
  FAKE_PROP(Body, OptString, const WString&, note().body)
  FAKE_GET(FullName, OptString, Of<ContactData>().full_name)
  FAKE_PUT(AllDayEvent, bool, Of<AppointmentData>().all_day)
  bool GetAttachments(std::shared_ptr<outlook::Attachments>* out) override {
    return Give("GetAttachments", {}, out, [&] { return Make("Attachments", row_); });
  }
  bool Move(const std::shared_ptr<outlook::Folder>& folder,
            std::shared_ptr<outlook::MailItem>* moved) override {
    auto* target = dynamic_cast<Fake*>(folder.get());
    return Give("Move", {target ? Arg(target->index_) : "?"}, moved,
                [&]() -> std::shared_ptr<Fake> {
                  if (!target || row_->stale) return nullptr;
                  auto copy = std::make_shared<Row>(*row_);
                  EntryId(copy->data) = state_->NewEntryId();
                  state_->Unfile(row_);
                  state_->File(copy, target->index_);
                  return Make("MailItem", copy);
                });
  }
  // An empty vCard, or a vCalendar or iCalendar of one empty event.
  bool SaveAs(const WString& path, int32_t type) override {
    const bool contact = Is(kContact), ical = type == outlook::kSaveAsICalendar;
    return Run("SaveAs", {Arg(path), Arg(type)}, [&] {
      return (contact ? type == outlook::kSaveAsVCard
                      : ical || type == outlook::kSaveAsVCalendar) &&
             WriteWholeFile(path, contact
                                      ? "BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD\r\n"
                                      : std::string("BEGIN:VCALENDAR\r\nVERSION:") +
                                            (ical ? "2.0" : "1.0") +
                                            "\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    });
  }
#undef FAKE_GET
#undef FAKE_PUT
#undef FAKE_PROP

  // Attachments, Attachment.
  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* out) override {
    return Give("Item", {Arg(index)}, out, [&]() -> std::shared_ptr<Fake> {
      if (index < 1 || size_t(index) > attachments().size()) return nullptr;
      return Make("Attachment", row_, index - 1);
    });
  }
  bool Add(const WString& source, int32_t type, int32_t position, const WString& name) override {
    return Run("Add", {Arg(source), Arg(type), Arg(position), Arg(name)}, [&] {
      AttachmentData a{source.substr(source.find_last_of(u"/\\") + 1), "", name, position};
      if (type != outlook::kAttachByValue || !ReadWholeFile(source, &a.bytes)) return false;
      attachments().push_back(std::move(a));
      return true;
    });
  }
  bool FileName(OptString* name) override {
    return Run("FileName", {}, [&] { return (*name = attachments()[index_].file_name, true); });
  }
  bool SaveAsFile(const WString& path) override {
    return Run("SaveAsFile", {Arg(path)},
               [&] { return WriteWholeFile(path, attachments()[index_].bytes); });
  }

  MailData& mail() const { return Of<MailData>(); }
  NoteData& note() const { return Of<NoteData>(); }

 private:
  bool Is(Kind kind) const { return row_->data.index() == size_t(kind); }
  template <class D>
  D& Of() const {
    return std::get<D>(row_->data);
  }
  std::vector<AttachmentData>& attachments() const { return mail().attachments; }
  std::shared_ptr<Fake> Make(const char* iface, RowPtr row = nullptr, int32_t index = 0) const {
    return std::make_shared<Fake>(state_, iface, std::move(row), index);
  }
  // Logs the call; unless a rule fails it, `body` says whether it succeeds.
  template <class Body>
  bool Run(const char* method, std::vector<std::string> args, Body body) {
    return state_->Enter(iface_ + "." + method, std::move(args), row_.get()) && body();
  }
  // A call handing out an object: `make` gives it, or null to fail.
  template <class T, class MakeFn>
  bool Give(const char* method, std::vector<std::string> args, std::shared_ptr<T>* out,
            MakeFn make) {
    return Run(method, std::move(args), [&] {
      std::shared_ptr<Fake> made = make();
      return made && (*out = std::move(made), true);
    });
  }
  std::shared_ptr<Fake> Query(const char* method, Kind kind) {
    std::shared_ptr<Fake> out;
    static const char* const kNames[] = {"MailItem", "NoteItem", "ContactItem", "AppointmentItem"};
    Give(method, {}, &out, [&] { return Is(kind) ? Make(kNames[kind], row_) : nullptr; });
    return out;
  }

  StatePtr state_;
  const std::string iface_;
  RowPtr row_;
  const int32_t index_;
};

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
  *application = std::make_shared<Fake>(state_, "Application");
  return ConnectResult::kOk;
}

WString FakeOutlook::Add(ItemData data) {
  RowPtr row = NewRow(std::move(data));
  if (!EntryId(row->data)) EntryId(row->data) = state_->NewEntryId();
  state_->File(row, HomeFolder(row->data.index(), false));
  return *EntryId(row->data);
}
ItemData* FakeOutlook::Find(const WString& entry_id) {
  for (const RowPtr& r : state_->rows)
    if (EntryId(r->data) == entry_id) return &r->data;
  return nullptr;
}
std::vector<WString> FakeOutlook::EntryIds(int32_t folder) const {
  std::vector<WString> ids;
  for (const RowPtr& r : state_->In(folder)) ids.push_back(EntryId(r->data).value_or(WString()));
  return ids;
}
MailData* FakeOutlook::DataOf(outlook::MailItem& item) { return &dynamic_cast<Fake&>(item).mail(); }
NoteData* FakeOutlook::DataOf(outlook::NoteItem& item) { return &dynamic_cast<Fake&>(item).note(); }
std::shared_ptr<outlook::MailItem> FakeOutlook::NewMail(MailData data) {
  return std::make_shared<Fake>(state_, "MailItem", NewRow(data));
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::NewNote(NoteData data) {
  return std::make_shared<Fake>(state_, "NoteItem", NewRow(data));
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
  std::copy_if(state_->calls.begin(), state_->calls.end(), std::back_inserter(out),
               [&](const Call& c) { return Matches(pattern, c.op); });
  return out;
}
int FakeOutlook::Count(const std::string& pattern) const { return int(Calls(pattern).size()); }
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
