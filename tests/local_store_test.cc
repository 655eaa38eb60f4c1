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
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "local/calendar_text.h"
#include "local/entry_ids.h"
#include "store/records.h"
#include "support/object_model_contract.h"
#include "support/scratch.h"
#include "tracker/change_scanner.h"
#include "zelsyncdll.h"

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

// The file name an entry ID carries after its kind's tag.
std::string StemOf(const std::string& id) { return id.substr(id.find('/') + 1); }

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

// A card as a phone or an address-book program writes it; lines the store
// keeps (also after the card went to a phone as 2.1 and came back), lines
// the phone's 2.1 copy holds, and text that copy must not hold.
struct CardCase {
  const char* name;
  std::string card;
  std::vector<std::string> stored, as21, never21;
};

// Non-ASCII, so quoted-printable, with a space where a soft break falls.
std::string LongValue() { return "\xC3\xA9" + std::string(69, 'x') + " end"; }

const CardCase kCards[] = {
    {"Phone21Latin1",
     "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n"
     "TEL;CELL;VOICE:+491234\r\nNOTE:one, two\r\nEND:VCARD\r\n",
     {"VERSION:3.0", "N:M\xC3\xBCller;J\xC3\xBCrgen", "FN:J\xC3\xBCrgen M\xC3\xBCller",
      "TEL;TYPE=CELL;TYPE=VOICE:+491234", "NOTE:one\\, two"},
     {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen", "TEL;CELL;VOICE:+491234",
      "NOTE:one, two"},
     {}},
    {"IosCrCrLf",
     "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Lee;Ann;;;\r\r\nFN:Ann Lee\r\r\nORG:ACME\r\r\nEND:VCARD\r\r\n",
     {"FN:Ann Lee", "ORG:ACME"},
     {"FN:Ann Lee", "ORG:ACME", "N:Lee;Ann;;;"},
     {"=0D", "\r\r"}},
    {"Program40",
     "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Lee\r\nN;SORT-AS=\"Lee,Ann\":Lee;Ann;;;\r\n"
     "ADR;GEO=\"geo:48.2,16.3\";LABEL=\"Main St 1\\nVienna\";TYPE=work:;;Main St 1;Vienna;;;AT\r\n"
     "TEL;VALUE=uri;TYPE=work:tel:+1-555-555-5555;ext=5555\r\nNOTE:a\\; b\r\nEND:VCARD\r\n",
     {"VERSION:4.0", "N;SORT-AS=\"Lee,Ann\":Lee;Ann;;;",
      "ADR;GEO=\"geo:48.2,16.3\";LABEL=Main St 1\\nVienna;TYPE=work:;;Main St 1;Vienna;;;AT"},
     {"N:Lee;Ann;;;", "ADR;WORK:;;Main St 1;Vienna;;;AT", "TEL;WORK:+1-555-555-5555;ext=5555", "NOTE:a; b"},
     {"GEO", "LABEL", "SORT-AS", "\\;ext"}},
    {"PhoneKeepsWhatItCannotMap",
     "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Roe;Al\r\nX-SONY-RING;X-TONE=1:bell.mid\r\nCATEGORIES:Work\r\n"
     "NOTE;ENCODING=QUOTED-PRINTABLE:a=0Db\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n/9j/4AAQ\r\nSkZJRg==\r\n\r\n"
     "END:VCARD\r\n",
     {"X-SONY-RING;X-TONE=1:bell.mid", "CATEGORIES:Work", "NOTE:a\\nb", ":/9j/4AAQSkZJRg=="},
     {"X-SONY-RING;X-TONE=1:bell.mid", "CATEGORIES:Work", "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab",
      "PHOTO;JPEG;ENCODING=BASE64:/9j/4AAQSkZJRg=="},
     {}},
    {"LongValueUnderALongHead",
     "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Al\r\nitem1.X-ABRELATEDNAMES;TYPE=pref;X-ABLABEL=assistant-of-the-director:" +
         LongValue() + "\r\nEND:VCARD\r\n",
     {},
     {},
     {}},
};

class CardTest : public LocalStoreTest, public ::testing::WithParamInterface<CardCase> {
 protected:
  // Saves the card opened from `text` into the store; the stored text and the
  // phone's 2.1 copy.
  void SaveAndHandOut(const std::string& text, std::string* stored, std::string* as21) {
    auto item = Open(text);
    auto received = item ? item->QueryContact() : nullptr;
    ASSERT_TRUE(received && received->Save());
    const std::string id = IdOf(*received);
    *stored = ReadText(Root() / "contacts" / (StemOf(id) + ".vcf"));
    EXPECT_NE(std::string::npos, stored->find("\r\nUID:"));
    // Unfolded, so that whole lines can be looked for.
    for (size_t fold; (fold = stored->find("\r\n ")) != std::string::npos;) stored->erase(fold, 3);
    // The phone gets the card as the folder holds it.
    std::shared_ptr<outlook::ContactItem> contact;
    for (auto& listed : All(outlook::kFolderContacts)) {
      if (IdOf(*listed->QueryContact()) == id) contact = listed->QueryContact();
    }
    ASSERT_NE(nullptr, contact);
    const fs::path out = scratch_.path() / "out.vcf";
    ASSERT_TRUE(contact->SaveAs(ToWide(out), outlook::kSaveAsVCard));
    EXPECT_FALSE(contact->SaveAs(ToWide(out), outlook::kSaveAsICalendar));
    *as21 = ReadText(out);
  }
};

TEST_P(CardTest, IsKeptAndGoesToThePhoneAsWellFormed21) {
  const CardCase& c = GetParam();
  std::string stored, as21;
  SaveAndHandOut(c.card, &stored, &as21);
  for (const std::string& line : c.stored) EXPECT_NE(std::string::npos, stored.find(line + "\r\n")) << line << "\n" << stored;
  EXPECT_EQ(0u, as21.find("BEGIN:VCARD\r\nVERSION:2.1\r\n"));
  for (const std::string& line : c.as21) EXPECT_NE(std::string::npos, as21.find(line + "\r\n")) << line << "\n" << as21;
  for (const std::string& text : c.never21) EXPECT_EQ(std::string::npos, as21.find(text)) << text << "\n" << as21;

  // Every line of the 2.1 copy: at most 76 octets; a property's head whole
  // on its first line; a line after a soft break not starting with white
  // space (readers would take it for a folded line).
  std::istringstream lines(as21);
  bool soft_break = false;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty() || line.back() != '\r') << "not CR LF: " << line;
    line.pop_back();
    // Only a head too long for a line stands alone, before a soft break.
    EXPECT_TRUE(line.size() <= 76 || line.substr(line.size() - 2) == ":=") << line;
    if (soft_break) {
      EXPECT_FALSE(line[0] == ' ' || line[0] == '\t') << line;
    } else if (!line.empty() && line[0] != ' ') {
      EXPECT_NE(std::string::npos, line.find(':')) << line;
    }
    soft_break = !line.empty() && line.back() == '=' && (soft_break || line.find("QUOTED-PRINTABLE") != std::string::npos);
  }

  // The phone sends it back: it gets the same copy again, and of a card that
  // came from a phone the store loses nothing.
  std::string again, again21;
  SaveAndHandOut(as21, &again, &again21);
  for (const std::string& line : c.as21) EXPECT_NE(std::string::npos, again21.find(line + "\r\n")) << line;
  if (c.card.find("VERSION:2.1") == std::string::npos) return;
  for (const std::string& line : c.stored) {
    if (line == "VERSION:3.0") continue;
    EXPECT_NE(std::string::npos, again.find(line + "\r\n")) << line << "\n" << again;
  }
}

INSTANTIATE_TEST_SUITE_P(PhonesAndPrograms, CardTest, ::testing::ValuesIn(kCards),
                         [](const ::testing::TestParamInfo<CardCase>& info) { return info.param.name; });

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
      {"DTSTART;VALUE=DATE:20240101\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
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

// A calendar as a phone or a calendar program sends it; lines the stored
// iCalendar file holds, and lines of the phone's vCalendar 1.0 copy (none:
// 1.0 cannot carry it and is refused). Each runs under two time zones of
// the PC: times mean the same in both.
struct CalendarCase {
  const char* name;
  std::string text;
  std::vector<std::string> stored, as10;
};

const std::string kBerlin =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\n"
    "BEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
    "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";

std::string VCal10(const std::string& event) {
  return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Dentist\r\n" + event +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

const CalendarCase kCalendars[] = {
    {"PhoneAlarms",
     VCal10("DTSTART:20260310T090000Z\r\nDTEND:20260310T100000Z\r\nDALARM:20260310T084500Z;PT5M;2;Go\r\n"
            "AALARM:20260310T084500Z;;0;\r\nPALARM:20260310T084000Z;;0;alarm.exe\r\n"
            "MALARM:20260310T083000Z;;0;ann@example.org;Soon\r\n"),
     {"TRIGGER;VALUE=DATE-TIME:20260310T084500Z", "ACTION:DISPLAY", "DESCRIPTION:Go", "DURATION:PT5M",
      "REPEAT:2", "ACTION:AUDIO", "ACTION:PROCEDURE", "ATTACH:alarm.exe", "ACTION:EMAIL",
      "ATTENDEE:mailto:ann@example.org"},
     {"DALARM:20260310T084500Z;PT5M;2;Go", "AALARM:20260310T084500Z", "PALARM:20260310T084000Z;;0;alarm.exe",
      "MALARM:20260310T083000Z;;0;ann@example.org;Soon"}},
    {"ProgramEditedOccurrences",
     "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//p//p//EN\r\n" + kBerlin +
         "BEGIN:VEVENT\r\nUID:w1\r\nDTSTAMP:20260101T000000Z\r\nRECURRENCE-ID;TZID=Europe/Berlin:20260112T090000\r\n"
         "DTSTART;TZID=Europe/Berlin:20260112T100000\r\nSUMMARY:Standup moved\r\nEND:VEVENT\r\n"
         "BEGIN:VEVENT\r\nUID:w1\r\nDTSTAMP:20260101T000000Z\r\nDTSTART;TZID=Europe/Berlin:20260105T090000\r\n"
         "RRULE:FREQ=WEEKLY;COUNT=5\r\nEXDATE;TZID=Europe/Berlin:20260119T090000\r\nSUMMARY:Dentist\r\n"
         "END:VEVENT\r\nEND:VCALENDAR\r\n",
     {"RECURRENCE-ID;TZID=Europe/Berlin:20260112T090000", "SUMMARY:Standup moved", "TZID:Europe/Berlin",
      "EXDATE;TZID=Europe/Berlin:20260119T090000", "RRULE:FREQ=WEEKLY;COUNT=5"},
     {}},
    {"PhoneFloating", VCal10("DTSTART:20260310T090000\r\nDTEND:20260310T100000\r\n"),
     {"DTSTART:20260310T090000", "DTEND:20260310T100000"},
     {"DTSTART:20260310T090000", "DTEND:20260310T100000"}},
    {"PhoneUtc", VCal10("DTSTART:20260310T090000Z\r\n"), {"DTSTART:20260310T090000Z"}, {"DTSTART:20260310T090000Z"}},
    {"ProgramZoned",
     "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//p//p//EN\r\n" + kBerlin +
         "BEGIN:VEVENT\r\nUID:z1\r\nDTSTAMP:20260101T000000Z\r\nDTSTART;TZID=Europe/Berlin:20260710T090000\r\n"
         "DTEND;TZID=Europe/Berlin:20260710T100000\r\nSUMMARY:Dentist\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
     {"DTSTART;TZID=Europe/Berlin:20260710T090000"},
     {"DTSTART:20260710T070000Z", "DTEND:20260710T080000Z"}},
};

class CalendarTest : public LocalStoreTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    if (const char* tz = getenv("TZ")) old_tz_ = tz;
    setenv("TZ", GetParam(), 1);
    tzset();
    LocalStoreTest::SetUp();
  }
  void TearDown() override {
    old_tz_ ? setenv("TZ", old_tz_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> old_tz_;
};

TEST_P(CalendarTest, KeepsWhatItReceivesAndHandsItBackAsTheSameTimes) {
  for (const CalendarCase& c : kCalendars) {
    SCOPED_TRACE(c.name);
    auto item = Open(c.text, "in.ics");
    auto appointment = item ? item->QueryAppointment() : nullptr;
    ASSERT_TRUE(appointment && appointment->Save());
    OptString subject;
    ASSERT_TRUE(appointment->Subject(&subject));
    EXPECT_EQ(u"Dentist", subject);  // the series, not an edited occurrence
    const std::string stored = ReadText(Root() / "calendar" / (StemOf(IdOf(*appointment)) + ".ics"));
    for (const std::string& line : c.stored) EXPECT_NE(std::string::npos, stored.find(line + "\r\n")) << line << "\n" << stored;
    if (c.name == std::string("ProgramEditedOccurrences")) {
      EXPECT_EQ(2u, [&] {
        size_t n = 0;
        for (size_t at = 0; (at = stored.find("BEGIN:VEVENT", at)) != std::string::npos; ++at) ++n;
        return n;
      }());
    }
    // The phone gets the entry as the folder holds it.
    std::shared_ptr<outlook::AppointmentItem> listed;
    for (auto& one : All(outlook::kFolderCalendar)) {
      if (IdOf(*one->QueryAppointment()) == IdOf(*appointment)) listed = one->QueryAppointment();
    }
    ASSERT_NE(nullptr, listed);
    const fs::path vcs = scratch_.path() / "out.vcs";
    ASSERT_EQ(!c.as10.empty(), listed->SaveAs(ToWide(vcs), outlook::kSaveAsVCalendar));
    if (c.as10.empty()) continue;
    const std::string as10 = ReadText(vcs);
    for (const std::string& line : c.as10) EXPECT_NE(std::string::npos, as10.find(line + "\r\n")) << line << "\n" << as10;
    // and what it sends back is the same entry again.
    auto back = Open(as10, "back.vcs");
    const fs::path again = scratch_.path() / "again.vcs";
    ASSERT_TRUE(back && back->QueryAppointment()->SaveAs(ToWide(again), outlook::kSaveAsVCalendar));
    for (const std::string& line : c.as10) EXPECT_NE(std::string::npos, ReadText(again).find(line + "\r\n")) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(TwoZones, CalendarTest, ::testing::Values("UTC", "America/New_York"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(0, 3) == "UTC" ? "Utc" : "NewYork";
                         });

TEST_F(LocalStoreTest, AllDayMakesTheStartAndEndDates) {
  auto item = Open(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Trip\r\n"
      "DTSTART:20240301T090000\r\nDTEND:20240303T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "trip.vcs");
  auto appointment = item ? item->QueryAppointment() : nullptr;
  ASSERT_TRUE(appointment && appointment->PutAllDayEvent(true) && appointment->Save());
  const std::string id = StemOf(IdOf(*appointment));
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
  const fs::path file = Root() / "notes" / (StemOf(id) + ".txt");
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
  const fs::path file = Root() / "notes" / (StemOf(IdOf(*note)) + ".txt");

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

// A folder is listed once and the listing kept while the folder's stamp
// stays; every change to the folder (here made to look old, so that its
// listing is kept at all) shows at the next collection, while a collection
// already handed out keeps its positions.
TEST_F(LocalStoreTest, AKeptListingFollowsEveryChangeToItsFolder) {
  const fs::path notes = Root() / "notes";
  auto settle = [&] {
    fs::last_write_time(notes, fs::file_time_type::clock::now() - std::chrono::seconds(30));
  };
  auto ids = [&] {
    std::vector<std::string> out;
    for (auto& item : All(outlook::kFolderNotes)) out.push_back(StemOf(IdOf(*item->QueryNote())));
    return out;
  };
  WriteText(notes / "a.txt", "a");
  WriteText(notes / "b.txt", "b");
  fs::create_directory(notes / "folder.txt");
  fs::create_symlink(notes / "a.txt", notes / "link.txt");
  settle();
  EXPECT_EQ((std::vector<std::string>{"a", "b", "link"}), ids());

  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> before;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderNotes, &folder) &&
              folder->GetItems(&before));
  const std::vector<std::pair<std::string, std::function<void()>>> changes = {
      {"added", [&] { WriteText(notes / "c.txt", "c"); }},
      {"removed", [&] { fs::remove(notes / "b.txt"); }},
      {"renamed", [&] { fs::rename(notes / "c.txt", notes / "d.txt"); }},
      {"link removed", [&] { fs::remove(notes / "link.txt"); }},
  };
  std::vector<std::string> expected = {"a", "b", "link"};
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    ids();  // kept
    change();
    settle();
    if (what == "added") expected = {"a", "b", "c", "link"};
    if (what == "removed") expected = {"a", "c", "link"};
    if (what == "renamed") expected = {"a", "d", "link"};
    if (what == "link removed") expected = {"a", "d"};
    EXPECT_EQ(expected, ids());
  }
  int32_t count = 0;
  std::shared_ptr<outlook::Item> third;
  ASSERT_TRUE(before->Count(&count) && before->Item(3, &third));
  EXPECT_EQ(3, count);
  EXPECT_EQ("link", StemOf(IdOf(*third->QueryNote())));

  // The library's own new note shows at once.
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app_->CreateItem(outlook::kNoteItem, &item) && item->QueryNote()->PutBody(u"new") &&
              item->QueryNote()->Save());
  EXPECT_EQ(3u, ids().size());
}

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
    if (*id == u"contacts/garbage") {
      EXPECT_FALSE(contact->FullName(&name));
      EXPECT_FALSE(contact->SaveAs(ToWide(scratch_.path() / "x.vcf"), outlook::kSaveAsVCard));
      continue;
    }
    EXPECT_EQ(u"contacts/caf\xDCE9", *id);
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

// A folder whose name is no UTF-8 reaches the store as the platform layer
// spells it (the stray byte escaped); the store must find it again.
TEST_F(LocalStoreTest, FilesInAFolderNamedInNoUtf8AreReadAndWritten) {
  const fs::path folder = scratch_.path() / "caf\xe9";
  fs::create_directories(folder);
  WriteText(folder / "in.vcf", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nFN:Ann Lee\r\nEND:VCARD\r\n");
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(session_->OpenSharedItem(PathFromNative((folder / "in.vcf").string()), &item));
  ASSERT_NE(nullptr, item->QueryContact());
  EXPECT_TRUE(item->QueryContact()->SaveAs(PathFromNative((folder / "out.vcf").string()),
                                           outlook::kSaveAsVCard));
  EXPECT_TRUE(fs::exists(folder / "out.vcf"));
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
  EXPECT_EQ("mail/1700000000.M1P1.host", IdOf(*mail));
  OptString sender, behalf, subject, cc = u"unset", body;
  bool unread = false;
  int32_t importance = -1;
  double sent = 0;
  ASSERT_TRUE(mail->SenderName(&sender) && mail->SentOnBehalfOfName(&behalf) &&
              mail->Subject(&subject) && mail->CC(&cc) && mail->HTMLBody(&body) &&
              mail->UnRead(&unread) && mail->Importance(&importance) && mail->SentOn(&sent));
  EXPECT_EQ(u"Bob <bob@example.org>", sender);
  EXPECT_EQ(u"Ann <ann@example.org>", behalf);
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
  EXPECT_EQ("mail/1700000000.M1P1.host", IdOf(*seen));
  ASSERT_TRUE(seen->UnRead(&unread));
  EXPECT_FALSE(unread);

  // The library marks it unread: only the flag changes, other flags stay.
  fs::rename(cur / "1700000000.M1P1.host:2,S", cur / "1700000000.M1P1.host:2,FS");
  ASSERT_TRUE(seen->PutUnRead(true) && seen->Save());
  EXPECT_TRUE(fs::exists(cur / "1700000000.M1P1.host:2,F"));
}

// Messages as mail programs build them, with attachments at every depth:
// the attachment names the phone gets, and a text the HTML body holds.
TEST_F(LocalStoreTest, AttachmentsAreFoundAtAnyDepthAndKeptOnceWhenSaved) {
  const std::string part_a = "--a\nContent-Type: text/plain\n\nHello <you>\n";
  const std::string logo = "Content-Type: image/png\nContent-Disposition: inline; filename=logo.png\n"
                           "Content-Transfer-Encoding: base64\n\niVBORw0KGgo=\n";
  const struct {
    const char* name;
    std::string body;
    std::vector<std::string> attachments;
    const char16_t* html;
  } kMessages[] = {
      {"1.M1P1.related",
       "Content-Type: multipart/alternative; boundary=a\n\n" + part_a +
           "--a\nContent-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<p>Hi</p>\n--r\n" +
           logo + "--r--\n--a--\n",
       {"logo.png"}, u"<p>Hi</p>"},
      {"2.M1P1.nested",
       "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: multipart/mixed; boundary=a\n\n" + part_a +
           "--a\nContent-Type: application/pdf\nContent-Disposition: attachment; filename=inner.pdf\n\nPDF\n--a--\n"
           "--m\nContent-Type: text/plain\nContent-Disposition: attachment; filename=outer.txt\n\nouter\n--m--\n",
       {"inner.pdf", "outer.txt"}, u"Hello &lt;you&gt;"},
      {"3.M1P1.plain", "Content-Type: text/plain; charset=utf-8\n\nHello <you>\n", {}, u"Hello &lt;you&gt;"},
  };
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  for (const auto& m : kMessages) {
    WriteText(cur / (std::string(m.name) + ":2,S"), "From: a@example.org\nSubject: s\nMIME-Version: 1.0\n" + m.body);
  }
  for (int pass = 0; pass < 2; ++pass) {
    auto all = All(outlook::kFolderInbox);
    ASSERT_EQ(3u, all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      SCOPED_TRACE(std::string(kMessages[i].name) + (pass ? " after a save" : ""));
      auto mail = all[i]->QueryMail();
      std::shared_ptr<outlook::Attachments> attachments;
      int32_t count = -1;
      ASSERT_TRUE(mail && mail->GetAttachments(&attachments) && attachments->Count(&count));
      std::vector<std::string> names;
      for (int32_t k = 1; k <= count; ++k) {
        std::shared_ptr<outlook::Attachment> attachment;
        OptString name;
        ASSERT_TRUE(attachments->Item(k, &attachment) && attachment->FileName(&name));
        names.push_back(Narrow(name));
      }
      EXPECT_EQ(kMessages[i].attachments, names);
      OptString html;
      ASSERT_TRUE(mail->HTMLBody(&html));
      EXPECT_NE(WString::npos, html.value_or(u"").find(kMessages[i].html)) << Narrow(html);
      // A changed message is built again: no attachment is lost or doubled.
      if (pass == 0) {
        ASSERT_TRUE(mail->PutSubject(u"changed") && mail->Save());
      }
    }
  }
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

  WriteText(Root() / "notes" / (StemOf(edited) + ".txt"), "changed elsewhere");
  fs::remove(Root() / "notes" / (StemOf(removed) + ".txt"));
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

// A state that stands but cannot be read (here: no regular file) is kept,
// and the changes since it was written are reported once it can be read.
TEST_F(ScannerTest, AStateThatCannotBeReadIsNotReplacedByANewBaseline) {
  const std::string id = SaveNote(u"n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  WriteText(Root() / "notes" / (StemOf(id) + ".txt"), "changed");
  const fs::path state = InSync("LocalStoreState.txt"), saved = InSync("saved-state");
  ASSERT_TRUE(fs::exists(state));
  fs::rename(state, saved);
  fs::create_directory(InSync("elsewhere"));
  fs::create_directory_symlink(InSync("elsewhere"), state);
  EXPECT_FALSE(local::ScanStoreChanges().ok);
  EXPECT_TRUE(fs::is_symlink(state));
  fs::remove(state);
  fs::rename(saved, state);
  EXPECT_EQ(1u, local::ScanStoreChanges().changed);
}

TEST_F(ScannerTest, AnAppendAfterATornAppendKeepsTheLogsAligned) {
  const std::string id = SaveNote(u"n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  WriteBytes(InSync("SyncModificationLog.DAT"), Concat({LogRecordBytes(2, 0, u"X"), Bytes(100, 1)}));
  WriteBytes(InSync("SyncMLModificationLog.DAT"), Bytes(571, 1));
  WriteText(Root() / "notes" / (StemOf(id) + ".txt"), "changed");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  EXPECT_EQ(2 * 528u, ReadBytes(InSync("SyncModificationLog.DAT")).size());
  EXPECT_EQ((std::vector<Record>{{2, 0, "X"}, {1, 0, id}}), Records("SyncModificationLog.DAT", 528));
  EXPECT_EQ(572u, ReadBytes(InSync("SyncMLModificationLog.DAT")).size());
  EXPECT_EQ((std::vector<Record>{{1, 0, id}}), Records("SyncMLModificationLog.DAT", 572));
}

TEST_F(ScannerTest, AMaildirFlagChangeIsAChange) {
  const fs::path cur = Root() / "mail" / "inbox" / "cur";
  WriteText(cur / "1.M1P1.h:2,", "Subject: s\n\nbody\n");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  fs::rename(cur / "1.M1P1.h:2,", cur / "1.M1P1.h:2,S");
  EXPECT_EQ(1u, local::ScanStoreChanges().changed);
  EXPECT_EQ((std::vector<Record>{{0, 0, "mail/1.M1P1.h"}}), Records("SyncModificationLog.DAT", 528));
}

TEST_F(ScannerTest, NothingAnotherWriterAppendsConcurrentlyIsLost) {
  constexpr int kNotes = 40, kForeign = 300;
  std::vector<std::string> ids;
  for (int i = 0; i < kNotes; ++i) ids.push_back(SaveNote(u"n"));
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  for (const std::string& id : ids) WriteText(Root() / "notes" / (StemOf(id) + ".txt"), "changed");

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

// ---- entry IDs across the store ----

constexpr local::FolderKind kKindOfType[] = {local::FolderKind::kInbox, local::FolderKind::kNotes,
                                             local::FolderKind::kContacts, local::FolderKind::kCalendar};

TEST(LocalEntryIdTest, NamesAreTaggedByKindAndEarlierIdsCarryOver) {
  const struct {
    int type;
    std::string stem;
    std::u16string id;
  } kCases[] = {
      {SYNC_OBJECT_MESSAGE, "same", u"mail/same"},
      {SYNC_OBJECT_NOTE, "same", u"notes/same"},
      {SYNC_OBJECT_CONTACT, "same", u"contacts/same"},
      {SYNC_OBJECT_CALENDAR, "same", u"calendar/same"},
      {SYNC_OBJECT_NOTE, "caf\xC3\xA9 \xF0\x9F\x98\x80", u"notes/caf\u00E9 \U0001F600"},
      {SYNC_OBJECT_CONTACT, "bad\xFF\xC3.x", u"contacts/bad\xDCFF\xDCC3.x"},
      // Overlong, an encoded surrogate, beyond U+10FFFF, cut short at the end:
      // each byte stands alone.
      {SYNC_OBJECT_CALENDAR, "\xC0\xAF\xED\xA0\x80", u"calendar/\xDCC0\xDCAF\xDCED\xDCA0\xDC80"},
      {SYNC_OBJECT_NOTE, "\xF4\x90\x80\x80x\xE2\x82", u"notes/\xDCF4\xDC90\xDC80\xDC80x\xDCE2\xDC82"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stem);
    EXPECT_EQ(c.id, local::EntryIdOf(kKindOfType[c.type], c.stem));
    // The earlier ID was the bare name.
    WString carried;
    ASSERT_TRUE(local::CarriedOverEntryId(c.type, c.id.substr(c.id.find(u'/') + 1), &carried));
    EXPECT_EQ(c.id, carried);
    EXPECT_FALSE(local::CarriedOverEntryId(c.type, c.id, &carried));  // already current
  }
  EXPECT_EQ(u"mail/m", local::EntryIdOf(local::FolderKind::kDrafts, "m"));
  WString carried;
  EXPECT_FALSE(local::CarriedOverEntryId(7, u"same", &carried));
  EXPECT_FALSE(local::CarriedOverEntryId(SYNC_OBJECT_NOTE, u"", &carried));
  // Units no file name is spelt with are no earlier ID.
  for (const char16_t* odd : {u"a\xD800", u"a\xD800" u"b", u"a\xDC41", u"a\xDD00"}) {
    EXPECT_FALSE(local::CarriedOverEntryId(SYNC_OBJECT_NOTE, odd, &carried));
  }

  // The longest names are cut and end in a hash that keeps them apart.
  std::set<WString> long_ids;
  for (int type = 0; type < 4; ++type) {
    WString id = local::EntryIdOf(kKindOfType[type], std::string(255, 'x'));
    EXPECT_EQ(local::kMaxEntryIdLength, id.size());
    EXPECT_EQ(u'~', id[id.size() - 17]);
    long_ids.insert(id);
  }
  EXPECT_EQ(4u, long_ids.size());
}

// A device and the store's items, driven through the exports of either
// scheme as the service drives them.
class StoreSessionTest : public LocalStoreTest, public ::testing::WithParamInterface<bool> {
 protected:
  static constexpr uint64_t kPhone = 0x00001A2B3C4D5E6Full;
  bool syncml() const { return GetParam(); }

  // Every folder holds an item named "same", as vdir programs and copied
  // files make them.
  void WriteSameStemEverywhere(const std::string& summary) {
    WriteText(Root() / "contacts" / "same.vcf",
              "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nN:;Ann;;;\r\nUID:same\r\nEND:VCARD\r\n");
    WriteText(Root() / "calendar" / "same.ics",
              "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:same\r\n"
              "DTSTAMP:20260101T000000Z\r\nDTSTART:20260105T120000Z\r\nSUMMARY:" +
                  summary + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    WriteText(Root() / "notes" / "same.txt", "Buy milk");
    WriteText(Root() / "mail" / "inbox" / "cur" / "same:2,S", "From: a@example.org\r\nSubject: Hi\r\n\r\nbody\r\n");
  }

  void Start() {
    if (syncml()) {
      ASSERT_EQ(1, SyncMLResetCounters());
      ASSERT_EQ(1, SyncMLSetBDAddrLastSyncAnchor(kPhone, MakeAnchor(1, u"20260102T000000Z")));
      ASSERT_EQ(1, SyncMLSaveDBFiles(kPhone));
    } else {
      ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"phone"), W(u"pb")));
    }
  }
  void Finish() {
    if (!syncml()) return;
    ASSERT_EQ(1, SyncMLSetSyncComplete(MakeAnchor(1, u"20260102T000000Z")));
    SyncMLDeleteTempFiles();
  }

  // The entry IDs of the new items of each type; the device answers each
  // with the LUID "L<type><n>".
  std::vector<std::string> SendNew(int type) {
    std::vector<std::string> sent;
    ZS_WCHAR entry[260], path[260];
    const auto t = static_cast<_SYNC_OBJECT_TYPE>(type);
    while ((syncml() ? SyncMLGetNewRecord(t, entry, path) : GetNewRecord(t, entry, path)) == 1) {
      const std::u16string luid = u"L" + std::u16string(1, char16_t(u'0' + type)) + char16_t(u'0' + sent.size());
      EXPECT_EQ(1, syncml() ? SyncMLUpdateEntryIDLUIDMapping(t, entry, W(luid))
                            : UpdateLUIDofPrevGetNewRecord(t, entry, W(luid)));
      sent.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(entry)));
    }
    return sent;
  }
  // The LUIDs the device is told of as changed, or as deleted.
  std::vector<std::string> Reported(int type, bool deletions) {
    std::vector<std::string> luids;
    ZS_WCHAR entry[260], luid[260], path[260];
    int32_t hard = 0;
    const auto t = static_cast<_SYNC_OBJECT_TYPE>(type);
    for (;;) {
      int got = deletions ? (syncml() ? SyncMLGetDeletedRecord(t, entry, luid, &hard) : GetDeletedRecord(t, luid, &hard))
                          : (syncml() ? SyncMLGetModifiedRecord(t, entry, luid, path)
                                      : GetModifiedRecord(t, entry, luid, path));
      if (got != 1) return luids;
      luids.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(luid)));
    }
  }
  // What a session moves of each type: new entry IDs, changed and deleted
  // LUIDs.
  std::string Session() {
    std::string moved;
    Start();
    for (int type = 0; type < 4; ++type) {
      for (const std::string& id : SendNew(type)) moved += " new " + id;
      for (const std::string& luid : Reported(type, false)) moved += " changed " + luid;
      for (const std::string& luid : Reported(type, true)) moved += " deleted " + luid;
    }
    Finish();
    return moved;
  }
};

TEST_P(StoreSessionTest, ItemsOfTheSameNameInEveryFolderAreSeparateItems) {
  WriteSameStemEverywhere("Lunch");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  EXPECT_EQ(" new mail/same new notes/same new contacts/same new calendar/same", Session());

  // On the PC the event changes and the note goes: each is reported for its
  // own type only, under the LUID its type's item got.
  WriteSameStemEverywhere("Dinner");
  fs::remove(Root() / "notes" / "same.txt");
  local::ScanResult scan = local::ScanStoreChanges();
  EXPECT_EQ(1u, scan.changed);
  EXPECT_EQ(1u, scan.deleted);
  EXPECT_EQ(" deleted L10 changed L30", Session());
  EXPECT_EQ("", Session());
}

// The store once named items by their bare file names: the records a device
// already holds must keep naming the same items, whether the scanner or the
// first export meets them first.
TEST_P(StoreSessionTest, RecordsOfTheEarlierNamingKeepNamingTheirItems) {
  WriteSameStemEverywhere("Lunch");
  ASSERT_TRUE(local::ScanStoreChanges().ok);
  // The state and the bookkeeping files as the earlier store left them.
  std::string state = ReadText(InSync("LocalStoreState.txt"));
  state.replace(0, state.find('\n'), "zelsync local store state 1");
  WriteText(InSync("LocalStoreState.txt"), state);
  const Bytes contact = DeviceRecordBytes(2, u"same", u"L20"), event = DeviceRecordBytes(3, u"same", u"L30");
  WriteBytes(InSync("phone_pb.DAT"), Concat({Bytes{1, 0, 0, 0}, contact, event}));
  WriteBytes(InSync("1a2b3c4d5e6f_SyncMLDB.DAT"), Concat({AnchorBytes(1, u"20260102T000000Z"), contact, event}));
  WriteBytes(InSync("SyncModificationLog.DAT"), LogRecordBytes(3, 0, u"same"));
  WriteBytes(InSync("SyncMLModificationLog.DAT"), SyncMLLogRecordBytes(3, 0, u"same", u"20260103T000000Z"));

  if (syncml()) {
    ASSERT_TRUE(local::ScanStoreChanges().ok);
  }  // else the first export carries over
  Start();
  EXPECT_TRUE(SendNew(SYNC_OBJECT_CONTACT).empty());
  EXPECT_TRUE(SendNew(SYNC_OBJECT_CALENDAR).empty());
  EXPECT_EQ(std::vector<std::string>{"L30"}, Reported(SYNC_OBJECT_CALENDAR, false));
  Finish();
  const Bytes tagged_contact = DeviceRecordBytes(2, u"contacts/same", u"L20"),
              tagged_event = DeviceRecordBytes(3, u"calendar/same", u"L30");
  const Bytes& database = syncml() ? ReadBytes(InSync("1a2b3c4d5e6f_SyncMLDB.DAT")) : ReadBytes(InSync("phone_pb.DAT"));
  EXPECT_EQ(Concat({tagged_contact, tagged_event}),
            Bytes(database.end() - 2 * tagged_contact.size(), database.end()));
  EXPECT_EQ(0u, ReadText(InSync("LocalStoreState.txt")).find("zelsync local store state 2\n"));
}

INSTANTIATE_TEST_SUITE_P(BothSchemes, StoreSessionTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "SyncML" : "Irmc"; });

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
