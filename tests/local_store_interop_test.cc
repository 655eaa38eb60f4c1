// The local item store with real programs from Debian: khard, khal and
// python-vobject read the contacts and events the store writes, and
// Python's mailbox reads its mail and writes mail the store then reads. A
// reader that is not installed is skipped.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "local/item_texts.h"
#include "support/local_store_fixture.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;

// A program and its input (a configuration or a script, "{scratch}/input"),
// both with the store's folder for "{store}" and the scratch folder for
// "{scratch}" (where "phone" holds the phone's 2.1 copies of the cards).
// Texts its output holds and how often, and a line the store's inbox
// listing holds afterwards.
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
     "[addressbooks]\n[[store]]\npath = {store}/contacts\n\n[general]\ndebug = no\n"
     "default_action = list\neditor = /bin/true\nmerge_editor = /bin/true\n\n"
     "[contact table]\ndisplay = first_name\n",
     {{"J\xC3\xBCrgen M\xC3\xBCller", 1}, {"Ann Lee", 1}, {"Bo Berg", 1}, {"Cy \xC3\xA9x", 1},
      {"Dora D\xC3\xBCrr", 1}}},
    // The 2.1 copies the phone gets are read whole.
    {"python_vobject", "/usr/bin/python3 -c 'import vobject'", "/usr/bin/python3 {scratch}/input {scratch}/phone",
     "import glob, sys, vobject\nfor name in glob.glob(sys.argv[1] + '/*.vcf'):\n"
     "    with open(name, newline='') as f:\n"
     "        for card in vobject.readComponents(f.read(), allowQP=True):\n"
     "            tel = card.contents.get('tel', [])\n"
     "            print(card.fn.value, '|', ','.join(t.value for t in tel))\n",
     {{"\n", 5}, {"J\xC3\xBCrgen M\xC3\xBCller | +491234\n", 1}, {"Ann Lee |", 1},
      {"Bo Berg | +1-555-555-5555;ext=5555\n", 1}, {"x end |", 1},
      {"Dora D\xC3\xBCrr | +49 2\n", 1}}},
    // The series shows less its moved and its cancelled day.
    {"khal", "command -v khal", "khal -c {scratch}/input list 2024-03-01 3d",
     "[calendars]\n[[store]]\npath = {store}/calendar\n\n[locale]\ntimeformat = %H:%M\n"
     "dateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
     "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = UTC\ndefault_timezone = UTC\n\n"
     "[sqlite]\npath = {scratch}/khal.db\n",
     {{"09:30-10:00 Zahnarzt, neu", 1}, {"Urlaub", 1}, {"Friseur", 1}, {"Standup", 2},
      {"Standup moved", 1}}},
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
  // Cards and calendars in the quirks of phones and programs, an item of
  // each made and then edited with the host's store commands, and a mail.
  void SetUp() override {
    LocalStoreTest::SetUp();
    if (system((std::string(GetParam().probe) + " >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << GetParam().name << " is not installed";
    const std::string ical =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\n";
    for (const std::string& text : std::vector<std::string>{
             "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;"
             "J=C3=BCrgen\r\nTEL;CELL:+491234\r\nEND:VCARD\r\n",
             "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Lee;Ann;;;\r\r\nFN:Ann Lee\r\r\nEND:VCARD\r\r\n",
             "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bo Berg\r\nN;SORT-AS=\"Berg,Bo\":Berg;Bo;;;\r\n"
             "ADR;GEO=\"geo:48.2,16.3\";TYPE=work:;;Main St 1;Wien;;;AT\r\n"
             "TEL;VALUE=uri:tel:+1-555-555-5555;ext=5555\r\nEND:VCARD\r\n",
             "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cy \xC3\xA9" + std::string(75, 'x') +
                 " end\r\nEND:VCARD\r\n",
             // a phone's event and its alarms
             "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Friseur\r\n"
             "DTSTART:20240301T140000Z\r\nDALARM:20240301T134500Z;PT5M;2;Friseur\r\n"
             "AALARM:20240301T134500Z;;0;\r\nMALARM:20240301T130000Z;;0;ann@example.org;Friseur\r\n"
             "END:VEVENT\r\nEND:VCALENDAR\r\n",
             ical + "UID:x1\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Urlaub\r\n"
                    "DTSTART;VALUE=DATE:20240302\r\nDTEND;VALUE=DATE:20240303\r\nEND:VEVENT\r\n"
                    "END:VCALENDAR\r\n",
             // a series with a moved and a cancelled occurrence
             ical + "UID:s1\r\nDTSTAMP:20240101T000000Z\r\nRECURRENCE-ID:20240302T080000Z\r\n"
                    "DTSTART:20240302T090000Z\r\nSUMMARY:Standup moved\r\nEND:VEVENT\r\n"
                    "BEGIN:VEVENT\r\nUID:s1\r\nDTSTAMP:20240101T000000Z\r\n"
                    "DTSTART:20240301T080000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\n"
                    "EXDATE:20240303T080000Z\r\nSUMMARY:Standup\r\nEND:VEVENT\r\n"
                    "END:VCALENDAR\r\n"}) {
      Save(text, text.find("VCARD") != std::string::npos ? "in.vcf" : "in.ics");
    }
    // Made and then edited as the host's store commands do: an edit changes
    // only what it names.
    local::ItemFields card, card_edit, event, event_edit;
    card.name = "Dora D\xC3\xBCrr", card.phone = "+49 1", card.email = "d@example.org";
    card_edit.phone = "+49 2";
    event.summary = "Zahnarzt; 1", event.start = "20240301T090000", event.end = "20240301T100000";
    event_edit.summary = "Zahnarzt, neu", event_edit.start = "20240301T093000";
    auto make = [&](local::FolderKind kind, const local::ItemFields& fields,
                    const local::ItemFields& edit, const char* file) {
      std::string made, edited, error;
      ASSERT_TRUE(local::NewItemText(kind, fields, "made", &made, &error) &&
                  local::EditedItemText(kind, made, edit, "made", &edited, &error))
          << error;
      WriteText(Root() / file, edited);
    };
    make(local::FolderKind::kContacts, card, card_edit, "contacts/made.vcf");
    make(local::FolderKind::kCalendar, event, event_edit, "calendar/made.ics");
    fs::create_directory(scratch_.path() / "phone");
    for (auto& item : All(outlook::kFolderContacts)) {
      const fs::path copy = scratch_.path() / "phone" / (StemOf(IdOf(*item)) + ".vcf");
      ASSERT_TRUE(item->QueryContact()->SaveAs(ToWide(copy), outlook::kSaveAsVCard));
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

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
