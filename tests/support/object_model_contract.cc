#include "support/object_model_contract.h"

#include <algorithm>
#include <set>
#include <string>

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;

const int32_t kDefaultFolders[] = {outlook::kFolderInbox, outlook::kFolderCalendar,
                                   outlook::kFolderContacts, outlook::kFolderNotes};

bool WriteFile(const WString& path, const std::string& bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(bytes.data(), bytes.size()) == bytes.size();
}

bool ReadFile(const WString& path, std::string* bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  bytes->clear();
  char chunk[4096];
  for (size_t n; (n = file->Read(chunk, sizeof chunk)) > 0;) {
    bytes->append(chunk, n);
    if (bytes->size() > (1u << 24)) return false;
  }
  return true;
}

bool NullOrEmpty(const OptString& s) { return !s || s->empty(); }

std::string Show(const OptString& s) { return s ? "\"" + Utf16ToUtf8(*s) + "\"" : "null"; }

// The default seeding goes through the interface: a connection per seed.
struct Seeder {
  explicit Seeder(outlook::ObjectModel& model) {
    if (model.Connect(&app) != ConnectResult::kOk || !app || !app->Session(&ns) || !ns) ns.reset();
  }
  std::shared_ptr<outlook::Item> Create(int32_t type) {
    std::shared_ptr<outlook::Item> item;
    if (!ns || !app->CreateItem(type, &item)) return nullptr;
    return item;
  }
  std::shared_ptr<outlook::Item> Open(const std::string& text, const char* extension) {
    WString temp;
    if (!ns || !Env::Current().TempFolder(&temp)) return nullptr;
    const WString path =
        temp + u"zelsync-seed-" + Env::Current().CreateUuidString() + Utf8ToUtf16(extension);
    std::shared_ptr<outlook::Item> item;
    if (WriteFile(path, text) && !ns->OpenSharedItem(path, &item)) item.reset();
    Env::Current().RemoveFile(path);
    return item;
  }
  template <class ItemPtr>
  static OptString SaveAndId(const ItemPtr& item) {
    OptString id;
    if (!item || !item->Save() || !item->EntryID(&id) || NullOrEmpty(id)) return std::nullopt;
    return id;
  }
  std::shared_ptr<outlook::Application> app;
  std::shared_ptr<outlook::Namespace> ns;
};

std::string VObjectText(const WString& s) {
  std::string out;
  for (char c : Utf16ToUtf8(s)) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

// ---- default seeding ----

OptString ContractBackend::SeedMail(const MailData& data) {
  Seeder seeder(model());
  std::shared_ptr<outlook::Item> item = seeder.Create(outlook::kMailItem);
  std::shared_ptr<outlook::MailItem> mail = item ? item->QueryMail() : nullptr;
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::MailItem> moved;
  if (!mail || !seeder.ns->GetDefaultFolder(outlook::kFolderInbox, &inbox) || !inbox)
    return std::nullopt;
  if ((data.subject && !mail->PutSubject(*data.subject)) || (data.to && !mail->PutTo(*data.to)) ||
      (data.cc && !mail->PutCC(*data.cc)) ||
      (data.html_body && !mail->PutHTMLBody(*data.html_body)) || !mail->PutUnRead(data.unread) ||
      !mail->Save() || !mail->Move(inbox, &moved) || !moved)
    return std::nullopt;
  OptString id;
  if (!moved->EntryID(&id) || NullOrEmpty(id)) return std::nullopt;
  return id;
}

OptString ContractBackend::SeedNote(const NoteData& data) {
  Seeder seeder(model());
  std::shared_ptr<outlook::Item> item = seeder.Create(outlook::kNoteItem);
  std::shared_ptr<outlook::NoteItem> note = item ? item->QueryNote() : nullptr;
  if (!note || (data.body && !note->PutBody(*data.body))) return std::nullopt;
  return Seeder::SaveAndId(note);
}

OptString ContractBackend::SeedContact(const ContactData& data) {
  Seeder seeder(model());
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:";
  if (data.full_name) text += VObjectText(*data.full_name);
  text += "\r\n";
  if (data.full_name) text += "FN:" + VObjectText(*data.full_name) + "\r\n";
  text += "END:VCARD\r\n";
  std::shared_ptr<outlook::Item> item = seeder.Open(text, ".vcf");
  return Seeder::SaveAndId(item ? item->QueryContact() : nullptr);
}

OptString ContractBackend::SeedAppointment(const AppointmentData& data) {
  Seeder seeder(model());
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n";
  if (data.subject) text += "SUMMARY:" + VObjectText(*data.subject) + "\r\n";
  text += "DTSTART:20240101T120000\r\nDTEND:20240101T130000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  std::shared_ptr<outlook::Item> item = seeder.Open(text, ".vcs");
  return Seeder::SaveAndId(item ? item->QueryAppointment() : nullptr);
}

// ---- fixture ----

void ObjectModelContract::SetUp() {
  backend_ = GetParam()();
  ASSERT_NE(nullptr, backend_);
}

void ObjectModelContract::TearDown() {
  for (const WString& path : scratch_files_) Env::Current().RemoveFile(path);
  const int live = backend_ ? backend_->LiveObjects() : -1;
  if (live >= 0) {
    EXPECT_EQ(0, live) << "objects still alive after the test";
  }
  backend_.reset();
}

std::shared_ptr<outlook::Application> ObjectModelContract::Connect() {
  std::shared_ptr<outlook::Application> app;
  const ConnectResult result = backend_->model().Connect(&app);
  EXPECT_EQ(ConnectResult::kOk, result);
  EXPECT_NE(nullptr, app);
  return result == ConnectResult::kOk ? app : nullptr;
}

std::shared_ptr<outlook::Namespace> ObjectModelContract::Session() {
  std::shared_ptr<outlook::Application> app = Connect();
  std::shared_ptr<outlook::Namespace> ns;
  if (!app) return nullptr;
  EXPECT_TRUE(app->GetNamespace(u"MAPI", &ns));
  EXPECT_NE(nullptr, ns);
  return ns;
}

std::shared_ptr<outlook::Folder> ObjectModelContract::DefaultFolder(int32_t id) {
  std::shared_ptr<outlook::Namespace> ns = Session();
  std::shared_ptr<outlook::Folder> folder;
  if (!ns) return nullptr;
  EXPECT_TRUE(ns->GetDefaultFolder(id, &folder)) << "folder " << id;
  EXPECT_NE(nullptr, folder) << "folder " << id;
  return folder;
}

std::shared_ptr<outlook::Items> ObjectModelContract::FolderItems(int32_t id) {
  std::shared_ptr<outlook::Folder> folder = DefaultFolder(id);
  std::shared_ptr<outlook::Items> items;
  if (!folder) return nullptr;
  EXPECT_TRUE(folder->GetItems(&items)) << "folder " << id;
  EXPECT_NE(nullptr, items) << "folder " << id;
  return items;
}

std::vector<WString> ObjectModelContract::ReadEntryIds(int32_t folder) {
  std::vector<WString> ids;
  std::shared_ptr<outlook::Items> items = FolderItems(folder);
  int32_t count = -1;
  if (!items || !items->Count(&count)) {
    ADD_FAILURE() << "cannot count folder " << folder;
    return ids;
  }
  for (int32_t i = 1; i <= count; ++i) {
    std::shared_ptr<outlook::Item> item;
    OptString id;
    bool read = false;
    if (items->Item(i, &item) && item) {
      if (auto mail = item->QueryMail())
        read = mail->EntryID(&id);
      else if (auto note = item->QueryNote())
        read = note->EntryID(&id);
      else if (auto contact = item->QueryContact())
        read = contact->EntryID(&id);
      else if (auto appointment = item->QueryAppointment())
        read = appointment->EntryID(&id);
    }
    EXPECT_TRUE(read) << "folder " << folder << " item " << i;
    ids.push_back(id.value_or(WString()));
  }
  return ids;
}

std::shared_ptr<outlook::Item> ObjectModelContract::FindItem(int32_t folder,
                                                             const WString& entry_id) {
  std::shared_ptr<outlook::Items> items = FolderItems(folder);
  int32_t count = 0;
  if (!items || !items->Count(&count)) return nullptr;
  for (int32_t i = 1; i <= count; ++i) {
    std::shared_ptr<outlook::Item> item;
    OptString id;
    if (!items->Item(i, &item) || !item) continue;
    if (auto mail = item->QueryMail())
      mail->EntryID(&id);
    else if (auto note = item->QueryNote())
      note->EntryID(&id);
    else if (auto contact = item->QueryContact())
      contact->EntryID(&id);
    else if (auto appointment = item->QueryAppointment())
      appointment->EntryID(&id);
    if (id == entry_id) return item;
  }
  return nullptr;
}

WString ObjectModelContract::ScratchPath(const char* name) {
  WString temp;
  EXPECT_TRUE(Env::Current().TempFolder(&temp));
  const WString path =
      temp + u"zelsync-contract-" + Env::Current().CreateUuidString() + u"-" + Utf8ToUtf16(name);
  scratch_files_.push_back(path);
  return path;
}

// ---- the contract ----

TEST_P(ObjectModelContract, ConnectsAndReachesEveryDefaultFolderEmpty) {
  std::shared_ptr<outlook::Application> app = Connect();
  ASSERT_NE(nullptr, app);
  std::shared_ptr<outlook::Namespace> session;
  ASSERT_TRUE(app->Session(&session));
  ASSERT_NE(nullptr, session);
  for (int32_t id : kDefaultFolders) {
    std::shared_ptr<outlook::Folder> folder;
    std::shared_ptr<outlook::Items> items;
    int32_t count = -1;
    ASSERT_TRUE(session->GetDefaultFolder(id, &folder)) << id;
    ASSERT_NE(nullptr, folder);
    ASSERT_TRUE(folder->GetItems(&items)) << id;
    ASSERT_NE(nullptr, items);
    ASSERT_TRUE(items->Count(&count)) << id;
    EXPECT_EQ(0, count) << "folder " << id << " of a fresh store";
  }
}

TEST_P(ObjectModelContract, EntryIdsAreUniqueAndStableAcrossReadsInTheSameOrder) {
  std::vector<std::pair<int32_t, OptString>> seeded = {
      {outlook::kFolderInbox, backend().SeedMail({.subject = u"one"})},
      {outlook::kFolderInbox, backend().SeedMail({.subject = u"two"})},
      {outlook::kFolderNotes, backend().SeedNote({.body = u"n1"})},
      {outlook::kFolderNotes, backend().SeedNote({.body = u"n2"})},
      {outlook::kFolderContacts, backend().SeedContact({.full_name = u"Ann Lee"})},
      {outlook::kFolderContacts, backend().SeedContact({.full_name = u"Bo Berg"})},
      {outlook::kFolderCalendar, backend().SeedAppointment({.subject = u"Dentist"})},
      {outlook::kFolderCalendar, backend().SeedAppointment({.subject = u"Lunch"})},
  };
  std::set<WString> all;
  for (const auto& [folder, id] : seeded) {
    ASSERT_FALSE(NullOrEmpty(id)) << "seeding into folder " << folder;
    all.insert(*id);
  }
  EXPECT_EQ(seeded.size(), all.size()) << "entry IDs are unique across the store";

  for (int32_t folder : kDefaultFolders) {
    const std::vector<WString> first = ReadEntryIds(folder);
    const std::vector<WString> second = ReadEntryIds(folder);
    EXPECT_EQ(first, second) << "folder " << folder << " reads the same twice";
    std::set<WString> expected, found(first.begin(), first.end());
    for (const auto& [f, id] : seeded)
      if (f == folder) expected.insert(*id);
    EXPECT_EQ(expected, found) << "folder " << folder;
  }
}

TEST_P(ObjectModelContract, AddingOrDeletingKeepsTheOrderOfTheOthers) {
  for (const char16_t* body : {u"a", u"b", u"c"}) ASSERT_TRUE(backend().SeedNote({.body = body}));
  std::vector<WString> before = ReadEntryIds(outlook::kFolderNotes);
  const OptString added = backend().SeedNote({.body = u"d"});
  ASSERT_TRUE(added);
  std::vector<WString> after = ReadEntryIds(outlook::kFolderNotes);
  after.erase(std::find(after.begin(), after.end(), *added));
  EXPECT_EQ(before, after);

  {
    std::shared_ptr<outlook::Item> first = FindItem(outlook::kFolderNotes, before[0]);
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(first->QueryNote()->Delete());
  }
  after = ReadEntryIds(outlook::kFolderNotes);
  after.erase(std::find(after.begin(), after.end(), *added));
  before.erase(before.begin());
  EXPECT_EQ(before, after);
}

TEST_P(ObjectModelContract, ItemFailsOutsideOneToCount) {
  ASSERT_TRUE(backend().SeedNote({.body = u"a"}));
  ASSERT_TRUE(backend().SeedNote({.body = u"b"}));
  std::shared_ptr<outlook::Items> items = FolderItems(outlook::kFolderNotes);
  ASSERT_NE(nullptr, items);
  int32_t count = 0;
  ASSERT_TRUE(items->Count(&count));
  ASSERT_EQ(2, count);
  for (int32_t index : {0, -1, 3, 1000}) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_FALSE(items->Item(index, &item)) << index;
    EXPECT_EQ(nullptr, item) << index;
  }
  for (int32_t index : {1, 2}) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(items->Item(index, &item)) << index;
    EXPECT_NE(nullptr, item) << index;
  }
}

TEST_P(ObjectModelContract, QueriesTellTheFourClassesApart) {
  ASSERT_TRUE(backend().SeedMail({.subject = u"m"}));
  ASSERT_TRUE(backend().SeedNote({.body = u"n"}));
  ASSERT_TRUE(backend().SeedContact({.full_name = u"c"}));
  ASSERT_TRUE(backend().SeedAppointment({.subject = u"a"}));
  for (int32_t folder : kDefaultFolders) {
    std::shared_ptr<outlook::Items> items = FolderItems(folder);
    std::shared_ptr<outlook::Item> item;
    ASSERT_NE(nullptr, items);
    ASSERT_TRUE(items->Item(1, &item)) << folder;
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(folder == outlook::kFolderInbox, item->QueryMail() != nullptr) << folder;
    EXPECT_EQ(folder == outlook::kFolderNotes, item->QueryNote() != nullptr) << folder;
    EXPECT_EQ(folder == outlook::kFolderContacts, item->QueryContact() != nullptr) << folder;
    EXPECT_EQ(folder == outlook::kFolderCalendar, item->QueryAppointment() != nullptr) << folder;
  }
}

TEST_P(ObjectModelContract, SaveKeepsTheEntryIdAndStoresTheChange) {
  const OptString first = backend().SeedNote({.body = u"first"});
  const OptString id = backend().SeedNote({.body = u"before"});
  ASSERT_TRUE(first && id);
  {
    std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderNotes, *id);
    ASSERT_NE(nullptr, item);
    std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
    ASSERT_NE(nullptr, note);
    ASSERT_TRUE(note->PutBody(u"after"));
    ASSERT_TRUE(note->Save());
    OptString after;
    ASSERT_TRUE(note->EntryID(&after));
    EXPECT_EQ(id, after);
  }
  EXPECT_EQ((std::vector<WString>{*first, *id}), ReadEntryIds(outlook::kFolderNotes));
  std::shared_ptr<outlook::Item> again = FindItem(outlook::kFolderNotes, *id);
  ASSERT_NE(nullptr, again);
  OptString body;
  ASSERT_TRUE(again->QueryNote()->Body(&body));
  EXPECT_EQ(u"after", body);
}

TEST_P(ObjectModelContract, CreatedNoteHasNoEntryIdUntilSaved) {
  std::shared_ptr<outlook::Application> app = Connect();
  ASSERT_NE(nullptr, app);
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app->CreateItem(outlook::kNoteItem, &item));
  ASSERT_NE(nullptr, item);
  EXPECT_EQ(nullptr, item->QueryMail());
  std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
  ASSERT_NE(nullptr, note);
  OptString id;
  ASSERT_TRUE(note->EntryID(&id));
  EXPECT_TRUE(NullOrEmpty(id)) << Show(id);
  EXPECT_TRUE(ReadEntryIds(outlook::kFolderNotes).empty()) << "an unsaved item is not filed";

  ASSERT_TRUE(note->PutBody(u"Milk\r\nEggs"));
  ASSERT_TRUE(note->Save());
  ASSERT_TRUE(note->EntryID(&id));
  ASSERT_FALSE(NullOrEmpty(id));
  EXPECT_EQ(std::vector<WString>{*id}, ReadEntryIds(outlook::kFolderNotes));
  std::shared_ptr<outlook::Item> stored = FindItem(outlook::kFolderNotes, *id);
  ASSERT_NE(nullptr, stored);
  OptString body;
  ASSERT_TRUE(stored->QueryNote()->Body(&body));
  EXPECT_EQ(u"Milk\r\nEggs", body);
}

TEST_P(ObjectModelContract, MoveFilesTheCreatedMailInTheInbox) {
  std::shared_ptr<outlook::Application> app = Connect();
  ASSERT_NE(nullptr, app);
  std::shared_ptr<outlook::Namespace> ns;
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app->Session(&ns));
  ASSERT_TRUE(ns->GetDefaultFolder(outlook::kFolderInbox, &inbox));
  ASSERT_TRUE(app->CreateItem(outlook::kMailItem, &item));
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail();
  ASSERT_NE(nullptr, mail);
  ASSERT_TRUE(mail->PutBodyFormat(outlook::kBodyFormatHtml));
  ASSERT_TRUE(mail->PutSubject(u"Hello"));
  ASSERT_TRUE(mail->PutHTMLBody(u"<html><body>Hi</body></html>"));
  ASSERT_TRUE(mail->Save());
  std::shared_ptr<outlook::MailItem> moved;
  ASSERT_TRUE(mail->Move(inbox, &moved));
  ASSERT_NE(nullptr, moved);
  OptString id;
  ASSERT_TRUE(moved->EntryID(&id));
  ASSERT_FALSE(NullOrEmpty(id));

  EXPECT_EQ(std::vector<WString>{*id}, ReadEntryIds(outlook::kFolderInbox));
  std::shared_ptr<outlook::Item> stored = FindItem(outlook::kFolderInbox, *id);
  ASSERT_NE(nullptr, stored);
  std::shared_ptr<outlook::MailItem> stored_mail = stored->QueryMail();
  ASSERT_NE(nullptr, stored_mail);
  OptString subject, body;
  ASSERT_TRUE(stored_mail->Subject(&subject));
  ASSERT_TRUE(stored_mail->HTMLBody(&body));
  EXPECT_EQ(u"Hello", subject);
  EXPECT_EQ(u"<html><body>Hi</body></html>", body);
}

TEST_P(ObjectModelContract, DeleteRemovesExactlyThatItem) {
  const OptString a = backend().SeedContact({.full_name = u"A"});
  const OptString b = backend().SeedContact({.full_name = u"B"});
  const OptString c = backend().SeedContact({.full_name = u"C"});
  ASSERT_TRUE(a && b && c);
  const std::vector<WString> before = ReadEntryIds(outlook::kFolderContacts);
  {
    std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderContacts, *b);
    ASSERT_NE(nullptr, item);
    ASSERT_TRUE(item->QueryContact()->Delete());
  }
  std::vector<WString> expected = before;
  expected.erase(std::find(expected.begin(), expected.end(), *b));
  EXPECT_EQ(expected, ReadEntryIds(outlook::kFolderContacts));
  EXPECT_EQ(nullptr, FindItem(outlook::kFolderContacts, *b));
}

TEST_P(ObjectModelContract, NullStaysApartFromEmpty) {
  if (!backend().KeepsNullStrings()) GTEST_SKIP() << "the backend does not keep null strings";
  const OptString null_subject = backend().SeedMail({.subject = std::nullopt});
  const OptString empty_subject = backend().SeedMail({.subject = u""});
  const OptString null_body = backend().SeedNote({.body = std::nullopt});
  const OptString empty_body = backend().SeedNote({.body = u""});
  const OptString null_name = backend().SeedContact({.full_name = std::nullopt});
  const OptString null_appointment = backend().SeedAppointment({.subject = std::nullopt});
  const OptString empty_appointment = backend().SeedAppointment({.subject = u""});
  ASSERT_TRUE(null_subject && empty_subject && null_body && empty_body && null_name &&
              null_appointment && empty_appointment);

  struct Expectation {
    int32_t folder;
    WString id;
    OptString value;
  };
  const Expectation table[] = {
      {outlook::kFolderInbox, *null_subject, std::nullopt},
      {outlook::kFolderInbox, *empty_subject, u""},
      {outlook::kFolderNotes, *null_body, std::nullopt},
      {outlook::kFolderNotes, *empty_body, u""},
      {outlook::kFolderContacts, *null_name, std::nullopt},
      {outlook::kFolderCalendar, *null_appointment, std::nullopt},
      {outlook::kFolderCalendar, *empty_appointment, u""},
  };
  for (const Expectation& e : table) {
    std::shared_ptr<outlook::Item> item = FindItem(e.folder, e.id);
    ASSERT_NE(nullptr, item) << e.folder;
    OptString value = u"unread";
    bool read = false;
    if (auto mail = item->QueryMail()) read = mail->Subject(&value);
    if (auto note = item->QueryNote()) read = note->Body(&value);
    if (auto contact = item->QueryContact()) read = contact->FullName(&value);
    if (auto appointment = item->QueryAppointment()) read = appointment->Subject(&value);
    ASSERT_TRUE(read) << e.folder;
    EXPECT_EQ(e.value, value) << "folder " << e.folder << ": " << Show(value);
  }

  // Putting an empty string stores the empty string.
  {
    std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderNotes, *null_body);
    ASSERT_TRUE(item->QueryNote()->PutBody(u""));
    ASSERT_TRUE(item->QueryNote()->Save());
  }
  OptString body;
  ASSERT_TRUE(FindItem(outlook::kFolderNotes, *null_body)->QueryNote()->Body(&body));
  EXPECT_EQ(u"", body);
}

// Names and subjects with the characters vObject texts escape or encode.
const char16_t* const kRoundTripTexts[] = {
    u"Ann Lee",     u"Zden\u011bk \u017d\u00e1k", u"O'Neil; Jr., Bob",
    u"back\\slash", u"Caf\u00e9 \U0001F600",      u"x",
};

TEST_P(ObjectModelContract, ContactFullNameSurvivesSaveAsAndOpenSharedItem) {
  for (const char16_t* text : kRoundTripTexts) {
    SCOPED_TRACE(Utf16ToUtf8(text));
    const OptString id = backend().SeedContact({.full_name = text});
    ASSERT_TRUE(id);
    const WString path = ScratchPath("contact.vcf");
    std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderContacts, *id);
    ASSERT_NE(nullptr, item);
    ASSERT_TRUE(item->QueryContact()->SaveAs(path, outlook::kSaveAsVCard));

    std::shared_ptr<outlook::Namespace> ns = Session();
    ASSERT_NE(nullptr, ns);
    std::shared_ptr<outlook::Item> opened;
    ASSERT_TRUE(ns->OpenSharedItem(path, &opened));
    ASSERT_NE(nullptr, opened);
    EXPECT_EQ(nullptr, opened->QueryAppointment());
    std::shared_ptr<outlook::ContactItem> contact = opened->QueryContact();
    ASSERT_NE(nullptr, contact);
    OptString name, new_id;
    ASSERT_TRUE(contact->FullName(&name));
    EXPECT_EQ(text, name);
    ASSERT_TRUE(contact->EntryID(&new_id));
    EXPECT_TRUE(NullOrEmpty(new_id)) << "an opened file is a new, unsaved item";
    const size_t before = ReadEntryIds(outlook::kFolderContacts).size();
    ASSERT_TRUE(contact->Save());
    ASSERT_TRUE(contact->EntryID(&new_id));
    ASSERT_FALSE(NullOrEmpty(new_id));
    EXPECT_NE(id, new_id);
    EXPECT_EQ(before + 1, ReadEntryIds(outlook::kFolderContacts).size());
  }
}

TEST_P(ObjectModelContract, AppointmentSubjectSurvivesSaveAsAndOpenSharedItem) {
  struct Format {
    int32_t type;
    const char* name;
  };
  for (const Format format : {Format{outlook::kSaveAsVCalendar, "event.vcs"},
                              Format{outlook::kSaveAsICalendar, "event.ics"}}) {
    for (const char16_t* text : kRoundTripTexts) {
      SCOPED_TRACE(std::string(format.name) + " " + Utf16ToUtf8(text));
      const OptString id = backend().SeedAppointment({.subject = text});
      ASSERT_TRUE(id);
      const WString path = ScratchPath(format.name);
      std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderCalendar, *id);
      ASSERT_NE(nullptr, item);
      ASSERT_TRUE(item->QueryAppointment()->SaveAs(path, format.type));

      std::shared_ptr<outlook::Namespace> ns = Session();
      ASSERT_NE(nullptr, ns);
      std::shared_ptr<outlook::Item> opened;
      ASSERT_TRUE(ns->OpenSharedItem(path, &opened));
      ASSERT_NE(nullptr, opened);
      EXPECT_EQ(nullptr, opened->QueryContact());
      std::shared_ptr<outlook::AppointmentItem> appointment = opened->QueryAppointment();
      ASSERT_NE(nullptr, appointment);
      OptString subject;
      ASSERT_TRUE(appointment->Subject(&subject));
      EXPECT_EQ(text, subject);
      ASSERT_TRUE(appointment->PutAllDayEvent(true));
      ASSERT_TRUE(appointment->Save());
      OptString new_id;
      ASSERT_TRUE(appointment->EntryID(&new_id));
      ASSERT_FALSE(NullOrEmpty(new_id));
      EXPECT_NE(nullptr, FindItem(outlook::kFolderCalendar, *new_id));
    }
  }
}

TEST_P(ObjectModelContract, OpenSharedItemRefusesWhatItCannotRead) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"garbage.vcf", "hello, world\r\n"},
      {"empty.vcs", ""},
      {"truncated.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:x"},
  };
  std::shared_ptr<outlook::Namespace> ns = Session();
  ASSERT_NE(nullptr, ns);
  for (const Case& c : cases) {
    const WString path = ScratchPath(c.name);
    ASSERT_TRUE(WriteFile(path, c.bytes));
    std::shared_ptr<outlook::Item> item;
    if (ns->OpenSharedItem(path, &item) && item) {
      // A backend may make something of it, but not an item of the class.
      EXPECT_EQ(nullptr, item->QueryContact()) << c.name;
      EXPECT_EQ(nullptr, item->QueryAppointment()) << c.name;
    }
  }
  std::shared_ptr<outlook::Item> item;
  EXPECT_FALSE(ns->OpenSharedItem(ScratchPath("missing.vcf"), &item));
  for (int32_t folder : kDefaultFolders) EXPECT_TRUE(ReadEntryIds(folder).empty());
}

TEST_P(ObjectModelContract, AttachmentBytesSurviveAddSaveAndSaveAsFile) {
  std::string bytes;
  for (int i = 0; i < 600; ++i) bytes += static_cast<char>(i * 7 % 256);
  bytes += "\r\n\n\r";
  bytes += std::string(3, '\0');
  const WString source = ScratchPath("report.bin");
  ASSERT_TRUE(WriteFile(source, bytes));
  const WString empty_source = ScratchPath("empty.txt");
  ASSERT_TRUE(WriteFile(empty_source, ""));
  const size_t separator = source.find_last_of(u"/\\");
  const WString file_name = source.substr(separator + 1);

  OptString id;
  {
    std::shared_ptr<outlook::Application> app = Connect();
    ASSERT_NE(nullptr, app);
    std::shared_ptr<outlook::Namespace> ns;
    std::shared_ptr<outlook::Folder> inbox;
    std::shared_ptr<outlook::Item> item;
    ASSERT_TRUE(app->Session(&ns));
    ASSERT_TRUE(ns->GetDefaultFolder(outlook::kFolderInbox, &inbox));
    ASSERT_TRUE(app->CreateItem(outlook::kMailItem, &item));
    std::shared_ptr<outlook::MailItem> mail = item->QueryMail();
    ASSERT_NE(nullptr, mail);
    std::shared_ptr<outlook::Attachments> attachments;
    ASSERT_TRUE(mail->GetAttachments(&attachments));
    ASSERT_NE(nullptr, attachments);
    ASSERT_TRUE(attachments->Add(source, outlook::kAttachByValue, 1, source));
    ASSERT_TRUE(attachments->Add(empty_source, outlook::kAttachByValue, 2, empty_source));
    EXPECT_FALSE(attachments->Add(ScratchPath("missing.txt"), outlook::kAttachByValue, 3, u"m"));
    int32_t count = 0;
    ASSERT_TRUE(attachments->Count(&count));
    EXPECT_EQ(2, count);
    ASSERT_TRUE(mail->Save());
    std::shared_ptr<outlook::MailItem> moved;
    ASSERT_TRUE(mail->Move(inbox, &moved));
    ASSERT_NE(nullptr, moved);
    ASSERT_TRUE(moved->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));

  std::shared_ptr<outlook::Item> item = FindItem(outlook::kFolderInbox, *id);
  ASSERT_NE(nullptr, item);
  std::shared_ptr<outlook::Attachments> attachments;
  ASSERT_TRUE(item->QueryMail()->GetAttachments(&attachments));
  ASSERT_NE(nullptr, attachments);
  int32_t count = 0;
  ASSERT_TRUE(attachments->Count(&count));
  ASSERT_EQ(2, count);
  std::shared_ptr<outlook::Attachment> attachment;
  EXPECT_FALSE(attachments->Item(3, &attachment));
  EXPECT_FALSE(attachments->Item(0, &attachment));
  ASSERT_TRUE(attachments->Item(1, &attachment));
  ASSERT_NE(nullptr, attachment);
  OptString name;
  ASSERT_TRUE(attachment->FileName(&name));
  EXPECT_EQ(file_name, name);
  const WString copy = ScratchPath("copy.bin");
  ASSERT_TRUE(attachment->SaveAsFile(copy));
  std::string read_back;
  ASSERT_TRUE(ReadFile(copy, &read_back));
  EXPECT_EQ(bytes, read_back);

  ASSERT_TRUE(attachments->Item(2, &attachment));
  const WString empty_copy = ScratchPath("copy.txt");
  ASSERT_TRUE(attachment->SaveAsFile(empty_copy));
  ASSERT_TRUE(ReadFile(empty_copy, &read_back));
  EXPECT_EQ("", read_back);
}

}  // namespace testing
}  // namespace zelsync
