// The local item store with real programs from Debian: khard, khal,
// python-vobject and Python's mailbox and email modules read what the store
// writes, and the store reads what Python's mailbox writes. Each test skips
// when its program is missing.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "local/item_texts.h"
#include "support/local_store_fixture.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;

bool Installed(const std::string& program) {
  return system((program + " >/dev/null 2>&1").c_str()) == 0;
}

class InteropTest : public LocalStoreTest {
 protected:
  // Writes `text` to the file `name` in the scratch folder; its path, quoted
  // for the shell.
  std::string Write(const std::string& name, const std::string& text) {
    WriteText(scratch_.path() / name, text);
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
    EXPECT_EQ(std::string::npos, out.find("arning")) << out;
    return out;
  }

  // Saves each text, opened as a shared item, into the store; and a new
  // item made from `fields` and then edited with `edit`, as a person does
  // with the host's store commands.
  void Save(const std::vector<std::string>& texts, const char* name, local::FolderKind kind,
            const local::ItemFields& fields, const local::ItemFields& edit) {
    for (const std::string& text : texts) {
      auto item = Open(text, name);
      ASSERT_NE(nullptr, item) << text;
      auto contact = item->QueryContact();
      auto appointment = item->QueryAppointment();
      ASSERT_TRUE(contact ? contact->Save() : appointment && appointment->Save()) << text;
    }
    std::string made, edited, error;
    ASSERT_TRUE(local::NewItemText(kind, fields, "made", &made, &error) &&
                local::EditedItemText(kind, made, edit, "made", &edited, &error))
        << error;
    WriteText(
        Root() / (kind == local::FolderKind::kContacts ? "contacts/made.vcf" : "calendar/made.ics"),
        edited);
  }

  void SaveCards() {
    local::ItemFields fields, edit;
    fields.name = "Dora D\xC3\xBCrr", fields.phone = "+49 1", fields.email = "d@example.org";
    edit.phone = "+49 2";
    Save(kCards, "in.vcf", local::FolderKind::kContacts, fields, edit);
  }

  // Cards in the quirks of phones and address-book programs.
  const std::vector<std::string> kCards = {
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3="
      "BCrgen\r\n"
      "TEL;CELL:+491234\r\nEND:VCARD\r\n",
      "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Lee;Ann;;;\r\r\nFN:Ann Lee\r\r\nEND:VCARD\r\r\n",
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bo Berg\r\nN;SORT-AS=\"Berg,Bo\":Berg;Bo;;;\r\n"
      "ADR;GEO=\"geo:48.2,16.3\";TYPE=work:;;Main St "
      "1;Wien;;;AT\r\nTEL;VALUE=uri:tel:+1-555-555-5555;ext=5555\r\n"
      "END:VCARD\r\n",
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cy \xC3\xA9" + std::string(75, 'x') +
          " end\r\nEND:VCARD\r\n",
  };
};

TEST_F(InteropTest, KhardReadsTheContactsTheStoreWrote) {
  if (!Installed("command -v khard")) GTEST_SKIP() << "khard is not installed";
  SaveCards();
  const std::string config = Write(
      "khard.conf",
      "[addressbooks]\n[[store]]\npath = " + (Root() / "contacts").string() +
          "\n\n[general]\ndebug = no\ndefault_action = list\neditor = /bin/true\nmerge_editor = "
          "/bin/true\n\n[contact table]\ndisplay = first_name\n");
  const std::string out = Run("khard -c " + config + " list");
  for (const char* name :
       {"J\xC3\xBCrgen M\xC3\xBCller", "Ann Lee", "Bo Berg", "Cy \xC3\xA9x", "Dora D\xC3\xBCrr"}) {
    EXPECT_NE(std::string::npos, out.find(name)) << name << "\n" << out;
  }
}

// The 2.1 copies the phone gets are read whole by python-vobject.
TEST_F(InteropTest, VobjectReadsTheCardsThePhoneGets) {
  if (!Installed("/usr/bin/python3 -c 'import vobject'"))
    GTEST_SKIP() << "python3-vobject is not installed";
  SaveCards();
  std::string files;
  for (auto& item : All(outlook::kFolderContacts)) {
    const fs::path path = scratch_.path() / ("phone" + std::to_string(files.size()) + ".vcf");
    ASSERT_TRUE(item->QueryContact()->SaveAs(ToWide(path), outlook::kSaveAsVCard));
    files += " '" + path.string() + "'";
  }
  const std::string script =
      Write("cards.py",
            "import sys, vobject\n"
            "for name in sys.argv[1:]:\n"
            "    with open(name, newline='') as f:\n"
            "        for card in vobject.readComponents(f.read(), allowQP=True):\n"
            "            print(card.fn.value, '|', ','.join(t.value for t in "
            "card.contents.get('tel', [])))\n");
  const std::string cards = Run("/usr/bin/python3 " + script + files);
  EXPECT_EQ(5u, Occurrences(cards, "\n")) << cards;
  for (const char* line :
       {"J\xC3\xBCrgen M\xC3\xBCller | +491234", "Ann Lee |", "Bo Berg | +1-555-555-5555;ext=5555",
        "x end |", "Dora D\xC3\xBCrr | +49 2\n"}) {
    EXPECT_NE(std::string::npos, cards.find(line)) << line << "\n" << cards;
  }
}

TEST_F(InteropTest, KhalListsTheEventsTheStoreWrote) {
  if (!Installed("command -v khal")) GTEST_SKIP() << "khal is not installed";
  local::ItemFields fields, edit;
  fields.summary = "Zahnarzt; 1", fields.start = "20240301T090000", fields.end = "20240301T100000";
  edit.summary = "Zahnarzt, neu", edit.start = "20240301T093000";
  Save(
      {// a phone's event and its alarms
       "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Friseur\r\nDTSTART:"
       "20240301T140000Z\r\n"
       "DALARM:20240301T134500Z;PT5M;2;Friseur\r\nAALARM:20240301T134500Z;;0;\r\n"
       "MALARM:20240301T130000Z;;0;ann@example.org;Friseur\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
       // a whole day
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//"
       "EN\r\nBEGIN:VEVENT\r\nUID:x1\r\nDTSTAMP:20240101T000000Z\r\n"
       "SUMMARY:Urlaub\r\nDTSTART;VALUE=DATE:20240302\r\nDTEND;VALUE=DATE:20240303\r\nEND:"
       "VEVENT\r\nEND:VCALENDAR\r\n",
       // a series with an edited and a cancelled occurrence
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\nUID:s1\r\n"
       "DTSTAMP:20240101T000000Z\r\nRECURRENCE-ID:20240302T080000Z\r\nDTSTART:20240302T090000Z\r\n"
       "SUMMARY:Standup "
       "moved\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:s1\r\nDTSTAMP:20240101T000000Z\r\n"
       "DTSTART:20240301T080000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20240303T080000Z\r\n"
       "SUMMARY:Standup\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"},
      "in.ics", local::FolderKind::kCalendar, fields, edit);
  const std::string config = Write(
      "khal.conf",
      "[calendars]\n[[store]]\npath = " + (Root() / "calendar").string() +
          "\n\n[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
          "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = "
          "UTC\n"
          "default_timezone = UTC\n\n[sqlite]\npath = " +
          (scratch_.path() / "khal.db").string() + "\n");
  const std::string out = Run("khal -c " + config + " list 2024-03-01 3d");
  for (const char* text : {"09:30-10:00 Zahnarzt, neu", "Urlaub", "Friseur", "Standup moved"}) {
    EXPECT_NE(std::string::npos, out.find(text)) << text << "\n" << out;
  }
  EXPECT_EQ(2u, Occurrences(out, "Standup"))
      << out;  // the series, less its moved and its cancelled day
}

TEST_F(InteropTest, PythonReadsTheMailAndTheStoreReadsPythonsMail) {
  if (!Installed("command -v python3")) GTEST_SKIP() << "python3 is not installed";
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

  int found = 0;
  for (auto& listed : All(outlook::kFolderInbox)) {
    outlook::OptString subject, body;
    bool unread = false;
    ASSERT_TRUE(listed->QueryMail()->Subject(&subject));
    if (subject != u"from python") continue;
    ++found;
    ASSERT_TRUE(listed->QueryMail()->UnRead(&unread) && listed->QueryMail()->HTMLBody(&body));
    EXPECT_TRUE(unread);  // delivered to new/
    EXPECT_NE(WString::npos, body->find(u"plain text"));
  }
  EXPECT_EQ(1, found);
  EXPECT_EQ(2u, All(outlook::kFolderInbox).size());
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
