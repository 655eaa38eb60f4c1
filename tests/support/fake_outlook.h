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
// The table holds the filed items in the order they were added or saved; a
// folder's collection is its rows in that order. Add files an item in the
// default folder of its class (the Inbox for OtherData, an item of another
// class such as a meeting request) under a fresh entry ID unless it names one.
// As the real store: a new item (CreateItem, OpenSharedItem) has a null entry
// ID until Save files it (mail in Drafts); Move files a copy under a new
// entry ID; Delete and Move leave the object stale; Item(i) fails outside
// 1..Count. SaveAs writes an empty vCard or vCalendar/iCalendar; OpenSharedItem
// opens a ".vcf", ".vcs" or ".ics" file holding the object's BEGIN and END
// lines as a new contact or event. Files go through Env::Current().
//
// Each call is logged as "Interface.Method" with its arguments as UTF-8 text
// (Items.Item(4) -> {"4"}, PutUnRead(true) -> {"1"}, Move(folder) -> {"6"})
// and the entry ID of the item called. A pattern "*.Name" matches the method
// of every interface. FailOn(pattern, when) makes each matching call for
// which `when` holds fail (false, a query null) and change nothing; `when`
// sees the call and its 1-based number among the calls matching the pattern.
#ifndef ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
#define ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H

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
  int32_t position = 0;
};

// The properties of each class, all defaulted so that a test names only what
// it cares about (designated initialisers, in this order).
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
  struct State;
  FakeOutlook();
  outlook::ConnectResult Connect(std::shared_ptr<outlook::Application>* application) override;

  // Files an item and returns its entry ID.
  WString Add(ItemData data);
  std::vector<WString> EntryIds(int32_t folder) const;
  // The data of the filed item with this entry ID, or null.
  ItemData* Find(const WString& entry_id);
  // The data behind a mail or note the fake handed out.
  static MailData* DataOf(outlook::MailItem& item);
  static NoteData* DataOf(outlook::NoteItem& item);
  // New, unsaved items, for code that takes an item directly.
  std::shared_ptr<outlook::MailItem> NewMail(MailData data = {});
  std::shared_ptr<outlook::NoteItem> NewNote(NoteData data = {});

  // ActiveExplorer; and whether the user's instance ran before Connect.
  void SetWindow(bool open);
  void SetRunning(bool running);

  void FailOn(std::string pattern, FailWhen when = Always());
  void FailOn(std::string pattern, outlook::ConnectResult result, FailWhen when = Always());
  void ClearFailures();

  std::vector<Call> Calls(const std::string& pattern) const;
  int Count(const std::string& pattern) const;
  void ClearCalls();

  // The objects handed out and not yet released.
  int live_objects() const;
  std::string DescribeLiveObjects() const;  // "MailItem 1, Items 1" or "none"

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
