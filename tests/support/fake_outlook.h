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
// Notes (12) and Drafts (16) hold items in a fixed order (the order they
// were added or saved in). Every string property is an OptString, so an item
// can hold a null, an empty or a set value. Builders that leave `entry_id`
// null get a fresh one; the entry ID an item ends up with is returned.
//
// Behaviour, as the real store behaves:
// - CreateItem(0 mail / 5 note) and OpenSharedItem give a new, unsaved item:
//   its EntryID is null until Save, which assigns a fresh unique entry ID and
//   files it (mail into Drafts, notes into Notes, contacts into Contacts,
//   appointments into Calendar). Saving a saved item keeps its entry ID.
// - MailItem::Move takes the mail out of its folder and files a copy with a
//   NEW entry ID in the target folder; the object moved from is stale
//   afterwards (it still reads its old properties; Save, Delete and Move on
//   it fail).
// - Delete takes the item out of its folder; the object is stale afterwards.
// - Folder::GetItems gives a live view of the folder, as the real
//   collection is: Count and Item(i) see the folder as it is at the moment of
//   the call; Item(i) fails for i < 1 and past the end.
// - ContactItem::SaveAs(path, 6) writes a vCard 2.1 (N, FN);
//   AppointmentItem::SaveAs(path, 7) a vCalendar 1.0 and (path, 8) an
//   iCalendar 2.0 with one VEVENT (SUMMARY, DTSTART, DTEND; an all-day event
//   has dates without times). Other types fail. Files are written and read
//   through Env::Current(), so platform fault injection reaches them.
// - Namespace::OpenSharedItem reads such files back by extension (".vcf"
//   contact, ".vcs"/".ics" appointment, any letter case): FN (else N) for a
//   contact; SUMMARY, DTSTART/DTEND and the all-day form for an appointment.
//   It does not look for any vendor all-day property: applying that is the
//   caller's job. A file it cannot parse fails.
// - Attachments::Add(source, 1, position, name) copies the bytes of the file
//   `source` (read through Env::Current()); FileName is the last component of
//   the source path (as the real store reports it; the display name is kept
//   apart). Attachment::SaveAsFile writes the bytes.
// - GetNamespace accepts only "MAPI"; GetDefaultFolder only 6, 9, 10, 12, 16;
//   CreateItem only 0 and 5.
//
// Operation names. Every call through the interface is recorded under the
// name "Interface.Method", the class and member names of object_model.h:
//   "Connect"
//   "Application.ActiveExplorer" "Application.Session"
//   "Application.GetNamespace" "Application.CreateItem" "Application.Quit"
//   "Namespace.GetDefaultFolder" "Namespace.OpenSharedItem" "Namespace.Logoff"
//   "Folder.GetItems"  "Items.Count" "Items.Item"
//   "Item.QueryMail" "Item.QueryNote" "Item.QueryContact" "Item.QueryAppointment"
//   "MailItem.EntryID" "MailItem.Save" "MailItem.Delete" "MailItem.SenderName"
//   "MailItem.PutTo" ... "MailItem.GetAttachments" "MailItem.Move"
//   "NoteItem.Body" ... "ContactItem.SaveAs" "AppointmentItem.PutAllDayEvent" ...
//   "Attachments.Count" "Attachments.Item" "Attachments.Add"
//   "Attachment.FileName" "Attachment.SaveAsFile"
// A pattern "*.Method" matches that method of every interface (e.g. "*.Save",
// "*.Delete"); any other pattern matches one name exactly.
//
// Arguments are recorded as UTF-8 text, one string per argument in the
// order of the signature: Items.Item(4) -> {"4"}, SaveAs(path, 7) ->
// {path, "7"}, GetDefaultFolder(6) -> {"6"}, Move(folder) -> {"6"} (the
// target folder's number), PutSubject(s) -> {s}, PutUnRead(true) -> {"1"}.
//
// Failure injection: FailOn(pattern, when) makes every matching call for
// which `when` holds fail: it returns false, changes nothing and leaves its
// out-values alone. A failed item query ("Item.QueryMail" ...) refuses, i.e.
// returns null. FailOn("Connect", result) makes Connect return `result`.
// NullOn(pattern, when) makes a matching call succeed without a value: an
// object getter yields null, a string getter a null string, ActiveExplorer
// no explorer; any other call reports success and does nothing. `when` sees the call and its number
// among the calls matching the pattern since the rule was installed (1-based); the helpers below
// build the usual conditions, and any lambda will do, e.g.
//   fake.FailOn("Items.Item", [](const Call& c, int) { return std::stoi(c.args[0]) >= 4; });
// When several rules match a call, the first installed one that holds
// decides. FailOn("Connect") without a result gives kCreationFailed,
// NullOn("Connect") kNoObject. Rules stay until ClearFailures().
//
// Lifetime: every object handed out counts as live until its last reference
// goes; live_objects() is 0 when the code under test released everything.
// Objects keep the store alive, so a leaked object never dangles.
#ifndef ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
#define ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outlook/object_model.h"

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
  double start = 45292.5;           // 2024-01-01 12:00
  double end = 45292.5 + 1.0 / 24;  // one hour later
};

// An item of another class (a meeting request, a task): it refuses all four
// queries.
struct OtherData {
  OptString entry_id = std::nullopt;
  OptString message_class = u"IPM.Schedule.Meeting.Request";
};

// One recorded call.
struct Call {
  std::string op;                 // "Items.Item"
  std::vector<std::string> args;  // UTF-8, see above
  OptString entry_id;             // calls on an item: its entry ID before the call;
                                  // Items.Item: the entry ID of the item handed out
  OptString new_entry_id;         // Save and Move: the item's entry ID afterwards
  bool injected = false;          // a rule made it fail or yield null
  bool ok = false;                // what the call returned (a query: not refused)
};

// When a rule applies: given the call and its 1-based number among the calls
// matching the rule's pattern since the rule was installed.
using FailWhen = std::function<bool(const Call& call, int nth)>;

FailWhen Always();
FailWhen OnCall(int nth);                           // only the nth matching call
FailWhen FromCall(int nth);                         // the nth and every later one
FailWhen WithArgs(std::vector<std::string> args);   // calls with exactly these args
FailWhen WithArg(size_t index, std::string value);  // args[index] == value
FailWhen OnItem(WString entry_id);                  // calls on the item with this entry ID

class FakeOutlook : public outlook::ObjectModel {
 public:
  struct State;

  FakeOutlook();
  ~FakeOutlook() override;
  FakeOutlook(const FakeOutlook&) = delete;
  FakeOutlook& operator=(const FakeOutlook&) = delete;

  outlook::ConnectResult Connect(std::shared_ptr<outlook::Application>* application) override;

  // Builders: append an item to `folder` (any folder number; the default
  // folders are the ones the interface reaches). Return the entry ID.
  WString AddMail(int32_t folder, MailData data);
  WString AddNote(int32_t folder, NoteData data);
  WString AddContact(int32_t folder, ContactData data);
  WString AddAppointment(int32_t folder, AppointmentData data);
  WString AddOther(int32_t folder, OtherData data = {});

  // Whether an explorer window is open (ActiveExplorer). On by default.
  void SetWindow(bool open);

  // Failure injection, see above.
  void FailOn(std::string pattern, FailWhen when = Always());
  void FailOn(std::string pattern, outlook::ConnectResult result, FailWhen when = Always());
  void NullOn(std::string pattern, FailWhen when = Always());
  void ClearFailures();

  // The calls made so far, in order.
  const std::vector<Call>& calls() const;
  std::vector<Call> Calls(const std::string& pattern) const;
  int Count(const std::string& pattern) const;
  int Count(const std::string& pattern, const std::vector<std::string>& args) const;
  void ClearCalls();

  // Objects handed out and not yet released, and a description of them by
  // interface for failure messages ("MailItem 1, Items 1").
  int live_objects() const;
  std::string DescribeLiveObjects() const;

  // Inspection of the store.
  std::vector<WString> EntryIds(int32_t folder) const;  // in collection order
  int32_t FolderOf(const WString& entry_id) const;      // 0 when not filed
  // The data of a filed item with this entry ID, or null (also for an item
  // of another class). Changing it changes the store.
  MailData* FindMail(const WString& entry_id);
  NoteData* FindNote(const WString& entry_id);
  ContactData* FindContact(const WString& entry_id);
  AppointmentData* FindAppointment(const WString& entry_id);
  // The data behind an object the fake handed out (filed, unsaved or stale),
  // or null for an object of another backend.
  static MailData* DataOf(outlook::MailItem& item);
  static NoteData* DataOf(outlook::NoteItem& item);
  static ContactData* DataOf(outlook::ContactItem& item);
  static AppointmentData* DataOf(outlook::AppointmentItem& item);

  // Objects for tests of code that takes an item directly (the writers and
  // readers): the filed item with this entry ID (null when there is none of
  // that class), or a new unsaved item holding `data`. Calls on them are
  // recorded and can be made to fail like any other.
  std::shared_ptr<outlook::MailItem> GetMail(const WString& entry_id);
  std::shared_ptr<outlook::NoteItem> GetNote(const WString& entry_id);
  std::shared_ptr<outlook::ContactItem> GetContact(const WString& entry_id);
  std::shared_ptr<outlook::AppointmentItem> GetAppointment(const WString& entry_id);
  std::shared_ptr<outlook::MailItem> NewMail(MailData data = {});
  std::shared_ptr<outlook::NoteItem> NewNote(NoteData data = {});

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
