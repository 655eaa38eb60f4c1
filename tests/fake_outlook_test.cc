// The in-memory item store: it keeps the object-model contract, and its
// test features (failure injection, call records, live-object counts) do
// what the tests written against it rely on.
#include "support/fake_outlook.h"

#include <gtest/gtest.h>

#include "support/object_model_contract.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;

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

// The same store seeded only through the interface, so that the default
// seeding a backend inherits is itself exercised.
class InterfaceSeededFake : public ContractBackend {
 public:
  outlook::ObjectModel& model() override { return fake_; }
  int LiveObjects() const override { return fake_.live_objects(); }

 private:
  FakeOutlook fake_;
};

std::unique_ptr<ContractBackend> MakeInterfaceSeededFake() {
  return std::make_unique<InterfaceSeededFake>();
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(Fake, &MakeFakeBackend);
ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(FakeSeededThroughInterface, &MakeInterfaceSeededFake);

namespace zelsync {
namespace testing {
namespace {

// A store with one item of each class (and a meeting request first in the
// Inbox), connected through the interface.
class FakeOutlookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.AddOther(outlook::kFolderInbox, {.entry_id = u"R1"});
    fake_.AddMail(outlook::kFolderInbox, {.entry_id = u"M1", .sender_name = u"Ann"});
    fake_.AddMail(outlook::kFolderInbox, {.entry_id = u"M2", .sender_name = u""});
    fake_.AddNote(outlook::kFolderNotes, {.entry_id = u"N1", .body = u"note"});
    fake_.AddContact(outlook::kFolderContacts, {.entry_id = u"C1", .full_name = u"Bo Berg"});
    fake_.AddAppointment(outlook::kFolderCalendar, {.entry_id = u"A1", .subject = u"Lunch"});
  }

  std::shared_ptr<outlook::Items> Items(int32_t folder) {
    std::shared_ptr<outlook::Application> app;
    std::shared_ptr<outlook::Namespace> ns;
    std::shared_ptr<outlook::Folder> f;
    std::shared_ptr<outlook::Items> items;
    if (fake_.Connect(&app) == ConnectResult::kOk && app->GetNamespace(u"MAPI", &ns) &&
        ns->GetDefaultFolder(folder, &f))
      f->GetItems(&items);
    return items;
  }

  std::shared_ptr<outlook::Item> ItemAt(int32_t folder, int32_t index) {
    std::shared_ptr<outlook::Item> item;
    if (auto items = Items(folder)) items->Item(index, &item);
    return item;
  }

  WString TempPath(const char16_t* name) {
    WString temp;
    EXPECT_TRUE(Env::Current().TempFolder(&temp));
    WString path = temp + u"zelsync-fake-" + Env::Current().CreateUuidString() + name;
    scratch_.push_back(path);
    return path;
  }

  std::string ReadFile(const WString& path) {
    std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
    std::string out;
    char chunk[512];
    for (size_t n; file && (n = file->Read(chunk, sizeof chunk)) > 0;) out.append(chunk, n);
    return out;
  }

  void WriteFile(const WString& path, const std::string& bytes) {
    std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(bytes.size(), file->Write(bytes.data(), bytes.size()));
  }

  void TearDown() override {
    for (const WString& path : scratch_) Env::Current().RemoveFile(path);
  }

  FakeOutlook fake_;
  std::vector<WString> scratch_;
};

TEST_F(FakeOutlookTest, MeetingRequestRefusesEveryQuery) {
  std::shared_ptr<outlook::Item> item = ItemAt(outlook::kFolderInbox, 1);
  ASSERT_NE(nullptr, item);
  EXPECT_EQ(nullptr, item->QueryMail());
  EXPECT_EQ(nullptr, item->QueryNote());
  EXPECT_EQ(nullptr, item->QueryContact());
  EXPECT_EQ(nullptr, item->QueryAppointment());
  EXPECT_NE(nullptr, ItemAt(outlook::kFolderInbox, 2)->QueryMail());
}

TEST_F(FakeOutlookTest, FailureRulesPickTheirCalls) {
  fake_.FailOn("Items.Item", WithArgs({"2"}));
  fake_.FailOn("*.EntryID", OnItem(u"C1"));
  fake_.FailOn("NoteItem.Body", OnCall(2));
  std::shared_ptr<outlook::Items> inbox = Items(outlook::kFolderInbox);
  std::shared_ptr<outlook::Item> item;
  EXPECT_TRUE(inbox->Item(1, &item));
  EXPECT_FALSE(inbox->Item(2, &item));
  EXPECT_TRUE(inbox->Item(3, &item));

  OptString id = u"untouched";
  EXPECT_FALSE(ItemAt(outlook::kFolderContacts, 1)->QueryContact()->EntryID(&id));
  EXPECT_EQ(u"untouched", id) << "a failed call leaves its out-value alone";
  EXPECT_TRUE(ItemAt(outlook::kFolderNotes, 1)->QueryNote()->EntryID(&id));

  std::shared_ptr<outlook::NoteItem> note = ItemAt(outlook::kFolderNotes, 1)->QueryNote();
  OptString body;
  EXPECT_TRUE(note->Body(&body));
  EXPECT_FALSE(note->Body(&body));
  EXPECT_TRUE(note->Body(&body));

  const std::vector<Call> calls = fake_.Calls("Items.Item");
  ASSERT_EQ(6u, calls.size());  // three on the Inbox, one per ItemAt
  EXPECT_FALSE(calls[0].injected);
  EXPECT_TRUE(calls[1].injected);
  EXPECT_FALSE(calls[1].ok);
  EXPECT_EQ(u"M2", calls[2].entry_id);
  EXPECT_TRUE(calls[2].ok);

  fake_.ClearFailures();
  EXPECT_TRUE(inbox->Item(2, &item));
}

TEST_F(FakeOutlookTest, FromCallAndWithArgFailLaterAndSelectedCalls) {
  // The vCalendar save fails, the iCalendar one works: the usual fallback.
  fake_.FailOn("AppointmentItem.SaveAs", WithArg(1, "7"));
  std::shared_ptr<outlook::AppointmentItem> appointment = fake_.GetAppointment(u"A1");
  ASSERT_NE(nullptr, appointment);
  EXPECT_FALSE(appointment->SaveAs(TempPath(u".vcs"), outlook::kSaveAsVCalendar));
  EXPECT_TRUE(appointment->SaveAs(TempPath(u".ics"), outlook::kSaveAsICalendar));

  fake_.FailOn("Items.Count", FromCall(2));
  std::shared_ptr<outlook::Items> items = Items(outlook::kFolderNotes);
  int32_t count = 0;
  EXPECT_TRUE(items->Count(&count));
  EXPECT_FALSE(items->Count(&count));
  EXPECT_FALSE(items->Count(&count));
}

TEST_F(FakeOutlookTest, ConnectReportsTheInjectedOutcome) {
  const ConnectResult outcomes[] = {ConnectResult::kNotRegistered, ConnectResult::kCreationFailed,
                                    ConnectResult::kNoObject};
  for (ConnectResult outcome : outcomes) {
    FakeOutlook fake;
    fake.FailOn("Connect", outcome);
    std::shared_ptr<outlook::Application> app;
    outlook::ScopedObjectModel use(fake);
    EXPECT_EQ(outcome, outlook::ObjectModel::Current().Connect(&app));
    EXPECT_EQ(nullptr, app);
    EXPECT_EQ(1, fake.Count("Connect"));
    EXPECT_EQ(0, fake.live_objects());
  }
  FakeOutlook fake;
  fake.NullOn("Connect");
  std::shared_ptr<outlook::Application> app;
  EXPECT_EQ(ConnectResult::kNoObject, fake.Connect(&app));
  EXPECT_EQ(nullptr, app);
}

TEST_F(FakeOutlookTest, NullRulesSucceedWithoutAValue) {
  fake_.NullOn("Application.Session");
  fake_.NullOn("MailItem.Subject");
  std::shared_ptr<outlook::Application> app;
  ASSERT_EQ(ConnectResult::kOk, fake_.Connect(&app));
  std::shared_ptr<outlook::Namespace> ns;
  EXPECT_TRUE(app->Session(&ns));
  EXPECT_EQ(nullptr, ns);
  fake_.FindMail(u"M1")->subject = u"set";
  OptString subject = u"x";
  EXPECT_TRUE(fake_.GetMail(u"M1")->Subject(&subject));
  EXPECT_EQ(std::nullopt, subject);
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

TEST_F(FakeOutlookTest, CallsAreCountedByNameAndArguments) {
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
  EXPECT_EQ(0, fake_.Count("Application.Quit"));
  EXPECT_EQ(0, fake_.Count("Namespace.Logoff"));
  fake_.ClearCalls();
  EXPECT_TRUE(fake_.calls().empty());
}

TEST_F(FakeOutlookTest, CreatedMailSavesIntoDraftsAndMovesUnderANewEntryId) {
  std::shared_ptr<outlook::Application> app;
  std::shared_ptr<outlook::Namespace> ns;
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Item> item;
  ASSERT_EQ(ConnectResult::kOk, fake_.Connect(&app));
  ASSERT_TRUE(app->Session(&ns));
  ASSERT_TRUE(ns->GetDefaultFolder(outlook::kFolderInbox, &inbox));
  ASSERT_TRUE(app->CreateItem(outlook::kMailItem, &item));
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail();
  ASSERT_NE(nullptr, mail);
  OptString draft_id = u"x";
  ASSERT_TRUE(mail->EntryID(&draft_id));
  EXPECT_EQ(std::nullopt, draft_id);
  ASSERT_TRUE(mail->Save());
  ASSERT_TRUE(mail->EntryID(&draft_id));
  ASSERT_TRUE(draft_id);
  EXPECT_EQ(kFolderDrafts, fake_.FolderOf(*draft_id));

  std::shared_ptr<outlook::MailItem> moved;
  ASSERT_TRUE(mail->Move(inbox, &moved));
  OptString moved_id, stale_id;
  ASSERT_TRUE(moved->EntryID(&moved_id));
  ASSERT_TRUE(mail->EntryID(&stale_id));
  EXPECT_NE(draft_id, moved_id);
  EXPECT_EQ(draft_id, stale_id) << "the object moved from keeps its old entry ID";
  EXPECT_EQ(0, fake_.FolderOf(*draft_id));
  EXPECT_EQ(outlook::kFolderInbox, fake_.FolderOf(*moved_id));
  EXPECT_EQ((std::vector<WString>{u"R1", u"M1", u"M2", *moved_id}),
            fake_.EntryIds(outlook::kFolderInbox));
  EXPECT_FALSE(mail->Save()) << "a stale object cannot be saved";
  EXPECT_FALSE(mail->Move(inbox, &moved));

  const std::vector<Call> moves = fake_.Calls("MailItem.Move");
  ASSERT_EQ(2u, moves.size());
  EXPECT_EQ(draft_id, moves[0].entry_id);
  EXPECT_EQ(moved_id, moves[0].new_entry_id);
  EXPECT_EQ(std::vector<std::string>{"6"}, moves[0].args);
  EXPECT_TRUE(moves[0].ok);
  EXPECT_FALSE(moves[1].ok);
  const std::vector<Call> saves = fake_.Calls("*.Save");
  ASSERT_EQ(2u, saves.size());
  EXPECT_EQ(std::nullopt, saves[0].entry_id);
  EXPECT_EQ(draft_id, saves[0].new_entry_id);
}

TEST_F(FakeOutlookTest, ItemsSeesTheFolderAsItIsNow) {
  std::shared_ptr<outlook::Items> inbox = Items(outlook::kFolderInbox);
  int32_t count = 0;
  ASSERT_TRUE(inbox->Count(&count));
  EXPECT_EQ(3, count);
  ASSERT_TRUE(fake_.GetMail(u"M1")->Delete());
  ASSERT_TRUE(inbox->Count(&count));
  EXPECT_EQ(2, count);
  std::shared_ptr<outlook::Item> item;
  EXPECT_FALSE(inbox->Item(3, &item));
  ASSERT_TRUE(inbox->Item(2, &item));
  OptString id;
  ASSERT_TRUE(item->QueryMail()->EntryID(&id));
  EXPECT_EQ(u"M2", id);
}

TEST_F(FakeOutlookTest, LiveObjectsCountUntilReleased) {
  EXPECT_EQ(0, fake_.live_objects());
  std::shared_ptr<outlook::Item> item = ItemAt(outlook::kFolderNotes, 1);
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
    short_lived.AddContact(outlook::kFolderContacts, {.entry_id = u"L", .full_name = u"Lee"});
    leaked = short_lived.GetContact(u"L");
  }
  OptString name;
  ASSERT_TRUE(leaked->FullName(&name));
  EXPECT_EQ(u"Lee", name);
}

// Fails opening files whose path ends in `suffix`.
class FailingOpenEnv : public EnvWrapper {
 public:
  FailingOpenEnv(Env& target, WString suffix) : EnvWrapper(target), suffix_(std::move(suffix)) {}
  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override {
    if (path.size() >= suffix_.size() &&
        path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0) {
      if (status) *status = FsStatus::kOther;
      return nullptr;
    }
    return EnvWrapper::Open(path, mode, status);
  }

 private:
  WString suffix_;
};

TEST_F(FakeOutlookTest, FilesGoThroughThePlatformLayer) {
  FailingOpenEnv env(Env::Current(), u".vcs");
  ScopedEnv use(env);
  std::shared_ptr<outlook::AppointmentItem> appointment = fake_.GetAppointment(u"A1");
  EXPECT_FALSE(appointment->SaveAs(TempPath(u".vcs"), outlook::kSaveAsVCalendar));
  EXPECT_TRUE(appointment->SaveAs(TempPath(u".ics"), outlook::kSaveAsICalendar));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
