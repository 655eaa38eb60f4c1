// The vMessage writer: byte images with and without attachments, the whole
// file or none, attachment names that must not leave the temporary folder,
// and the temporary folder left clean.
#include <gtest/gtest.h>

#include "formats/attachment_name.h"
#include "formats/vmessage.h"
#include "formats_test_support.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace formats {
namespace {

using testing::AttachmentData;
using testing::FakeOutlook;
using testing::MailData;

const std::string kHead =
    "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-STATUS:UNREAD\nX-IRMC-TYPE:MSG\nX-IRMC-LUID:LUID1\n"
    "X-BT-FOLDER:INBOX\nBEGIN:VENV\nBEGIN:VBODY\nFrom:Ann\nTo:bob@example.com\nCC:\nSubject:Hello\n"
    "Date:3944850000000000000\nImportance:2\n";
const std::string kHtmlPart = kHtmlHeader + "\n<html>Hi=20there</html>\n";

MailData Hello(std::vector<AttachmentData> attachments = {}) {
  return MailData{.sender_name = u"Ann", .to = u"bob@example.com", .cc = u"", .subject = u"Hello",
                  .sent_on = 39448.5, .importance = 2, .html_body = u"<html>Hi there</html>",
                  .unread = true, .attachments = std::move(attachments)};
}

class VMessageWriterTest : public testing::FormatsTest {
 protected:
  // Writes the mail as "mail.vmg" in the temporary folder and returns the
  // file; "(none)" when the writer reported a failure, which leaves no file.
  std::string WriteMail(MailData data, const WString& luid = u"LUID1") {
    const WString path = TempFolder() + u"mail.vmg";
    if (WriteMailAsVMessage(fake_.NewMail(std::move(data)), &path, TempFolder(), luid))
      return ReadText(Temp() / "mail.vmg");
    EXPECT_FALSE(testing::Exists(Temp() / "mail.vmg"));
    return "(none)";
  }
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()); }

  FakeOutlook fake_;
};

// Without attachments, or while the setting is off, the mail is one part.
TEST_F(VMessageWriterTest, ByteImagesWithAndWithoutAttachments) {
  const std::vector<AttachmentData> two = {{.file_name = u"a.txt", .bytes = kLine54},
                                           {.file_name = u"b.bin", .bytes = std::string("\0\xff\x10", 3)}};
  EXPECT_EQ(kHead + kHtmlPart + kTail, WriteMail(Hello(two)));
  env_.set_mail_attachment(1);
  EXPECT_EQ(kHead + kHtmlPart + kTail, WriteMail(Hello()));
  EXPECT_EQ(kHead + kPreamble + kHtmlPart + Part("a.txt", kLine54Encoded) + Part("b.bin", "AP8Q") + kClose + kTail,
            WriteMail(Hello(two)));
  // The saved copies are gone; only the vMessage is left. The LUID is cut
  // to 259 bytes, never inside a character.
  EXPECT_EQ(std::set<std::string>{"mail.vmg"}, TempFiles());
  EXPECT_NE(std::string::npos, WriteMail(Hello(), WString(258, u'x') + u"\u00e9")
                                   .find("\nX-IRMC-LUID:" + std::string(258, 'x') + "\nX-BT-FOLDER:"));
}

// One field of the mail and the line it gives: a text the file holds, and
// one it lacks.
TEST_F(VMessageWriterTest, WritesEachLine) {
  const struct {
    std::function<void(MailData*)> change;
    std::string present, absent;
  } cases[] = {
      {[](MailData* m) { m->sender_name = std::nullopt, m->sent_on_behalf_of_name = u"Boss"; }, "\nFrom:Boss\n", ""},
      {[](MailData* m) { m->sender_name = u"", m->sent_on_behalf_of_name = u"Boss"; }, "\nFrom:\n", "Boss"},
      {[](MailData* m) { m->unread = false; }, "\nX-IRMC-STATUS:READ\n", "UNREAD"},
      {[](MailData* m) { m->importance = 0; }, "\nImportance:0\nContent-Type", ""},
      {[](MailData* m) { m->importance = 10; }, "\nDate:3944850000000000000\nContent-Type", "Importance"},
      {[](MailData* m) { m->sent_on = 0; }, "\nDate:\nImportance:2\n", ""},
      {[](MailData* m) { m->subject = u"Caf\u00e9 \u20ac"; }, "\nSubject:Caf\xc3\xa9 \xe2\x82\xac\n", ""},
      {[](MailData* m) { m->html_body = u"<p>a b\r\n\u00e9</p>"; }, "\n\n<p>a=20b=0D=0A=C3=A9</p>\nEND:VBODY", ""},
      {[](MailData* m) { m->html_body = std::nullopt; }, "quoted-printable\n\n\nEND:VBODY\n", ""}};
  for (const auto& c : cases) {
    MailData data = Hello();
    c.change(&data);
    const std::string file = WriteMail(std::move(data));
    EXPECT_NE(std::string::npos, file.find(c.present)) << file;
    EXPECT_TRUE(c.absent.empty() || file.find(c.absent) == std::string::npos) << c.absent << " in " << file;
  }
}

// A failed read of any property but Importance, or a failed write, is
// reported and leaves no file; of Importance, a file without that line.
TEST_F(VMessageWriterTest, FailedReadsAndWrites) {
  for (const char* read : {"MailItem.SenderName", "MailItem.SentOnBehalfOfName", "MailItem.To", "MailItem.CC",
                           "MailItem.Subject", "MailItem.SentOn", "MailItem.HTMLBody", "MailItem.UnRead"}) {
    fake_.ClearFailures();
    fake_.FailOn(read);
    MailData data = Hello();
    data.sender_name = std::nullopt;  // so the on-behalf name is read too
    EXPECT_EQ("(none)", WriteMail(std::move(data))) << read;
  }
  fake_.ClearFailures();
  env_.set_mail_attachment(1);
  for (int nth : {1, 3, 5}) {
    env_.FailNth("Write", nth);
    EXPECT_EQ("(none)", WriteMail(Hello({{.file_name = u"a.txt", .bytes = "A"}}))) << nth;
  }
  env_.FailNth("Sync", 1);
  EXPECT_EQ("(none)", WriteMail(Hello()));
  EXPECT_TRUE(TempFiles().empty());
  fake_.FailOn("MailItem.Importance");
  const std::string file = WriteMail(Hello());
  EXPECT_EQ(std::string::npos, file.find("Importance"));
  EXPECT_NE(std::string::npos, file.find("END:VMSG\n"));
}

// Attachment names come from mails and received files: only the last
// component reaches a path, and what is no file name gives none.
TEST(AttachmentFileName, KeepsOnlyAPlainLastComponent) {
  const std::pair<WString, std::optional<WString>> cases[] = {
      {u"..\\..\\x.dll", u"x.dll"}, {u"/etc/passwd", u"passwd"}, {u"C:evil.txt", u"evil.txt"},
      {u"", std::nullopt}, {u"a/..", std::nullopt}, {u"dir\\", std::nullopt}, {u"com1.txt", std::nullopt},
      {u"a\nContent-Type:x", std::nullopt}, {u"ab:stream", std::nullopt}};
  for (const auto& [name, file_name] : cases) EXPECT_EQ(file_name, AttachmentFileName(name));
}

// An attachment without a usable name, whose path would be too long or the
// message's own, or that cannot be had or saved, is left out; the next one
// is written all the same, and no saved copy stays behind.
TEST_F(VMessageWriterTest, AttachmentsStayInTheTemporaryFolderOrAreLeftOut) {
  env_.set_mail_attachment(1);
  const struct {
    WString name;
    std::string saved_as;    // the file it is saved to; empty: none
    std::string fault = "";  // a call that fails for it, leaving it out
  } cases[] = {{u"..\\x.dll", "x.dll"},
               {u"Caf\u00e9.txt", "Caf\xc3\xa9.txt"},
               {u"com1.txt", ""},
               {WString(300, u'n'), ""},
               {u"MAIL.VMG", ""},
               {u"a.txt", "a.txt", "Attachment.SaveAsFile"},
               {u"a.txt", "", "Attachment.FileName"},
               {u"a.txt", "", "Attachments.Item"}};
  for (const auto& c : cases) {
    fake_.ClearCalls();
    fake_.ClearFailures();
    if (!c.fault.empty()) fake_.FailOn(c.fault, 1);
    const std::string file =
        WriteMail(Hello({{.file_name = c.name, .bytes = "ABC"}, {.file_name = u"next.txt", .bytes = "A"}}));
    const auto saves = fake_.Calls("Attachment.SaveAsFile");
    ASSERT_EQ(c.saved_as.empty() ? 1u : 2u, saves.size());
    if (!c.saved_as.empty()) {
      EXPECT_EQ(Utf16ToUtf8(TempFolder()) + c.saved_as, saves[0].args[0]);
    }
    const std::string part = c.saved_as.empty() || !c.fault.empty() ? "" : Part(c.saved_as, "QUJD");
    EXPECT_EQ(kHead + kPreamble + kHtmlPart + part + Part("next.txt", "QQ==") + kClose + kTail,
              file);
    EXPECT_EQ(std::set<std::string>{"mail.vmg"}, TempFiles());
    EXPECT_EQ((std::set<std::string>{"appdata", "temp"}), TempFiles(scratch_.path()));
  }
  // Without a path nothing is written, and no saved copy stays behind.
  std::filesystem::remove(Temp() / "mail.vmg");
  EXPECT_FALSE(WriteMailAsVMessage(fake_.NewMail(Hello({{.file_name = u"a.txt", .bytes = "A"}})), nullptr,
                                   TempFolder(), u"L"));
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
