// The vMessage reader: header keys found anywhere, the HTML body, the
// attachment parts, hostile files, and round trips through the writer.
#include <gtest/gtest.h>

#include <climits>

#include "formats/message_text.h"
#include "formats/vmessage.h"
#include "formats_test_support.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace formats {
namespace {

using testing::AttachmentData;
using testing::FakeOutlook;
using testing::MailData;

const std::string kHtmlHeader =
    "Content-Type:text/html; charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable\n";
const std::string kEnd = "END:VBODY\nEND:VENV\nEND:VMSG\n";
const std::string kPreamble =
    "Content-Type:multipart/mixed; boundary=\"----=_NextPart_001\"\n\n"
    "This is a multi-part message in MIME format.\n\n\n------=_NextPart_001\r\n";
const std::string kClose = "------=_NextPart_001--\n";
const std::string kLine54 = "The quick brown fox jumps over the lazy dog. 012345678";
const std::string kLine54Encoded = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4gMDEyMzQ1Njc4";

std::string Message(const std::string& headers, const std::string& body) {
  return "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-TYPE:MSG\nBEGIN:VENV\nBEGIN:VBODY\n" + headers + kHtmlHeader + "\n" + body +
         "\n" + kEnd;
}

std::string Part(const std::string& name, const std::string& base64) {
  return "------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"" + name +
         "\"\nContent-Transfer-Encoding:base64\n\n\n" + base64 + "\n\n";
}

std::string Multipart(const std::string& parts, const std::string& body = "<html>Hi</html>") {
  return "BEGIN:VMSG\nVERSION:1.1\nBEGIN:VENV\nBEGIN:VBODY\nFrom:Ann\n" + kPreamble + kHtmlHeader + "\n" + body +
         "\n" + parts + kClose + kEnd;
}

class VMessageReaderTest : public testing::FormatsTest {
 protected:
  // Reads `text` from a file into a fresh mail; the result and the mail.
  std::pair<int, MailData> ReadMail(const std::string& text, uint32_t setting = 1) {
    Write(Path("in.vmg"), text);
    int result = -1;
    MailData data;
    {
      auto buffer = MessageFileBuffer::Open(Wide("in.vmg"));
      EXPECT_TRUE(buffer);
      if (!buffer) return {result, data};
      auto mail = fake_.NewMail();
      result = ReadVMessageIntoMailItem(*buffer, mail, setting);
      data = *FakeOutlook::DataOf(*mail);
    }
    EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects();
    EXPECT_TRUE(TempFiles().empty());
    return {result, data};
  }

  FakeOutlook fake_;
};

struct HeaderCase {
  std::string headers;
  WString from, to, cc, subject;
  bool unread;
  int32_t importance;
};

class VMessageHeaderTest : public VMessageReaderTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(VMessageHeaderTest, SetsTheProperties) {
  const HeaderCase& c = GetParam();
  const auto [result, mail] = ReadMail(Message(c.headers, "<html></html>"));
  EXPECT_EQ(1, result);
  EXPECT_EQ(c.from, mail.sent_on_behalf_of_name);
  EXPECT_EQ(c.to, mail.to);
  EXPECT_EQ(c.cc, mail.cc);
  EXPECT_EQ(c.subject, mail.subject);
  EXPECT_EQ(c.unread, mail.unread);
  EXPECT_EQ(c.importance, mail.importance);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, VMessageHeaderTest,
    ::testing::Values(
        HeaderCase{"From:Ann\nTo:bob@example.com\nCC:carl\nSubject:Hi\nX-IRMC-STATUS:UNREAD\nImportance:2\n", u"Ann",
                   u"bob@example.com", u"carl", u"Hi", true, 2},
        // Missing lines clear the properties.
        HeaderCase{"", u"", u"", u"", u"", false, 1},
        // Keys are found anywhere, not only at a line start.
        HeaderCase{"BCC:hidden\nCC:carl\n", u"", u"", u"hidden", u"", false, 1},
        HeaderCase{"X-IRMC-STATUS:unread\nImportance:\n", u"", u"", u"", u"", false, 1},
        HeaderCase{"X-IRMC-STATUS:UNREAD \nImportance:high\n", u"", u"", u"", u"", false, 0},
        HeaderCase{"Importance: -3x\n", u"", u"", u"", u"", false, -3},
        HeaderCase{"Importance:99999999999\n", u"", u"", u"", u"", false, INT_MAX},
        HeaderCase{"Subject:Caf\xc3\xa9\r\nTo:a\rb\r\n", u"", u"a\rb", u"", u"Caf\u00e9", false, 1},
        HeaderCase{"Subject:bad\xff\n", u"", u"", u"", u"bad\ufffd", false, 1},
        // Values are cut to 2047 bytes, never inside a character.
        HeaderCase{"Subject:" + std::string(5000, 'x') + "\n", u"", u"", u"", WString(2047, u'x'), false, 1},
        HeaderCase{"Subject:" + std::string(2046, 'x') + "\xc3\xa9\n", u"", u"", u"", WString(2046, u'x'), false,
                   1}));

struct BodyCase {
  std::string text;
  int result;
  std::optional<WString> body;
};

class VMessageBodyTest : public VMessageReaderTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(VMessageBodyTest, DecodesTheHtmlBody) {
  const auto [result, mail] = ReadMail(GetParam().text);
  EXPECT_EQ(GetParam().result, result);
  EXPECT_EQ(GetParam().body, mail.html_body);
  if (result == 0) {
    EXPECT_EQ(std::nullopt, mail.to);  // nothing set
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, VMessageBodyTest,
    ::testing::Values(
        // The body starts at the LF of the empty line after the part header.
        BodyCase{Message("", "<html>a=20b=0D=0A=C3=A9</html>"), 1, u"\n<html>a b\r\n\u00e9</html>"},
        BodyCase{Message("", "<HTML>x</HTML>trailer"), 1, u"\n<HTML>x</HTML>"},
        BodyCase{Message("", "no=20end=20tag"), 1, u"\nno end tag"}, BodyCase{Message("", ""), 1, u"\n"},
        BodyCase{Message("", "a=00b</html>"), 1, u"\na"},
        // A header value holding the end tag does not take the body away.
        BodyCase{Message("Subject:see </html>\n", "<html>kept</html>"), 1, u"\n<html>kept</html>"},
        // The body of a multipart mail without an end tag ends at the first part.
        BodyCase{Multipart(Part("a.txt", "QQ=="), "no=20tag"), 1, u"\nno tag"},
        // Markers in any order.
        BodyCase{kEnd + "BEGIN:VBODY\nBEGIN:VENV\nBEGIN:VMSG\n" + kHtmlHeader + "\n<p/></html>", 1, u"\n<p/></html>"},
        // Not the one layout: rejected, nothing set.
        BodyCase{"BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\nTo:x\nContent-Type:text/plain\n\nhi\n" + kEnd, 0,
                 std::nullopt},
        BodyCase{Message("To:x\n", "<html/>").substr(0, Message("To:x\n", "<html/>").size() - 9), 0, std::nullopt},
        BodyCase{std::string("BEGIN:VMSG\0", 11) + Message("To:x\n", "<html/>"), 0, std::nullopt},
        BodyCase{"", 0, std::nullopt}));

TEST_F(VMessageReaderTest, NullMailOrTextIsRejected) {
  Write(Path("in.vmg"), Message("", ""));
  auto buffer = MessageFileBuffer::Open(Wide("in.vmg"));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(0, ReadVMessageIntoMailItem(*buffer, nullptr, 1));
  EXPECT_FALSE(IsVMessageText(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(IsVMessageText(Message("", "").c_str()));
}

TEST_F(VMessageReaderTest, AttachmentsAreAddedAndTheirFilesRemoved) {
  const auto [result, mail] =
      ReadMail(Multipart(Part("a.txt", kLine54Encoded) + Part("b.bin", "AP8Q")));
  EXPECT_EQ(1, result);
  EXPECT_EQ(u"\n<html>Hi</html>", mail.html_body);
  ASSERT_EQ(2u, mail.attachments.size());
  EXPECT_EQ(u"a.txt", mail.attachments[0].file_name);
  EXPECT_EQ(kLine54, mail.attachments[0].bytes);
  EXPECT_EQ(TempFolder() + u"a.txt", mail.attachments[0].display_name);
  // The position is the length of the part's Base64 text: the LF of the
  // second empty line, the data line and the empty line after it.
  EXPECT_EQ(int32_t(1 + 72 + 2), mail.attachments[0].position);
  EXPECT_EQ(u"b.bin", mail.attachments[1].file_name);
  EXPECT_EQ(std::string("\0\xff\x10", 3), mail.attachments[1].bytes);
}

TEST_F(VMessageReaderTest, SettingOffIgnoresTheAttachments) {
  const auto [result, mail] = ReadMail(Multipart(Part("a.txt", "QQ==")), 0);
  EXPECT_EQ(1, result);
  EXPECT_EQ(u"\n<html>Hi</html>", mail.html_body);
  EXPECT_TRUE(mail.attachments.empty());
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

struct PartNameCase {
  std::string name;
  WString added_as;  // empty: left out
};

class VMessagePartNameTest : public VMessageReaderTest, public ::testing::WithParamInterface<PartNameCase> {};

TEST_P(VMessagePartNameTest, StaysInTheTemporaryFolder) {
  const auto [result, mail] = ReadMail(Multipart(Part(GetParam().name, "QUJD") + Part("next.txt", "QQ==")));
  EXPECT_EQ(1, result);
  std::vector<WString> names;
  for (const AttachmentData& a : mail.attachments) names.push_back(a.file_name);
  std::vector<WString> expected;
  if (!GetParam().added_as.empty()) expected.push_back(GetParam().added_as);
  expected.push_back(u"next.txt");
  EXPECT_EQ(expected, names);
  for (const auto& call : fake_.Calls("Attachments.Add")) {
    EXPECT_EQ(0u, call.args[0].find(Utf16ToUtf8(TempFolder()))) << call.args[0];
  }
  std::set<std::string> top;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) top.insert(entry.path().filename().string());
  EXPECT_EQ((std::set<std::string>{"appdata", "temp", "in.vmg"}), top);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VMessagePartNameTest,
    ::testing::Values(PartNameCase{"report.pdf", u"report.pdf"}, PartNameCase{"../in.vmg", u"in.vmg"},
                      PartNameCase{"..\\..\\x.dll", u"x.dll"}, PartNameCase{"/etc/x", u"x"},
                      PartNameCase{"C:\\dir\\y.txt", u"y.txt"}, PartNameCase{"Caf\xc3\xa9.txt", u"Caf\u00e9.txt"},
                      PartNameCase{"\"quoted\".txt", u"quoted.txt"}, PartNameCase{"..", u""},
                      PartNameCase{"", u""}, PartNameCase{"dir/", u""}, PartNameCase{"CON.txt", u""},
                      PartNameCase{"a\rb", u""}, PartNameCase{std::string(3000, 'n'), u""}));

// Parts that break off: the reader stops cleanly and keeps the body.
class VMessageBrokenPartTest : public VMessageReaderTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(VMessageBrokenPartTest, KeepsTheBody) {
  const auto [result, mail] = ReadMail(GetParam());
  EXPECT_EQ(1, result);
  EXPECT_EQ(u"\n<html>Hi</html>", mail.html_body);
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

const std::string kTopMarkers = "BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\n" + kEnd;

INSTANTIATE_TEST_SUITE_P(
    Files, VMessageBrokenPartTest,
    ::testing::Values(
        // No data-start key.
        Multipart("------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"a\"\nQQ==\n"),
        // No closing separator after the data (the file ends).
        kTopMarkers + kPreamble + kHtmlHeader + "\n<html>Hi</html>\n" + Part("a.txt", "QUJD"),
        // A NUL byte ends the text inside the data.
        kTopMarkers + kPreamble + kHtmlHeader + "\n<html>Hi</html>\n" + Part("a.txt", std::string("QU\0JD", 5)) +
            kClose,
        // The part key without any separator after it.
        kTopMarkers + kPreamble + kHtmlHeader + "\n<html>Hi</html>\n" +
            "Content-Type:text/plain; charset=US-ASCII; name=\"a\"\nContent-Transfer-Encoding:base64\n\nQQ=="));

TEST_F(VMessageReaderTest, AFailedAddStillRemovesTheFile) {
  fake_.FailOn("Attachments.Add");
  const auto [result, mail] = ReadMail(Multipart(Part("a.txt", "QQ==")));
  EXPECT_EQ(1, result);
  EXPECT_TRUE(mail.attachments.empty());
}

TEST_F(VMessageReaderTest, AnUnwritableAttachmentIsNotAdded) {
  env_.FailNth("Write", 0);
  const auto [result, mail] = ReadMail(Multipart(Part("a.txt", "QQ==")));
  EXPECT_EQ(1, result);
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

// What the writer writes, the reader reads back into a fresh mail.
TEST_F(VMessageReaderTest, RoundTripThroughTheWriter) {
  env_.set_mail_attachment(1);
  std::string blob(10000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 13 + 5);
  const MailData original{.sender_name = u"Ann \u00c5berg",
                          .to = u"bob@example.com; carl@example.com",
                          .cc = u"dora@example.com",
                          .subject = u"Caf\u00e9: 5 \u20ac; a=b",
                          .sent_on = 45292.541666666664,
                          .importance = 2,
                          .html_body = u"<html><p>Line one\r\nLine \u00e9 two = x</p>\t<!-- c --></html>",
                          .unread = true,
                          .attachments = {{.file_name = u"a.txt", .bytes = kLine54},
                                          {.file_name = u"blob.bin", .bytes = blob},
                                          {.file_name = u"empty.txt", .bytes = ""}}};
  const WString path = TempFolder() + u"out.vmg";
  WriteMailAsVMessage(fake_.NewMail(original), &path, TempFolder(), 0, u"E1");
  const std::string file = Read(Temp() / "out.vmg");
  std::filesystem::remove(Temp() / "out.vmg");
  const auto [result, mail] = ReadMail(file);
  EXPECT_EQ(1, result);
  EXPECT_EQ(original.sender_name, mail.sent_on_behalf_of_name);
  EXPECT_EQ(original.to, mail.to);
  EXPECT_EQ(original.cc, mail.cc);
  EXPECT_EQ(original.subject, mail.subject);
  EXPECT_EQ(original.importance, mail.importance);
  EXPECT_EQ(original.unread, mail.unread);
  EXPECT_EQ(u"\n" + *original.html_body, mail.html_body);
  ASSERT_EQ(original.attachments.size(), mail.attachments.size());
  for (size_t i = 0; i < mail.attachments.size(); ++i) {
    EXPECT_EQ(original.attachments[i].file_name, mail.attachments[i].file_name);
    EXPECT_EQ(original.attachments[i].bytes, mail.attachments[i].bytes);
  }
}

TEST(MessageText, FindTextAndReadLineAt) {
  EXPECT_EQ(4, FindText("abc\nabc", "abc", 1));
  EXPECT_EQ(0, FindText("abc", "abc", -5));
  EXPECT_EQ(-1, FindText("abc", "abc", 3));
  EXPECT_EQ(-1, FindText("abc", "abcd", 0));
  // A match never starts on an LF.
  EXPECT_EQ(3, FindText("a\n\nb", "", 1));
  char buffer[kLineBufferSize];
  EXPECT_EQ(3u, ReadLineAt("ab\ncde\n", 3, buffer));
  EXPECT_STREQ("cde", buffer);
  EXPECT_EQ(0u, ReadLineAt("ab", 2, buffer));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(0u, ReadLineAt("ab", 7, buffer));
  EXPECT_EQ(2047u, ReadLineAt(std::string(4000, 'y'), 0, buffer));
  EXPECT_EQ(2044u, ReadLineAt(std::string(2044, 'y') + "\xf0\x9f\x98\x80", 0, buffer));
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
