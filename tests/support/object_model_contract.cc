#include "support/object_model_contract.h"

#include <algorithm>
#include <set>

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
using outlook::kFolderCalendar;
using outlook::kFolderContacts;
using outlook::kFolderInbox;
using outlook::kFolderNotes;
using outlook::OptString;

const int32_t kDefaultFolders[] = {kFolderInbox, kFolderCalendar, kFolderContacts, kFolderNotes};

bool WriteFile(const WString& path, const std::string& bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(bytes.data(), bytes.size()) == bytes.size();
}

bool ReadFile(const WString& path, std::string* bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  char chunk[4096];
  for (size_t n; file && bytes->size() < (1u << 24) && (n = file->Read(chunk, sizeof chunk)) > 0;)
    bytes->append(chunk, n);
  return file != nullptr;
}

bool NullOrEmpty(const OptString& s) { return !s || s->empty(); }

// Calls `f` with the item's interface of its class; false for none of the four.
template <class F>
bool WithClass(outlook::Item& item, F f) {
  if (auto mail = item.QueryMail()) return f(*mail);
  if (auto note = item.QueryNote()) return f(*note);
  if (auto contact = item.QueryContact()) return f(*contact);
  if (auto appointment = item.QueryAppointment()) return f(*appointment);
  return false;
}

bool ReadText(outlook::MailItem& mail, OptString* value) { return mail.Subject(value); }
bool ReadText(outlook::NoteItem& note, OptString* value) { return note.Body(value); }
bool ReadText(outlook::ContactItem& contact, OptString* value) { return contact.FullName(value); }
bool ReadText(outlook::AppointmentItem& event, OptString* value) { return event.Subject(value); }
bool ReadText(outlook::Item& item, OptString* value) {
  return WithClass(item, [&](auto& typed) { return ReadText(typed, value); });
}
bool ReadEntryId(outlook::Item& item, OptString* id) {
  return WithClass(item, [&](auto& typed) { return typed.EntryID(id); });
}

std::string VObjectText(const WString& s) {
  std::string out;
  for (char c : Utf16ToUtf8(s)) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

}  // namespace

void ObjectModelContract::SetUp() {
  backend_ = GetParam()();
  ASSERT_NE(nullptr, backend_);
}

void ObjectModelContract::TearDown() {
  for (const WString& path : scratch_files_) Env::Current().RemoveFile(path);
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

OptString ObjectModelContract::Seed(int32_t folder, const WString& text) {
  std::shared_ptr<outlook::Application> app;
  std::shared_ptr<outlook::Namespace> ns;
  std::shared_ptr<outlook::Item> item;
  OptString id;
  if (backend_->model().Connect(&app) != ConnectResult::kOk || !app || !app->Session(&ns) || !ns)
    return std::nullopt;
  if (folder == kFolderInbox || folder == kFolderNotes) {
    if (!app->CreateItem(folder == kFolderInbox ? outlook::kMailItem : outlook::kNoteItem, &item) ||
        !item)
      return std::nullopt;
  } else {
    const WString path = ScratchPath(folder == kFolderContacts ? "seed.vcf" : "seed.vcs");
    const std::string t = VObjectText(text);
    const std::string file =
        folder == kFolderContacts
            ? "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + t + "\r\nFN:" + t + "\r\nEND:VCARD\r\n"
            : "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:" + t +
                  "\r\nDTSTART:20240101T120000\r\nDTEND:20240101T130000\r\nEND:VEVENT\r\nEND:"
                  "VCALENDAR\r\n";
    if (!WriteFile(path, file) || !ns->OpenSharedItem(path, &item) || !item) return std::nullopt;
  }
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
  std::shared_ptr<outlook::Folder> inbox;
  if (mail) {
    if (!mail->PutSubject(text) || !mail->Save() || !ns->GetDefaultFolder(kFolderInbox, &inbox) ||
        !inbox || !mail->Move(inbox, &moved) || !moved || !moved->EntryID(&id))
      return std::nullopt;
  } else if ((note && !note->PutBody(text)) ||
             !WithClass(*item, [&](auto& typed) { return typed.Save() && typed.EntryID(&id); })) {
    return std::nullopt;
  }
  return NullOrEmpty(id) ? std::nullopt : id;
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
        << folder << " item " << i;
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

TEST_P(ObjectModelContract, EntryIdsAreUniqueAndStableAndQueriesTellTheClassesApart) {
  std::set<WString> all;
  for (int32_t folder : kDefaultFolders) {
    SCOPED_TRACE(folder);
    EXPECT_TRUE(ReadEntryIds(folder).empty()) << "a fresh store";
    const OptString one = Seed(folder, u"one"), two = Seed(folder, u"two");
    ASSERT_TRUE(one && two);
    all.insert({*one, *two});
    const std::vector<WString> first = ReadEntryIds(folder);
    EXPECT_EQ(first, ReadEntryIds(folder)) << "the folder reads the same twice";
    EXPECT_EQ((std::set<WString>{*one, *two}), std::set<WString>(first.begin(), first.end()));

    std::shared_ptr<outlook::Items> items = FolderItems(folder);
    int32_t count = 0;
    ASSERT_TRUE(items && items->Count(&count));
    ASSERT_EQ(2, count);
    for (int32_t index : {1, 2}) {
      std::shared_ptr<outlook::Item> item;
      ASSERT_TRUE(items->Item(index, &item) && item);
      EXPECT_EQ(folder == kFolderInbox, item->QueryMail() != nullptr);
      EXPECT_EQ(folder == kFolderNotes, item->QueryNote() != nullptr);
      EXPECT_EQ(folder == kFolderContacts, item->QueryContact() != nullptr);
      EXPECT_EQ(folder == kFolderCalendar, item->QueryAppointment() != nullptr);
    }
    for (int32_t index : {0, -1, 3}) {
      std::shared_ptr<outlook::Item> item;
      EXPECT_FALSE(items->Item(index, &item)) << index;
      EXPECT_EQ(nullptr, item) << index;
    }
  }
  EXPECT_EQ(8u, all.size()) << "entry IDs are unique across the store";
}

TEST_P(ObjectModelContract, AddingOrDeletingKeepsTheOrderOfTheOthers) {
  const auto without = [](std::vector<WString> ids, const WString& id) {
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    return ids;
  };
  for (int32_t folder : {kFolderNotes, kFolderContacts}) {
    SCOPED_TRACE(folder);
    for (const char16_t* text : {u"a", u"b", u"c"}) ASSERT_TRUE(Seed(folder, text));
    const std::vector<WString> before = ReadEntryIds(folder);
    const OptString added = Seed(folder, u"d");
    ASSERT_TRUE(added);
    EXPECT_EQ(before, without(ReadEntryIds(folder), *added));
    for (const WString& gone : {before[1], before[0]}) {
      const std::vector<WString> now = ReadEntryIds(folder);
      {
        std::shared_ptr<outlook::Item> item = FindItem(folder, gone);
        ASSERT_TRUE(item && WithClass(*item, [](auto& typed) { return typed.Delete(); }));
      }
      EXPECT_EQ(without(now, gone), ReadEntryIds(folder));
    }
  }
}

TEST_P(ObjectModelContract, NewNoteGetsAnEntryIdOnSaveAndSavingKeepsIt) {
  const OptString first = Seed(kFolderNotes, u"before");
  ASSERT_TRUE(first);
  OptString id;
  {
    std::shared_ptr<outlook::Application> app = Connect();
    std::shared_ptr<outlook::Item> item;
    ASSERT_TRUE(app && app->CreateItem(outlook::kNoteItem, &item) && item);
    std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
    ASSERT_TRUE(note && note->EntryID(&id));
    EXPECT_TRUE(NullOrEmpty(id));
    EXPECT_EQ(std::vector<WString>{*first}, ReadEntryIds(kFolderNotes)) << "unsaved is not filed";
    ASSERT_TRUE(note->PutBody(u"Milk\r\nEggs") && note->Save() && note->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));
  {
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
  const std::pair<WString, std::string> files[] = {{ScratchPath("report.bin"), bytes},
                                                   {ScratchPath("empty.txt"), ""}};
  const WString html = u"<html><body>Hi</body></html>";
  OptString id;
  {
    std::shared_ptr<outlook::Namespace> ns = Session();
    std::shared_ptr<outlook::Application> app = Connect();
    std::shared_ptr<outlook::Folder> inbox;
    std::shared_ptr<outlook::Item> item;
    std::shared_ptr<outlook::Attachments> attachments;
    ASSERT_TRUE(app && ns && ns->GetDefaultFolder(kFolderInbox, &inbox) && inbox &&
                app->CreateItem(outlook::kMailItem, &item) && item);
    std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
    ASSERT_TRUE(mail && mail->PutBodyFormat(outlook::kBodyFormatHtml) &&
                mail->PutSubject(u"Hello") && mail->PutHTMLBody(html) &&
                mail->GetAttachments(&attachments) && attachments);
    for (int32_t i = 0; i < 2; ++i) {
      ASSERT_TRUE(WriteFile(files[i].first, files[i].second));
      ASSERT_TRUE(attachments->Add(files[i].first, outlook::kAttachByValue, i + 1, files[i].first));
    }
    EXPECT_FALSE(attachments->Add(ScratchPath("missing.txt"), outlook::kAttachByValue, 3, u"m"));
    ASSERT_TRUE(mail->Save() && mail->Move(inbox, &moved) && moved && moved->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));
  EXPECT_EQ(std::vector<WString>{*id}, ReadEntryIds(kFolderInbox));
  std::shared_ptr<outlook::Item> item = FindItem(kFolderInbox, *id);
  std::shared_ptr<outlook::MailItem> mail = item ? item->QueryMail() : nullptr;
  std::shared_ptr<outlook::Attachments> attachments;
  OptString subject, body;
  int32_t count = 0;
  ASSERT_TRUE(mail && mail->Subject(&subject) && mail->HTMLBody(&body) &&
              mail->GetAttachments(&attachments) && attachments && attachments->Count(&count));
  EXPECT_EQ(u"Hello", subject);
  EXPECT_EQ(html, body);
  ASSERT_EQ(2, count);
  std::shared_ptr<outlook::Attachment> attachment;
  EXPECT_FALSE(attachments->Item(3, &attachment));
  for (int32_t index = 1; index <= 2; ++index) {
    const auto& [path, content] = files[index - 1];
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

TEST_P(ObjectModelContract, FullNameAndSubjectSurviveSaveAsAndOpenSharedItem) {
  // Texts with the characters vObject texts escape or encode.
  const char16_t* const texts[] = {u"O'Neil; Jr., Bob", u"back\\slash", u"Caf\u00e9 \U0001F600"};
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
      const OptString id = Seed(format.folder, text);
      ASSERT_TRUE(id);
      const WString path = ScratchPath(format.name);
      std::shared_ptr<outlook::Item> item = FindItem(format.folder, *id);
      ASSERT_TRUE(item && (contact ? item->QueryContact()->SaveAs(path, format.type)
                                   : item->QueryAppointment()->SaveAs(path, format.type)));
      std::shared_ptr<outlook::Namespace> ns = Session();
      std::shared_ptr<outlook::Item> opened;
      ASSERT_TRUE(ns && ns->OpenSharedItem(path, &opened) && opened);
      EXPECT_EQ(contact, opened->QueryContact() != nullptr);
      OptString value, new_id;
      ASSERT_TRUE(ReadText(*opened, &value) && ReadEntryId(*opened, &new_id));
      EXPECT_EQ(text, value);
      EXPECT_TRUE(NullOrEmpty(new_id)) << "an opened file is a new, unsaved item";
      const size_t before = ReadEntryIds(format.folder).size();
      ASSERT_TRUE(
          WithClass(*opened, [&](auto& typed) { return typed.Save() && typed.EntryID(&new_id); }));
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
