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
using ItemPtr = std::shared_ptr<outlook::Item>;

const int32_t kDefaultFolders[] = {kFolderInbox, kFolderCalendar, kFolderContacts, kFolderNotes};

bool WriteFile(const WString& path, const std::string& bytes) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  return file && file->Write(bytes.data(), bytes.size()) == bytes.size();
}

std::string ReadFile(const WString& path) {
  std::string bytes;
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  char chunk[4096];
  for (size_t n; file && bytes.size() < (1u << 24) && (n = file->Read(chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, n);
  return bytes;
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

// The text each class is checked by: Subject, Body, FullName or Subject.
OptString TextOf(outlook::Item& item) {
  OptString value = u"(unread)";
  const auto read = [&](auto& typed) {
    if constexpr (std::is_same_v<decltype(typed), outlook::NoteItem&>)
      return typed.Body(&value);
    else if constexpr (std::is_same_v<decltype(typed), outlook::ContactItem&>)
      return typed.FullName(&value);
    else
      return typed.Subject(&value);
  };
  EXPECT_TRUE(WithClass(item, read));
  return value;
}
OptString IdOf(outlook::Item& item) {
  OptString id;
  EXPECT_TRUE(WithClass(item, [&](auto& typed) { return typed.EntryID(&id); }));
  return id;
}

struct Connection {
  std::shared_ptr<outlook::Application> app;
  std::shared_ptr<outlook::Namespace> ns;
};
Connection Connect(outlook::ObjectModel& model) {
  Connection c;
  EXPECT_EQ(ConnectResult::kOk, model.Connect(&c.app));
  EXPECT_TRUE(c.app && c.app->GetNamespace(u"MAPI", &c.ns) && c.ns);
  return c;
}
std::shared_ptr<outlook::Items> FolderItems(outlook::ObjectModel& model, int32_t id) {
  std::shared_ptr<outlook::Namespace> ns = Connect(model).ns;
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  EXPECT_TRUE(ns && ns->GetDefaultFolder(id, &folder) && folder && folder->GetItems(&items) &&
              items)
      << "folder " << id;
  return items;
}
// The items of the folder in collection order, through a fresh connection.
std::vector<ItemPtr> Listed(outlook::ObjectModel& model, int32_t folder) {
  std::shared_ptr<outlook::Items> items = FolderItems(model, folder);
  int32_t count = 0;
  EXPECT_TRUE(items && items->Count(&count)) << "cannot count folder " << folder;
  std::vector<ItemPtr> out(static_cast<size_t>(std::max(count, 0)));
  for (int32_t i = 1; i <= count; ++i)
    EXPECT_TRUE(items->Item(i, &out[i - 1]) && out[i - 1]) << folder << " item " << i;
  return out;
}
std::vector<WString> Ids(outlook::ObjectModel& model, int32_t folder) {
  std::vector<WString> ids;
  for (const ItemPtr& item : Listed(model, folder))
    ids.push_back(item ? IdOf(*item).value_or(u"") : u"");
  return ids;
}
ItemPtr Find(outlook::ObjectModel& model, int32_t folder, const WString& id) {
  for (const ItemPtr& item : Listed(model, folder))
    if (item && IdOf(*item) == id) return item;
  ADD_FAILURE() << "no item " << Utf16ToUtf8(id) << " in folder " << folder;
  return nullptr;
}

std::string Escaped(const WString& s) {
  std::string out;
  for (char c : Utf16ToUtf8(s)) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// Files an item holding `text` in the default folder through the interface:
// a created mail moved into the Inbox, a created note, a contact or event
// opened from a file at `path`. Its entry ID, or nullopt when a step failed.
OptString Seed(outlook::ObjectModel& model, int32_t folder, const WString& text,
               const WString& path) {
  Connection c = Connect(model);
  ItemPtr item;
  OptString id;
  const std::string t = Escaped(text);
  if (!c.ns) return std::nullopt;
  if (folder == kFolderContacts || folder == kFolderCalendar) {
    const std::string file =
        folder == kFolderContacts
            ? "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + t + "\r\nFN:" + t + "\r\nEND:VCARD\r\n"
            : "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:" + t +
                  "\r\nDTSTART:20240101T120000\r\nDTEND:20240101T130000\r\nEND:VEVENT\r\nEND:"
                  "VCALENDAR\r\n";
    if (!WriteFile(path, file) || !c.ns->OpenSharedItem(path, &item)) return std::nullopt;
  } else if (!c.app->CreateItem(folder == kFolderInbox ? outlook::kMailItem : outlook::kNoteItem,
                                &item)) {
    return std::nullopt;
  }
  if (!item) return std::nullopt;
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
  std::shared_ptr<outlook::Folder> inbox;
  if (mail) {
    if (!mail->PutSubject(text) || !mail->Save() || !c.ns->GetDefaultFolder(kFolderInbox, &inbox) ||
        !inbox || !mail->Move(inbox, &moved) || !moved || !moved->EntryID(&id))
      return std::nullopt;
  } else if ((note && !note->PutBody(text)) ||
             !WithClass(*item, [&](auto& typed) { return typed.Save() && typed.EntryID(&id); })) {
    return std::nullopt;
  }
  return NullOrEmpty(id) ? std::nullopt : id;
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

WString ObjectModelContract::ScratchPath(const char* name) {
  WString temp;
  EXPECT_TRUE(Env::Current().TempFolder(&temp));
  scratch_files_.push_back(temp + u"zelsync-contract-" + Env::Current().CreateUuidString() + u"-" +
                           Utf8ToUtf16(name));
  return scratch_files_.back();
}

TEST_P(ObjectModelContract, EntryIdsAreUniqueAndStableAndQueriesTellTheClassesApart) {
  std::set<WString> all;
  for (int32_t folder : kDefaultFolders) {
    SCOPED_TRACE(folder);
    EXPECT_TRUE(Ids(model(), folder).empty()) << "a fresh store";
    const OptString one = Seed(model(), folder, u"one", ScratchPath("1.vcf")),
                    two = Seed(model(), folder, u"two", ScratchPath("2.vcs"));
    ASSERT_TRUE(one && two);
    all.insert({*one, *two});
    const std::vector<WString> first = Ids(model(), folder);
    EXPECT_EQ(first, Ids(model(), folder)) << "the folder reads the same twice";
    EXPECT_EQ((std::set<WString>{*one, *two}), std::set<WString>(first.begin(), first.end()));
    for (const ItemPtr& item : Listed(model(), folder)) {
      ASSERT_TRUE(item);
      EXPECT_EQ(folder == kFolderInbox, item->QueryMail() != nullptr);
      EXPECT_EQ(folder == kFolderNotes, item->QueryNote() != nullptr);
      EXPECT_EQ(folder == kFolderContacts, item->QueryContact() != nullptr);
      EXPECT_EQ(folder == kFolderCalendar, item->QueryAppointment() != nullptr);
    }
    std::shared_ptr<outlook::Items> items = FolderItems(model(), folder);
    for (int32_t index : {0, -1, 3}) {
      ItemPtr item;
      EXPECT_FALSE(items && items->Item(index, &item)) << index;
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
    for (const char16_t* text : {u"a", u"b", u"c"})
      ASSERT_TRUE(Seed(model(), folder, text, ScratchPath("s.vcf")));
    const std::vector<WString> before = Ids(model(), folder);
    const OptString added = Seed(model(), folder, u"d", ScratchPath("d.vcf"));
    ASSERT_TRUE(added);
    EXPECT_EQ(before, without(Ids(model(), folder), *added));
    for (const WString& gone : {before[1], before[0]}) {
      const std::vector<WString> now = Ids(model(), folder);
      ItemPtr item = Find(model(), folder, gone);
      ASSERT_TRUE(item && WithClass(*item, [](auto& typed) { return typed.Delete(); }));
      item.reset();
      EXPECT_EQ(without(now, gone), Ids(model(), folder));
    }
  }
}

TEST_P(ObjectModelContract, NewNoteGetsAnEntryIdOnSaveAndSavingKeepsIt) {
  const OptString first = Seed(model(), kFolderNotes, u"before", WString());
  ASSERT_TRUE(first);
  OptString id, after;
  {
    ItemPtr item;
    Connection c = Connect(model());
    ASSERT_TRUE(c.app && c.app->CreateItem(outlook::kNoteItem, &item) && item);
    std::shared_ptr<outlook::NoteItem> note = item->QueryNote();
    ASSERT_TRUE(note && note->EntryID(&id));
    EXPECT_TRUE(NullOrEmpty(id));
    EXPECT_EQ(std::vector<WString>{*first}, Ids(model(), kFolderNotes)) << "unsaved is not filed";
    ASSERT_TRUE(note->PutBody(u"Milk\r\nEggs") && note->Save() && note->EntryID(&id));
  }
  ASSERT_FALSE(NullOrEmpty(id));
  {
    ItemPtr item = Find(model(), kFolderNotes, *first);
    std::shared_ptr<outlook::NoteItem> note = item ? item->QueryNote() : nullptr;
    ASSERT_TRUE(note && note->PutBody(u"after") && note->Save() && note->EntryID(&after));
    EXPECT_EQ(first, after);
  }
  EXPECT_EQ((std::vector<WString>{*first, *id}), Ids(model(), kFolderNotes));
  EXPECT_EQ(u"after", TextOf(*Find(model(), kFolderNotes, *first)));
  EXPECT_EQ(u"Milk\r\nEggs", TextOf(*Find(model(), kFolderNotes, *id)));
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
    Connection c = Connect(model());
    std::shared_ptr<outlook::Folder> inbox;
    ItemPtr item;
    std::shared_ptr<outlook::Attachments> attachments;
    ASSERT_TRUE(c.ns && c.ns->GetDefaultFolder(kFolderInbox, &inbox) && inbox &&
                c.app->CreateItem(outlook::kMailItem, &item) && item);
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
  EXPECT_EQ(std::vector<WString>{*id}, Ids(model(), kFolderInbox));
  ItemPtr item = Find(model(), kFolderInbox, *id);
  std::shared_ptr<outlook::MailItem> mail = item ? item->QueryMail() : nullptr;
  std::shared_ptr<outlook::Attachments> attachments;
  std::shared_ptr<outlook::Attachment> attachment;
  OptString body;
  int32_t count = 0;
  ASSERT_TRUE(mail && mail->HTMLBody(&body) && mail->GetAttachments(&attachments) && attachments &&
              attachments->Count(&count));
  EXPECT_EQ(u"Hello", TextOf(*item));
  EXPECT_EQ(html, body);
  ASSERT_EQ(2, count);
  EXPECT_FALSE(attachments->Item(3, &attachment));
  for (int32_t index = 1; index <= 2; ++index) {
    const auto& [path, content] = files[index - 1];
    const WString copy = ScratchPath("copy.bin");
    OptString name;
    ASSERT_TRUE(attachments->Item(index, &attachment) && attachment &&
                attachment->FileName(&name) && attachment->SaveAsFile(copy));
    EXPECT_EQ(path.substr(path.find_last_of(u"/\\") + 1), name);
    EXPECT_EQ(content, ReadFile(copy));
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
      const OptString id = Seed(model(), format.folder, text, ScratchPath(format.name));
      ASSERT_TRUE(id);
      const WString path = ScratchPath(format.name);
      ItemPtr item = Find(model(), format.folder, *id), opened;
      ASSERT_TRUE(item && (contact ? item->QueryContact()->SaveAs(path, format.type)
                                   : item->QueryAppointment()->SaveAs(path, format.type)));
      Connection c = Connect(model());
      ASSERT_TRUE(c.ns && c.ns->OpenSharedItem(path, &opened) && opened);
      EXPECT_EQ(contact, opened->QueryContact() != nullptr);
      EXPECT_EQ(text, TextOf(*opened));
      EXPECT_TRUE(NullOrEmpty(IdOf(*opened))) << "an opened file is a new, unsaved item";
      const size_t before = Ids(model(), format.folder).size();
      OptString new_id;
      ASSERT_TRUE(
          WithClass(*opened, [&](auto& typed) { return typed.Save() && typed.EntryID(&new_id); }));
      ASSERT_FALSE(NullOrEmpty(new_id));
      EXPECT_NE(id, new_id);
      EXPECT_EQ(before + 1, Ids(model(), format.folder).size());
      EXPECT_EQ(text, TextOf(*Find(model(), format.folder, *new_id)));
    }
  }
}

TEST_P(ObjectModelContract, OpenSharedItemRefusesWhatItCannotRead) {
  const std::pair<const char*, std::string> cases[] = {
      {"garbage.vcf", "hello, world\r\n"},
      {"empty.vcs", ""},
      {"truncated.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:x"},
      {"missing.vcf", ""}};
  Connection c = Connect(model());
  ASSERT_NE(nullptr, c.ns);
  for (const auto& [name, bytes] : cases) {
    const WString path = ScratchPath(name);
    ASSERT_TRUE(std::string(name) == "missing.vcf" || WriteFile(path, bytes));
    ItemPtr item;
    // A backend may make something of it, but not an item of the class.
    if (c.ns->OpenSharedItem(path, &item) && item) {
      EXPECT_NE("missing.vcf", std::string(name));
      EXPECT_EQ(nullptr, item->QueryContact()) << name;
      EXPECT_EQ(nullptr, item->QueryAppointment()) << name;
    }
  }
  for (int32_t folder : kDefaultFolders) EXPECT_TRUE(Ids(model(), folder).empty());
}

// The Windows test binary has no local store to run the contract on.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ObjectModelContract);

}  // namespace testing
}  // namespace zelsync
