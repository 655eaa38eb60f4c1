// The in-memory item store: it keeps the object-model contract, and its
// test features (failure injection, call records, the window flag,
// live-object counts) do what the tests written against it rely on.
#include "support/fake_outlook.h"

#include <gtest/gtest.h>

#include "support/object_model_contract.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;

// Seeds straight into the store, so that null strings stay null.
class FakeBackend : public ContractBackend {
 public:
  outlook::ObjectModel& model() override { return fake_; }
  OptString SeedMail(const MailData& data) override {
    return fake_.AddMail(outlook::kFolderInbox, Fresh(data));
  }
  OptString SeedNote(const NoteData& data) override {
    return fake_.AddNote(outlook::kFolderNotes, Fresh(data));
  }
  OptString SeedContact(const ContactData& data) override {
    return fake_.AddContact(outlook::kFolderContacts, Fresh(data));
  }
  OptString SeedAppointment(const AppointmentData& data) override {
    return fake_.AddAppointment(outlook::kFolderCalendar, Fresh(data));
  }
  bool KeepsNullStrings() const override { return true; }
  int LiveObjects() const override { return fake_.live_objects(); }

 private:
  template <class Data>
  static Data Fresh(Data data) {
    data.entry_id.reset();
    return data;
  }
  FakeOutlook fake_;
};

std::unique_ptr<ContractBackend> MakeFakeBackend() { return std::make_unique<FakeBackend>(); }

}  // namespace
}  // namespace testing
}  // namespace zelsync

ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(Fake, &MakeFakeBackend);

namespace zelsync {
namespace testing {
namespace {

// A meeting request and two mails in the Inbox, a note in Notes.
class FakeOutlookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.AddOther(outlook::kFolderInbox, {.entry_id = u"R1"});
    fake_.AddMail(outlook::kFolderInbox, {.entry_id = u"M1", .sender_name = u"Ann"});
    fake_.AddMail(outlook::kFolderInbox, {.entry_id = u"M2", .sender_name = u""});
    fake_.AddNote(outlook::kFolderNotes, {.entry_id = u"N1", .body = u"note"});
  }

  std::shared_ptr<outlook::Folder> Folder(int32_t folder) {
    std::shared_ptr<outlook::Application> app;
    std::shared_ptr<outlook::Namespace> ns;
    std::shared_ptr<outlook::Folder> f;
    if (fake_.Connect(&app) == ConnectResult::kOk && app->GetNamespace(u"MAPI", &ns))
      ns->GetDefaultFolder(folder, &f);
    return f;
  }
  std::shared_ptr<outlook::Items> Items(int32_t folder) {
    std::shared_ptr<outlook::Items> items;
    if (auto f = Folder(folder)) f->GetItems(&items);
    return items;
  }

  FakeOutlook fake_;
};

TEST_F(FakeOutlookTest, FailureRulesPickTheirCallsAndLeaveOutValuesAlone) {
  fake_.FailOn("Items.Item", WithArgs({"2"}));
  fake_.FailOn("*.EntryID", OnCall(2));
  fake_.FailOn("Namespace.GetDefaultFolder", WithArg(0, "9"));
  std::shared_ptr<outlook::Items> inbox = Items(outlook::kFolderInbox);
  ASSERT_NE(nullptr, inbox);
  std::shared_ptr<outlook::Item> item, untouched;
  EXPECT_TRUE(inbox->Item(1, &item));
  EXPECT_FALSE(inbox->Item(2, &untouched));
  EXPECT_EQ(nullptr, untouched);
  ASSERT_TRUE(inbox->Item(3, &item));

  std::shared_ptr<outlook::MailItem> mail = item->QueryMail();
  ASSERT_NE(nullptr, mail);
  OptString id;
  EXPECT_TRUE(mail->EntryID(&id));
  EXPECT_EQ(u"M2", id);
  id = u"untouched";
  EXPECT_FALSE(mail->EntryID(&id));
  EXPECT_EQ(u"untouched", id);
  EXPECT_TRUE(mail->EntryID(&id));

  EXPECT_EQ(nullptr, Folder(outlook::kFolderCalendar));
  EXPECT_NE(nullptr, Folder(outlook::kFolderNotes));
  fake_.ClearFailures();
  EXPECT_TRUE(inbox->Item(2, &item));
  EXPECT_NE(nullptr, Folder(outlook::kFolderCalendar));
}

TEST_F(FakeOutlookTest, ConnectReportsTheInjectedOutcomesInTurn) {
  fake_.FailOn("Connect", ConnectResult::kNotRegistered, OnCall(1));
  fake_.FailOn("Connect", ConnectResult::kNoObject, OnCall(2));
  fake_.FailOn("Connect", OnCall(3));
  outlook::ScopedObjectModel use(fake_);
  for (ConnectResult expected : {ConnectResult::kNotRegistered, ConnectResult::kNoObject,
                                 ConnectResult::kCreationFailed, ConnectResult::kOk}) {
    std::shared_ptr<outlook::Application> app;
    EXPECT_EQ(expected, outlook::ObjectModel::Current().Connect(&app));
    EXPECT_EQ(expected == ConnectResult::kOk, app != nullptr);
  }
  EXPECT_EQ(4, fake_.Count("Connect"));
}

TEST_F(FakeOutlookTest, WindowFlagDecidesActiveExplorer) {
  std::shared_ptr<outlook::Application> app;
  ASSERT_EQ(ConnectResult::kOk, fake_.Connect(&app));
  bool present = false;
  EXPECT_TRUE(app->ActiveExplorer(&present));
  EXPECT_TRUE(present);
  fake_.SetWindow(false);
  EXPECT_TRUE(app->ActiveExplorer(&present));
  EXPECT_FALSE(present);
}

TEST_F(FakeOutlookTest, CallsAreRecordedWithArgumentsAndTheEntryIdBeforeTheCall) {
  std::shared_ptr<outlook::Items> inbox = Items(outlook::kFolderInbox);
  std::shared_ptr<outlook::Item> item;
  inbox->Item(1, &item);
  inbox->Item(3, &item);
  inbox->Item(3, &item);
  EXPECT_EQ(3, fake_.Count("Items.Item"));
  EXPECT_EQ(2, fake_.Count("Items.Item", {"3"}));
  EXPECT_EQ(0, fake_.Count("Items.Item", {"4"}));
  EXPECT_EQ(1, fake_.Count("Namespace.GetDefaultFolder", {"6"}));
  EXPECT_EQ(1, fake_.Count("Application.GetNamespace", {"MAPI"}));

  // Move files the mail under a new entry ID; the object moved from is stale.
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  ASSERT_TRUE(mail->Move(Folder(kFolderDrafts), &moved));
  OptString moved_id;
  ASSERT_TRUE(moved->EntryID(&moved_id));
  ASSERT_TRUE(moved_id);
  EXPECT_NE(u"M2", moved_id);
  EXPECT_EQ((std::vector<WString>{u"R1", u"M1"}), fake_.EntryIds(outlook::kFolderInbox));
  EXPECT_EQ(std::vector<WString>{*moved_id}, fake_.EntryIds(kFolderDrafts));
  EXPECT_FALSE(mail->Save());
  EXPECT_TRUE(moved->Save());
  const std::vector<Call> moves = fake_.Calls("MailItem.Move");
  ASSERT_EQ(1u, moves.size());
  EXPECT_EQ(std::vector<std::string>{"16"}, moves[0].args);
  EXPECT_EQ(u"M2", moves[0].entry_id);
  const std::vector<Call> saves = fake_.Calls("*.Save");
  ASSERT_EQ(2u, saves.size());
  EXPECT_EQ(u"M2", saves[0].entry_id);
  EXPECT_EQ(moved_id, saves[1].entry_id);

  fake_.ClearCalls();
  EXPECT_EQ(0, fake_.Count("Items.Item"));
}

TEST_F(FakeOutlookTest, LiveObjectsCountUntilReleased) {
  std::shared_ptr<outlook::Items> items = Items(outlook::kFolderNotes);
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(items->Item(1, &item));
  items.reset();
  std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
  EXPECT_EQ(2, fake_.live_objects());
  EXPECT_EQ("Item 1, NoteItem 1", fake_.DescribeLiveObjects());
  item.reset();
  note.reset();
  EXPECT_EQ(0, fake_.live_objects());
  EXPECT_EQ("none", fake_.DescribeLiveObjects());

  // An object that outlives its store still works (the store stays alive).
  std::shared_ptr<outlook::ContactItem> leaked;
  {
    FakeOutlook short_lived;
    const WString id = short_lived.AddContact(outlook::kFolderContacts, {.full_name = u"Lee"});
    leaked = short_lived.GetContact(id);
  }
  OptString name;
  ASSERT_TRUE(leaked->FullName(&name));
  EXPECT_EQ(u"Lee", name);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
