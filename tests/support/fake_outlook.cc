#include "support/fake_outlook.h"

#include <algorithm>
#include <variant>

namespace zelsync {
namespace testing {

struct FakeOutlook::State {
  struct Rule {
    std::string op;
    int nth;
    std::vector<std::string> args;
    int seen = 0;
  };
  std::vector<Call> calls;
  std::vector<Rule> rules;
  int live = 0;

  // Logs a call; false when a rule fails it.
  bool Enter(std::string op, std::vector<std::string> args) {
    calls.push_back({std::move(op), std::move(args)});
    bool run = true;
    for (Rule& rule : rules) {
      const bool match =
          rule.op == calls.back().op && (rule.args.empty() || rule.args == calls.back().args);
      if (match && (++rule.seen == rule.nth || rule.nth == 0)) run = false;
    }
    return run;
  }
};

namespace {

std::string Arg(const WString& s) { return Utf16ToUtf8(s); }
std::string Arg(int32_t v) { return std::to_string(v); }
std::string Arg(bool v) { return v ? "1" : "0"; }

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

using Data = std::variant<MailData, NoteData>;
using StatePtr = std::shared_ptr<FakeOutlook::State>;

// A mail or note, its attachments or one attachment: `iface` names it
// ("MailItem") for the call log and the live count; `index` is the
// attachment of an attachment.
// clang-format off
class Fake final : public outlook::MailItem, public outlook::NoteItem, public outlook::Attachments,
    public outlook::Attachment {
  // clang-format on
 public:
  Fake(StatePtr state, const char* iface, std::shared_ptr<Data> data, int32_t index = 0)
      : state_(std::move(state)), iface_(iface), data_(std::move(data)), index_(index) {
    ++state_->live;
  }
  ~Fake() override { --state_->live; }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;

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
  // Never saved: no entry ID.
  FAKE_GET(EntryID, OptString, WString())
  bool Save() override {
    return Run("Save", {}, [] { return true; });
  }
  bool Delete() override {
    return Run("Delete", {}, [] { return true; });
  }
  FAKE_GET(SenderName, OptString, mail().sender_name)
  FAKE_PROP(SentOnBehalfOfName, OptString, const WString&, mail().sent_on_behalf_of_name)
  FAKE_PROP(To, OptString, const WString&, mail().to)
  FAKE_PROP(CC, OptString, const WString&, mail().cc)
  FAKE_PROP(Subject, OptString, const WString&, mail().subject)
  FAKE_GET(SentOn, double, mail().sent_on)
  FAKE_PROP(Importance, int32_t, int32_t, mail().importance)
  FAKE_PROP(HTMLBody, OptString, const WString&, mail().html_body)
  FAKE_PROP(UnRead, bool, bool, mail().unread)
  bool PutBodyFormat(int32_t v) override {
    return Run("PutBodyFormat", {Arg(v)}, [] { return true; });
  }
  FAKE_PROP(Body, OptString, const WString&, note().body)
  bool GetAttachments(std::shared_ptr<outlook::Attachments>* out) override {
    return Run("GetAttachments", {}, [&] { return (*out = Make("Attachments"), true); });
  }
  bool Move(const std::shared_ptr<outlook::Folder>&, std::shared_ptr<outlook::MailItem>*) override {
    return Run("Move", {}, [] { return false; });
  }

  // Attachments, Attachment.
  FAKE_GET(Count, int32_t, attachments().size())
  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* out) override {
    return Run("Item", {Arg(index)}, [&] {
      if (index < 1 || size_t(index) > attachments().size()) return false;
      return (*out = Make("Attachment", index - 1), true);
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
#undef FAKE_GET
#undef FAKE_PUT
#undef FAKE_PROP

  MailData& mail() const { return std::get<MailData>(*data_); }
  NoteData& note() const { return std::get<NoteData>(*data_); }

 private:
  std::vector<AttachmentData>& attachments() const { return mail().attachments; }
  std::shared_ptr<Fake> Make(const char* iface, int32_t index = 0) const {
    return std::make_shared<Fake>(state_, iface, data_, index);
  }
  // Logs the call; unless a rule fails it, `body` says whether it succeeds.
  template <class Body>
  bool Run(const char* method, std::vector<std::string> args, Body body) {
    return state_->Enter(iface_ + "." + method, std::move(args)) && body();
  }

  StatePtr state_;
  const std::string iface_;
  std::shared_ptr<Data> data_;
  const int32_t index_;
};

}  // namespace

FakeOutlook::FakeOutlook() : state_(std::make_shared<State>()) {}

MailData* FakeOutlook::DataOf(outlook::MailItem& item) { return &dynamic_cast<Fake&>(item).mail(); }
NoteData* FakeOutlook::DataOf(outlook::NoteItem& item) { return &dynamic_cast<Fake&>(item).note(); }
std::shared_ptr<outlook::MailItem> FakeOutlook::NewMail(MailData data) {
  return std::make_shared<Fake>(state_, "MailItem", std::make_shared<Data>(std::move(data)));
}
std::shared_ptr<outlook::NoteItem> FakeOutlook::NewNote(NoteData data) {
  return std::make_shared<Fake>(state_, "NoteItem", std::make_shared<Data>(std::move(data)));
}

void FakeOutlook::FailOn(std::string op, int nth, std::vector<std::string> args) {
  state_->rules.push_back({std::move(op), nth, std::move(args)});
}
void FakeOutlook::ClearFailures() { state_->rules.clear(); }

std::vector<Call> FakeOutlook::Calls(const std::string& op) const {
  std::vector<Call> out;
  std::copy_if(state_->calls.begin(), state_->calls.end(), std::back_inserter(out),
               [&](const Call& c) { return c.op == op; });
  return out;
}
void FakeOutlook::ClearCalls() { state_->calls.clear(); }
int FakeOutlook::live_objects() const { return state_->live; }

}  // namespace testing
}  // namespace zelsync
