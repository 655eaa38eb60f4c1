// An in-memory item store behind the object-model interface, for tests.
//
//   FakeOutlook fake;
//   fake.AddMail(outlook::kFolderInbox, {.entry_id = u"M1", .sender_name = u"Ann"});
//   fake.AddOther(outlook::kFolderInbox, {.entry_id = u"R1"});  // a meeting request
//   fake.FailOn("Items.Item", WithArgs({"2"}));
//   outlook::ScopedObjectModel use(fake);
//   ... run an export ...
//   EXPECT_EQ(1, fake.Count("Application.Quit"));
//   EXPECT_EQ(0, fake.live_objects());
//
// The store: the default folders Inbox (6), Calendar (9), Contacts (10),
// Notes (12) and Drafts (16) hold items in the order they were added or
// saved in. Every string property is an OptString, so an item can hold a
// null, an empty or a set value. Builders that leave `entry_id` null get a
// fresh one; the entry ID an item ends up with is returned.
//
// Behaviour, as the real store behaves:
// - CreateItem (0 mail, 5 note) and OpenSharedItem give a new, unsaved item:
//   its EntryID is null until Save, which assigns a fresh unique entry ID and
//   files it (mail into Drafts, the others into their default folder).
//   Saving a saved item keeps its entry ID.
// - MailItem::Move files a copy with a NEW entry ID in the target folder and
//   takes the mail out of its own; the object moved from is stale afterwards
//   (it still reads its old properties; Save, Delete and Move on it fail).
//   Delete takes the item out of its folder and makes the object stale too.
// - Folder::GetItems gives a live view of the folder; Item(i) fails for
//   i < 1 and past the end.
// - ContactItem::SaveAs(path, 6) writes a vCard (N, FN); AppointmentItem::
//   SaveAs(path, 7) a vCalendar and (path, 8) an iCalendar with one VEVENT
//   (SUMMARY, DTSTART, DTEND). Other types fail.
// - Namespace::OpenSharedItem reads such files back by extension (".vcf"
//   contact, ".vcs"/".ics" appointment): FN of a VCARD;
//   SUMMARY, DTSTART and DTEND of a VEVENT (a date without time makes an
//   all-day event). Text values may escape '\', ';', ',' and line breaks
//   with a backslash; lines are not unfolded. It applies no vendor all-day
//   marker (that is the caller's job), and fails on a file without the
//   BEGIN/END lines of its object.
// - Attachments::Add(source, 1, position, name) copies the bytes of the file
//   `source`; FileName is the last component of the source path (the display
//   name is kept apart). Attachment::SaveAsFile writes the bytes.
// - GetNamespace accepts only "MAPI"; GetDefaultFolder only 6, 9, 10, 12,
//   16; CreateItem only 0 and 5.
// Files are read and written through Env::Current(), so platform fault
// injection reaches them.
//
// Calls. Every call through the interface is recorded under the name
// "Interface.Method", the class and member names of object_model.h
// ("Connect", "Application.Quit", "Items.Item", "MailItem.PutTo",
// "Attachment.SaveAsFile", ...), with its arguments as UTF-8 text, one
// string per argument in the order of the signature: Items.Item(4) -> {"4"},
// SaveAs(path, 7) -> {path, "7"}, Move(folder) -> {"6"} (the target folder's
// number), PutUnRead(true) -> {"1"}. A call on an item also records the
// item's entry ID before the call. A pattern "*.Method" matches that method
// of every interface (e.g. "*.Delete"); any other pattern one name exactly.
//
// Failure injection: FailOn(pattern, when) makes every matching call for
// which `when` holds fail: it returns false, changes nothing and leaves its
// out-values alone; a failed item query ("Item.QueryMail" ...) returns null.
// FailOn("Connect", result) makes Connect return `result` (kCreationFailed
// when none is given). `when` sees the call and its 1-based number among the
// calls matching the pattern since the rule was installed. When several
// rules match a call, the first installed one that holds decides. Rules stay
// until ClearFailures().
//
// Lifetime: every object handed out counts as live until its last reference
// goes; live_objects() is 0 when the code under test released everything.
// Objects keep the store alive, so a leaked object never dangles.
#ifndef ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
#define ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "object_model/object_model.h"

namespace zelsync {
namespace testing {

using outlook::OptString;

// Drafts, where CreateItem'd mail lives after Save until it is moved.
constexpr int32_t kFolderDrafts = 16;

struct AttachmentData {
  WString file_name = {};
  std::string bytes = {};
  OptString display_name = std::nullopt;  // as given to Attachments::Add
  int32_t position = 0;                   // as given to Attachments::Add
};

// The properties of each item class. Designated initialisers must follow
// the order of the members; every member has a default so that a builder
// names only what the test cares about.
struct MailData {
  OptString entry_id = std::nullopt;
  OptString sender_name = std::nullopt;
  OptString sent_on_behalf_of_name = std::nullopt;
  OptString to = std::nullopt;
  OptString cc = std::nullopt;
  OptString subject = std::nullopt;
  double sent_on = 0;      // OLE Automation date
  int32_t importance = 1;  // normal
  OptString html_body = std::nullopt;
  bool unread = false;
  int32_t body_format = 0;  // 0 unspecified, 2 HTML
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
  std::string start = "20240101T120000";  // as the vCalendar files write it
  std::string end = "20240101T130000";
};

// An item of another class (a meeting request, a task): it refuses all four
// queries.
struct OtherData {
  OptString entry_id = std::nullopt;
};

// One recorded call.
struct Call {
  std::string op;                 // "Items.Item"
  std::vector<std::string> args;  // UTF-8, see above
  OptString entry_id;             // calls on an item: its entry ID before the call
};

// When a rule applies: given the call and its 1-based number among the calls
// matching the rule's pattern since the rule was installed.
using FailWhen = std::function<bool(const Call& call, int nth)>;

FailWhen Always();
FailWhen OnCall(int nth);                           // only the nth matching call
FailWhen WithArgs(std::vector<std::string> args);   // calls with exactly these args
FailWhen WithArg(size_t index, std::string value);  // args[index] == value

class FakeOutlook : public outlook::ObjectModel {
 public:
  struct State;

  FakeOutlook();
  ~FakeOutlook() override;
  FakeOutlook(const FakeOutlook&) = delete;
  FakeOutlook& operator=(const FakeOutlook&) = delete;

  outlook::ConnectResult Connect(std::shared_ptr<outlook::Application>* application) override;

  // Builders: append an item to `folder` and return its entry ID.
  WString AddMail(int32_t folder, MailData data);
  WString AddNote(int32_t folder, NoteData data);
  WString AddContact(int32_t folder, ContactData data);
  WString AddAppointment(int32_t folder, AppointmentData data);
  WString AddOther(int32_t folder, OtherData data = {});

  // Whether an explorer window is open (ActiveExplorer). On by default.
  void SetWindow(bool open);
  // Whether the store was running before Connect (the user's instance, not
  // started by the library: StartedByConnect() is false). Off by default.
  void SetRunning(bool running);

  // Failure injection, see above.
  void FailOn(std::string pattern, FailWhen when = Always());
  void FailOn(std::string pattern, outlook::ConnectResult result, FailWhen when = Always());
  void ClearFailures();

  // The calls made so far matching `pattern` (with exactly these arguments).
  std::vector<Call> Calls(const std::string& pattern) const;
  int Count(const std::string& pattern) const;
  int Count(const std::string& pattern, const std::vector<std::string>& args) const;
  void ClearCalls();

  // Objects handed out and not yet released, and a description of them by
  // interface for failure messages ("MailItem 1, Items 1", or "none").
  int live_objects() const;
  std::string DescribeLiveObjects() const;

  // Inspection of the store: the entry IDs of a folder in collection order;
  // the data of a filed item of that class with this entry ID, or null.
  // Changing the data changes the store.
  std::vector<WString> EntryIds(int32_t folder) const;
  NoteData* FindNote(const WString& entry_id);
  ContactData* FindContact(const WString& entry_id);
  // The data behind an object the fake handed out (filed, unsaved or stale),
  // or null for an object of another backend.
  static MailData* DataOf(outlook::MailItem& item);
  static NoteData* DataOf(outlook::NoteItem& item);

  // Objects for tests of code that takes an item directly: the filed contact
  // with this entry ID (null when there is none), or a new unsaved item
  // holding `data`. Calls on them are recorded and can fail like any other.
  std::shared_ptr<outlook::ContactItem> GetContact(const WString& entry_id);
  std::shared_ptr<outlook::MailItem> NewMail(MailData data = {});
  std::shared_ptr<outlook::NoteItem> NewNote(NoteData data = {});

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
