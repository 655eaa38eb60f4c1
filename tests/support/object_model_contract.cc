#include "support/object_model_contract.h"

#include <algorithm>
#include <set>
#include <string>

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
using outlook::kFolderCalendar;
using outlook::kFolderContacts;
using outlook::kFolderInbox;
using outlook::kFolderNotes;

const int32_t kDefaultFolders[] = {kFolderInbox, kFolderCalendar, kFolderContacts, kFolderNotes};

bool WriteFile(const WString& path, const std::string& bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(bytes.data(), bytes.size()) == bytes.size();
}

bool ReadFile(const WString& path, std::string* bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  bytes->clear();
  char chunk[4096];
  for (size_t n; file && bytes->size() < (1u << 24) && (n = file->Read(chunk, sizeof chunk)) > 0;)
    bytes->append(chunk, n);
  return file != nullptr;
}

bool NullOrEmpty(const OptString& s) { return !s || s->empty(); }

// Calls `f` with the item's interface of its class; false for an item of
// none of the four.
template <class F>
bool WithClass(outlook::Item& item, F f) {
  if (auto mail = item.QueryMail()) return f(*mail);
  if (auto note = item.QueryNote()) return f(*note);
  if (auto contact = item.QueryContact()) return f(*contact);
  if (auto appointment = item.QueryAppointment()) return f(*appointment);
  return false;
}

bool ReadEntryId(outlook::Item& item, OptString* id) {
  return WithClass(item, [&](auto& typed) { return typed.EntryID(id); });
}

// The text each class is checked by.
bool ReadText(outlook::MailItem& mail, OptString* value) { return mail.Subject(value); }
bool ReadText(outlook::NoteItem& note, OptString* value) { return note.Body(value); }
bool ReadText(outlook::ContactItem& contact, OptString* value) { return contact.FullName(value); }
bool ReadText(outlook::AppointmentItem& event, OptString* value) { return event.Subject(value); }
bool ReadText(outlook::Item& item, OptString* value) {
  return WithClass(item, [&](auto& typed) { return ReadText(typed, value); });
}

template <class ItemPtr>
OptString SavedId(const ItemPtr& item) {
  OptString id;
  if (!item || !item->Save() || !item->EntryID(&id) || NullOrEmpty(id)) return std::nullopt;
  return id;
}

std::string VObjectText(const OptString& s) {
  std::string out;
  for (char c : Utf16ToUtf8(s.value_or(WString()))) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// The default seeding goes through the interface: a connection per seed.
struct Seeder {
  explicit Seeder(outlook::ObjectModel& model) {
    if (model.Connect(&app) != ConnectResult::kOk || !app || !app->Session(&ns)) ns.reset();
  }
  std::shared_ptr<outlook::Item> Create(int32_t type) {
    std::shared_ptr<outlook::Item> item;
    if (ns) app->CreateItem(type, &item);
    return item;
  }
  std::shared_ptr<outlook::Item> Open(const std::string& text, const char16_t* extension) {
    WString temp;
    std::shared_ptr<outlook::Item> item;
    if (!ns || !Env::Current().TempFolder(&temp)) return nullptr;
    const WString path = temp + u"zelsync-seed-" + Env::Current().CreateUuidString() + extension;
    if (WriteFile(path, text)) ns->OpenSharedItem(path, &item);
    Env::Current().RemoveFile(path);
    return item;
  }
  std::shared_ptr<outlook::Application> app;
  std::shared_ptr<outlook::Namespace> ns;
};

}  // namespace

// ---- default seeding ----

OptString ContractBackend::SeedMail(const MailData& data) {
  Seeder seeder(model());
  std::shared_ptr<outlook::Item> item = seeder.Create(outlook::kMailItem);
  std::shared_ptr<outlook::MailItem> mail = item ? item->QueryMail() : nullptr, moved;
  std::shared_ptr<outlook::Folder> inbox;
  OptString id;
  if (!mail || !seeder.ns->GetDefaultFolder(kFolderInbox, &inbox) || !inbox ||
      (data.subject && !mail->PutSubject(*data.subject)) || !mail->Save() ||
      !mail->Move(inbox, &moved) || !moved || !moved->EntryID(&id) || NullOrEmpty(id))
    return std::nullopt;
  return id;
}

OptString ContractBackend::SeedNote(const NoteData& data) {
  Seeder seeder(model());
  std::shared_ptr<outlook::Item> item = seeder.Create(outlook::kNoteItem);
  std::shared_ptr<outlook::NoteItem> note = item ? item->QueryNote() : nullptr;
  if (!note || (data.body && !note->PutBody(*data.body))) return std::nullopt;
  return SavedId(note);
}

OptString ContractBackend::SeedContact(const ContactData& data) {
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + VObjectText(data.full_name) + "\r\n";
  if (data.full_name) text += "FN:" + VObjectText(data.full_name) + "\r\n";
  std::shared_ptr<outlook::Item> item = Seeder(model()).Open(text + "END:VCARD\r\n", u".vcf");
  return SavedId(item ? item->QueryContact() : nullptr);
}

OptString ContractBackend::SeedAppointment(const AppointmentData& data) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n";
  if (data.subject) text += "SUMMARY:" + VObjectText(data.subject) + "\r\n";
  text += "DTSTART:20240101T120000\r\nDTEND:20240101T130000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  std::shared_ptr<outlook::Item> item = Seeder(model()).Open(text, u".vcs");
  return SavedId(item ? item->QueryAppointment() : nullptr);
}

// ---- fixture ----

void ObjectModelContract::SetUp() {
  backend_ = GetParam()();
  ASSERT_NE(nullptr, backend_);
}

void ObjectModelContract::TearDown() {
  for (const WString& path : scratch_files_) Env::Current().RemoveFile(path);
  const int live = backend_ ? backend_->LiveObjects() : -1;
  EXPECT_TRUE(live <= 0) << live << " objects still alive after the test";
  backend_.reset();
}

std::shared_ptr<outlook::Application> ObjectModelContract::Connect() {
  std::shared_ptr<outlook::Application> app;
  EXPECT_EQ(ConnectResult::kOk, backend_->model().Connect(&app));
  EXPECT_NE(nullptr, app);
  return app;
}

std::shared_ptr<outlook::Namespace> ObjectModelContract::Session() {
  std::shared_ptr<outlook::Application> app = Connect();
  std::shared_ptr<outlook::Namespace> ns;
  EXPECT_TRUE(app && app->GetNamespace(u"MAPI", &ns) && ns);
  return ns;
}

std::shared_ptr<outlook::Items> ObjectModelContract::FolderItems(int32_t id) {
  std::shared_ptr<outlook::Namespace> ns = Session();
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  EXPECT_TRUE(ns && ns->GetDefaultFolder(id, &folder) && folder && folder->GetItems(&items) &&
              items)
      << "folder " << id;
  return items;
}

std::vector<WString> ObjectModelContract::ReadEntryIds(int32_t folder) {
  std::vector<WString> ids;
  std::shared_ptr<outlook::Items> items = FolderItems(folder);
  int32_t count = -1;
  if (!items || !items->Count(&count)) ADD_FAILURE() << "cannot count folder " << folder;
  for (int32_t i = 1; i <= count; ++i) {
    std::shared_ptr<outlook::Item> item;
    OptString id;
    EXPECT_TRUE(items->Item(i, &item) && item && ReadEntryId(*item, &id))
        << "folder " << folder << " item " << i;
    ids.push_back(id.value_or(WString()));
  }
  return ids;
}

std::shared_ptr<outlook::Item> ObjectModelContract::FindItem(int32_t folder,
                                                             const WString& entry_id) {
  const std::vector<WString> ids = ReadEntryIds(folder);
  const size_t at = std::find(ids.begin(), ids.end(), entry_id) - ids.begin();
  std::shared_ptr<outlook::Items> items = at < ids.size() ? FolderItems(folder) : nullptr;
  std::shared_ptr<outlook::Item> item;
  if (items) items->Item(static_cast<int32_t>(at + 1), &item);
  return item;
}

OptString ObjectModelContract::StoredText(int32_t folder, const WString& entry_id) {
  std::shared_ptr<outlook::Item> item = FindItem(folder, entry_id);
  OptString text = u"(unread)";
  EXPECT_TRUE(item && ReadText(*item, &text)) << "folder " << folder;
  return text;
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

TEST_P(ObjectModelContract, EntryIdsAreUniqueAndStableAndQueriesTellTheClassesApart) {
  for (int32_t folder : kDefaultFolders)
    EXPECT_TRUE(ReadEntryIds(folder).empty()) << "folder " << folder << " of a fresh store";
  const std::pair<int32_t, OptString> seeded[] = {
      {kFolderInbox, backend().SeedMail({.subject = u"one"})},
      {kFolderInbox, backend().SeedMail({.subject = u"two"})},
      {kFolderNotes, backend().SeedNote({.body = u"n1"})},
      {kFolderNotes, backend().SeedNote({.body = u"n2"})},
      {kFolderContacts, backend().SeedContact({.full_name = u"Ann Lee"})},
      {kFolderContacts, backend().SeedContact({.full_name = u"Bo Berg"})},
      {kFolderCalendar, backend().SeedAppointment({.subject = u"Dentist"})},
      {kFolderCalendar, backend().SeedAppointment({.subject = u"Lunch"})},
  };
  std::set<WString> all;
  for (const auto& [folder, id] : seeded) {
    ASSERT_FALSE(NullOrEmpty(id)) << "seeding into folder " << folder;
    all.insert(*id);
  }
  EXPECT_EQ(std::size(seeded), all.size()) << "entry IDs are unique across the store";

  for (int32_t folder : kDefaultFolders) {
    SCOPED_TRACE(folder);
    const std::vector<WString> first = ReadEntryIds(folder);
    EXPECT_EQ(first, ReadEntryIds(folder)) << "the folder reads the same twice";
    std::set<WString> expected;
    for (const auto& [f, id] : seeded)
      if (f == folder) expected.insert(*id);
    EXPECT_EQ(expected, std::set<WString>(first.begin(), first.end()));

    std::shared_ptr<outlook::Items> items = FolderItems(folder);
    int32_t count = 0;
    ASSERT_TRUE(items && items->Count(&count));
    ASSERT_EQ(2, count);
    for (int32_t index = 1; index <= count; ++index) {
      std::shared_ptr<outlook::Item> item;
      ASSERT_TRUE(items->Item(index, &item) && item);
      EXPECT_EQ(folder == kFolderInbox, item->QueryMail() != nullptr);
      EXPECT_EQ(folder == kFolderNotes, item->QueryNote() != nullptr);
      EXPECT_EQ(folder == kFolderContacts, item->QueryContact() != nullptr);
      EXPECT_EQ(folder == kFolderCalendar, item->QueryAppointment() != nullptr);
    }
    for (int32_t index : {0, -1, count + 1, 1000}) {
      std::shared_ptr<outlook::Item> item;
      EXPECT_FALSE(items->Item(index, &item)) << index;
      EXPECT_EQ(nullptr, item) << index;
    }
  }
}

TEST_P(ObjectModelContract, AddingOrDeletingKeepsTheOrderOfTheOthers) {
  const auto without = [](std::vector<WString> ids, const WString& id) {
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    return ids;
  };
  for (int32_t folder : {kFolderNotes, kFolderContacts}) {
    SCOPED_TRACE(folder);
    const auto seed = [&](const char16_t* text) {
      return folder == kFolderNotes ? backend().SeedNote({.body = text})
                                    : backend().SeedContact({.full_name = text});
    };
    for (const char16_t* text : {u"a", u"b", u"c"}) ASSERT_TRUE(seed(text));
    const std::vector<WString> before = ReadEntryIds(folder);
    ASSERT_EQ(3u, before.size());
    const OptString added = seed(u"d");
    ASSERT_TRUE(added);
    const std::vector<WString> after = ReadEntryIds(folder);
    EXPECT_EQ(before, without(after, *added));

    for (const WString& gone : {before[1], before[0]}) {
      const std::vector<WString> now = ReadEntryIds(folder);
      {
        std::shared_ptr<outlook::Item> item = FindItem(folder, gone);
        ASSERT_NE(nullptr, item);
        ASSERT_TRUE(WithClass(*item, [](auto& typed) { return typed.Delete(); }));
      }
      EXPECT_EQ(without(now, gone), ReadEntryIds(folder));
      EXPECT_EQ(nullptr, FindItem(folder, gone));
    }
  }
}

TEST_P(ObjectModelContract, NewNoteGetsAnEntryIdOnSaveAndSavingKeepsIt) {
  const OptString first = backend().SeedNote({.body = u"before"});
  ASSERT_TRUE(first);
  OptString id;
  {
    std::shared_ptr<outlook::Application> app = Connect();
    std::shared_ptr<outlook::Item> item;
    ASSERT_TRUE(app && app->CreateItem(outlook::kNoteItem, &item) && item);
    EXPECT_EQ(nullptr, item->QueryMail());
    std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
    ASSERT_TRUE(note && note->EntryID(&id));
    EXPECT_TRUE(NullOrEmpty(id));
    EXPECT_EQ(std::vector<WString>{*first}, ReadEntryIds(kFolderNotes)) << "unsaved is not filed";
    ASSERT_TRUE(note->PutBody(u"Milk\r\nEggs") && note->Save() && note->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));
  EXPECT_EQ((std::vector<WString>{*first, *id}), ReadEntryIds(kFolderNotes));
  {
    // The first note changed and saved again keeps its entry ID and place.
    std::shared_ptr<outlook::Item> item = FindItem(kFolderNotes, *first);
    std::shared_ptr<outlook::NoteItem> note = item ? item->QueryNote() : nullptr;
    OptString after;
    ASSERT_TRUE(note && note->PutBody(u"after") && note->Save() && note->EntryID(&after));
    EXPECT_EQ(first, after);
  }
  EXPECT_EQ((std::vector<WString>{*first, *id}), ReadEntryIds(kFolderNotes));
  EXPECT_EQ(u"after", StoredText(kFolderNotes, *first));
  EXPECT_EQ(u"Milk\r\nEggs", StoredText(kFolderNotes, *id));
}

TEST_P(ObjectModelContract, CreatedMailMovesIntoTheInboxWithItsAttachmentsByteForByte) {
  std::string bytes;
  for (int i = 0; i < 600; ++i) bytes += static_cast<char>(i * 7 % 256);
  bytes += "\r\n\n\r" + std::string(3, '\0');
  const WString source = ScratchPath("report.bin");
  const WString empty_source = ScratchPath("empty.txt");
  ASSERT_TRUE(WriteFile(source, bytes) && WriteFile(empty_source, ""));
  const WString html = u"<html><body>Hi</body></html>";

  OptString id;
  {
    std::shared_ptr<outlook::Application> app = Connect();
    std::shared_ptr<outlook::Namespace> ns;
    std::shared_ptr<outlook::Folder> inbox;
    std::shared_ptr<outlook::Item> item;
    std::shared_ptr<outlook::Attachments> attachments;
    ASSERT_TRUE(app && app->Session(&ns) && ns && ns->GetDefaultFolder(kFolderInbox, &inbox) &&
                inbox && app->CreateItem(outlook::kMailItem, &item) && item);
    std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
    ASSERT_TRUE(mail && mail->PutBodyFormat(outlook::kBodyFormatHtml) &&
                mail->PutSubject(u"Hello") && mail->PutHTMLBody(html) &&
                mail->GetAttachments(&attachments) && attachments);
    ASSERT_TRUE(attachments->Add(source, outlook::kAttachByValue, 1, source));
    ASSERT_TRUE(attachments->Add(empty_source, outlook::kAttachByValue, 2, empty_source));
    EXPECT_FALSE(attachments->Add(ScratchPath("missing.txt"), outlook::kAttachByValue, 3, u"m"));
    int32_t count = 0;
    ASSERT_TRUE(attachments->Count(&count));
    EXPECT_EQ(2, count);
    ASSERT_TRUE(mail->Save() && mail->Move(inbox, &moved) && moved && moved->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));
  EXPECT_EQ(std::vector<WString>{*id}, ReadEntryIds(kFolderInbox));
  EXPECT_EQ(u"Hello", StoredText(kFolderInbox, *id));

  std::shared_ptr<outlook::Item> item = FindItem(kFolderInbox, *id);
  std::shared_ptr<outlook::MailItem> mail = item ? item->QueryMail() : nullptr;
  std::shared_ptr<outlook::Attachments> attachments;
  OptString body;
  int32_t count = 0;
  ASSERT_TRUE(mail && mail->HTMLBody(&body) && mail->GetAttachments(&attachments) && attachments &&
              attachments->Count(&count));
  EXPECT_EQ(html, body);
  ASSERT_EQ(2, count);
  std::shared_ptr<outlook::Attachment> attachment;
  EXPECT_FALSE(attachments->Item(3, &attachment));
  EXPECT_FALSE(attachments->Item(0, &attachment));
  const std::pair<WString, std::string> expected[] = {{source, bytes}, {empty_source, ""}};
  for (int32_t index = 1; index <= 2; ++index) {
    const auto& [path, content] = expected[index - 1];
    const WString copy = ScratchPath("copy.bin");
    OptString name;
    std::string read_back;
    ASSERT_TRUE(attachments->Item(index, &attachment) && attachment &&
                attachment->FileName(&name) && attachment->SaveAsFile(copy) &&
                ReadFile(copy, &read_back));
    EXPECT_EQ(path.substr(path.find_last_of(u"/\\") + 1), name);
    EXPECT_EQ(content, read_back);
  }
}

TEST_P(ObjectModelContract, NullStaysApartFromEmpty) {
  if (!backend().KeepsNullStrings()) GTEST_SKIP() << "the backend does not keep null strings";
  const struct {
    int32_t folder;
    OptString id;
    OptString value;
  } table[] = {
      {kFolderInbox, backend().SeedMail({.subject = std::nullopt}), std::nullopt},
      {kFolderInbox, backend().SeedMail({.subject = u""}), u""},
      {kFolderNotes, backend().SeedNote({.body = std::nullopt}), std::nullopt},
      {kFolderNotes, backend().SeedNote({.body = u""}), u""},
      {kFolderContacts, backend().SeedContact({.full_name = std::nullopt}), std::nullopt},
      {kFolderCalendar, backend().SeedAppointment({.subject = std::nullopt}), std::nullopt},
      {kFolderCalendar, backend().SeedAppointment({.subject = u""}), u""},
  };
  for (const auto& e : table) {
    ASSERT_TRUE(e.id) << e.folder;
    EXPECT_EQ(e.value, StoredText(e.folder, *e.id)) << "folder " << e.folder;
  }

  // Putting an empty string stores the empty string.
  {
    std::shared_ptr<outlook::Item> item = FindItem(kFolderNotes, *table[2].id);
    std::shared_ptr<outlook::NoteItem> note = item ? item->QueryNote() : nullptr;
    ASSERT_TRUE(note && note->PutBody(u"") && note->Save());
  }
  EXPECT_EQ(u"", StoredText(kFolderNotes, *table[2].id));
}

TEST_P(ObjectModelContract, FullNameAndSubjectSurviveSaveAsAndOpenSharedItem) {
  // Texts with the characters vObject texts escape or encode.
  const char16_t* const texts[] = {
      u"Ann Lee",     u"Zden\u011bk \u017d\u00e1k", u"O'Neil; Jr., Bob",
      u"back\\slash", u"Caf\u00e9 \U0001F600",      u"x",
  };
  const struct {
    int32_t folder;
    int32_t type;
    const char* name;
  } formats[] = {{kFolderContacts, outlook::kSaveAsVCard, "contact.vcf"},
                 {kFolderCalendar, outlook::kSaveAsVCalendar, "event.vcs"},
                 {kFolderCalendar, outlook::kSaveAsICalendar, "event.ics"}};
  for (const auto& format : formats) {
    for (const char16_t* text : texts) {
      SCOPED_TRACE(std::string(format.name) + " " + Utf16ToUtf8(text));
      const bool contact = format.folder == kFolderContacts;
      const OptString id = contact ? backend().SeedContact({.full_name = text})
                                   : backend().SeedAppointment({.subject = text});
      ASSERT_TRUE(id);
      const WString path = ScratchPath(format.name);
      std::shared_ptr<outlook::Item> item = FindItem(format.folder, *id);
      ASSERT_TRUE(item && (contact ? item->QueryContact()->SaveAs(path, format.type)
                                   : item->QueryAppointment()->SaveAs(path, format.type)));

      std::shared_ptr<outlook::Namespace> ns = Session();
      std::shared_ptr<outlook::Item> opened;
      ASSERT_TRUE(ns && ns->OpenSharedItem(path, &opened) && opened);
      EXPECT_EQ(contact, opened->QueryContact() != nullptr);
      EXPECT_EQ(!contact, opened->QueryAppointment() != nullptr);
      OptString value, new_id;
      ASSERT_TRUE(ReadText(*opened, &value) && ReadEntryId(*opened, &new_id));
      EXPECT_EQ(text, value);
      EXPECT_TRUE(NullOrEmpty(new_id)) << "an opened file is a new, unsaved item";
      EXPECT_TRUE(contact || opened->QueryAppointment()->PutAllDayEvent(true));
      const size_t before = ReadEntryIds(format.folder).size();
      ASSERT_TRUE(WithClass(*opened, [&](auto& typed) { return typed.Save(); }));
      ASSERT_TRUE(ReadEntryId(*opened, &new_id));
      ASSERT_FALSE(NullOrEmpty(new_id));
      EXPECT_NE(id, new_id);
      EXPECT_EQ(before + 1, ReadEntryIds(format.folder).size());
      EXPECT_EQ(text, StoredText(format.folder, *new_id));
    }
  }
}

TEST_P(ObjectModelContract, OpenSharedItemRefusesWhatItCannotRead) {
  const std::pair<const char*, std::string> cases[] = {
      {"garbage.vcf", "hello, world\r\n"},
      {"empty.vcs", ""},
      {"truncated.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:x"},
  };
  std::shared_ptr<outlook::Namespace> ns = Session();
  ASSERT_NE(nullptr, ns);
  for (const auto& [name, bytes] : cases) {
    const WString path = ScratchPath(name);
    ASSERT_TRUE(WriteFile(path, bytes));
    std::shared_ptr<outlook::Item> item;
    if (ns->OpenSharedItem(path, &item) && item) {
      // A backend may make something of it, but not an item of the class.
      EXPECT_EQ(nullptr, item->QueryContact()) << name;
      EXPECT_EQ(nullptr, item->QueryAppointment()) << name;
    }
  }
  std::shared_ptr<outlook::Item> item;
  EXPECT_FALSE(ns->OpenSharedItem(ScratchPath("missing.vcf"), &item));
  for (int32_t folder : kDefaultFolders) EXPECT_TRUE(ReadEntryIds(folder).empty());
}

}  // namespace testing
}  // namespace zelsync
