// The vMessage writer: byte images with and without attachments, the reads
// that stop it, attachment names that must not leave the temporary folder,
// and the temporary folder left clean.
#include <gtest/gtest.h>

#include "formats/vmessage.h"
#include "formats_test_support.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace formats {
namespace {

using testing::AttachmentData;
using testing::FakeOutlook;
using testing::MailData;

const std::string kLine54 = "The quick brown fox jumps over the lazy dog. 012345678";
const std::string kLine54Encoded = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4gMDEyMzQ1Njc4";

const std::string kHead =
    "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-STATUS:UNREAD\nX-IRMC-TYPE:MSG\nX-IRMC-LUID:LUID1\n"
    "X-BT-FOLDER:INBOX\nBEGIN:VENV\nBEGIN:VBODY\nFrom:Ann\nTo:bob@example.com\nCC:\nSubject:Hello\n"
    "Date:3944850000000000000\nImportance:2\n";
const std::string kMultipartPreamble =
    "Content-Type:multipart/mixed; boundary=\"----=_NextPart_001\"\n\n"
    "This is a multi-part message in MIME format.\n\n\n------=_NextPart_001\r\n";
const std::string kHtmlPart =
    "Content-Type:text/html; charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable\n\n"
    "<html>Hi=20there</html>\n";
const std::string kTail = "END:VBODY\nEND:VENV\nEND:VMSG\n";

std::string PartHeader(const std::string& name) {
  return "------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"" + name +
         "\"\nContent-Transfer-Encoding:base64\n\n\n";
}

MailData Hello(std::vector<AttachmentData> attachments = {}) {
  return MailData{.sender_name = u"Ann",
                  .to = u"bob@example.com",
                  .cc = u"",
                  .subject = u"Hello",
                  .sent_on = 39448.5,
                  .importance = 2,
                  .html_body = u"<html>Hi there</html>",
                  .unread = true,
                  .attachments = std::move(attachments)};
}

class VMessageWriterTest : public testing::FormatsTest {
 protected:
  // Writes the mail as "mail.vmg" in the temporary folder and returns the file.
  std::string WriteMail(MailData data, const WString& luid = u"LUID1") {
    const WString path = MessagePath();
    WriteMailAsVMessage(fake_.NewMail(std::move(data)), &path, TempFolder(), 99, luid);
    return Read(Temp() / "mail.vmg");
  }
  WString MessagePath() const { return TempFolder() + u"mail.vmg"; }
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects(); }

  FakeOutlook fake_;
};

TEST_F(VMessageWriterTest, MailWithoutAttachments) {
  EXPECT_EQ(kHead + kHtmlPart + kTail, WriteMail(Hello()));
}

TEST_F(VMessageWriterTest, AttachmentsStayOutWhileTheSettingIsOff) {
  EXPECT_EQ(kHead + kHtmlPart + kTail, WriteMail(Hello({{.file_name = u"a.txt", .bytes = kLine54}})));
  EXPECT_EQ(0, fake_.Count("Attachment.SaveAsFile"));
}

TEST_F(VMessageWriterTest, MailWithTwoAttachments) {
  env_.set_mail_attachment(1);
  const std::string file = WriteMail(Hello({{.file_name = u"a.txt", .bytes = kLine54},
                                            {.file_name = u"b.bin", .bytes = std::string("\0\xff\x10", 3)}}));
  EXPECT_EQ(kHead + kMultipartPreamble + kHtmlPart + PartHeader("a.txt") + kLine54Encoded + "\n\n" +
                PartHeader("b.bin") + "AP8Q\n\n" + "------=_NextPart_001--\n" + kTail,
            file);
  // The saved copies are gone; only the vMessage is left.
  EXPECT_EQ(std::set<std::string>{"mail.vmg"}, TempFiles());
}

TEST_F(VMessageWriterTest, SettingOnWithoutAttachmentsWritesNoMultipart) {
  env_.set_mail_attachment(1);
  EXPECT_EQ(kHead + kHtmlPart + kTail, WriteMail(Hello()));
}

// One field of the mail and the line it gives.
struct LineCase {
  std::function<void(MailData*)> change;
  std::string present, absent;  // a text the file holds, and one it lacks
};

class VMessageLineTest : public VMessageWriterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(VMessageLineTest, WritesTheLine) {
  MailData data = Hello();
  GetParam().change(&data);
  const std::string file = WriteMail(std::move(data));
  EXPECT_NE(std::string::npos, file.find(GetParam().present)) << file;
  if (!GetParam().absent.empty()) {
    EXPECT_EQ(std::string::npos, file.find(GetParam().absent)) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, VMessageLineTest,
    ::testing::Values(
        LineCase{[](MailData* m) { m->sender_name = std::nullopt, m->sent_on_behalf_of_name = u"Boss"; },
                 "\nFrom:Boss\n", ""},
        LineCase{[](MailData* m) { m->sender_name = u"", m->sent_on_behalf_of_name = u"Boss"; }, "\nFrom:\n",
                 "Boss"},
        LineCase{[](MailData* m) { m->sender_name = std::nullopt; }, "\nFrom:\nTo:", ""},
        LineCase{[](MailData* m) { m->unread = false; }, "\nX-IRMC-STATUS:READ\n", "UNREAD"},
        LineCase{[](MailData* m) { m->importance = 0; }, "\nImportance:0\nContent-Type", ""},
        LineCase{[](MailData* m) { m->importance = 10; }, "\nDate:3944850000000000000\nContent-Type", "Importance"},
        LineCase{[](MailData* m) { m->importance = -1; }, "\nDate:3944850000000000000\nContent-Type", "Importance"},
        LineCase{[](MailData* m) { m->sent_on = 0; }, "\nDate:\nImportance:2\n", ""},
        LineCase{[](MailData* m) { m->subject = u"Caf\u00e9 \u20ac"; }, "\nSubject:Caf\xc3\xa9 \xe2\x82\xac\n", ""},
        LineCase{[](MailData* m) { m->html_body = u"<p>a b\r\n\u00e9</p>"; }, "\n\n<p>a=20b=0D=0A=C3=A9</p>\nEND:VBODY",
                 ""},
        LineCase{[](MailData* m) { m->html_body = std::nullopt; }, "quoted-printable\n\n\nEND:VBODY\n", ""}));

TEST_F(VMessageWriterTest, LuidIsCutTo259BytesOnACharacterBoundary) {
  const std::string file = WriteMail(Hello(), WString(258, u'x') + u"\u00e9\u00e9");
  EXPECT_NE(std::string::npos, file.find("\nX-IRMC-LUID:" + std::string(258, 'x') + "\nX-BT-FOLDER:"));
}

// A failed read of these gives no file at all.
class VMessageReadFailureTest : public VMessageWriterTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(VMessageReadFailureTest, GivesNoFile) {
  fake_.FailOn(GetParam());
  MailData data = Hello();
  data.sender_name = std::nullopt;  // so the on-behalf name is read too
  WriteMail(std::move(data));
  EXPECT_FALSE(testing::Exists(Temp() / "mail.vmg"));
}

INSTANTIATE_TEST_SUITE_P(Reads, VMessageReadFailureTest,
                         ::testing::Values("MailItem.SenderName", "MailItem.SentOnBehalfOfName", "MailItem.To",
                                           "MailItem.CC", "MailItem.Subject", "MailItem.SentOn",
                                           "MailItem.HTMLBody"));

TEST_F(VMessageWriterTest, FailedUnreadLeavesTwoLines) {
  fake_.FailOn("MailItem.UnRead");
  EXPECT_EQ("BEGIN:VMSG\nVERSION:1.1\n", WriteMail(Hello()));
}

TEST_F(VMessageWriterTest, FailedImportanceLeavesTheLineOut) {
  fake_.FailOn("MailItem.Importance");
  const std::string file = WriteMail(Hello());
  EXPECT_EQ(std::string::npos, file.find("Importance"));
  EXPECT_NE(std::string::npos, file.find("END:VMSG\n"));
}

// Attachment names come from the mail; only their last component reaches a
// path, and names that are no file name are left out.
struct NameCase {
  WString name;
  std::string saved_as;  // empty: the attachment is left out
};

class AttachmentNameTest : public VMessageWriterTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(AttachmentNameTest, StaysInTheTemporaryFolder) {
  env_.set_mail_attachment(1);
  const std::string file = WriteMail(
      Hello({{.file_name = GetParam().name, .bytes = "ABC"}, {.file_name = u"next.txt", .bytes = "A"}}));
  const auto saves = fake_.Calls("Attachment.SaveAsFile");
  if (GetParam().saved_as.empty()) {
    // Only the next attachment has a part.
    EXPECT_EQ(file.rfind("name=\""), file.find("name=\""));
    ASSERT_EQ(1u, saves.size());
  } else {
    EXPECT_NE(std::string::npos, file.find(PartHeader(GetParam().saved_as) + "QUJD\n\n")) << file;
    ASSERT_EQ(2u, saves.size());
    EXPECT_EQ(Utf16ToUtf8(TempFolder()) + GetParam().saved_as, saves[0].args[0]);
  }
  // The next attachment is written all the same.
  EXPECT_NE(std::string::npos, file.find(PartHeader("next.txt") + "QQ==\n\n------=_NextPart_001--\n"));
  EXPECT_EQ(std::set<std::string>{"mail.vmg"}, TempFiles());
  EXPECT_EQ((std::set<std::string>{"appdata", "temp"}), [&] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) names.insert(entry.path().filename().string());
    return names;
  }());
}

INSTANTIATE_TEST_SUITE_P(
    Names, AttachmentNameTest,
    ::testing::Values(NameCase{u"report.pdf", "report.pdf"}, NameCase{u"..\\..\\x.dll", "x.dll"},
                      NameCase{u"../../x.dll", "x.dll"}, NameCase{u"/etc/passwd", "passwd"},
                      NameCase{u"C:\\Windows\\evil.exe", "evil.exe"}, NameCase{u"C:evil.txt", "evil.txt"},
                      NameCase{u"Caf\u00e9.txt", "Caf\xc3\xa9.txt"}, NameCase{u"", ""}, NameCase{u"..", ""},
                      NameCase{u"dir\\", ""}, NameCase{u"a/..", ""}, NameCase{u"NUL", ""},
                      NameCase{u"com1.txt", ""}, NameCase{u"a\nContent-Type:x", ""}, NameCase{u"ab:stream", ""},
                      NameCase{u"a:stream", "stream"},
                      NameCase{WString(300, u'n'), ""}));

TEST_F(VMessageWriterTest, AttachmentsThatCannotBeSavedAreLeftOut) {
  env_.set_mail_attachment(1);
  fake_.FailOn("Attachment.SaveAsFile", testing::OnCall(1));
  fake_.FailOn("Attachment.FileName", testing::OnCall(2));
  fake_.FailOn("Attachments.Item", testing::WithArgs({"3"}));
  const std::string file = WriteMail(Hello({{.file_name = u"a.txt", .bytes = "A"},
                                            {.file_name = u"b.txt", .bytes = "B"},
                                            {.file_name = u"c.txt", .bytes = "C"},
                                            {.file_name = u"d.txt", .bytes = "ABC"}}));
  EXPECT_EQ(kHead + kMultipartPreamble + kHtmlPart + PartHeader("d.txt") + "QUJD\n\n------=_NextPart_001--\n" + kTail,
            file);
  EXPECT_EQ(std::set<std::string>{"mail.vmg"}, TempFiles());
}

TEST_F(VMessageWriterTest, AnAttachmentNamedLikeTheMessageIsLeftOut) {
  env_.set_mail_attachment(1);
  const std::string file = WriteMail(Hello({{.file_name = u"MAIL.VMG", .bytes = "overwrite"}}));
  EXPECT_EQ(0, fake_.Count("Attachment.SaveAsFile"));
  EXPECT_EQ(kHead + kMultipartPreamble + kHtmlPart + "------=_NextPart_001--\n" + kTail, file);
}

TEST_F(VMessageWriterTest, WithoutAPathAttachmentsLeaveNothingBehind) {
  env_.set_mail_attachment(1);
  WriteMailAsVMessage(fake_.NewMail(Hello({{.file_name = u"a.txt", .bytes = "A"}})), nullptr, TempFolder(), 0,
                      u"L");
  EXPECT_TRUE(TempFiles().empty());
}

#ifndef _WIN32
TEST_F(VMessageWriterTest, CoreutilsBase64DecodesTheAttachmentPart) {
  if (std::system("command -v base64 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no base64 command";
  env_.set_mail_attachment(1);
  std::string bytes(5000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 7);
  const std::string file = WriteMail(Hello({{.file_name = u"blob.bin", .bytes = bytes}}));
  const size_t start = file.find(PartHeader("blob.bin")) + PartHeader("blob.bin").size();
  const size_t end = file.find("\n------=_NextPart_001--");
  ASSERT_LT(start, end);
  Write(Path("part.b64"), file.substr(start, end - start));
  const std::string command = "base64 -d < '" + Path("part.b64").string() + "' > '" + Path("part.bin").string() + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(bytes, Read(Path("part.bin")));
}
#endif

}  // namespace
}  // namespace formats
}  // namespace zelsync
