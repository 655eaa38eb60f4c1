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

std::string Message(const std::string& headers, const std::string& body) {
  return "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-TYPE:MSG\nBEGIN:VENV\nBEGIN:VBODY\n" + headers + kHtmlHeader + "\n" + body +
         "\n" + kTail;
}

std::string Multipart(const std::string& parts, const std::string& body = "<html>Hi</html>") {
  return "BEGIN:VMSG\nVERSION:1.1\nBEGIN:VENV\nBEGIN:VBODY\nFrom:Ann\n" + kPreamble + kHtmlHeader + "\n" + body +
         "\n" + parts + kClose + kTail;
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

TEST_F(VMessageReaderTest, SetsTheHeaderProperties) {
  const struct {
    std::string headers;
    WString from, to, cc, subject;
    bool unread;
    int32_t importance;
  } cases[] = {
      {"From:Ann\nTo:bob@example.com\nCC:carl\nSubject:Hi\nX-IRMC-STATUS:UNREAD\nImportance:2\n", u"Ann",
       u"bob@example.com", u"carl", u"Hi", true, 2},
      // Missing lines clear the properties.
      {"", u"", u"", u"", u"", false, 1},
      // Keys are found anywhere, not only at a line start.
      {"BCC:hidden\nCC:carl\n", u"", u"", u"hidden", u"", false, 1},
      {"X-IRMC-STATUS:unread\nImportance:\n", u"", u"", u"", u"", false, 1},
      {"X-IRMC-STATUS:UNREAD \nImportance:high\n", u"", u"", u"", u"", false, 0},
      {"Importance: -3x\n", u"", u"", u"", u"", false, -3},
      {"Importance:99999999999\n", u"", u"", u"", u"", false, INT_MAX},
      {"Subject:Caf\xc3\xa9\r\nTo:a\rb\r\n", u"", u"a\rb", u"", u"Caf\u00e9", false, 1},
      {"Subject:bad\xff\n", u"", u"", u"", u"bad\ufffd", false, 1},
      // Values are cut to 2047 bytes, never inside a character.
      {"Subject:" + std::string(5000, 'x') + "\n", u"", u"", u"", WString(2047, u'x'), false, 1},
      {"Subject:" + std::string(2046, 'x') + "\xc3\xa9\n", u"", u"", u"", WString(2046, u'x'), false, 1}};

  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(Message(c.headers, "<html></html>"));
    EXPECT_EQ(1, result) << c.headers;
    EXPECT_EQ(c.from, mail.sent_on_behalf_of_name);
    EXPECT_EQ(c.to, mail.to);
    EXPECT_EQ(c.cc, mail.cc);
    EXPECT_EQ(c.subject, mail.subject);
    EXPECT_EQ(c.unread, mail.unread);
    EXPECT_EQ(c.importance, mail.importance) << c.headers;
  }
}

TEST_F(VMessageReaderTest, DecodesTheHtmlBody) {
  const struct {
    std::string text;
    int result;
    std::optional<WString> body;
  } cases[] = {
      // The body starts at the LF of the empty line after the part header.
      {Message("", "<html>a=20b=0D=0A=C3=A9</html>"), 1, u"\n<html>a b\r\n\u00e9</html>"},
      {Message("", "<HTML>x</HTML>trailer"), 1, u"\n<HTML>x</HTML>"},
      {Message("", "no=20end=20tag"), 1, u"\nno end tag"}, {Message("", ""), 1, u"\n"},
      {Message("", "a=00b</html>"), 1, u"\na"},
      // A header value holding the end tag does not take the body away.
      {Message("Subject:see </html>\n", "<html>kept</html>"), 1, u"\n<html>kept</html>"},
      // The body of a multipart mail without an end tag ends at the first part.
      {Multipart(Part("a.txt", "QQ=="), "no=20tag"), 1, u"\nno tag"},
      // Markers in any order.
      {kTail + "BEGIN:VBODY\nBEGIN:VENV\nBEGIN:VMSG\n" + kHtmlHeader + "\n<p/></html>", 1, u"\n<p/></html>"},
      // Not the one layout: rejected, nothing set.
      {"BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\nTo:x\nContent-Type:text/plain\n\nhi\n" + kTail, 0, std::nullopt},
      {Message("To:x\n", "<html/>").substr(0, Message("To:x\n", "<html/>").size() - 9), 0, std::nullopt},
      {std::string("BEGIN:VMSG\0", 11) + Message("To:x\n", "<html/>"), 0, std::nullopt},
      {"", 0, std::nullopt}};

  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(c.text);
    EXPECT_EQ(c.result, result) << c.text;
    EXPECT_EQ(c.body, mail.html_body) << c.text;
    if (result == 0) {
      EXPECT_EQ(std::nullopt, mail.to);  // nothing set
    }
  }
}

TEST_F(VMessageReaderTest, NullMailOrTextIsRejected) {
  Write(Path("in.vmg"), Message("", ""));
  auto buffer = MessageFileBuffer::Open(Wide("in.vmg"));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(0, ReadVMessageIntoMailItem(*buffer, nullptr, 1));
  EXPECT_FALSE(IsVMessageText(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(IsVMessageText(Message("", "").c_str()));
}

TEST_F(VMessageReaderTest, AttachmentsAreAddedAndTheirFilesRemoved) {
  const auto [result, mail] = ReadMail(Multipart(Part("a.txt", kLine54Encoded) + Part("b.bin", "AP8Q")));
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
  // With the setting off the parts are ignored.
  fake_.ClearCalls();
  const auto off = ReadMail(Multipart(Part("a.txt", "QQ==")), 0);
  EXPECT_EQ(1, off.first);
  EXPECT_EQ(u"\n<html>Hi</html>", off.second.html_body);
  EXPECT_TRUE(off.second.attachments.empty());
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

// Only the last component of a part's name reaches a path; names that are
// no file name are left out, and the next part is added all the same.
TEST_F(VMessageReaderTest, PartNamesStayInTheTemporaryFolder) {
  const struct {
    std::string name;
    WString added_as;  // empty: left out
  } cases[] = {{"report.pdf", u"report.pdf"}, {"../in.vmg", u"in.vmg"}, {"..\\..\\x.dll", u"x.dll"}, {"/etc/x", u"x"},
               {"C:\\dir\\y.txt", u"y.txt"}, {"Caf\xc3\xa9.txt", u"Caf\u00e9.txt"}, {"\"quoted\".txt", u"quoted.txt"},
               {"..", u""}, {"", u""}, {"dir/", u""}, {"CON.txt", u""}, {"a\rb", u""}, {std::string(3000, 'n'), u""}};
  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(Multipart(Part(c.name, "QUJD") + Part("next.txt", "QQ==")));
    EXPECT_EQ(1, result);
    std::vector<WString> names, expected;
    for (const AttachmentData& a : mail.attachments) names.push_back(a.file_name);
    if (!c.added_as.empty()) expected.push_back(c.added_as);
    expected.push_back(u"next.txt");
    EXPECT_EQ(expected, names) << c.name;
    EXPECT_EQ((std::set<std::string>{"appdata", "temp", "in.vmg"}), TempFiles(scratch_.path()));
  }
  for (const auto& call : fake_.Calls("Attachments.Add")) {
    EXPECT_EQ(0u, call.args[0].find(Utf16ToUtf8(TempFolder()))) << call.args[0];
  }
}

// Parts that break off: the reader stops cleanly and keeps the body.
TEST_F(VMessageReaderTest, BrokenPartsKeepTheBody) {
  const std::string head = "BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\n" + kTail + kPreamble + kHtmlHeader + "\n<html>Hi</html>\n";
  for (const std::string& file : {
           // No data-start key.
           Multipart("------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"a\"\nQQ==\n"),
           // No closing separator after the data (the file ends).
           head + Part("a.txt", "QUJD"),
           // A NUL byte ends the text inside the data.
           head + Part("a.txt", std::string("QU\0JD", 5)) + kClose,
           // The part key without any separator after it.
           head + "Content-Type:text/plain; charset=US-ASCII; name=\"a\"\nContent-Transfer-Encoding:base64\n\nQQ=="}) {
    const auto [result, mail] = ReadMail(file);
    EXPECT_EQ(1, result) << file;
    EXPECT_EQ(u"\n<html>Hi</html>", mail.html_body) << file;
  }
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

// An attachment that cannot be added or written is left out; ReadMail
// checks that its file is gone all the same.
TEST_F(VMessageReaderTest, AttachmentsThatFailAreLeftOut) {
  fake_.FailOn("Attachments.Add");
  const auto added = ReadMail(Multipart(Part("a.txt", "QQ==")));
  EXPECT_EQ(1, added.first);
  EXPECT_TRUE(added.second.attachments.empty());
  fake_.ClearFailures();
  fake_.ClearCalls();
  env_.FailNth("Write", 0);
  EXPECT_EQ(1, ReadMail(Multipart(Part("a.txt", "QQ=="))).first);
  EXPECT_EQ(0, fake_.Count("Attachments.Add"));
}

// What the writer writes, the reader reads back into a fresh mail.
TEST_F(VMessageReaderTest, RoundTripThroughTheWriter) {
  env_.set_mail_attachment(1);
  std::string blob(10000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 13 + 5);
  const MailData original{.sender_name = u"Ann \u00c5berg", .to = u"bob@example.com; carl@example.com",
                          .cc = u"dora@example.com", .subject = u"Caf\u00e9: 5 \u20ac; a=b",
                          .sent_on = 45292.541666666664, .importance = 2,
                          .html_body = u"<html><p>Line one\r\nLine \u00e9 two = x</p>\t<!-- c --></html>",
                          .unread = true,
                          .attachments = {{.file_name = u"a.txt", .bytes = kLine54},
                                          {.file_name = u"blob.bin", .bytes = blob},
                                          {.file_name = u"empty.txt", .bytes = ""}}};
  const WString path = TempFolder() + u"out.vmg";
  WriteMailAsVMessage(fake_.NewMail(original), &path, TempFolder(), u"E1");
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
  // Its cut to 2047 bytes on a character boundary: the header values above.
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
