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
#include <string>

#include "outlook/local/local_store.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;

bool Installed(const std::string& program) {
  return system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns its standard output (bounded).
std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0 && out.size() < (1u << 20)) out.append(buffer, got);
  *status = pclose(pipe);
  return out;
}

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZELSYNC_STORE", (scratch_.path() / "store").c_str(), 1);
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
  }
  void TearDown() override { unsetenv("ZELSYNC_STORE"); }

  fs::path Root() const { return scratch_.path() / "store"; }
  std::string Env() const {
    std::string home = scratch_.path().string();
    return "env HOME='" + home + "' XDG_CONFIG_HOME='" + home + "/config' XDG_DATA_HOME='" + home +
           "/data' XDG_CACHE_HOME='" + home + "/cache' LC_ALL=C.UTF-8 ";
  }

  void SaveOpened(const std::string& text, const std::string& name, bool calendar) {
    fs::path path = scratch_.path() / name;
    std::ofstream(path, std::ios::binary) << text;
    std::shared_ptr<outlook::Item> item;
    ASSERT_TRUE(session_->OpenSharedItem(ToWide(path), &item));
    if (calendar) {
      ASSERT_TRUE(item->QueryAppointment()->Save());
    } else {
      ASSERT_TRUE(item->QueryContact()->Save());
    }
  }

  ScratchFolder scratch_;
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

TEST_F(InteropTest, KhardListsTheContactsTheStoreWrote) {
  if (!Installed("khard")) GTEST_SKIP() << "khard is not installed";
  SaveOpened("BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen\r\n"
             "TEL;CELL:+491234\r\nEND:VCARD\r\n",
             "phone.vcf", false);
  fs::path config = scratch_.path() / "khard.conf";
  std::ofstream(config) << "[addressbooks]\n[[store]]\npath = " << (Root() / "contacts").string()
                        << "\n\n[general]\ndebug = no\ndefault_action = list\neditor = /bin/true\n"
                        << "merge_editor = /bin/true\n\n[contact table]\ndisplay = first_name\n";
  int status = -1;
  std::string out = RunCommand(Env() + "khard -c '" + config.string() + "' list 2>&1", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("J\xC3\xBCrgen M\xC3\xBCller")) << out;
}

TEST_F(InteropTest, KhalListsTheEventsTheStoreWrote) {
  if (!Installed("khal")) GTEST_SKIP() << "khal is not installed";
  SaveOpened("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Zahnarzt\r\n"
             "DTSTART:20240301T090000\r\nDTEND:20240301T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
             "phone.vcs", true);
  SaveOpened("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\nUID:x1\r\n"
             "DTSTAMP:20240101T000000Z\r\nSUMMARY:Urlaub\r\nDTSTART;VALUE=DATE:20240302\r\n"
             "DTEND;VALUE=DATE:20240303\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
             "pc.ics", true);
  fs::path config = scratch_.path() / "khal.conf";
  std::ofstream(config) << "[calendars]\n[[store]]\npath = " << (Root() / "calendar").string()
                        << "\n\n[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n"
                        << "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
                        << "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = UTC\n"
                        << "default_timezone = UTC\n\n[sqlite]\npath = "
                        << (scratch_.path() / "khal.db").string() << "\n";
  int status = -1;
  std::string out = RunCommand(Env() + "khal -c '" + config.string() + "' list 2024-03-01 3d 2>&1", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("Zahnarzt")) << out;
  EXPECT_NE(std::string::npos, out.find("Urlaub")) << out;
}

TEST_F(InteropTest, PythonReadsTheMailAndTheStoreReadsPythonsMail) {
  if (!Installed("python3")) GTEST_SKIP() << "python3 is not installed";
  std::shared_ptr<outlook::Item> item;
  ASSERT_TRUE(app_->CreateItem(outlook::kMailItem, &item));
  auto mail = item->QueryMail();
  ASSERT_TRUE(mail->PutSentOnBehalfOfName(u"Ann <ann@example.org>"));
  ASSERT_TRUE(mail->PutSubject(u"Gr\u00fc\u00dfe"));
  ASSERT_TRUE(mail->PutHTMLBody(u"<p>Hallo</p>"));
  ASSERT_TRUE(mail->PutUnRead(false));
  std::shared_ptr<outlook::Folder> inbox;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderInbox, &inbox));
  std::shared_ptr<outlook::MailItem> moved;
  ASSERT_TRUE(mail->Move(inbox, &moved));

  fs::path script = scratch_.path() / "read.py";
  std::ofstream(script) << "import email.policy, mailbox, sys\n"
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
                           "box.add(new)\n";
  int status = -1;
  std::string out =
      RunCommand("python3 '" + script.string() + "' '" + (Root() / "mail" / "inbox").string() + "' 2>&1", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("Gr\xC3\xBC\xC3\x9F" "e | Ann | <p>Hallo</p> | S")) << out;

  std::shared_ptr<outlook::Items> items;
  ASSERT_TRUE(inbox->GetItems(&items));
  int32_t count = 0;
  ASSERT_TRUE(items->Count(&count));
  ASSERT_EQ(2, count);
  bool found = false;
  for (int32_t i = 1; i <= count; ++i) {
    std::shared_ptr<outlook::Item> it;
    ASSERT_TRUE(items->Item(i, &it));
    outlook::OptString subject, body;
    ASSERT_TRUE(it->QueryMail()->Subject(&subject));
    if (subject != u"from python") continue;
    found = true;
    bool unread = false;
    ASSERT_TRUE(it->QueryMail()->UnRead(&unread));
    EXPECT_TRUE(unread);  // delivered to new/
    ASSERT_TRUE(it->QueryMail()->HTMLBody(&body));
    EXPECT_NE(WString::npos, body->find(u"plain text"));
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
