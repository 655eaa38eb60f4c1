// The local item store with real programs from Debian: what the store
// writes is read by khard, khal and Python's mailbox and email modules, and
// what Python's mailbox writes is read by the store. Each test skips when
// its program is missing.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "commands.h"
#include "local/local_store.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

bool Installed(const std::string& program) {
  return system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZELSYNC_STORE", Root().c_str(), 1);
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
  }
  void TearDown() override { unsetenv("ZELSYNC_STORE"); }

  std::filesystem::path Root() const { return scratch_.path() / "store"; }

  // Writes `text` to the file `name` in the scratch folder; its path, quoted
  // for the shell.
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(scratch_.path() / name, std::ios::binary) << text;
    return "'" + (scratch_.path() / name).string() + "'";
  }

  // The output (its first MiB) of `command`, run with its home and data
  // folders in the scratch folder; the command must succeed.
  std::string Run(const std::string& command) {
    const std::string home = scratch_.path().string();
    const std::string line = "env HOME='" + home + "' XDG_CONFIG_HOME='" + home +
                             "/config' XDG_DATA_HOME='" + home + "/data' XDG_CACHE_HOME='" + home +
                             "/cache' LC_ALL=C.UTF-8 " + command + " 2>&1";
    std::string out;
    FILE* pipe = popen(line.c_str(), "r");
    EXPECT_NE(nullptr, pipe) << command;
    if (!pipe) return out;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      if (out.size() < (1u << 20)) out.append(buffer, got);  // the rest is drained
    }
    EXPECT_EQ(0, pclose(pipe)) << command << "\n" << out;
    return out;
  }

  // Opens `text` as the shared item `name` and saves it into the store.
  void SaveOpened(const std::string& text, const std::string& name) {
    Write(name, text);
    std::shared_ptr<outlook::Item> item;
    ASSERT_TRUE(session_->OpenSharedItem(ToWide(scratch_.path() / name), &item));
    auto contact = item->QueryContact();
    auto appointment = item->QueryAppointment();
    ASSERT_TRUE(contact ? contact->Save() : appointment && appointment->Save());
  }

  // The host's command line; its exit status, and what it printed in *out.
  int Host(std::vector<std::string> arguments, std::string* out = nullptr) {
    arguments.insert(arguments.begin(), "zelsync");
    std::ostringstream printed, errors;
    int status = zelsync_tool::Main(arguments, printed, errors);
    if (out) *out = printed.str();
    return status;
  }

  std::string KhardConfig() {
    return Write("khard.conf", "[addressbooks]\n[[store]]\npath = " + (Root() / "contacts").string() +
                                   "\n\n[general]\ndebug = no\ndefault_action = list\neditor = "
                                   "/bin/true\nmerge_editor = /bin/true\n\n[contact table]\n"
                                   "display = first_name\n");
  }
  std::string KhalConfig() {
    return Write("khal.conf", "[calendars]\n[[store]]\npath = " + (Root() / "calendar").string() +
                                  "\n\n[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n"
                                  "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
                                  "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = UTC\n"
                                  "default_timezone = UTC\n\n[sqlite]\npath = " +
                                  (scratch_.path() / "khal.db").string() + "\n");
  }

  ScratchFolder scratch_;
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

// Cards in the quirks of phones and address-book programs.
const char* const kQuirkyCards[] = {
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;"
    "J=C3=BCrgen\r\nTEL;CELL:+491234\r\nEND:VCARD\r\n",
    "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Lee;Ann;;;\r\r\nFN:Ann Lee\r\r\nEND:VCARD\r\r\n",
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bo Berg\r\nN;SORT-AS=\"Berg,Bo\":Berg;Bo;;;\r\n"
    "ADR;GEO=\"geo:48.2,16.3\";TYPE=work:;;Main St 1;Wien;;;AT\r\n"
    "TEL;VALUE=uri:tel:+1-555-555-5555;ext=5555\r\nEND:VCARD\r\n",
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cy \xC3\xA9xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    "xxxxxxxxxx end\r\nEND:VCARD\r\n",
};

TEST_F(InteropTest, KhardAndVobjectReadTheContactsTheStoreWrote) {
  if (!Installed("khard")) GTEST_SKIP() << "khard is not installed";
  for (const char* card : kQuirkyCards) SaveOpened(card, "in.vcf");
  const std::string out = Run("khard -c " + KhardConfig() + " list");
  for (const char* name : {"J\xC3\xBCrgen M\xC3\xBCller", "Ann Lee", "Bo Berg", "Cy \xC3\xA9x"}) {
    EXPECT_NE(std::string::npos, out.find(name)) << out;
  }

  // The 2.1 copies the phone gets are read whole by python-vobject.
  if (system("/usr/bin/python3 -c 'import vobject' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3-vobject is not installed";
  }
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  int32_t count = 0;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderContacts, &folder) && folder->GetItems(&items) &&
              items->Count(&count));
  ASSERT_EQ(4, count);
  std::string files;
  for (int32_t i = 1; i <= count; ++i) {
    std::shared_ptr<outlook::Item> item;
    const std::filesystem::path path = scratch_.path() / ("phone" + std::to_string(i) + ".vcf");
    ASSERT_TRUE(items->Item(i, &item) && item->QueryContact()->SaveAs(ToWide(path), outlook::kSaveAsVCard));
    files += " '" + path.string() + "'";
  }
  const std::string script = Write(
      "cards.py",
      "import sys, vobject\n"
      "for name in sys.argv[1:]:\n"
      "    with open(name, newline='') as f:\n"
      "        for card in vobject.readComponents(f.read(), allowQP=True):\n"
      "            print(card.fn.value, '|', ','.join(t.value for t in card.contents.get('tel', [])))\n");
  const std::string cards = Run("/usr/bin/python3 " + script + files);
  for (const char* line : {"J\xC3\xBCrgen M\xC3\xBCller | +491234", "Ann Lee |",
                           "Bo Berg | +1-555-555-5555;ext=5555", " end |"}) {
    EXPECT_NE(std::string::npos, cards.find(line)) << cards;
  }
}

TEST_F(InteropTest, KhalListsTheEventsTheStoreWrote) {
  if (!Installed("khal")) GTEST_SKIP() << "khal is not installed";
  SaveOpened(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Zahnarzt\r\n"
      "DTSTART:20240301T090000\r\nDTEND:20240301T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "phone.vcs");
  SaveOpened(
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\nUID:x1\r\n"
      "DTSTAMP:20240101T000000Z\r\nSUMMARY:Urlaub\r\nDTSTART;VALUE=DATE:20240302\r\n"
      "DTEND;VALUE=DATE:20240303\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "pc.ics");
  // Alarms of a phone, and a series with an edited occurrence.
  SaveOpened(
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Friseur\r\nDTSTART:20240301T140000Z\r\n"
      "DALARM:20240301T134500Z;PT5M;2;Friseur\r\nAALARM:20240301T134500Z;;0;\r\n"
      "MALARM:20240301T130000Z;;0;ann@example.org;Friseur\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "alarms.vcs");
  SaveOpened(
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\nUID:s1\r\n"
      "DTSTAMP:20240101T000000Z\r\nRECURRENCE-ID:20240302T080000Z\r\nDTSTART:20240302T090000Z\r\n"
      "SUMMARY:Standup moved\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:s1\r\nDTSTAMP:20240101T000000Z\r\n"
      "DTSTART:20240301T080000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20240303T080000Z\r\n"
      "SUMMARY:Standup\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      "series.ics");
  const std::string out = Run("khal -c " + KhalConfig() + " list 2024-03-01 3d");
  EXPECT_NE(std::string::npos, out.find("Zahnarzt")) << out;
  EXPECT_NE(std::string::npos, out.find("Urlaub")) << out;
  EXPECT_NE(std::string::npos, out.find("Friseur")) << out;
  EXPECT_NE(std::string::npos, out.find("Standup moved")) << out;
  EXPECT_EQ(2u, [&] {  // the series, less its moved and its cancelled day
    size_t n = 0;
    for (size_t at = 0; (at = out.find("Standup", at)) != std::string::npos; ++at) ++n;
    return n;
  }()) << out;
  EXPECT_EQ(std::string::npos, out.find("arning")) << out;
}

// `zelsync store add` and `edit` write what the store itself would write:
// khard and khal read it without a warning, and a listing shows decoded
// names.
TEST_F(InteropTest, KhardAndKhalReadWhatTheHostsStoreCommandsWrote) {
  if (!Installed("khard") || !Installed("khal")) GTEST_SKIP() << "khard or khal is not installed";
  std::string contact, event, listed;
  ASSERT_EQ(0, Host({"store", "add", "contacts", "--name", "J\xC3\xBCrgen M\xC3\xBCller", "--phone", "+49 1",
                     "--email", "j@example.org"},
                    &contact));
  contact.erase(contact.find('\n'));
  ASSERT_EQ(0, Host({"store", "edit", "contacts", contact, "--phone", "+49 2"}));
  ASSERT_EQ(0, Host({"store", "add", "calendar", "--summary", "Zahnarzt; 1", "--start", "20240301T090000", "--end",
                     "20240301T100000"},
                    &event));
  event.erase(event.find('\n'));
  ASSERT_EQ(0, Host({"store", "edit", "calendar", event, "--summary", "Zahnarzt, neu", "--start", "20240301T093000"}));
  ASSERT_EQ(0, Host({"store", "add", "calendar", "--summary", "Urlaub", "--start", "20240302"}));
  ASSERT_EQ(0, Host({"store", "add", "mail", "--from", "J\xC3\xBCrgen <j@example.org>", "--subject",
                     "Gr\xC3\xBC\xC3\x9F" "e"}));
  // Times the store cannot read are refused, and nothing is written.
  for (const char* start : {"2024-03-01", "20240230", "20240301T250000", "soon"}) {
    EXPECT_EQ(2, Host({"store", "add", "calendar", "--summary", "x", "--start", start})) << start;
  }
  EXPECT_EQ(2, Host({"store", "add", "calendar", "--summary", "no start"}));
  EXPECT_EQ(2, Host({"store", "edit", "calendar", event, "--end", "tomorrow"}));

  ASSERT_EQ(0, Host({"store", "list"}, &listed));
  for (const char* text : {"J\xC3\xBCrgen M\xC3\xBCller", "Zahnarzt, neu  (20240301T093000)",
                           "Gr\xC3\xBC\xC3\x9F" "e  (from J\xC3\xBCrgen <j@example.org>)"}) {
    EXPECT_NE(std::string::npos, listed.find(text)) << listed;
  }
  EXPECT_EQ(2u, [&] {
    size_t n = 0;
    for (size_t at = 0; (at = listed.find("calendar/", at)) != std::string::npos; ++at) ++n;
    return n;
  }()) << listed;
  std::string card;
  ASSERT_EQ(0, Host({"store", "show", "contacts", contact}, &card));
  EXPECT_NE(std::string::npos, card.find("TEL;TYPE=CELL:+49 2\r\n")) << card;
  EXPECT_EQ(std::filesystem::perms::owner_all,
            std::filesystem::status(Root() / "contacts").permissions() & std::filesystem::perms::all);

  const std::string cards = Run("khard -c " + KhardConfig() + " list");
  EXPECT_NE(std::string::npos, cards.find("J\xC3\xBCrgen M\xC3\xBCller")) << cards;
  const std::string events = Run("khal -c " + KhalConfig() + " list 2024-03-01 3d");
  EXPECT_NE(std::string::npos, events.find("09:30-10:00 Zahnarzt, neu")) << events;
  EXPECT_NE(std::string::npos, events.find("Urlaub")) << events;
  for (const std::string& out : {cards, events}) EXPECT_EQ(std::string::npos, out.find("arning")) << out;
}

TEST_F(InteropTest, PythonReadsTheMailAndTheStoreReadsPythonsMail) {
  if (!Installed("python3")) GTEST_SKIP() << "python3 is not installed";
  std::shared_ptr<outlook::Item> item;
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::MailItem> moved;
  ASSERT_TRUE(app_->CreateItem(outlook::kMailItem, &item));
  auto mail = item->QueryMail();
  ASSERT_TRUE(mail->PutSentOnBehalfOfName(u"Ann <ann@example.org>") &&
              mail->PutSubject(u"Gr\u00fc\u00dfe") && mail->PutHTMLBody(u"<p>Hallo</p>") &&
              mail->PutUnRead(false) && session_->GetDefaultFolder(outlook::kFolderInbox, &inbox) &&
              mail->Move(inbox, &moved));

  const std::string script = Write(
      "read.py",
      "import email.policy, mailbox, sys\n"
      "box = mailbox.Maildir(sys.argv[1], create=False)\n"
      "for key, msg in box.items():\n"
      "    parsed = email.message_from_bytes(box.get_bytes(key), policy=email.policy.default)\n"
      "    body = parsed.get_body(('html',)).get_content()\n"
      "    print(parsed['subject'], '|', parsed['from'].addresses[0].display_name, '|',\n"
      "          body.strip(), '|', msg.get_flags())\n"
      "new = mailbox.MaildirMessage()\n"
      "new['Subject'] = 'from python'\n"
      "new['From'] = 'Py <py@example.org>'\n"
      "new.set_payload('plain text')\n"
      "box.add(new)\n");
  const std::string out =
      Run("python3 " + script + " '" + (Root() / "mail" / "inbox").string() + "'");
  EXPECT_NE(std::string::npos, out.find("Gr\xC3\xBC\xC3\x9F"
                                        "e | Ann | <p>Hallo</p> | S"))
      << out;

  std::shared_ptr<outlook::Items> items;
  int32_t count = 0;
  ASSERT_TRUE(inbox->GetItems(&items) && items->Count(&count));
  ASSERT_EQ(2, count);
  int found = 0;
  for (int32_t i = 1; i <= count; ++i) {
    ASSERT_TRUE(items->Item(i, &item));
    outlook::OptString subject, body;
    bool unread = false;
    ASSERT_TRUE(item->QueryMail()->Subject(&subject));
    if (subject != u"from python") continue;
    ++found;
    ASSERT_TRUE(item->QueryMail()->UnRead(&unread) && item->QueryMail()->HTMLBody(&body));
    EXPECT_TRUE(unread);  // delivered to new/
    EXPECT_NE(WString::npos, body->find(u"plain text"));
  }
  EXPECT_EQ(1, found);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
