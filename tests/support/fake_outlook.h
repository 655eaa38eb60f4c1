// An in-memory item store behind the object-model interface, for tests: a
// table of items, a log of the calls made through the interface, and a hook
// that fails any call on demand.
//
//   FakeOutlook fake;
//   const WString ann = fake.Add(ContactData{.full_name = u"Ann"});
//   fake.FailOn("Items.Item", WithArgs({"2"}));
//   outlook::ScopedObjectModel use(fake);
//   ... run an export ...
//   EXPECT_EQ(1, fake.Count("Application.Quit"));
//   EXPECT_EQ(0, fake.live_objects());
//
// The table: one row per filed item, in the order items were added or
// saved; a folder's collection is its rows in that order. Add files an item
// in the default folder of its class (the Inbox for OtherData, an item of
// another class such as a meeting request) and gives it a fresh entry ID
// unless it names one.
//
// Behaviour, as the real store behaves:
// - CreateItem (mail, note) and OpenSharedItem give a new item whose entry
//   ID is null until Save files it (mail in Drafts, the others in their
//   default folder) under a fresh one.
// - Move files a copy under a NEW entry ID and takes the mail out of its
//   folder; Delete takes the item out. Either leaves the object stale: Save,
//   Delete and Move on it fail.
// - Items::Item(i) and Attachments::Item(i) fail outside 1..Count.
// - SaveAs writes a vCard (FN) or a vCalendar / iCalendar (SUMMARY);
//   OpenSharedItem reads FN or SUMMARY back from a ".vcf", ".vcs" or ".ics"
//   file holding the BEGIN and END lines of its object, and fails otherwise.
// - Attachments::Add copies the bytes of its source; SaveAsFile writes them.
// Files go through Env::Current(), so platform fault injection reaches them.
//
// Calls: each is logged as "Interface.Method" (the names of
// object_model.h: "Connect", "Items.Item", "MailItem.PutTo", ...) with its
// arguments as UTF-8 text (Items.Item(4) -> {"4"}, SaveAs(path, 7) ->
// {path, "7"}, Move(folder) -> {"6"}, PutUnRead(true) -> {"1"}) and, for a
// call on an item, the item's entry ID before the call. A pattern "*.Name"
// matches that method of every interface.
//
// FailOn(pattern, when) makes each matching call for which `when` holds
// fail: it returns false (a query null) and changes nothing. For "Connect"
// a ConnectResult can be given. `when` sees the call and its 1-based number
// among the calls matching the pattern; the first rule that holds decides.
//
// live_objects() counts the objects handed out and not yet released.
#ifndef ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
#define ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "object_model/object_model.h"

namespace zelsync {
namespace testing {

using outlook::OptString;

// Drafts, where a created mail is filed by Save until it is moved.
constexpr int32_t kFolderDrafts = 16;

struct AttachmentData {
  WString file_name = {};
  std::string bytes = {};
  OptString display_name = std::nullopt;  // as given to Attachments::Add
  int32_t position = 0;                   // as given to Attachments::Add
};

// The properties of each class, every member defaulted so that a test
// names only what it cares about (designated initialisers, in this order).
struct MailData {
  OptString entry_id = std::nullopt;
  OptString sender_name = std::nullopt;
  OptString sent_on_behalf_of_name = std::nullopt;
  OptString to = std::nullopt;
  OptString cc = std::nullopt;
  OptString subject = std::nullopt;
  double sent_on = 0;  // OLE Automation date
  int32_t importance = 1;
  OptString html_body = std::nullopt;
  bool unread = false;
  int32_t body_format = 0;
  std::vector<AttachmentData> attachments = {};
};
struct NoteData {
  OptString entry_id = std::nullopt;
  OptString body = std::nullopt;
};
struct ContactData {
  OptString entry_id = std::nullopt;
  OptString full_name = std::nullopt;
};
struct AppointmentData {
  OptString entry_id = std::nullopt;
  OptString subject = std::nullopt;
  bool all_day = false;
};
struct OtherData {
  OptString entry_id = std::nullopt;
};
using ItemData = std::variant<MailData, NoteData, ContactData, AppointmentData, OtherData>;

struct Call {
  std::string op;                 // "Items.Item"
  std::vector<std::string> args;  // UTF-8
  OptString entry_id;             // of the item called, before the call
};

using FailWhen = std::function<bool(const Call& call, int nth)>;
FailWhen Always();
FailWhen OnCall(int nth);
FailWhen WithArgs(std::vector<std::string> args);
FailWhen ForItem(const WString& entry_id);

class FakeOutlook : public outlook::ObjectModel {
 public:
  struct Row {
    int32_t folder = 0;  // 0: not filed (new, deleted or moved away)
    bool stale = false;  // deleted or moved away
    ItemData data;
  };
  struct State;

  FakeOutlook();
  outlook::ConnectResult Connect(std::shared_ptr<outlook::Application>* application) override;

  // Files an item (see above) and returns its entry ID.
  WString Add(ItemData data, int32_t folder = 0);
  // Takes the item out of its folder, as the user deleting it would.
  void Remove(const WString& entry_id);
  std::vector<WString> EntryIds(int32_t folder) const;
  // The data of the filed item of class D with this entry ID, or null.
  template <class D>
  D* Find(const WString& entry_id) {
    for (Row* row : Rows())
      if (D* d = std::get_if<D>(&row->data); d && d->entry_id == entry_id) return d;
    return nullptr;
  }
  // The data behind an object the fake handed out, or null.
  static MailData* DataOf(outlook::MailItem& item);
  static NoteData* DataOf(outlook::NoteItem& item);
  // New, unsaved items holding `data`, for code that takes an item directly.
  std::shared_ptr<outlook::MailItem> NewMail(MailData data = {});
  std::shared_ptr<outlook::NoteItem> NewNote(NoteData data = {});

  // ActiveExplorer; and whether the user's instance ran before Connect
  // (StartedByConnect() false).
  void SetWindow(bool open);
  void SetRunning(bool running);

  void FailOn(std::string pattern, FailWhen when = Always());
  void FailOn(std::string pattern, outlook::ConnectResult result, FailWhen when = Always());
  void ClearFailures();

  std::vector<Call> Calls(const std::string& pattern) const;
  int Count(const std::string& pattern) const;
  int Count(const std::string& pattern, const std::vector<std::string>& args) const;
  void ClearCalls();

  int live_objects() const;
  std::string DescribeLiveObjects() const;  // "MailItem 1, Items 1" or "none"

 private:
  std::vector<Row*> Rows() const;
  std::shared_ptr<State> state_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
