// The local item store (the Linux backend of the object model): the shared
// contract, real phone files, the formats it writes, files other programs
// leave in it, and the change scanner that writes the modification logs.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "outlook/local/change_scanner.h"
#include "outlook/local/local_store.h"
#include "store/records.h"
#include "support/object_model_contract.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;
using outlook::OptString;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Narrow(const OptString& value) { return value ? Utf16ToUtf8(*value) : "(null)"; }

// Points the store at a folder for the lifetime of the object.
class ScopedStoreRoot {
 public:
  explicit ScopedStoreRoot(const fs::path& root) {
    const char* old = getenv("ZELSYNC_STORE");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("ZELSYNC_STORE", root.c_str(), 1);
  }
  ~ScopedStoreRoot() {
    if (had_) setenv("ZELSYNC_STORE", old_.c_str(), 1);
    else unsetenv("ZELSYNC_STORE");
  }

 private:
  bool had_ = false;
  std::string old_;
};

class LocalBackend : public ContractBackend {
 public:
  LocalBackend() : root_(scratch_.path() / "store") {}
  outlook::ObjectModel& model() override { return model_; }

 private:
  ScratchFolder scratch_;
  ScopedStoreRoot root_;
  local::LocalObjectModel model_;
};

std::unique_ptr<ContractBackend> MakeLocalBackend() { return std::make_unique<LocalBackend>(); }

}  // namespace
}  // namespace testing
}  // namespace zelsync

ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(LocalStore, &zelsync::testing::MakeLocalBackend);

namespace zelsync {
namespace testing {
namespace {

// A store in a scratch folder, with the sync folder there too.
class LocalStoreTest : public LibraryTest {
 protected:
  LocalStoreTest() : root_(scratch_.path() / "store") {}

  void SetUp() override {
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
  }

  fs::path Root() const { return scratch_.path() / "store"; }

  std::shared_ptr<outlook::Items> FolderItems(int32_t folder) {
    std::shared_ptr<outlook::Folder> f;
    std::shared_ptr<outlook::Items> items;
    EXPECT_TRUE(session_->GetDefaultFolder(folder, &f));
    EXPECT_TRUE(f->GetItems(&items));
    return items;
  }

  std::vector<std::shared_ptr<outlook::Item>> All(int32_t folder) {
    auto items = FolderItems(folder);
    int32_t count = 0;
    EXPECT_TRUE(items->Count(&count));
    std::vector<std::shared_ptr<outlook::Item>> all;
    for (int32_t i = 1; i <= count; ++i) {
      std::shared_ptr<outlook::Item> item;
      EXPECT_TRUE(items->Item(i, &item));
      all.push_back(item);
    }
    return all;
  }

  std::shared_ptr<outlook::Item> Open(const std::string& text, const std::string& name = "in.vcf") {
    fs::path path = scratch_.path() / name;
    WriteText(path, text);
    std::shared_ptr<outlook::Item> item;
    if (!session_->OpenSharedItem(ToWide(path), &item)) return nullptr;
    return item;
  }

  ScopedStoreRoot root_;
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

// ---- real-world input ----

struct Sample {
  const char* file;
  const char* expected;  // FullName or Subject; nullptr: an item of another class
};

class SampleTest : public LocalStoreTest, public ::testing::WithParamInterface<Sample> {};

TEST_P(SampleTest, ImportsWithTheNameOrSubjectItHolds) {
  const Sample& sample = GetParam();
  fs::path path = fs::path(ZELSYNC_SAMPLES_DIR) / sample.file;
  ASSERT_TRUE(fs::exists(path)) << path;
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(session_->OpenSharedItem(ToWide(path), &item));
  OptString value;
  if (auto contact = item->QueryContact()) {
    ASSERT_TRUE(contact->FullName(&value));
    ASSERT_TRUE(contact->Save());
  } else if (auto appointment = item->QueryAppointment()) {
    ASSERT_TRUE(appointment->Subject(&value));
    ASSERT_TRUE(appointment->Save());
  } else {
    EXPECT_EQ(nullptr, sample.expected) << "an item of another class";
    return;
  }
  ASSERT_NE(nullptr, sample.expected);
  EXPECT_EQ(sample.expected, Narrow(value));
}

INSTANTIATE_TEST_SUITE_P(
    Phones, SampleTest,
    ::testing::Values(Sample{"contacts/bug-779.vcf", "Christelle DECHAMBRE"},
                      Sample{"contacts/char-escaping.vcf", "(null)"},
                      Sample{"contacts/evolution.vcf", "(null)"},
                      Sample{"contacts/gammu.vcf", "Nikdo-ME"},
                      Sample{"contacts/line-continuation.vcf", "Nikdovic Nikdo"},
                      Sample{"contacts/many-lines.vcf", "firstname lastname"},
                      Sample{"contacts/photo.vcf", "Amore"},
                      Sample{"contacts/private.vcf", "Nikdovic Nikdo"},
                      Sample{"contacts/quoted-printable-ascii.vcf", "Nobody\rNowhere"},
                      Sample{"contacts/quoted-printable-empty-new-line.vcf", "Joseph H\xC3\xB6rmann"},
                      Sample{"contacts/quoted-printable-new-line.vcf",
                             "\xD0\x9F\xD0\x9E\xD0\xA0\xD0\x9A\xD0\xA1 - PRIMA"},
                      Sample{"contacts/quoted-printable-normal.vcf", "Bc. Zden\xC4\x9Bk \xC5\xBD\xC3\xA1k"},
                      Sample{"contacts/se-1.vcf", "Yves Laurent"},
                      Sample{"contacts/se-2.vcf", "Catherine Laurent"},
                      Sample{"contacts/simple-name-utf.vcf", "Name Test"},
                      Sample{"contacts/type_lowercase.vcf", "LUCAS VIEITES FARINA"},
                      Sample{"contacts/types.vcf", "Nikdovic Nikdo"},
                      Sample{"contacts/unicode-name.vcf", "Ventron Confection"},
                      Sample{"contacts/vcard3-utf-8.vcf", "Bod\xC3\xB8 likningskontor"},
                      Sample{"contacts/version3.vcf", "MARK/HEATHER DEE"},
                      Sample{"calendar/01.ics", nullptr},  // a task
                      Sample{"calendar/02.vcs", nullptr},  // a task
                      Sample{"calendar/UK32Holidays.ics", "Boxing Day"},
                      Sample{"calendar/badline.ics", "(null)"},
                      Sample{"calendar/date-time.vcs", "Coffee with Jason"},
                      Sample{"calendar/k770.vcs", "John Doe"},
                      Sample{"calendar/outlook.vcs",
                             "Northeast Council of Aquarium Societies 35th Annual Convention"},
                      Sample{"calendar/rrule.ics", "Coffee with Jason"}));

// ---- what the store writes ----

TEST_F(LocalStoreTest, AContactFromAPhoneIsKeptAsVCard3AndGoesBackAs21) {
  auto item = Open(
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n"
      "TEL;CELL;VOICE:+491234\r\nNOTE:one, two\r\nEND:VCARD\r\n");
  ASSERT_NE(nullptr, item);
  auto contact = item->QueryContact();
  ASSERT_NE(nullptr, contact);
  ASSERT_TRUE(contact->Save());
  OptString id;
  ASSERT_TRUE(contact->EntryID(&id));

  const fs::path file = Root() / "contacts" / (Narrow(id) + ".vcf");
  const std::string stored = ReadText(file);
  EXPECT_NE(std::string::npos, stored.find("VERSION:3.0\r\n"));
  EXPECT_NE(std::string::npos, stored.find("N:M\xC3\xBCller;J\xC3\xBCrgen\r\n"));
  EXPECT_NE(std::string::npos, stored.find("FN:J\xC3\xBCrgen M\xC3\xBCller\r\n"));
  EXPECT_NE(std::string::npos, stored.find("TEL;TYPE=CELL;TYPE=VOICE:+491234\r\n"));
  EXPECT_NE(std::string::npos, stored.find("NOTE:one\\, two\r\n"));
  EXPECT_NE(std::string::npos, stored.find("UID:" + Narrow(id) + "\r\n"));

  const fs::path out = scratch_.path() / "out.vcf";
  ASSERT_TRUE(contact->SaveAs(ToWide(out), outlook::kSaveAsVCard));
  const std::string phone = ReadText(out);
  EXPECT_EQ(0u, phone.find("BEGIN:VCARD\r\nVERSION:2.1\r\n"));
  EXPECT_NE(std::string::npos, phone.find("N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen\r\n"));
  EXPECT_NE(std::string::npos, phone.find("TEL;CELL;VOICE:+491234\r\n"));
  EXPECT_NE(std::string::npos, phone.find("NOTE:one, two\r\n"));
  EXPECT_FALSE(contact->SaveAs(ToWide(out), outlook::kSaveAsICalendar));

  std::shared_ptr<outlook::Item> again;
  ASSERT_TRUE(session_->OpenSharedItem(ToWide(out), &again));
  OptString name;
  ASSERT_TRUE(again->QueryContact()->FullName(&name));
  EXPECT_EQ("J\xC3\xBCrgen M\xC3\xBC" "ller", Narrow(name));
}

TEST_F(LocalStoreTest, LongNonAsciiValuesAreFoldedWithoutSplittingAnEscape) {
  std::string name;
  for (int i = 0; i < 40; ++i) name += "\xC3\xA9";  // é
  auto item = Open("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nEND:VCARD\r\n");
  ASSERT_NE(nullptr, item);
  const fs::path out = scratch_.path() / "long.vcf";
  ASSERT_TRUE(item->QueryContact()->SaveAs(ToWide(out), outlook::kSaveAsVCard));
  std::istringstream lines(ReadText(out));
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 77u) << line;  // 76 and the CR
  }
  std::shared_ptr<outlook::Item> again;
  ASSERT_TRUE(session_->OpenSharedItem(ToWide(out), &again));
  OptString read;
  ASSERT_TRUE(again->QueryContact()->FullName(&read));
  EXPECT_EQ(name, Narrow(read));
}

struct VCalendarCase {
  const char* name;
  const char* event;     // the VEVENT's lines inside an iCalendar file
  const char* expected;  // a line the vCalendar holds; nullptr: SaveAs 7 fails
};

class VCalendarTest : public LocalStoreTest, public ::testing::WithParamInterface<VCalendarCase> {};

TEST_P(VCalendarTest, WritesVCalendarOnlyWhenItCarriesTheEventFaithfully) {
  const VCalendarCase& c = GetParam();
  std::string text = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n") +
                     "BEGIN:VEVENT\r\nUID:u1\r\nSUMMARY:S\r\n" + c.event + "END:VEVENT\r\nEND:VCALENDAR\r\n";
  auto item = Open(text, "in.ics");
  ASSERT_NE(nullptr, item);
  auto appointment = item->QueryAppointment();
  ASSERT_NE(nullptr, appointment);
  const fs::path vcs = scratch_.path() / "out.vcs", ics = scratch_.path() / "out.ics";
  bool written = appointment->SaveAs(ToWide(vcs), outlook::kSaveAsVCalendar);
  EXPECT_TRUE(appointment->SaveAs(ToWide(ics), outlook::kSaveAsICalendar));
  if (!c.expected) {
    EXPECT_FALSE(written);
    return;
  }
  ASSERT_TRUE(written);
  std::string out = ReadText(vcs);
  EXPECT_NE(std::string::npos, out.find(std::string(c.expected) + "\r\n")) << out;
  EXPECT_NE(std::string::npos, out.find("VERSION:1.0\r\n"));
  // What was written reads back with the same subject.
  std::shared_ptr<outlook::Item> again;
  ASSERT_TRUE(session_->OpenSharedItem(ToWide(vcs), &again));
  OptString subject;
  ASSERT_TRUE(again->QueryAppointment()->Subject(&subject));
  EXPECT_EQ("S", Narrow(subject));
}

INSTANTIATE_TEST_SUITE_P(
    Events, VCalendarTest,
    ::testing::Values(
        VCalendarCase{"utc", "DTSTART:20240101T120000Z\r\nDTEND:20240101T130000Z\r\n", "DTSTART:20240101T120000Z"},
        VCalendarCase{"floating", "DTSTART:20240101T120000\r\nDTEND:20240101T130000\r\n", "DTEND:20240101T130000"},
        VCalendarCase{"weekly", "DTSTART:20240101T120000Z\r\nRRULE:FREQ=WEEKLY;COUNT=5;BYDAY=MO,WE\r\n",
                      "RRULE:W1 MO WE #5"},
        VCalendarCase{"monthly by position",
                      "DTSTART:20240101T120000Z\r\nRRULE:FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR\r\n",
                      "RRULE:MP2 1- FR #0"},
        VCalendarCase{"yearly until", "DTSTART:20240101T120000Z\r\nRRULE:FREQ=YEARLY;UNTIL=20300101T000000Z\r\n",
                      "RRULE:YM1 1 20300101T000000Z"},
        VCalendarCase{"all day", "DTSTART;VALUE=DATE:20240101\r\nDTEND;VALUE=DATE:20240102\r\n",
                      "X-BLUETOOTH-ALLDAYEVENT:TRUE"},
        VCalendarCase{"non-ascii summary",
                      "DTSTART:20240101T120000Z\r\nDESCRIPTION:Gr\xC3\xBC\xC3\x9F" "e\r\n",
                      "DESCRIPTION;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Gr=C3=BC=C3=9Fe"},
        VCalendarCase{"alarm before", "DTSTART:20240101T120000Z\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
                                      "TRIGGER:-PT15M\r\nEND:VALARM\r\n",
                      "DALARM:20240101T114500Z"},
        VCalendarCase{"zoned single", "DTSTART;TZID=Europe/Berlin:20240101T120000\r\n", "DTSTART:20240101T110000Z"},
        VCalendarCase{"zoned recurring",
                      "DTSTART;TZID=Europe/Berlin:20240101T120000\r\nRRULE:FREQ=DAILY\r\n", nullptr},
        VCalendarCase{"by hour", "DTSTART:20240101T120000Z\r\nRRULE:FREQ=DAILY;BYHOUR=9,17\r\n", nullptr},
        VCalendarCase{"every monday of the month",
                      "DTSTART:20240101T120000Z\r\nRRULE:FREQ=MONTHLY;BYDAY=MO\r\n", nullptr},
        VCalendarCase{"attendee", "DTSTART:20240101T120000Z\r\nATTENDEE:mailto:a@b.c\r\n", nullptr},
        VCalendarCase{"email alarm", "DTSTART:20240101T120000Z\r\nBEGIN:VALARM\r\nACTION:EMAIL\r\n"
                                     "TRIGGER:-PT15M\r\nEND:VALARM\r\n",
                      nullptr}),
    [](const ::testing::TestParamInfo<VCalendarCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST_F(LocalStoreTest, AllDayMakesTheStartAndEndDates) {
  auto item = Open(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Trip\r\nDTSTART:20240301T090000\r\n"
      "DTEND:20240303T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "trip.vcs");
  ASSERT_NE(nullptr, item);
  auto appointment = item->QueryAppointment();
  ASSERT_TRUE(appointment->PutAllDayEvent(true));
  ASSERT_TRUE(appointment->Save());
  OptString id;
  ASSERT_TRUE(appointment->EntryID(&id));
  std::string stored = ReadText(Root() / "calendar" / (Narrow(id) + ".ics"));
  EXPECT_NE(std::string::npos, stored.find("DTSTART;VALUE=DATE:20240301")) << stored;
  EXPECT_NE(std::string::npos, stored.find("DTEND;VALUE=DATE:20240304")) << stored;
  EXPECT_NE(std::string::npos, stored.find("UID:" + Narrow(id))) << stored;
}

TEST_F(LocalStoreTest, NotesAreUtf8TextFilesNamedByTheirEntryId) {
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app_->CreateItem(outlook::kNoteItem, &item));
  auto note = item->QueryNote();
  OptString body;
  ASSERT_TRUE(note->Body(&body));
  EXPECT_FALSE(body.has_value());
  ASSERT_TRUE(note->PutBody(u"Einkauf: K\u00e4se\nBrot"));
  ASSERT_TRUE(note->Save());
  OptString id;
  ASSERT_TRUE(note->EntryID(&id));
  const fs::path file = Root() / "notes" / (Narrow(id) + ".txt");
  EXPECT_EQ("Einkauf: K\xC3\xA4se\nBrot", ReadText(file));

  // Another program edits it: the entry ID stays, the body follows.
  WriteText(file, "\xEF\xBB\xBFnew text");
  auto all = All(outlook::kFolderNotes);
  ASSERT_EQ(1u, all.size());
  OptString again;
  ASSERT_TRUE(all[0]->QueryNote()->EntryID(&again));
  EXPECT_EQ(id, again);
  ASSERT_TRUE(all[0]->QueryNote()->Body(&body));
  EXPECT_EQ(u"new text", *body);
  ASSERT_TRUE(all[0]->QueryNote()->Delete());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(All(outlook::kFolderNotes).empty());
}

// ---- files other programs leave in the store ----

TEST_F(LocalStoreTest, UnreadableFilesAndOddNamesAreItemsWhoseReadsFail) {
  WriteText(Root() / "contacts" / "garbage.vcf", std::string("\x00\xFF not a card", 13));
  WriteText(Root() / "contacts" / "caf\xE9.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Latin\r\nEND:VCARD\r\n");
  WriteText(Root() / "contacts" / ".hidden.vcf.tmp-1", "scratch");
  WriteText(Root() / "contacts" / "readme.md", "not an item");
  WriteText(Root() / "calendar" / "broken.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:garbage");
  WriteText(Root() / "calendar" / "empty.ics", "");
  WriteText(Root() / "mail" / "inbox" / "cur" / "x:2,S", std::string("\x00\x01\x02", 3));

  auto contacts = All(outlook::kFolderContacts);
  ASSERT_EQ(2u, contacts.size());
  std::set<WString> ids;
  for (auto& item : contacts) {
    auto contact = item->QueryContact();
    ASSERT_NE(nullptr, contact);
    OptString id, name;
    ASSERT_TRUE(contact->EntryID(&id));
    ids.insert(*id);
    if (*id == u"garbage") {
      EXPECT_FALSE(contact->FullName(&name));
      EXPECT_FALSE(contact->SaveAs(ToWide(scratch_.path() / "x.vcf"), outlook::kSaveAsVCard));
    } else {
      EXPECT_EQ((WString{u'c', u'a', u'f', static_cast<char16_t>(0xDCE9)}), *id);
      ASSERT_TRUE(contact->FullName(&name));
      EXPECT_EQ(u"Latin", *name);
      ASSERT_TRUE(contact->Delete());
      EXPECT_FALSE(fs::exists(Root() / "contacts" / "caf\xE9.vcf"));
    }
  }
  EXPECT_EQ(2u, ids.size());

  for (auto& item : All(outlook::kFolderCalendar)) {
    auto appointment = item->QueryAppointment();
    ASSERT_NE(nullptr, appointment);
    OptString subject;
    EXPECT_FALSE(appointment->Subject(&subject) && appointment->SaveAs(ToWide(scratch_.path() / "x.vcs"), 7));
  }
  auto mail = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, mail.size());
  if (auto m = mail[0]->QueryMail()) {
    OptString subject;
    m->Subject(&subject);  // may fail; must not crash
  }
}

TEST_F(LocalStoreTest, MaildirFlagChangesKeepTheEntryIdAndShowAsUnRead) {
  const fs::path cur = Root() / "mail" / "inbox" / "cur", fresh = Root() / "mail" / "inbox" / "new";
  WriteText(fresh / "1700000000.M1P1.host",
            "From: Ann <ann@example.org>\nSender: Bob <bob@example.org>\nTo: me@example.org\n"
            "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\nDate: Mon, 1 Jan 2024 12:00:00 +0000\nX-Priority: 5\n\nhi <you>\n");
  auto first = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, first.size());
  auto mail = first[0]->QueryMail();
  ASSERT_NE(nullptr, mail);
  OptString id, value;
  bool unread = false;
  int32_t importance = -1;
  double sent = 0;
  ASSERT_TRUE(mail->EntryID(&id));
  EXPECT_EQ(u"1700000000.M1P1.host", *id);
  ASSERT_TRUE(mail->SenderName(&value));
  EXPECT_EQ(u"Bob", *value);
  ASSERT_TRUE(mail->SentOnBehalfOfName(&value));
  EXPECT_EQ(u"Ann", *value);
  ASSERT_TRUE(mail->Subject(&value));
  EXPECT_EQ(u"Gr\u00fc\u00dfe", *value);
  ASSERT_TRUE(mail->HTMLBody(&value));
  EXPECT_NE(WString::npos, value->find(u"hi &lt;you&gt;"));
  ASSERT_TRUE(mail->CC(&value));
  EXPECT_FALSE(value.has_value());
  ASSERT_TRUE(mail->UnRead(&unread));
  EXPECT_TRUE(unread);
  ASSERT_TRUE(mail->Importance(&importance));
  EXPECT_EQ(0, importance);
  ASSERT_TRUE(mail->SentOn(&sent));
  EXPECT_GT(sent, 45292.0 - 1.0);  // 2024-01-01 in any time zone
  EXPECT_LT(sent, 45292.0 + 2.0);

  // A mail program reads it: new/ to cur/ with the seen flag.
  fs::rename(fresh / "1700000000.M1P1.host", cur / "1700000000.M1P1.host:2,S");
  auto second = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, second.size());
  auto seen = second[0]->QueryMail();
  OptString again;
  ASSERT_TRUE(seen->EntryID(&again));
  EXPECT_EQ(id, again);
  ASSERT_TRUE(seen->UnRead(&unread));
  EXPECT_FALSE(unread);

  // The library marks it unread: only the flag changes, other flags stay.
  fs::rename(cur / "1700000000.M1P1.host:2,S", cur / "1700000000.M1P1.host:2,FS");
  ASSERT_TRUE(seen->PutUnRead(true));
  ASSERT_TRUE(seen->Save());
  EXPECT_TRUE(fs::exists(cur / "1700000000.M1P1.host:2,F"));
}

TEST_F(LocalStoreTest, AMeetingRequestIsAnItemOfAnotherClass) {
  WriteText(Root() / "mail" / "inbox" / "cur" / "1.M1P1.h:2,",
            "From: a@b.c\nSubject: Invite\nMIME-Version: 1.0\n"
            "Content-Type: text/calendar; method=REQUEST; charset=utf-8\n\n"
            "BEGIN:VCALENDAR\nMETHOD:REQUEST\nEND:VCALENDAR\n");
  WriteText(Root() / "mail" / "inbox" / "cur" / "2.M1P1.h:2,",
            "From: a@b.c\nSubject: Plain\n\nText\n");
  auto all = All(outlook::kFolderInbox);
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(nullptr, all[0]->QueryMail());
  EXPECT_EQ(nullptr, all[0]->QueryAppointment());
  EXPECT_NE(nullptr, all[1]->QueryMail());
}

// ---- the change scanner ----

class ScannerTest : public LocalStoreTest {
 protected:
  // The records of a log: (type, kind, entry ID).
  std::vector<std::tuple<uint32_t, uint32_t, std::string>> Records(const std::string& log, size_t size) {
    std::vector<std::tuple<uint32_t, uint32_t, std::string>> out;
    Bytes bytes = Exists(InSync(log)) ? ReadBytes(InSync(log)) : Bytes();
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
      uint32_t type, kind;
      memcpy(&type, &bytes[at], 4);
      memcpy(&kind, &bytes[at + 4], 4);
      WString id;
      for (size_t i = 8; i + 1 < 528 && (bytes[at + i] || bytes[at + i + 1]); i += 2) {
        id.push_back(static_cast<char16_t>(bytes[at + i] | (bytes[at + i + 1] << 8)));
      }
      out.emplace_back(type, kind, Utf16ToUtf8(id));
    }
    return out;
  }

  OptString SaveNote(const WString& body) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(app_->CreateItem(outlook::kNoteItem, &item));
    EXPECT_TRUE(item->QueryNote()->PutBody(body));
    EXPECT_TRUE(item->QueryNote()->Save());
    OptString id;
    item->QueryNote()->EntryID(&id);
    return id;
  }
};

TEST_F(ScannerTest, ReportsEachOutsideChangeAndDeletionOnceAndNotTheLibrarysOwn) {
  OptString kept = SaveNote(u"kept"), edited = SaveNote(u"edited"), removed = SaveNote(u"removed");
  local::ScanResult first = local::ScanStoreChanges();
  ASSERT_TRUE(first.ok);
  EXPECT_TRUE(first.baseline);
  EXPECT_TRUE(Records("SyncModificationLog.DAT", 528).empty());

  WriteText(Root() / "notes" / (Narrow(edited) + ".txt"), "changed elsewhere");
  fs::remove(Root() / "notes" / (Narrow(removed) + ".txt"));
  WriteText(Root() / "notes" / "brand-new.txt", "new items are found by the enumeration");
  // What the library does itself is not reported.
  auto notes = All(outlook::kFolderNotes);
  for (auto& item : notes) {
    OptString id;
    item->QueryNote()->EntryID(&id);
    if (id == kept) {
      ASSERT_TRUE(item->QueryNote()->PutBody(u"library edit"));
      ASSERT_TRUE(item->QueryNote()->Save());
    }
  }
  OptString library_new = SaveNote(u"library new");
  local::ScanResult second = local::ScanStoreChanges();
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(1u, second.changed);
  EXPECT_EQ(1u, second.deleted);

  using Record = std::tuple<uint32_t, uint32_t, std::string>;
  std::vector<Record> expected = {Record{1, 0, Narrow(edited)}, Record{1, 1, Narrow(removed)}};
  EXPECT_EQ(expected, Records("SyncModificationLog.DAT", 528));
  EXPECT_EQ(expected, Records("SyncMLModificationLog.DAT", 572));
  Bytes syncml = ReadBytes(InSync("SyncMLModificationLog.DAT"));
  ASSERT_EQ(2 * 572u, syncml.size());
  uint32_t first_number, second_number;
  memcpy(&first_number, &syncml[568], 4);
  memcpy(&second_number, &syncml[572 + 568], 4);
  EXPECT_EQ(first_number + 1, second_number);
  EXPECT_EQ('Z', syncml[528 + 15 * 2]);  // "YYYYMMDDTHHMMSSZ"
  EXPECT_EQ('T', syncml[528 + 8 * 2]);

  // Nothing is reported twice; a library deletion is not reported at all.
  for (auto& item : All(outlook::kFolderNotes)) {
    OptString id;
    item->QueryNote()->EntryID(&id);
    if (id == library_new) {
      ASSERT_TRUE(item->QueryNote()->Delete());
    }
  }
  local::ScanResult third = local::ScanStoreChanges();
  ASSERT_TRUE(third.ok);
  EXPECT_EQ(0u, third.changed + third.deleted);
  EXPECT_EQ(2u, Records("SyncModificationLog.DAT", 528).size());

  // The change number goes on from where it was.
  WriteText(Root() / "notes" / "brand-new.txt", "now changed");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  syncml = ReadBytes(InSync("SyncMLModificationLog.DAT"));
  ASSERT_EQ(3 * 572u, syncml.size());
  uint32_t third_number;
  memcpy(&third_number, &syncml[2 * 572 + 568], 4);
  EXPECT_EQ(second_number + 1, third_number);
}

TEST_F(ScannerTest, AMaildirFlagChangeIsAChange) {
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  WriteText(cur / "1.M1P1.h:2,", "Subject: s\n\nbody\n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  fs::rename(cur / "1.M1P1.h:2,", cur / "1.M1P1.h:2,S");
  local::ScanResult result = local::ScanStoreChanges();
  EXPECT_EQ(1u, result.changed);
  using Record = std::tuple<uint32_t, uint32_t, std::string>;
  EXPECT_EQ((std::vector<Record>{Record{0, 0, "1.M1P1.h"}}), Records("SyncModificationLog.DAT", 528));
}

TEST_F(ScannerTest, NothingAnotherWriterAppendsConcurrentlyIsLost) {
  constexpr int kNotes = 40, kForeign = 300;
  std::vector<OptString> ids;
  for (int i = 0; i < kNotes; ++i) ids.push_back(SaveNote(u"n"));
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  for (int i = 0; i < kNotes; ++i) WriteText(Root() / "notes" / (Narrow(ids[i]) + ".txt"), "changed");

  Bytes foreign = LogRecordBytes(2, 0, u"FOREIGN");
  std::atomic<bool> go{false};
  std::thread other([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kForeign; ++i) {
      FILE* log = fopen(InSync("SyncModificationLog.DAT").c_str(), "ab");
      if (!log) continue;
      fwrite(foreign.data(), 1, foreign.size(), log);
      fclose(log);
    }
  });
  go = true;
  local::ScanResult result = local::ScanStoreChanges();
  other.join();
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(static_cast<uint32_t>(kNotes), result.changed);
  auto records = Records("SyncModificationLog.DAT", 528);
  ASSERT_EQ(static_cast<size_t>(kNotes + kForeign), records.size());
  int foreign_seen = 0;
  for (auto& record : records) {
    if (std::get<2>(record) == "FOREIGN") ++foreign_seen;
  }
  EXPECT_EQ(kForeign, foreign_seen);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
