// The local item store (the Linux backend of the object model): phone files
// and files other programs leave, the formats it writes, safe writes, entry
// IDs, and the change scanner's logs.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "local/entry_ids.h"
#include "local/item_texts.h"
#include "local/local_store.h"
#include "support/scratch.h"
#include "support/text_files.h"
#include "tracker/change_scanner.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;
using outlook::OptString;
using Lines = std::vector<std::string>;

std::string Narrow(const OptString& value) { return value ? Utf16ToUtf8(*value) : "(null)"; }

// A path as the platform layer spells it (a byte of no UTF-8 escaped).
WString Wide(const fs::path& path) { return PathFromNative(path.string()); }

WString WideIdOf(outlook::ItemBase& item) {
  OptString id;
  EXPECT_TRUE(item.EntryID(&id) && id);
  return id.value_or(u"");
}
std::string IdOf(outlook::ItemBase& item) { return Utf16ToUtf8(WideIdOf(item)); }

// The entry ID of an item of any of the four classes.
std::string IdOf(outlook::Item& item) {
  if (auto mail = item.QueryMail()) return IdOf(*mail);
  if (auto note = item.QueryNote()) return IdOf(*note);
  if (auto contact = item.QueryContact()) return IdOf(*contact);
  if (auto appointment = item.QueryAppointment()) return IdOf(*appointment);
  return "(another class)";
}

// The file name an entry ID carries after its kind's tag.
std::string StemOf(const std::string& id) { return id.substr(id.find('/') + 1); }

// How often `part` occurs in `text`.
size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

// Saves a contact or an event as a file of `type`.
bool SaveAs(outlook::Item& item, int32_t type, const fs::path& out) {
  if (auto contact = item.QueryContact()) return contact->SaveAs(Wide(out), type);
  auto appointment = item.QueryAppointment();
  return appointment && appointment->SaveAs(Wide(out), type);
}

// What the store reads of an item: a contact's FullName, an event's
// Subject, a note's body; a mail's subject, sender, on-behalf name, read
// state and importance other than normal; "(unreadable)" when reading
// fails (and a contact or event is not handed out either).
std::string Describe(outlook::Item& item, const fs::path& out) {
  OptString text, sender, behalf;
  bool unread = false;
  int32_t importance = 1;
  auto c = item.QueryContact();
  auto a = item.QueryAppointment();
  if (c || a) {
    if (c ? c->FullName(&text) : a->Subject(&text)) return Narrow(text);
    return SaveAs(item, c ? outlook::kSaveAsVCard : outlook::kSaveAsVCalendar, out) ? "(handed out)" : "(unreadable)";
  }
  if (auto n = item.QueryNote()) return n->Body(&text) ? Narrow(text) : "(unreadable)";
  auto m = item.QueryMail();
  if (!m) return "(another class)";
  if (!m->Subject(&text) || !m->SenderName(&sender) || !m->SentOnBehalfOfName(&behalf) ||
      !m->UnRead(&unread) || !m->Importance(&importance))
    return "(unreadable)";
  return Narrow(text) + " from " + Narrow(sender) + " for " + Narrow(behalf) +
         (unread ? ", unread" : "") + (importance == 0 ? ", low" : importance == 2 ? ", high" : "");
}

// A store in the scratch folder ("store"), connected. The files a caller
// hands the store or has it write go in a folder whose name is no UTF-8,
// which the store must find again as the platform layer spells it.
class LocalStoreTest : public LibraryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
    fs::create_directories(files_);
  }

  fs::path Root() const { return scratch_.path() / "store"; }

  // The items of a default folder, in collection order.
  std::vector<std::shared_ptr<outlook::Item>> All(int32_t folder) {
    std::shared_ptr<outlook::Folder> f;
    std::shared_ptr<outlook::Items> items;
    int32_t count = 0;
    EXPECT_TRUE(session_->GetDefaultFolder(folder, &f) && f->GetItems(&items) && items->Count(&count));
    std::vector<std::shared_ptr<outlook::Item>> all(count);
    for (int32_t i = 1; i <= count; ++i) EXPECT_TRUE(items->Item(i, &all[i - 1]));
    return all;
  }

  // The listed item of a default folder with the entry ID `id`.
  std::shared_ptr<outlook::Item> Listed(int32_t folder, const std::string& id) {
    for (auto& item : All(folder))
      if (IdOf(*item) == id) return item;
    ADD_FAILURE() << id << " is not listed";
    return nullptr;
  }

  // Each item of a default folder: "<entry ID>: <what the store reads>".
  std::string Listing(int32_t folder) {
    std::string listing;
    for (auto& item : All(folder)) listing += IdOf(*item) + ": " + Describe(*item, files_ / "out") + "\n";
    return listing;
  }

  // The item of the file `name` in the scratch folder, which gets `text`.
  std::shared_ptr<outlook::Item> Open(const std::string& text, const std::string& name) {
    WriteText(files_ / name, text);
    std::shared_ptr<outlook::Item> item;
    return session_->OpenSharedItem(Wide(files_ / name), &item) ? item : nullptr;
  }

  // `text` opened as a shared item and saved into the store: its entry ID.
  std::string Save(const std::string& text, const std::string& name) {
    auto item = Open(text, name);
    auto contact = item ? item->QueryContact() : nullptr;
    auto appointment = item ? item->QueryAppointment() : nullptr;
    const bool saved = contact ? contact->Save() : appointment && appointment->Save();
    EXPECT_TRUE(saved) << text;
    return saved ? IdOf(*item) : "";
  }

  // A new note of the library's, saved; and its file.
  std::shared_ptr<outlook::NoteItem> SaveNote(const WString& body) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(app_->CreateItem(outlook::kNoteItem, &item) && item->QueryNote()->PutBody(body) &&
                item->QueryNote()->Save());
    return item->QueryNote();
  }
  fs::path NoteFile(const std::shared_ptr<outlook::NoteItem>& note) {
    return Root() / "notes" / (StemOf(IdOf(*note)) + ".txt");
  }

  // A mail's attachments: each one's file name and the bytes it saves.
  std::vector<std::pair<std::string, std::string>> AttachmentsOf(outlook::MailItem& mail) {
    std::shared_ptr<outlook::Attachments> attachments;
    int32_t count = 0;
    EXPECT_TRUE(mail.GetAttachments(&attachments) && attachments->Count(&count));
    std::vector<std::pair<std::string, std::string>> out;
    for (int32_t i = 1; i <= count; ++i) {
      std::shared_ptr<outlook::Attachment> attachment;
      OptString name;
      const fs::path copy = files_ / "copy";
      EXPECT_TRUE(attachments->Item(i, &attachment) && attachment->FileName(&name) &&
                  attachment->SaveAsFile(Wide(copy)));
      out.emplace_back(Narrow(name), ReadText(copy));
    }
    return out;
  }

  const fs::path files_ = scratch_.path() / "caf\xe9";
  ScopedVariable root_{"ZELSYNC_STORE", Root().string()};
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

// Each of `lines` is a whole line (CR LF ended) of `text`.
void ExpectLines(const std::string& text, const Lines& lines) {
  for (const std::string& line : lines)
    EXPECT_NE(std::string::npos, text.find(line + "\r\n")) << line << " in:\n" << text;
}

// ---- files phones and other programs leave ----

// Each opens as a shared item with the name or subject it holds (a task
// opens as another class) and saves into the store.
TEST_F(LocalStoreTest, PhoneFilesOpenWithTheNameOrSubjectTheyHold) {
  const std::pair<const char*, const char*> kFixtures[] = {
      {"qp-latin1.vcf", "Joseph H\xC3\xB6rmann"}, {"utf8-v30.vcf", "Bod\xC3\xB8 Lind"},
      {"folded.vcf", "Nikdovic Nikdo"},           {"event-v10.vcs", "Coffee with Jason"},
      {"allday.ics", "Boxing Day"},               {"task-v10.vcs", "(another class)"}};
  const std::pair<const char*, const char*> kSamples[] = {
      {"contacts/char-escaping.vcf", "(null)"}, {"contacts/quoted-printable-ascii.vcf", "Nobody\rNowhere"},
      {"contacts/quoted-printable-new-line.vcf", "\xD0\x9F\xD0\x9E\xD0\xA0\xD0\x9A\xD0\xA1 - PRIMA"},
      {"contacts/type_lowercase.vcf", "LUCAS VIEITES FARINA"}, {"contacts/photo.vcf", "Amore"},
      {"contacts/version3.vcf", "MARK/HEATHER DEE"},    {"calendar/01.ics", "(another class)"},
      {"calendar/badline.ics", "(null)"},               {"calendar/k770.vcs", nullptr},
      {"calendar/outlook.vcs", "Northeast Council of Aquarium Societies 35th Annual Convention"}};
  // No title: a file of several calendar objects, refused whole.
  auto check = [&](const std::string& path, const char* title) {
    SCOPED_TRACE(path);
    std::shared_ptr<outlook::Item> item;
    ASSERT_EQ(title != nullptr, session_->OpenSharedItem(Wide(path), &item));
    if (!title) return;
    EXPECT_EQ(title, Describe(*item, files_ / "out"));
    auto contact = item->QueryContact();
    auto appointment = item->QueryAppointment();
    EXPECT_TRUE(contact ? contact->Save() : !appointment || appointment->Save());
  };
  for (const auto& [file, title] : kFixtures) check(ZELSYNC_FIXTURES_DIR "/phones/" + std::string(file), title);
  if (!fs::exists(ZELSYNC_SAMPLES_DIR))
    GTEST_SKIP() << "the fixtures were read; " ZELSYNC_SAMPLES_DIR " is not there";
  for (const auto& [file, title] : kSamples) check(ZELSYNC_SAMPLES_DIR "/" + std::string(file), title);
}

std::string Nested(const std::string& version) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:" + version + "\r\n";
  for (int i = 0; i < 5000; ++i) text += "BEGIN:VEVENT\r\nSUMMARY:x\r\n";
  for (int i = 0; i < 5000; ++i) text += "END:VEVENT\r\n";
  return text + "END:VCALENDAR\r\n";
}

// Files other programs leave are listed and read as they are; a killed
// writer's scratch files, as other files than items, stay out of the
// listings, and the store clears them once no writer can still own them.
// Its folders are the owner's alone.
TEST_F(LocalStoreTest, OutsideFilesAreReadAsTheyAreAndScratchFilesIgnoredThenCleared) {
  const std::pair<std::string, std::string> kFiles[] = {
      {"contacts/garbage.vcf", std::string("\x00\xFF not a card", 13)},
      {"contacts/caf\xE9.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Latin\r\nEND:VCARD\r\n"},
      {"calendar/broken.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:garbage"},
      {"calendar/empty.ics", ""},
      // Nesting deeper than any real calendar is refused before the
      // recursive converters see it.
      {"calendar/v1.ics", Nested("1.0")}, {"calendar/v2.ics", Nested("2.0")},
      {"calendar/n.ics",
       "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN: \r\nSUMMARY:lost\r\nEND:X\r\nBEGIN:VEVENT\r\n"
       "SUMMARY:kept\r\nDTSTART:20260301T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"},
      {"notes/n.txt", "\xEF\xBB\xBFnew text"},
      {"mail/inbox/new/1.M1P1.h",
       "From: Ann <ann@example.org>\nSender: Bob <bob@example.org>\nX-Priority: 5\n"
       "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\n\nhi\n"},
      {"mail/inbox/new/2.M1P1.h", "Importance: High\nX-Priority: 5\nSubject: b\n\n"},
      // one message in "new" and "cur" is one item
      {"mail/inbox/new/3.M1P1.h", "Subject: a\n\n"}, {"mail/inbox/cur/3.M1P1.h:2,S", "Subject: a\n\n"},
      {"mail/inbox/cur/4.M1P1.h:2,",
       "Subject: Invite\nMIME-Version: 1.0\nContent-Type: text/calendar; method=REQUEST\n\n"
       "BEGIN:VCALENDAR\nMETHOD:REQUEST\nEND:VCALENDAR\n"},
      {"contacts/.a.vcf.tmp-1", "BEGIN:VCARD\r\nFN:X\r\n"}, {"contacts/.b.vcf.tmp-2", "BEGIN:VCARD\r\nFN:X\r\n"},
      {"mail/inbox/tmp/1.M1P1.host", "Subject: x\n\n"}, {"contacts/readme.md", "BEGIN:VCARD\r\nFN:X\r\n"}};
  for (const auto& [path, text] : kFiles) WriteText(Root() / path, text);
  for (const char* old : {"contacts/.a.vcf.tmp-1", "mail/inbox/tmp/1.M1P1.host"})
    fs::last_write_time(Root() / old, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_EQ(
      "contacts/caf\xEF\xBF\xBD: Latin\ncontacts/garbage: (unreadable)\n"
      "calendar/broken: (unreadable)\ncalendar/empty: (unreadable)\ncalendar/n: kept\n"
      "calendar/v1: (unreadable)\ncalendar/v2: (unreadable)\nnotes/n: new text\n"
      "mail/1.M1P1.h: Gr\xC3\xBC\xC3\x9F" "e from Bob <bob@example.org> for Ann <ann@example.org>, unread, low\n"
      "mail/2.M1P1.h: b from (null) for (null), unread, high\nmail/3.M1P1.h: a from (null) for (null)\n"
      "(another class): (another class)\n",
      Listing(outlook::kFolderContacts) + Listing(outlook::kFolderCalendar) +
          Listing(outlook::kFolderNotes) + Listing(outlook::kFolderInbox));
  std::shared_ptr<outlook::Application> again;
  ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&again));
  EXPECT_FALSE(fs::exists(Root() / "contacts/.a.vcf.tmp-1") || fs::exists(Root() / "mail/inbox/tmp/1.M1P1.host"));
  EXPECT_TRUE(fs::exists(Root() / "contacts/.b.vcf.tmp-2"));
  EXPECT_EQ(fs::perms::owner_all, fs::status(Root() / "contacts").permissions() & fs::perms::all);
}

// A folder's listing is kept while its stamp stays; every change to the
// folder (made to look old, so that the listing is kept at all) shows at the
// next collection, while a collection already handed out keeps its positions.
TEST_F(LocalStoreTest, AKeptListingFollowsEveryChangeToItsFolder) {
  const fs::path notes = Root() / "notes";
  auto ids = [&] {
    fs::last_write_time(notes, fs::file_time_type::clock::now() - std::chrono::seconds(30));
    std::string out;
    for (auto& item : All(outlook::kFolderNotes)) out += StemOf(IdOf(*item)) + " ";
    return out;
  };
  WriteText(notes / "a.txt", "a");
  WriteText(notes / "b.txt", "b");
  fs::create_directory(notes / "folder.txt");
  fs::create_symlink(notes / "a.txt", notes / "link.txt");
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> before;
  std::shared_ptr<outlook::Item> third;
  int32_t count = 0;  // a collection's positions are fixed at its first use
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderNotes, &folder) && folder->GetItems(&before) &&
              before->Count(&count));
  const std::pair<std::function<void()>, std::string> kChanges[] = {
      {[] {}, "a b link "},
      {[&] { WriteText(notes / "c.txt", "c"); }, "a b c link "},
      {[&] { fs::remove(notes / "b.txt"); }, "a c link "},
      {[&] { fs::rename(notes / "c.txt", notes / "d.txt"); }, "a d link "},
      {[&] { fs::remove(notes / "link.txt"); }, "a d "}};
  for (const auto& [change, expected] : kChanges) {
    ids();  // kept
    change();
    EXPECT_EQ(expected, ids());
  }
  ASSERT_TRUE(before->Item(3, &third));
  EXPECT_EQ("notes/link", IdOf(*third));
  SaveNote(u"new");  // the library's own new note shows at once
  EXPECT_EQ(3u, All(outlook::kFolderNotes).size());
}

// ---- what the store writes ----

// An item as a phone or a program sends it: lines the stored file holds
// (vCard 3.0 or 4.0, iCalendar), lines of the phone's copy
// (vCard 2.1, vCalendar 1.0; none: 1.0 cannot carry the event faithfully
// and is refused) and text the copy must not hold.
struct ItemCase {
  const char* name;
  std::string text;
  Lines stored = {}, phone = {}, never = {};
  bool returns = true;  // what the phone sends back goes to it again as it was
};

const std::string kBerlin =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
    "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "END:DAYLIGHT\r\nEND:VTIMEZONE\r\n";

std::string VCal10(const std::string& event) {
  return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Dentist\r\n" + event +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}
std::string ICal(const std::string& event, const std::string& before = "") {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//p//p//EN\r\n" + kBerlin + before +
         "BEGIN:VEVENT\r\nUID:u1\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:Dentist\r\n" + event +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}
const std::string kNoon = "DTSTART:20240101T120000Z\r\n";
const std::string kAlarm = "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";

const ItemCase kItems[] = {
    {"Phone21Latin1",
     "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;"
     "J=FCrgen\r\nTEL;CELL;VOICE:+491234\r\nNOTE:one, two\r\nEND:VCARD\r\n",
     {"VERSION:3.0", "N:M\xC3\xBCller;J\xC3\xBCrgen", "FN:J\xC3\xBCrgen M\xC3\xBCller",
      "TEL;TYPE=CELL;TYPE=VOICE:+491234", "NOTE:one\\, two"},
     {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen", "TEL;CELL;VOICE:+491234",
      "NOTE:one, two"}},
    {"IosCrCrLf",
     "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Lee;Ann;;;\r\r\nFN:Ann Lee\r\r\nORG:ACME\r\r\n"
     "END:VCARD\r\r\n",
     {"FN:Ann Lee", "ORG:ACME"}, {"FN:Ann Lee", "ORG:ACME", "N:Lee;Ann;;;"}, {"=0D", "\r\r"}},
    {"Program40",
     "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Lee\r\nN;SORT-AS=\"Lee,Ann\":Lee;Ann;;;\r\n"
     "ADR;GEO=\"geo:48.2,16.3\";LABEL=\"Main St 1\\nVienna\";TYPE=work:;;Main St 1;Vienna;;;AT\r\n"
     "TEL;VALUE=uri;TYPE=work:tel:+1-555-555-5555;ext=5555\r\nNOTE:a\\; b\r\nEND:VCARD\r\n",
     {"VERSION:4.0", "N;SORT-AS=\"Lee,Ann\":Lee;Ann;;;",
      "ADR;GEO=\"geo:48.2,16.3\";LABEL=Main St 1\\nVienna;TYPE=work:;;Main St 1;Vienna;;;AT"},
     {"N:Lee;Ann;;;", "ADR;WORK:;;Main St 1;Vienna;;;AT", "TEL;WORK:+1-555-555-5555;ext=5555",
      "NOTE:a; b"},
     {"GEO", "LABEL", "SORT-AS", "\\;ext"}},
    {"PhoneKeepsWhatItCannotMap",
     "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Roe;Al\r\nX-SONY-RING;X-TONE=1:bell.mid\r\n"
     "CATEGORIES:Work\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=0Db\r\n"
     "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n/9j/4AAQ\r\nSkZJRg==\r\n\r\nEND:VCARD\r\n",
     {"X-SONY-RING;X-TONE=1:bell.mid", "CATEGORIES:Work", "NOTE:a\\nb", ":/9j/4AAQSkZJRg=="},
     {"X-SONY-RING;X-TONE=1:bell.mid", "CATEGORIES:Work",
      "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab",
      "PHOTO;JPEG;ENCODING=BASE64:/9j/4AAQSkZJRg=="}},
    // A ';' escaped inside a part of a structured value stays inside it.
    {"PhoneEscapedSemicolon", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:O'Neil\\; Jr.;Ann\r\nEND:VCARD\r\n",
     {"N:O'Neil\\; Jr.;Ann", "FN:Ann O'Neil\\; Jr."}, {"N:O'Neil\\; Jr.;Ann"}},
    // Non-ASCII, so quoted-printable, with a space where a soft break falls.
    {"LongValueUnderALongHead",
     "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Al\r\nitem1.X-ABRELATEDNAMES;TYPE=pref;"
     "X-ABLABEL=assistant-of-the-director:\xC3\xA9" + std::string(69, 'x') +
         " end\r\nEND:VCARD\r\n",
     {"item1.X-ABRELATEDNAMES;TYPE=pref;X-ABLABEL=assistant-of-the-director:\xC3\xA9" +
      std::string(69, 'x') + " end"},
     {"FN:Al"}},
    {"PhoneAlarms",
     VCal10("DTSTART:20260310T090000Z\r\nDTEND:20260310T100000Z\r\n"
            "DALARM:20260310T084500Z;PT5M;2;Go\r\nAALARM:20260310T084500Z;;0;\r\n"
            "PALARM:20260310T084000Z;;0;alarm.exe\r\n"
            "MALARM:20260310T083000Z;;0;ann@example.org;Soon\r\n"),
     {"TRIGGER;VALUE=DATE-TIME:20260310T084500Z", "ACTION:DISPLAY", "DESCRIPTION:Go",
      "DURATION:PT5M", "REPEAT:2", "ACTION:AUDIO", "ACTION:PROCEDURE", "ATTACH:alarm.exe",
      "ACTION:EMAIL", "ATTENDEE:mailto:ann@example.org"},
     {"DALARM:20260310T084500Z;PT5M;2;Go", "AALARM:20260310T084500Z",
      "PALARM:20260310T084000Z;;0;alarm.exe", "MALARM:20260310T083000Z;;0;ann@example.org;Soon"}},
    {"ProgramEditedOccurrences",
     ICal("DTSTART;TZID=Europe/Berlin:20260105T090000\r\nRRULE:FREQ=WEEKLY;COUNT=5\r\n"
          "EXDATE;TZID=Europe/Berlin:20260119T090000\r\n",
          "BEGIN:VEVENT\r\nUID:u1\r\nDTSTAMP:20260101T000000Z\r\n"
          "RECURRENCE-ID;TZID=Europe/Berlin:20260112T090000\r\n"
          "DTSTART;TZID=Europe/Berlin:20260112T100000\r\nSUMMARY:Standup moved\r\nEND:VEVENT\r\n"),
     {"RECURRENCE-ID;TZID=Europe/Berlin:20260112T090000", "SUMMARY:Standup moved",
      "TZID:Europe/Berlin", "EXDATE;TZID=Europe/Berlin:20260119T090000",
      "RRULE:FREQ=WEEKLY;COUNT=5"}},  // no phone copy: refused
    {"PhoneFloatingAndUtc", VCal10("DTSTART:20260310T090000\r\nDTEND:20260310T100000Z\r\n"),
     {"DTSTART:20260310T090000", "DTEND:20260310T100000Z"},
     {"DTSTART:20260310T090000", "DTEND:20260310T100000Z"}},
    {"ProgramZoned",
     ICal("DTSTART;TZID=Europe/Berlin:20260710T090000\r\n"
          "DTEND;TZID=Europe/Berlin:20260710T100000\r\n"),
     {"DTSTART;TZID=Europe/Berlin:20260710T090000"},
     {"DTSTART:20260710T070000Z", "DTEND:20260710T080000Z"}},
    {"ProgramWeeklyUtf8",
     ICal(kNoon + "RRULE:FREQ=WEEKLY;COUNT=5;BYDAY=MO,WE\r\nDESCRIPTION:Gr\xC3\xBC\xC3\x9F" "e\r\n"), {},
     {"RRULE:W1 MO WE #5", "DESCRIPTION;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Gr=C3=BC=C3=9Fe"}},
    // A known fault: read back as BYDAY=FR;BYSETPOS=-1, which the 1.0 writer refuses.
    {"ProgramLastFriday", ICal(kNoon + "RRULE:FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR\r\n"), {},
     {"RRULE:MP2 1- FR #0"}, {}, false},
    {"ProgramYearlyUntil", ICal(kNoon + "RRULE:FREQ=YEARLY;UNTIL=20300101T000000Z\r\n"), {},
     {"RRULE:YM1 1 20300101T000000Z"}},
    // The exports, not the item, read the marker back.
    {"ProgramAllDay", ICal("DTSTART;VALUE=DATE:20240101\r\nDTEND;VALUE=DATE:20240102\r\n"),
     {"DTSTART;VALUE=DATE:20240101"}, {"X-BLUETOOTH-ALLDAYEVENT:TRUE"}, {}, false},
    // Read back, the alarm gets the event's summary as its text.
    {"ProgramAlarm", ICal(kNoon + kAlarm), {}, {"DALARM:20240101T114500Z"}, {}, false},
    // Refused: what 1.0 cannot carry.
    {"ZonedSeries", ICal("DTSTART;TZID=Europe/Berlin:20240101T120000\r\nRRULE:FREQ=DAILY\r\n")},
    {"HourlyRule", ICal(kNoon + "RRULE:FREQ=DAILY;BYHOUR=9,17\r\n")},
    {"UtcSeriesWithAMovedDay",
     ICal(kNoon + "RRULE:FREQ=DAILY;COUNT=3\r\n", "BEGIN:VEVENT\r\nUID:u1\r\nDTSTAMP:20260101T000000Z\r\n"
          "RECURRENCE-ID:20240102T120000Z\r\nDTSTART:20240102T150000Z\r\nEND:VEVENT\r\n")},
    {"EveryMonday", ICal(kNoon + "RRULE:FREQ=MONTHLY;BYDAY=MO\r\n")},
    {"Attendee", ICal(kNoon + "ATTENDEE:mailto:a@b.c\r\n")},
    {"AllDayAlarm", ICal("DTSTART;VALUE=DATE:20240101\r\n" + kAlarm)},
};

// Every line of a copy the phone gets: CR LF ended, at most 76 octets (only
// a head too long for a line stands alone before a soft break); a property's
// head whole on its first line; no line after a soft break starting with
// white space (readers would take it for a folded line).
void ExpectPhoneLineShapes(const std::string& copy) {
  std::istringstream lines(copy);
  bool soft_break = false;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(!line.empty() && line.back() == '\r') << "not CR LF: " << line;
    line.pop_back();
    EXPECT_TRUE(line.size() <= 76 || line.substr(line.size() - 2) == ":=") << line;
    EXPECT_TRUE(soft_break ? line[0] != ' ' && line[0] != '\t'
                           : line.empty() || line[0] == ' ' || line.find(':') != std::string::npos)
        << line;
    soft_break = !line.empty() && line.back() == '=' &&
                 (soft_break || line.find("QUOTED-PRINTABLE") != std::string::npos);
  }
}

// Under a PC time zone other than UTC, so that a time read or written in
// the wrong zone shows.
class ItemTest : public LocalStoreTest {
 protected:
  ScopedVariable zone_{"TZ", "America/New_York"};

  // Saves `text` into the store: the stored text (unfolded), and the copy
  // the phone gets of the item as the folder holds it ("" when refused).
  std::string HandOut(const std::string& text, std::string* stored) {
    const bool card = text.find("VCARD") != std::string::npos;
    const std::string id = Save(text, card ? "in.vcf" : "in.ics");
    *stored = ReadText(Root() / (id + (card ? ".vcf" : ".ics")));
    EXPECT_NE(std::string::npos, stored->find("\r\nUID:"));
    for (size_t fold; (fold = stored->find("\r\n ")) != std::string::npos;) stored->erase(fold, 3);
    auto listed = Listed(card ? outlook::kFolderContacts : outlook::kFolderCalendar, id);  // as listed
    const fs::path out = files_ / "out";
    if (!listed) return "";
    if (!card) {
      EXPECT_EQ("Dentist", Describe(*listed, out));  // the series, not an edited occurrence
    }
    EXPECT_EQ(!card, SaveAs(*listed, outlook::kSaveAsICalendar, out));  // no iCalendar form of a card
    return SaveAs(*listed, card ? outlook::kSaveAsVCard : outlook::kSaveAsVCalendar, out) ? ReadText(out) : "";
  }
};

TEST_F(ItemTest, IsKeptAndGoesToThePhoneWellFormedAndBack) {
  for (const ItemCase& c : kItems) {
    SCOPED_TRACE(c.name);
    const bool card = c.text.find("VCARD") != std::string::npos;
    std::string stored, again;
    const std::string copy = HandOut(c.text, &stored);
    ExpectLines(stored, c.stored);
    // An edited occurrence stays in the file of its series.
    EXPECT_EQ(Occurrences(c.text, "BEGIN:VEVENT"), Occurrences(stored, "BEGIN:VEVENT"));
    ASSERT_EQ(c.phone.empty(), copy.empty());
    if (copy.empty()) continue;
    EXPECT_EQ(0u, copy.find(card ? "BEGIN:VCARD\r\nVERSION:2.1\r\n" : "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n"));
    ExpectLines(copy, c.phone);
    for (const std::string& text : c.never) EXPECT_EQ(std::string::npos, copy.find(text)) << text;
    ExpectPhoneLineShapes(copy);
    // The phone sends it back: it gets the same copy again, and of an item
    // that came from a phone the store loses nothing.
    const std::string back = HandOut(copy, &again);
    if (c.returns) ExpectLines(back, c.phone);
    if (c.text.find("VERSION:2.1") == std::string::npos && c.text.find("VERSION:1.0") == std::string::npos)
      continue;
    for (const std::string& line : c.stored)
      if (line != "VERSION:3.0") ExpectLines(again, {line});
  }
}

TEST_F(LocalStoreTest, AllDayMakesTheStartAndEndDates) {
  auto item = Open(VCal10("DTSTART:20240301T090000\r\nDTEND:20240303T100000\r\n"), "trip.vcs");
  auto appointment = item ? item->QueryAppointment() : nullptr;
  ASSERT_TRUE(appointment && appointment->PutAllDayEvent(true) && appointment->Save());
  const std::string id = StemOf(IdOf(*appointment));
  ExpectLines(ReadText(Root() / "calendar" / (id + ".ics")),
              {"DTSTART;VALUE=DATE:20240301", "DTEND;VALUE=DATE:20240304", "UID:" + id});
}

// An item holds one event (with its edited occurrences): a received file of
// separate events, or of several calendar objects, is refused whole rather
// than stored as its first.
TEST_F(LocalStoreTest, AFileOfSeparateEventsIsRefusedWhole) {
  for (const std::string second : {"UID:b\r\n", ""}) {
    auto item = Open(ICal("DTSTART:20260301T100000Z\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\n" + second +
                          "DTSTART:20260302T100000Z\r\n"),
                     "two.ics");
    ASSERT_TRUE(item && item->QueryAppointment());
    EXPECT_FALSE(item->QueryAppointment()->Save()) << second;
  }
  // A phone's export: calendar objects one after the other.
  const std::string one = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:a\r\n"
                          "DTSTART:20260301T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  ASSERT_NE(nullptr, Open(one, "one.vcs"));
  EXPECT_EQ(nullptr, Open(one + one, "two.vcs"));
  EXPECT_EQ("", Listing(outlook::kFolderCalendar));
}

// What the host's store commands make: an edit changes only what it names,
// and times that do not exist are refused.
TEST(LocalItemTextTest, AnEditChangesOnlyWhatItNamesAndTimesMustExist) {
  std::string made, text, error;
  local::ItemFields card, event, change;
  card.name = "Dora D\xC3\xBCrr", card.phone = "+49 1", card.email = "d@example.org";
  change.phone = "+49 2";
  ASSERT_TRUE(local::NewItemText(local::FolderKind::kContacts, card, "c", &made, &error) &&
              local::EditedItemText(local::FolderKind::kContacts, made, change, "c", &text, &error))
      << error;
  for (const char* kept : {":Dora D\xC3\xBCrr\r\n", ":+49 2\r\n", ":d@example.org\r\n"})
    EXPECT_EQ(1u, Occurrences(text, kept)) << text;
  EXPECT_EQ(0u, Occurrences(text, "+49 1"));
  event.summary = "Zahnarzt; 1", event.end = "20260105T100000";
  for (const char* start : {"2024-03-01", "20260230", "20260105T250000", "", "20260105T090000"}) {
    event.start = *start ? std::optional<std::string>(start) : std::nullopt;  // "": none
    EXPECT_EQ(!strcmp(start, "20260105T090000"),
              local::NewItemText(local::FolderKind::kCalendar, event, "e", &made, &error))
        << start;
  }
  change = {}, change.summary = "Zahnarzt, neu", change.start = "20260105T093000";
  ASSERT_TRUE(local::EditedItemText(local::FolderKind::kCalendar, made, change, "e", &text, &error)) << error;
  for (const char* kept : {"SUMMARY:Zahnarzt\\, neu\r\n", "20260105T093000\r\n", "20260105T100000\r\n"})
    EXPECT_EQ(1u, Occurrences(text, kept)) << text;
  change = {}, change.end = "tomorrow";
  EXPECT_FALSE(local::EditedItemText(local::FolderKind::kCalendar, text, change, "e", &text, &error));
}

// Notes are UTF-8 text files. A write the platform layer fails at any step
// is reported, and leaves the item as it was and no scratch file behind.
TEST_F(LocalStoreTest, AFailedWriteLeavesTheOldItemWhole) {
  auto note = SaveNote(u"Einkauf: K\u00e4se\nBrot");
  for (const char* step : {"Open", "Write", "Sync", "Replace"}) {
    env_.FailNth(step, 1);
    EXPECT_FALSE(note->PutBody(u"new text") && note->Save()) << step;
    EXPECT_EQ("Einkauf: K\xC3\xA4se\nBrot", ReadText(NoteFile(note))) << step;
    EXPECT_EQ(1, std::distance(fs::directory_iterator(Root() / "notes"), {})) << step;
  }
}

// ---- mail ----

// Messages as mail programs build them, with attachments at every depth:
// the attachments the phone gets, a text the HTML body holds (a plain
// text escaped) and the date sent, also after a save built the message
// again. The library's edits keep a sender without an address by its name,
// and its UnRead changes only the "S" flag of a mail program's flags.
TEST_F(LocalStoreTest, AttachmentsAreFoundAtAnyDepthAndKeptOnceWhenSaved) {
  const std::string plain = "--a\nContent-Type: text/plain\n\nHello <you>\n";
  const struct {
    std::string body;
    std::vector<std::pair<std::string, std::string>> attachments;
    const char16_t* html;
  } kMessages[] = {
      {"multipart/alternative; boundary=a\n\n" + plain +
           "--a\nContent-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n"
           "<p>Hi</p>\n--r\nContent-Type: image/png\nContent-Disposition: inline; filename=logo.png\n"
           "Content-Transfer-Encoding: base64\n\niVBORw0KGgo=\n--r--\n--a--\n",
       {{"logo.png", "\x89PNG\r\n\x1A\n"}}, u"<p>Hi</p>"},
      {"multipart/mixed; boundary=m\n\n--m\nContent-Type: multipart/mixed; boundary=a\n\n" + plain +
           "--a\nContent-Type: application/pdf\nContent-Disposition: attachment; "
           "filename=inner.pdf\n\nPDF\n--a--\n--m\nContent-Type: text/plain\n"
           "Content-Disposition: attachment; filename=outer.txt\n\nouter\n--m--\n",
       {{"inner.pdf", "PDF"}, {"outer.txt", "outer"}}, u"Hello &lt;you&gt;"},
      {"text/plain; charset=utf-8\n\nHello <you>\n", {}, u"Hello &lt;you&gt;"}};
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  for (const auto& m : kMessages) {
    WriteText(cur / (std::to_string(&m - kMessages) + ".M1P1.h:2,FS"),
              "From: a@example.org\nSubject: s\nDate: Mon, 1 Jan 2024 12:00:00 +0000\n"
              "MIME-Version: 1.0\nContent-Type: " + m.body);
  }
  for (const char* pass : {"", " after a save"}) {
    auto all = All(outlook::kFolderInbox);
    ASSERT_EQ(3u, all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      SCOPED_TRACE(std::to_string(i) + pass);
      auto mail = all[i]->QueryMail();
      ASSERT_TRUE(mail);
      EXPECT_EQ(kMessages[i].attachments, AttachmentsOf(*mail));
      OptString html;
      double sent = 0;
      ASSERT_TRUE(mail->HTMLBody(&html) && mail->SentOn(&sent));
      EXPECT_NEAR(45292.5, sent, 0.6);  // 2024-01-01 12:00 UTC in any time zone
      EXPECT_NE(WString::npos, html.value_or(u"").find(kMessages[i].html)) << Narrow(html);
      EXPECT_TRUE(*pass || (mail->PutSubject(u"changed") && mail->PutSentOnBehalfOfName(u"Ann Smith") &&
                            mail->PutUnRead(true) && mail->Save()));
    }
  }
  EXPECT_EQ(3u, Occurrences(Listing(outlook::kFolderInbox), ": changed from Ann Smith for Ann Smith, unread\n"));
  EXPECT_TRUE(fs::exists(cur / "0.M1P1.h:2,F") && fs::exists(cur / "2.M1P1.h:2,F"));
}

// ---- the change scanner ----

uint32_t U32(const Bytes& bytes, size_t at) {
  uint32_t value;
  memcpy(&value, &bytes[at], 4);
  return value;
}

class ScannerTest : public LocalStoreTest {
 protected:
  // As the library does: the tracker hears of the store's own writes.
  ScannerTest() : previous_(local::SetStoreObserver(&local::LibraryWriteObserver())) {}
  ~ScannerTest() override { local::SetStoreObserver(previous_); }
  local::StoreObserver* previous_;
};

TEST_F(ScannerTest, ReportsEachOutsideChangeOnceAndKeepsAStateItCannotRead) {
  auto kept = SaveNote(u"kept"), edited = SaveNote(u"edited"), removed = SaveNote(u"removed");
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  const fs::path irmc_log = InSync("SyncModificationLog.DAT"), syncml_log = InSync("SyncMLModificationLog.DAT");
  WriteText(cur / "1.M1P1.h:2,", "Subject: s\n\nbody\n");
  local::ScanResult scan = local::ScanStoreChanges();
  EXPECT_TRUE(scan.ok && scan.baseline && !Exists(irmc_log));
  WriteText(NoteFile(edited), "changed elsewhere");
  fs::remove(NoteFile(removed));
  fs::rename(cur / "1.M1P1.h:2,", cur / "1.M1P1.h:2,S");  // a flag change is a change
  WriteText(Root() / "notes" / "brand-new.txt", "new items are found by the enumeration");
  // What the library does itself is not reported, also after an append to
  // the state that a killed process left unfinished.
  std::ofstream(InSync("LocalStoreState.txt"), std::ios::binary | std::ios::app) << "1 00";
  ASSERT_TRUE(kept->PutBody(u"library edit") && kept->Save());
  auto library_new = SaveNote(u"library new");
  // Another writer's torn appends: the next records go after whole ones.
  WriteBytes(irmc_log, Bytes(100, 1));
  WriteBytes(syncml_log, Bytes(571, 1));
  scan = local::ScanStoreChanges();
  EXPECT_TRUE(scan.ok && scan.changed == 2 && scan.deleted == 1);
  const Bytes irmc = Concat({LogRecordBytes(0, 0, u"mail/1.M1P1.h"),
                             LogRecordBytes(1, 0, Utf8ToUtf16(IdOf(*edited))),
                             LogRecordBytes(1, 1, Utf8ToUtf16(IdOf(*removed)))});
  EXPECT_EQ(irmc, ReadBytes(irmc_log));
  // The SyncML log: the same records, each with the scan's time stamp
  // ("YYYYMMDDTHHMMSSZ") and a change number that counts on.
  Bytes syncml = ReadBytes(syncml_log);
  ASSERT_EQ(3 * 572u, syncml.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::equal(&irmc[i * 528], &irmc[i * 528 + 528], &syncml[i * 572])) << i;
    EXPECT_TRUE(std::equal(&syncml[528], &syncml[568], &syncml[i * 572 + 528])) << i;
    EXPECT_EQ(U32(syncml, 568) + i, U32(syncml, i * 572 + 568));
  }
  EXPECT_TRUE(syncml[528 + 16] == 'T' && syncml[528 + 30] == 'Z');
  // Nothing is reported twice, a library deletion not at all; the change
  // number goes on from where it was.
  ASSERT_TRUE(library_new->Delete());
  scan = local::ScanStoreChanges();
  EXPECT_TRUE(scan.ok && scan.changed + scan.deleted == 0);
  WriteText(Root() / "notes" / "brand-new.txt", "now changed");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  EXPECT_EQ(4 * 528u, ReadBytes(irmc_log).size());
  const uint32_t first = U32(syncml, 568);
  syncml = ReadBytes(syncml_log);
  ASSERT_EQ(4 * 572u, syncml.size());
  EXPECT_EQ(first + 3, U32(syncml, 3 * 572 + 568));

  // A state that stands but cannot be read (here: no regular file) is kept,
  // and the changes since it was written are reported once it can be read.
  WriteText(NoteFile(kept), "changed again");
  const fs::path state = InSync("LocalStoreState.txt"), saved = InSync("saved-state");
  fs::rename(state, saved);
  fs::create_directory(InSync("elsewhere"));
  fs::create_directory_symlink(InSync("elsewhere"), state);
  EXPECT_FALSE(local::ScanStoreChanges().ok);
  EXPECT_TRUE(fs::is_symlink(state));
  fs::remove(state);
  fs::rename(saved, state);
  EXPECT_EQ(1u, local::ScanStoreChanges().changed);
}

TEST_F(ScannerTest, NothingAnotherWriterAppendsConcurrentlyIsLost) {
  std::vector<std::shared_ptr<outlook::NoteItem>> notes;
  for (int i = 0; i < 40; ++i) notes.push_back(SaveNote(u"n"));
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  for (const auto& note : notes) WriteText(NoteFile(note), "changed");
  const Bytes foreign = LogRecordBytes(2, 0, u"FOREIGN");
  std::thread other([&] {
    for (int i = 0; i < 300; ++i) {
      FILE* log = fopen(InSync("SyncModificationLog.DAT").c_str(), "ab");
      ASSERT_TRUE(log && fwrite(foreign.data(), 1, foreign.size(), log) == foreign.size());
      fclose(log);
    }
  });
  EXPECT_EQ(40u, local::ScanStoreChanges().changed);
  other.join();
  const Bytes log = ReadBytes(InSync("SyncModificationLog.DAT"));
  ASSERT_EQ(340 * 528u, log.size());
  int foreign_records = 0;
  for (size_t at = 0; at < log.size(); at += 528)
    foreign_records += std::equal(foreign.begin(), foreign.end(), &log[at]);
  EXPECT_EQ(300, foreign_records);
}

// ---- entry IDs across the store ----

TEST(LocalEntryIdTest, NamesAreTaggedByKindAndEarlierIdsCarryOver) {
  const local::FolderKind kKinds[] = {local::FolderKind::kInbox, local::FolderKind::kNotes,
                                      local::FolderKind::kContacts, local::FolderKind::kCalendar};
  // Overlong, an encoded surrogate, beyond U+10FFFF, cut short at the end:
  // each byte of a name in no UTF-8 stands alone.
  const std::tuple<int, std::string, std::u16string> kCases[] = {
      {SYNC_OBJECT_MESSAGE, "same", u"mail/same"},
      {SYNC_OBJECT_NOTE, "caf\xC3\xA9 \xF0\x9F\x98\x80", u"notes/caf\u00E9 \U0001F600"},
      {SYNC_OBJECT_CONTACT, "bad\xFF\xC3.x", u"contacts/bad\xDCFF\xDCC3.x"},
      {SYNC_OBJECT_CALENDAR, "\xC0\xAF\xED\xA0\x80", u"calendar/\xDCC0\xDCAF\xDCED\xDCA0\xDC80"},
      {SYNC_OBJECT_NOTE, "\xF4\x90\x80\x80x\xE2\x82", u"notes/\xDCF4\xDC90\xDC80\xDC80x\xDCE2\xDC82"}};
  WString carried;
  for (const auto& [type, stem, id] : kCases) {
    EXPECT_EQ(id, local::EntryIdOf(kKinds[type], stem)) << stem;
    // The earlier ID was the bare name; a current one is not carried again.
    EXPECT_TRUE(local::CarriedOverEntryId(type, id.substr(id.find(u'/') + 1), &carried) && carried == id);
    EXPECT_FALSE(local::CarriedOverEntryId(type, id, &carried));
  }
  EXPECT_EQ(u"mail/m", local::EntryIdOf(local::FolderKind::kDrafts, "m"));
  // No type, no name, and units no file name is spelt with are no earlier ID.
  for (const auto& [type, odd] : std::vector<std::pair<int, WString>>{
           {7, u"same"}, {SYNC_OBJECT_NOTE, u""}, {SYNC_OBJECT_NOTE, u"a\xD800"},
           {SYNC_OBJECT_NOTE, u"a\xD800" u"b"}, {SYNC_OBJECT_NOTE, u"a\xDC41"}, {SYNC_OBJECT_NOTE, u"a\xDD00"}})
    EXPECT_FALSE(local::CarriedOverEntryId(type, odd, &carried));
  // The longest names are cut and end in a hash that keeps them apart.
  std::set<WString> long_ids;
  for (local::FolderKind kind : kKinds) {
    const WString id = *long_ids.insert(local::EntryIdOf(kind, std::string(255, 'x'))).first;
    EXPECT_TRUE(id.size() == local::kMaxEntryIdLength && id[id.size() - 17] == u'~');
  }
  EXPECT_EQ(4u, long_ids.size());
}

// An entry ID names its file, so a lookup needs no walk over the folder; it
// must find exactly what the walk finds, and nothing outside the folder.
TEST_F(LocalStoreTest, ALookupByEntryIdFindsWhatTheWalkFinds) {
  const fs::path contacts = Root() / "contacts";
  const std::string longest(251, 'x');  // its ID is cut and hashed
  for (const std::string name : {"plain", "caf\xC3\xA9", "bad\xFF", ".hidden", longest.c_str()})
    WriteText(contacts / (name + ".vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:n\r\nEND:VCARD\r\n");
  fs::create_directory(contacts / "dir.vcf");
  WriteText(Root() / "outside.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:o\r\nEND:VCARD\r\n");
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderContacts, &folder) && folder->GetItems(&items));
  std::set<WString> walked;
  for (auto& item : All(outlook::kFolderContacts)) walked.insert(WideIdOf(*item->QueryContact()));
  ASSERT_EQ(4u, walked.size());
  std::vector<WString> asked = {u"contacts/missing", u"notes/plain", u"contacts/dir.vcf/../../outside",
                                u"contacts/.hidden", u"contacts/dir", u"contacts/"};
  asked.insert(asked.end(), walked.begin(), walked.end());
  for (const WString& id : asked) {
    const std::string text = Narrow(OptString(id));
    std::shared_ptr<outlook::Item> found;
    const outlook::DirectLookup direct = items->FindByEntryID(id, &found);
    // Only a cut and hashed ID needs the walk.
    ASSERT_EQ(id.size() == local::kMaxEntryIdLength, direct == outlook::DirectLookup::kUnsupported) << text;
    if (direct == outlook::DirectLookup::kUnsupported) continue;
    EXPECT_EQ(walked.count(id) > 0, direct == outlook::DirectLookup::kFound) << text;
    EXPECT_TRUE(!found || WideIdOf(*found->QueryContact()) == id) << text;
  }
}

// The store once named items by their bare file names. The bookkeeping files
// a device left name the same items (of the four of one name, in every
// folder) by the tagged names before anything reads them: when the scanner
// meets them first, and when a session's connection to the store does.
class CarryOverTest : public LocalStoreTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CarryOverTest, RecordsOfTheEarlierNamingKeepNamingTheirItems) {
  WriteText(Root() / "contacts" / "same.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n");
  WriteText(Root() / "calendar" / "same.ics", ICal(kNoon));
  WriteText(Root() / "notes" / "same.txt", "Buy milk");
  WriteText(Root() / "mail" / "inbox" / "cur" / "same:2,S", "Subject: Hi\r\n\r\nbody\r\n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  // The state and the bookkeeping files as the earlier store left them.
  std::string state = ReadText(InSync("LocalStoreState.txt"));
  WriteText(InSync("LocalStoreState.txt"),
            state.replace(0, state.find('\n'), "zelsync local store state 1"));
  auto files = [](const char16_t* contact, const char16_t* event, const char16_t* note,
                  const char16_t* mail) {
    const Bytes records = Concat({DeviceRecordBytes(2, contact, u"L20"), DeviceRecordBytes(3, event, u"L30")});
    return std::map<std::string, Bytes>{
        {"phone_pb.DAT", Concat({Bytes{1, 0, 0, 0}, records})},
        {"1a2b3c4d5e6f_SyncMLDB.DAT", Concat({AnchorBytes(1, u"20260102T000000Z"), records})},
        {"SyncModificationLog.DAT", Concat({LogRecordBytes(0, 0, mail), LogRecordBytes(1, 1, note)})},
        {"SyncMLModificationLog.DAT", SyncMLLogRecordBytes(3, 0, event, u"20260103T000000Z", 7)}};
  };
  for (const auto& [name, bytes] : files(u"same", u"same", u"same", u"same")) WriteBytes(InSync(name), bytes);
  if (GetParam()) {  // the first export connects; the contact is not new to the phone
    ZS_WCHAR entry[260], path[260];
    ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"phone"), W(u"pb")));
    EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry, path));
  } else {
    ASSERT_TRUE(local::ScanStoreChanges().ok);
  }
  for (const auto& [name, bytes] : files(u"contacts/same", u"calendar/same", u"notes/same", u"mail/same"))
    EXPECT_EQ(bytes, ReadBytes(InSync(name))) << name;
  EXPECT_EQ(0u, ReadText(InSync("LocalStoreState.txt")).find("zelsync local store state 2\n"));
}

INSTANTIATE_TEST_SUITE_P(FirstReader, CarryOverTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Session" : "Scanner"; });

// ---- real programs reading the store ----

// Real programs from Debian: khard and khal read the contacts and events
// the store writes, and Python's mailbox reads its mail and writes mail the
// store then reads. A reader that is not installed is skipped.
//
// A program and its input (a configuration or a script, "{scratch}/input"),
// both with the store's folder for "{store}" and the scratch folder for
// "{scratch}". Texts its output holds and how often, and a line the store's
// inbox listing holds afterwards.
struct Reader {
  const char* name;
  const char* probe;  // succeeds when the program is installed
  const char* command;
  std::string input;
  std::vector<std::pair<std::string, size_t>> shown;
  std::string inbox = "";
};

const Reader kReaders[] = {
    {"khard", "command -v khard", "khard -c {scratch}/input list",
     "[addressbooks]\n[[store]]\npath = {store}/contacts\n[contact table]\ndisplay = first_name\n",
     {{"J\xC3\xBCrgen M\xC3\xBCller", 1}, {"Ann Lee", 2}, {"Al Roe", 1}}},
    // The series (09:00 in Berlin) shows less its moved and its cancelled day.
    {"khal", "command -v khal", "khal -c {scratch}/input list 2026-01-05 65d",
     "[calendars]\n[[store]]\npath = {store}/calendar\n[locale]\nlocal_timezone = UTC\n"
     "default_timezone = UTC\ntimeformat = %H:%M\nlongdateformat = %Y-%m-%d\n"
     "[sqlite]\npath = {scratch}/khal.db\n",
     {{"08:00-09:00 Dentist", 3}, {"Dentist", 4}, {"09:00-10:00 Standup moved", 1}}},
    {"python_mailbox", "python3 -c 'import mailbox'", "python3 {scratch}/input {store}/mail/inbox",
     "import email.policy, mailbox, sys\nbox = mailbox.Maildir(sys.argv[1], create=False)\n"
     "for key, msg in box.items():\n"
     "    parsed = email.message_from_bytes(box.get_bytes(key), policy=email.policy.default)\n"
     "    body = parsed.get_body(('html',)).get_content().strip()\n"
     "    sender = parsed['from'].addresses[0].display_name\n"
     "    print(parsed['subject'], '|', sender, '|', body, '|', msg.get_flags())\n"
     "new = mailbox.MaildirMessage()\nnew['Subject'] = 'from python'\n"
     "new['From'] = 'Py <py@example.org>'\nnew.set_payload('plain text')\nbox.add(new)\n",
     {{"Gr\xC3\xBC\xC3\x9F" "e | Ann | <p>Hallo</p> | S\n", 1}},
     ": from python from Py <py@example.org> for Py <py@example.org>, unread\n"},
};

class InteropTest : public LocalStoreTest, public ::testing::WithParamInterface<Reader> {
 protected:
  // Cards and calendars in the quirks of phones and programs, and a mail.
  void SetUp() override {
    LocalStoreTest::SetUp();
    if (system((std::string(GetParam().probe) + " >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << GetParam().name << " is not installed";
    // The cards of the item table, a phone's event with its alarms, and a
    // series with a moved and a cancelled occurrence.
    for (const ItemCase& c : kItems) {
      const std::string name = c.name;
      if (name == "PhoneAlarms" || name == "ProgramEditedOccurrences") Save(c.text, "in.ics");
      if (c.text.find("VCARD") != std::string::npos) Save(c.text, "in.vcf");
    }
    std::shared_ptr<outlook::Item> item;
    std::shared_ptr<outlook::Folder> inbox;
    std::shared_ptr<outlook::MailItem> mail, moved;
    ASSERT_TRUE(app_->CreateItem(outlook::kMailItem, &item) && (mail = item->QueryMail()) &&
                mail->PutSentOnBehalfOfName(u"Ann <ann@example.org>") &&
                mail->PutSubject(u"Gr\u00fc\u00dfe") && mail->PutHTMLBody(u"<p>Hallo</p>") &&
                mail->PutUnRead(false) &&
                session_->GetDefaultFolder(outlook::kFolderInbox, &inbox) &&
                mail->Move(inbox, &moved));
  }

  // `text` with the folders in place, each between `quote`s.
  std::string Fill(std::string text, const std::string& quote) {
    const std::pair<std::string, fs::path> kFields[] = {{"{store}", Root()},
                                                         {"{scratch}", scratch_.path()}};
    for (const auto& [field, value] : kFields) {
      for (size_t at; (at = text.find(field)) != std::string::npos;)
        text.replace(at, field.size(), quote + value.string() + quote);
    }
    return text;
  }
};

// Each program runs with its home and data folders in the scratch folder; it
// must succeed and not warn.
TEST_P(InteropTest, ReadsWhatTheStoreWrote) {
  const std::string home = scratch_.path().string(), out = home + "/output";
  WriteText(home + "/input", Fill(GetParam().input, ""));
  const std::string command = Fill(GetParam().command, "'");
  ASSERT_EQ(0, system(("env HOME='" + home + "' XDG_CONFIG_HOME='" + home +
                       "/config' XDG_DATA_HOME='" + home + "/data' XDG_CACHE_HOME='" + home +
                       "/cache' LC_ALL=C.UTF-8 " + command + " >'" + out + "' 2>&1")
                          .c_str()))
      << command << "\n" << ReadText(out);
  const std::string output = ReadText(out);
  EXPECT_EQ(std::string::npos, output.find("arning")) << output;
  for (const auto& [text, times] : GetParam().shown)
    EXPECT_EQ(times, Occurrences(output, text)) << text << " in:\n" << output;
  EXPECT_NE(std::string::npos, Listing(outlook::kFolderInbox).find(GetParam().inbox));
}

INSTANTIATE_TEST_SUITE_P(Readers, InteropTest, ::testing::ValuesIn(kReaders),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- files the record exports hand the store ----

// A mail made as the vMessage reader makes one, moved into the Inbox, keeps
// its attachments byte for byte under their file names.
TEST_F(LocalStoreTest, CreatedMailKeepsItsAttachmentsByteForByte) {
  std::string binary;
  for (int i = 0; i < 600; ++i) binary += static_cast<char>(i * 7 % 256);
  binary += "\r\n\n\r" + std::string(3, '\0');
  const std::vector<std::pair<std::string, std::string>> files = {{"report.bin", binary}, {"empty.txt", ""}};
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Item> item;
  std::shared_ptr<outlook::Attachments> attachments;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderInbox, &inbox) && app_->CreateItem(outlook::kMailItem, &item));
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  ASSERT_TRUE(mail && mail->PutBodyFormat(outlook::kBodyFormatHtml) && mail->PutHTMLBody(u"<p>Hi</p>") &&
              mail->GetAttachments(&attachments));
  for (int32_t i = 0; i < 2; ++i) {
    const fs::path path = files_ / files[i].first;
    WriteText(path, files[i].second);
    ASSERT_TRUE(attachments->Add(Wide(path), outlook::kAttachByValue, i + 1, Wide(path)));
  }
  ASSERT_TRUE(mail->Save() && mail->Move(inbox, &moved) && moved);
  std::shared_ptr<outlook::Item> listed = Listed(outlook::kFolderInbox, IdOf(*moved));
  ASSERT_TRUE(listed && listed->QueryMail());
  EXPECT_EQ(files, AttachmentsOf(*listed->QueryMail()));
}

// Names holding the characters vObject texts escape or encode come back
// whole from each form the exports ask for.
TEST_F(LocalStoreTest, NamesSurviveSaveAsAndOpenSharedItem) {
  const std::string text = "O'Neil; Jr., back\\slash Caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::string escaped = "O'Neil\\; Jr.\\, back\\\\slash Caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::string card =
      Save("BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + escaped + "\r\nFN:" + escaped + "\r\nEND:VCARD\r\n",
           "in.vcf");
  const std::string event =
      Save("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:" + escaped +
               "\r\nDTSTART:20240101T120000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
           "in.ics");
  for (const int32_t type :
       {outlook::kSaveAsVCard, outlook::kSaveAsVCalendar, outlook::kSaveAsICalendar}) {
    SCOPED_TRACE(type);
    const bool contact = type == outlook::kSaveAsVCard;
    std::shared_ptr<outlook::Item> item = Listed(
        contact ? outlook::kFolderContacts : outlook::kFolderCalendar, contact ? card : event);
    const fs::path out = files_ / ("out" + std::to_string(type));
    ASSERT_TRUE(item && SaveAs(*item, type, out));
    std::shared_ptr<outlook::Item> opened;
    ASSERT_TRUE(session_->OpenSharedItem(Wide(out), &opened) && opened);
    EXPECT_EQ(text, Describe(*opened, files_ / "again"));
  }
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
