// The local item store (the Linux backend of the object model): the shared
// contract, real phone files, the formats it writes, files other programs
// leave in it, and the change scanner that writes the modification logs.
#ifndef _WIN32

#include "local/local_store.h"

#include <gtest/gtest.h>
#include <libical/ical.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "local/calendar_text.h"
#include "store/records.h"
#include "support/object_model_contract.h"
#include "support/scratch.h"
#include "tracker/change_scanner.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;
using outlook::OptString;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Narrow(const OptString& value) { return value ? Utf16ToUtf8(*value) : "(null)"; }

std::string IdOf(outlook::ItemBase& item) {
  OptString id;
  EXPECT_TRUE(item.EntryID(&id));
  return Narrow(id);
}

// `text` holds each of `lines`, ended by CRLF.
void ExpectLines(const std::string& text, std::initializer_list<std::string> lines) {
  for (const std::string& line : lines) {
    EXPECT_NE(std::string::npos, text.find(line + "\r\n")) << line << " in:\n" << text;
  }
}

// Points the store at a folder for the lifetime of the object.
class ScopedStoreRoot {
 public:
  explicit ScopedStoreRoot(const fs::path& root) {
    if (const char* old = getenv(kName)) old_ = old;
    setenv(kName, root.c_str(), 1);
  }
  ~ScopedStoreRoot() { old_ ? setenv(kName, old_->c_str(), 1) : unsetenv(kName); }

 private:
  static constexpr const char* kName = "ZELSYNC_STORE";
  std::optional<std::string> old_;
};

// A store in a scratch folder, with the sync folder there too.
class LocalStoreTest : public LibraryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
  }

  fs::path Root() const { return scratch_.path() / "store"; }

  // The items of a default folder, in collection order.
  std::vector<std::shared_ptr<outlook::Item>> All(int32_t folder) {
    std::shared_ptr<outlook::Folder> f;
    std::shared_ptr<outlook::Items> items;
    int32_t count = 0;
    EXPECT_TRUE(session_->GetDefaultFolder(folder, &f) && f->GetItems(&items) &&
                items->Count(&count));
    std::vector<std::shared_ptr<outlook::Item>> all(count);
    for (int32_t i = 1; i <= count; ++i) EXPECT_TRUE(items->Item(i, &all[i - 1]));
    return all;
  }

  // The item in the file `name` of the scratch folder, which gets `text`.
  std::shared_ptr<outlook::Item> Open(const std::string& text, const std::string& name = "in.vcf") {
    WriteText(scratch_.path() / name, text);
    std::shared_ptr<outlook::Item> item;
    if (!session_->OpenSharedItem(ToWide(scratch_.path() / name), &item)) return nullptr;
    return item;
  }

  // The FullName of the contact or the Subject of the appointment in `file`,
  // which is saved into the store when `save` is set.
  std::string Title(const fs::path& file, bool save = false) {
    std::shared_ptr<outlook::Item> item;
    if (!session_->OpenSharedItem(ToWide(file), &item)) return "(unreadable)";
    OptString value;
    if (auto contact = item->QueryContact()) {
      EXPECT_TRUE(contact->FullName(&value) && (!save || contact->Save()));
    } else if (auto appointment = item->QueryAppointment()) {
      EXPECT_TRUE(appointment->Subject(&value) && (!save || appointment->Save()));
    } else {
      return "(another class)";
    }
    return Narrow(value);
  }

  ScopedStoreRoot root_{Root()};
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

// ---- real-world input ----

using Sample = std::pair<const char*, const char*>;  // a file and its FullName or Subject

class SampleTest : public LocalStoreTest, public ::testing::WithParamInterface<Sample> {
 protected:
  void ExpectTitle(const fs::path& folder) {
    const fs::path path = folder / GetParam().first;
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(GetParam().second, Title(path, /*save=*/true));
  }
};
class FixtureTest : public SampleTest {};

std::string SampleName(const ::testing::TestParamInfo<Sample>& info) {
  std::string name;
  for (const char* c = info.param.first; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

// Files of the phone styles that matter, carried with the tests.
TEST_P(FixtureTest, ImportsWithTheNameOrSubjectItHolds) { ExpectTitle(ZELSYNC_FIXTURES_DIR "/phones"); }

const Sample kFixtures[] = {
    {"qp-latin1.vcf", "Joseph H\xC3\xB6rmann"},  // vCard 2.1, quoted-printable in ISO-8859-1
    {"utf8-v30.vcf", "Bod\xC3\xB8 Lind"},        // vCard 3.0 in UTF-8
    {"folded.vcf", "Nikdovic Nikdo"},            // folded lines
    {"event-v10.vcs", "Coffee with Jason"},      // vCalendar 1.0
    {"allday.ics", "Boxing Day"},                // iCalendar, a whole day
    {"task-v10.vcs", "(another class)"},         // a task, no event
};
INSTANTIATE_TEST_SUITE_P(Phones, FixtureTest, ::testing::ValuesIn(kFixtures), SampleName);

// The larger collection of real phone files beside the checkout, when it
// is there.
TEST_P(SampleTest, ImportsWithTheNameOrSubjectItHolds) {
  const fs::path samples(ZELSYNC_SAMPLES_DIR);
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no shared phone samples beside the checkout (" << samples << ")";
  ExpectTitle(samples);
}

// Each file and its FullName or Subject.
const Sample kSamples[] = {
    {"contacts/bug-779.vcf", "Christelle DECHAMBRE"},
    {"contacts/char-escaping.vcf", "(null)"},
    {"contacts/evolution.vcf", "(null)"},
    {"contacts/gammu.vcf", "Nikdo-ME"},
    {"contacts/line-continuation.vcf", "Nikdovic Nikdo"},
    {"contacts/many-lines.vcf", "firstname lastname"},
    {"contacts/photo.vcf", "Amore"},
    {"contacts/private.vcf", "Nikdovic Nikdo"},
    {"contacts/quoted-printable-ascii.vcf", "Nobody\rNowhere"},
    {"contacts/quoted-printable-empty-new-line.vcf", "Joseph H\xC3\xB6rmann"},
    {"contacts/quoted-printable-new-line.vcf", "\xD0\x9F\xD0\x9E\xD0\xA0\xD0\x9A\xD0\xA1 - PRIMA"},
    {"contacts/quoted-printable-normal.vcf", "Bc. Zden\xC4\x9Bk \xC5\xBD\xC3\xA1k"},
    {"contacts/se-1.vcf", "Yves Laurent"},
    {"contacts/se-2.vcf", "Catherine Laurent"},
    {"contacts/simple-name-utf.vcf", "Name Test"},
    {"contacts/type_lowercase.vcf", "LUCAS VIEITES FARINA"},
    {"contacts/types.vcf", "Nikdovic Nikdo"},
    {"contacts/unicode-name.vcf", "Ventron Confection"},
    {"contacts/vcard3-utf-8.vcf", "Bod\xC3\xB8 likningskontor"},
    {"contacts/version3.vcf", "MARK/HEATHER DEE"},
    {"calendar/01.ics", "(another class)"},  // a task
    {"calendar/02.vcs", "(another class)"},  // a task
    {"calendar/UK32Holidays.ics", "Boxing Day"},
    {"calendar/badline.ics", "(null)"},
    {"calendar/date-time.vcs", "Coffee with Jason"},
    {"calendar/k770.vcs", "John Doe"},
    {"calendar/outlook.vcs", "Northeast Council of Aquarium Societies 35th Annual Convention"},
    {"calendar/rrule.ics", "Coffee with Jason"},
};
INSTANTIATE_TEST_SUITE_P(Phones, SampleTest, ::testing::ValuesIn(kSamples), SampleName);

// ---- what the store writes ----

TEST_F(LocalStoreTest, AContactFromAPhoneIsKeptAsVCard3AndGoesBackAs21) {
  auto item = Open(
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;"
      "J=FCrgen\r\nTEL;CELL;VOICE:+491234\r\nNOTE:one, two\r\nEND:VCARD\r\n");
  auto contact = item ? item->QueryContact() : nullptr;
  ASSERT_TRUE(contact && contact->Save());
  const std::string id = IdOf(*contact);
  ExpectLines(ReadText(Root() / "contacts" / (id + ".vcf")),
              {"VERSION:3.0", "N:M\xC3\xBCller;J\xC3\xBCrgen", "FN:J\xC3\xBCrgen M\xC3\xBCller",
               "TEL;TYPE=CELL;TYPE=VOICE:+491234", "NOTE:one\\, two", "UID:" + id});

  const fs::path out = scratch_.path() / "out.vcf";
  ASSERT_TRUE(contact->SaveAs(ToWide(out), outlook::kSaveAsVCard));
  const std::string phone = ReadText(out);
  EXPECT_EQ(0u, phone.find("BEGIN:VCARD\r\nVERSION:2.1\r\n"));
  ExpectLines(phone, {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen",
                      "TEL;CELL;VOICE:+491234", "NOTE:one, two"});
  EXPECT_FALSE(contact->SaveAs(ToWide(out), outlook::kSaveAsICalendar));
  EXPECT_EQ(
      "J\xC3\xBCrgen M\xC3\xBC"
      "ller",
      Title(out));
}

TEST_F(LocalStoreTest, LongNonAsciiValuesAreFoldedWithoutSplittingAnEscape) {
  std::string name;
  for (int i = 0; i < 40; ++i) name += "\xC3\xA9";  // é
  auto item = Open("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nEND:VCARD\r\n");
  const fs::path out = scratch_.path() / "long.vcf";
  ASSERT_TRUE(item && item->QueryContact()->SaveAs(ToWide(out), outlook::kSaveAsVCard));
  std::istringstream lines(ReadText(out));
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 77u) << line;  // +CR
  EXPECT_EQ(name, Title(out));
}

TEST_F(LocalStoreTest, WritesVCalendarOnlyWhenItCarriesTheEventFaithfully) {
  // The VEVENT's lines in an iCalendar file, and a line the vCalendar holds
  // (nullptr: the vCalendar is refused).
  const std::pair<const char*, const char*> cases[] = {
      {"DTSTART:20240101T120000Z\r\nDTEND:20240101T130000Z\r\n", "DTSTART:20240101T120000Z"},
      {"DTSTART:20240101T120000\r\nDTEND:20240101T130000\r\n", "DTEND:20240101T130000"},
      {"DTSTART:20240101T120000Z\r\nRRULE:FREQ=WEEKLY;COUNT=5;BYDAY=MO,WE\r\n",
       "RRULE:W1 MO WE #5"},
      {"DTSTART:20240101T120000Z\r\nRRULE:FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR\r\n",
       "RRULE:MP2 1- FR #0"},
      {"DTSTART:20240101T120000Z\r\nRRULE:FREQ=YEARLY;UNTIL=20300101T000000Z\r\n",
       "RRULE:YM1 1 20300101T000000Z"},
      {"DTSTART;VALUE=DATE:20240101\r\nDTEND;VALUE=DATE:20240102\r\n",
       "X-BLUETOOTH-ALLDAYEVENT:TRUE"},
      {"DTSTART:20240101T120000Z\r\nDESCRIPTION:Gr\xC3\xBC\xC3\x9F"
       "e\r\n",
       "DESCRIPTION;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Gr=C3=BC=C3=9Fe"},
      {"DTSTART:20240101T120000Z\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
       "END:VALARM\r\n",
       "DALARM:20240101T114500Z"},
      {"DTSTART;TZID=Europe/Berlin:20240101T120000\r\n", "DTSTART:20240101T110000Z"},
      {"DTSTART;TZID=Europe/Berlin:20240101T120000\r\nRRULE:FREQ=DAILY\r\n", nullptr},
      {"DTSTART:20240101T120000Z\r\nRRULE:FREQ=DAILY;BYHOUR=9,17\r\n", nullptr},
      {"DTSTART:20240101T120000Z\r\nRRULE:FREQ=MONTHLY;BYDAY=MO\r\n", nullptr},
      {"DTSTART:20240101T120000Z\r\nATTENDEE:mailto:a@b.c\r\n", nullptr},
      {"DTSTART:20240101T120000Z\r\nBEGIN:VALARM\r\nACTION:EMAIL\r\nTRIGGER:-PT15M\r\n"
       "END:VALARM\r\n",
       nullptr},
  };
  const fs::path vcs = scratch_.path() / "out.vcs";
  for (const auto& [event, expected] : cases) {
    SCOPED_TRACE(event);
    auto item = Open(std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
                                 "BEGIN:VEVENT\r\nUID:u1\r\nSUMMARY:S\r\n") +
                         event + "END:VEVENT\r\nEND:VCALENDAR\r\n",
                     "in.ics");
    auto appointment = item ? item->QueryAppointment() : nullptr;
    ASSERT_TRUE(appointment);
    const bool written = appointment->SaveAs(ToWide(vcs), outlook::kSaveAsVCalendar);
    EXPECT_TRUE(
        appointment->SaveAs(ToWide(scratch_.path() / "out.ics"), outlook::kSaveAsICalendar));
    EXPECT_EQ(expected != nullptr, written);
    if (!written || !expected) continue;
    ExpectLines(ReadText(vcs), {"VERSION:1.0", expected});
    EXPECT_EQ("S", Title(vcs));  // what was written reads back
  }
}

TEST_F(LocalStoreTest, AllDayMakesTheStartAndEndDates) {
  auto item = Open(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Trip\r\n"
      "DTSTART:20240301T090000\r\nDTEND:20240303T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "trip.vcs");
  auto appointment = item ? item->QueryAppointment() : nullptr;
  ASSERT_TRUE(appointment && appointment->PutAllDayEvent(true) && appointment->Save());
  const std::string id = IdOf(*appointment);
  ExpectLines(ReadText(Root() / "calendar" / (id + ".ics")),
              {"DTSTART;VALUE=DATE:20240301", "DTEND;VALUE=DATE:20240304", "UID:" + id});
}

TEST_F(LocalStoreTest, NotesAreUtf8TextFilesNamedByTheirEntryId) {
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app_->CreateItem(outlook::kNoteItem, &item));
  auto note = item->QueryNote();
  OptString body = u"unset";
  ASSERT_TRUE(note->Body(&body));
  EXPECT_FALSE(body.has_value());
  ASSERT_TRUE(note->PutBody(u"Einkauf: K\u00e4se\nBrot") && note->Save());
  const std::string id = IdOf(*note);
  const fs::path file = Root() / "notes" / (id + ".txt");
  EXPECT_EQ("Einkauf: K\xC3\xA4se\nBrot", ReadText(file));

  // Another program edits it: the entry ID stays, the body follows.
  WriteText(file, "\xEF\xBB\xBFnew text");
  auto all = All(outlook::kFolderNotes);
  ASSERT_EQ(1u, all.size());
  auto again = all[0]->QueryNote();
  EXPECT_EQ(id, IdOf(*again));
  ASSERT_TRUE(again->Body(&body));
  EXPECT_EQ(u"new text", body);
  ASSERT_TRUE(again->Delete());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(All(outlook::kFolderNotes).empty());
}

// A write the platform layer fails at any step leaves the item as it was,
// and no scratch file behind.
class FailedStoreWriteTest : public LocalStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedStoreWriteTest, LeavesTheOldItemWhole) {
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app_->CreateItem(outlook::kNoteItem, &item));
  auto note = item->QueryNote();
  ASSERT_TRUE(note->PutBody(u"old text") && note->Save());
  const fs::path file = Root() / "notes" / (IdOf(*note) + ".txt");

  env_.FailNth(GetParam(), 1);
  ASSERT_TRUE(note->PutBody(u"new text"));
  EXPECT_FALSE(note->Save());
  EXPECT_EQ("old text", ReadText(file));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Root() / "notes")) names.push_back(entry.path().filename());
  EXPECT_EQ(std::vector<std::string>{file.filename()}, names);
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailedStoreWriteTest, ::testing::Values("Open", "Write", "Sync", "Replace"),
                         [](const auto& info) { return std::string(info.param); });

// ---- files other programs leave in the store ----

TEST_F(LocalStoreTest, UnreadableFilesAndOddNamesAreItemsWhoseReadsFail) {
  const fs::path contacts = Root() / "contacts";
  WriteText(contacts / "garbage.vcf", std::string("\x00\xFF not a card", 13));
  WriteText(contacts / "caf\xE9.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Latin\r\nEND:VCARD\r\n");
  WriteText(contacts / ".hidden.vcf.tmp-1", "scratch");
  WriteText(contacts / "readme.md", "not an item");
  WriteText(Root() / "calendar" / "broken.ics",
            "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:garbage");
  WriteText(Root() / "calendar" / "empty.ics", "");
  WriteText(Root() / "mail" / "inbox" / "cur" / "x:2,S", std::string("\x00\x01\x02", 3));

  std::set<WString> ids;
  auto all = All(outlook::kFolderContacts);
  ASSERT_EQ(2u, all.size());
  for (auto& item : all) {
    auto contact = item->QueryContact();
    ASSERT_NE(nullptr, contact);
    OptString id, name;
    ASSERT_TRUE(contact->EntryID(&id));
    ids.insert(*id);
    if (*id == u"garbage") {
      EXPECT_FALSE(contact->FullName(&name));
      EXPECT_FALSE(contact->SaveAs(ToWide(scratch_.path() / "x.vcf"), outlook::kSaveAsVCard));
      continue;
    }
    EXPECT_EQ((WString{u'c', u'a', u'f', static_cast<char16_t>(0xDCE9)}), *id);
    ASSERT_TRUE(contact->FullName(&name));
    EXPECT_EQ(u"Latin", *name);
    ASSERT_TRUE(contact->Delete());
    EXPECT_FALSE(fs::exists(contacts / "caf\xE9.vcf"));
  }
  EXPECT_EQ(2u, ids.size());

  for (auto& item : All(outlook::kFolderCalendar)) {
    auto appointment = item->QueryAppointment();
    ASSERT_NE(nullptr, appointment);
    OptString subject;
    EXPECT_FALSE(appointment->Subject(&subject) &&
                 appointment->SaveAs(ToWide(scratch_.path() / "x.vcs"), 7));
  }
  all = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, all.size());
  OptString subject;
  if (auto mail = all[0]->QueryMail()) mail->Subject(&subject);  // may fail; must not crash
}

// Calendars nested deeper than any real one are refused before the
// recursive converters see them; a nameless object closes as its own.
TEST_F(LocalStoreTest, HostileCalendarNestingIsRefusedOrContained) {
  auto nested = [](const std::string& head, int depth) {
    std::string text = head;
    for (int i = 0; i < depth; ++i) text += "BEGIN:VEVENT\r\nSUMMARY:x\r\n";
    for (int i = 0; i < depth; ++i) text += "END:VEVENT\r\n";
    return text + "END:VCALENDAR\r\n";
  };
  for (const char* head :
       {"BEGIN:VCALENDAR\r\nVERSION:1.0\r\n", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"}) {
    EXPECT_EQ(nullptr, local::ParseCalendarText(nested(head, 5000))) << head;
    EXPECT_NE(nullptr, local::ParseCalendarText(nested(head, 3))) << head;
  }
  local::IcalPtr parsed = local::ParseCalendarText(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN: \r\nSUMMARY:lost\r\nEND:X\r\n"
      "BEGIN:VEVENT\r\nSUMMARY:kept\r\nDTSTART:20260301T100000Z\r\nEND:VEVENT\r\nEND:"
      "VCALENDAR\r\n");
  ASSERT_NE(nullptr, parsed);
  icalcomponent* event = local::MainEvent(parsed.get());
  ASSERT_NE(nullptr, event);
  EXPECT_STREQ("kept", icalcomponent_get_summary(event));
}

TEST_F(LocalStoreTest, ASenderWithoutAddressReadsBackWithItsName) {
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderInbox, &inbox) &&
              app_->CreateItem(outlook::kMailItem, &item));
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  ASSERT_TRUE(mail && mail->PutSentOnBehalfOfName(u"Ann Smith") && mail->Save() &&
              mail->Move(inbox, &moved));
  auto all = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, all.size());
  OptString sender, behalf;
  ASSERT_TRUE(all[0]->QueryMail()->SenderName(&sender) &&
              all[0]->QueryMail()->SentOnBehalfOfName(&behalf));
  EXPECT_EQ(u"Ann Smith", sender);
  EXPECT_EQ(u"Ann Smith", behalf);
}

// A killed writer's scratch files stay out of the listings, and the store
// clears them once no writer can still own them.
TEST_F(LocalStoreTest, ScratchFilesOfKilledWritersAreIgnoredThenCleared) {
  const fs::path old_card = Root() / "contacts" / ".a.vcf.tmp-1",
                 young_card = Root() / "contacts" / ".b.vcf.tmp-2";
  const fs::path old_mail = Root() / "mail" / "inbox" / "tmp" / "1.M1P1.host";
  for (const fs::path& path : {old_card, young_card, old_mail})
    WriteText(path, "BEGIN:VCARD\r\nFN:X\r\n");
  for (const fs::path& path : {old_card, old_mail}) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
  }
  EXPECT_TRUE(All(outlook::kFolderContacts).empty());
  EXPECT_TRUE(All(outlook::kFolderInbox).empty());
  std::shared_ptr<outlook::Application> again;
  ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&again));
  EXPECT_FALSE(fs::exists(old_card));
  EXPECT_FALSE(fs::exists(old_mail));
  EXPECT_TRUE(fs::exists(young_card));
}

TEST_F(LocalStoreTest, MaildirFlagChangesKeepTheEntryIdAndShowAsUnRead) {
  const fs::path cur = Root() / "mail" / "inbox" / "cur", fresh = Root() / "mail" / "inbox" / "new";
  WriteText(fresh / "1700000000.M1P1.host",
            "From: Ann <ann@example.org>\nSender: Bob <bob@example.org>\nTo: me@example.org\n"
            "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\nDate: Mon, 1 Jan 2024 12:00:00 +0000\n"
            "X-Priority: 5\n\nhi <you>\n");
  auto all = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, all.size());
  auto mail = all[0]->QueryMail();
  ASSERT_NE(nullptr, mail);
  EXPECT_EQ("1700000000.M1P1.host", IdOf(*mail));
  OptString sender, behalf, subject, cc = u"unset", body;
  bool unread = false;
  int32_t importance = -1;
  double sent = 0;
  ASSERT_TRUE(mail->SenderName(&sender) && mail->SentOnBehalfOfName(&behalf) &&
              mail->Subject(&subject) && mail->CC(&cc) && mail->HTMLBody(&body) &&
              mail->UnRead(&unread) && mail->Importance(&importance) && mail->SentOn(&sent));
  EXPECT_EQ(u"Bob", sender);
  EXPECT_EQ(u"Ann", behalf);
  EXPECT_EQ(u"Gr\u00fc\u00dfe", subject);
  EXPECT_EQ(std::nullopt, cc);
  EXPECT_NE(WString::npos, body->find(u"hi &lt;you&gt;"));
  EXPECT_TRUE(unread);
  EXPECT_EQ(0, importance);
  EXPECT_GT(sent, 45292.0 - 1.0);  // 2024-01-01 in any time zone
  EXPECT_LT(sent, 45292.0 + 2.0);

  // A mail program reads it: new/ to cur/ with the seen flag.
  fs::rename(fresh / "1700000000.M1P1.host", cur / "1700000000.M1P1.host:2,S");
  all = All(outlook::kFolderInbox);
  ASSERT_EQ(1u, all.size());
  auto seen = all[0]->QueryMail();
  EXPECT_EQ("1700000000.M1P1.host", IdOf(*seen));
  ASSERT_TRUE(seen->UnRead(&unread));
  EXPECT_FALSE(unread);

  // The library marks it unread: only the flag changes, other flags stay.
  fs::rename(cur / "1700000000.M1P1.host:2,S", cur / "1700000000.M1P1.host:2,FS");
  ASSERT_TRUE(seen->PutUnRead(true) && seen->Save());
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

using Record = std::tuple<uint32_t, uint32_t, std::string>;  // type, kind, entry ID

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

  // The records of a log whose records are `size` bytes long.
  std::vector<Record> Records(const std::string& log, size_t size) {
    std::vector<Record> out;
    const Bytes bytes = Exists(InSync(log)) ? ReadBytes(InSync(log)) : Bytes();
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
      WString id;
      for (size_t i = at + 8; i + 1 < at + 528 && (bytes[i] || bytes[i + 1]); i += 2) {
        id.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      }
      out.emplace_back(U32(bytes, at), U32(bytes, at + 4), Utf16ToUtf8(id));
    }
    return out;
  }

  std::string SaveNote(const WString& body) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(app_->CreateItem(outlook::kNoteItem, &item) && item->QueryNote()->PutBody(body) &&
                item->QueryNote()->Save());
    return IdOf(*item->QueryNote());
  }

  std::shared_ptr<outlook::NoteItem> Note(const std::string& id) {
    for (auto& item : All(outlook::kFolderNotes)) {
      if (IdOf(*item->QueryNote()) == id) return item->QueryNote();
    }
    return nullptr;
  }
};

TEST_F(ScannerTest, ReportsEachOutsideChangeAndDeletionOnceAndNotTheLibrarysOwn) {
  const std::string kept = SaveNote(u"kept"), edited = SaveNote(u"edited"),
                    removed = SaveNote(u"removed");
  local::ScanResult first = local::ScanStoreChanges();
  ASSERT_TRUE(first.ok);
  EXPECT_TRUE(first.baseline);
  EXPECT_TRUE(Records("SyncModificationLog.DAT", 528).empty());

  WriteText(Root() / "notes" / (edited + ".txt"), "changed elsewhere");
  fs::remove(Root() / "notes" / (removed + ".txt"));
  WriteText(Root() / "notes" / "brand-new.txt", "new items are found by the enumeration");
  // What the library does itself is not reported.
  auto note = Note(kept);
  ASSERT_TRUE(note && note->PutBody(u"library edit") && note->Save());
  const std::string library_new = SaveNote(u"library new");
  local::ScanResult second = local::ScanStoreChanges();
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(1u, second.changed);
  EXPECT_EQ(1u, second.deleted);

  const std::vector<Record> expected = {{1, 0, edited}, {1, 1, removed}};
  EXPECT_EQ(expected, Records("SyncModificationLog.DAT", 528));
  EXPECT_EQ(expected, Records("SyncMLModificationLog.DAT", 572));
  Bytes syncml = ReadBytes(InSync("SyncMLModificationLog.DAT"));
  ASSERT_EQ(2 * 572u, syncml.size());
  EXPECT_EQ(U32(syncml, 568) + 1, U32(syncml, 572 + 568));
  EXPECT_EQ('T', syncml[528 + 8 * 2]);  // "YYYYMMDDTHHMMSSZ"
  EXPECT_EQ('Z', syncml[528 + 15 * 2]);

  // Nothing is reported twice; a library deletion is not reported at all.
  note = Note(library_new);
  ASSERT_TRUE(note && note->Delete());
  local::ScanResult third = local::ScanStoreChanges();
  ASSERT_TRUE(third.ok);
  EXPECT_EQ(0u, third.changed + third.deleted);
  EXPECT_EQ(2u, Records("SyncModificationLog.DAT", 528).size());

  // The change number goes on from where it was.
  WriteText(Root() / "notes" / "brand-new.txt", "now changed");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  syncml = ReadBytes(InSync("SyncMLModificationLog.DAT"));
  ASSERT_EQ(3 * 572u, syncml.size());
  EXPECT_EQ(U32(syncml, 572 + 568) + 1, U32(syncml, 2 * 572 + 568));
}

TEST_F(ScannerTest, AMaildirFlagChangeIsAChange) {
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  WriteText(cur / "1.M1P1.h:2,", "Subject: s\n\nbody\n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  fs::rename(cur / "1.M1P1.h:2,", cur / "1.M1P1.h:2,S");
  EXPECT_EQ(1u, local::ScanStoreChanges().changed);
  EXPECT_EQ((std::vector<Record>{{0, 0, "1.M1P1.h"}}), Records("SyncModificationLog.DAT", 528));
}

TEST_F(ScannerTest, NothingAnotherWriterAppendsConcurrentlyIsLost) {
  constexpr int kNotes = 40, kForeign = 300;
  std::vector<std::string> ids;
  for (int i = 0; i < kNotes; ++i) ids.push_back(SaveNote(u"n"));
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  for (const std::string& id : ids) WriteText(Root() / "notes" / (id + ".txt"), "changed");

  const Bytes foreign = LogRecordBytes(2, 0, u"FOREIGN");
  std::atomic<bool> go{false};
  std::thread other([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kForeign; ++i) {
      if (FILE* log = fopen(InSync("SyncModificationLog.DAT").c_str(), "ab")) {
        fwrite(foreign.data(), 1, foreign.size(), log);
        fclose(log);
      }
    }
  });
  go = true;
  local::ScanResult result = local::ScanStoreChanges();
  other.join();
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(static_cast<uint32_t>(kNotes), result.changed);
  auto records = Records("SyncModificationLog.DAT", 528);
  ASSERT_EQ(static_cast<size_t>(kNotes + kForeign), records.size());
  EXPECT_EQ(kForeign, std::count_if(records.begin(), records.end(),
                                    [](const Record& r) { return std::get<2>(r) == "FOREIGN"; }));
}

// ---- the shared contract ----

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

#endif  // _WIN32
