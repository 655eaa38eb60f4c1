// The vMessage reader: text messages as phones write them, header keys
// found anywhere, the HTML body, attachment parts and hostile files. The
// multipart layout is the one the writer's byte images pin down.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "formats/vmessage.h"
#include "formats_test_support.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace formats {
namespace {

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
  // Every object is released and the temporary folder left empty.
  std::pair<int, MailData> ReadMail(const std::string& text, uint32_t setting = 1) {
    WriteText(Path("in.vmg"), text);
    std::pair<int, MailData> out{-1, {}};
    {
      auto buffer = MessageFileBuffer::Open(Wide("in.vmg"));
      EXPECT_TRUE(buffer);
      if (!buffer) return out;
      auto mail = fake_.NewMail();
      out = {ReadVMessageIntoMailItem(*buffer, mail, setting), *FakeOutlook::DataOf(*mail)};
      EXPECT_EQ(0, ReadVMessageIntoMailItem(*buffer, nullptr, setting));
    }
    EXPECT_EQ(0, fake_.live_objects());
    EXPECT_TRUE(TempFiles().empty());
    return out;
  }

  FakeOutlook fake_;
};

// Text messages as phones write them: the sender as a vCard, a plain text
// body after a few headers, any line ends, 8-bit or quoted-printable, a
// CHARSET, and UTF-16 with a byte-order mark.
TEST_F(VMessageReaderTest, ReadsTextMessagesInPhoneLayouts) {
  const std::string card = "BEGIN:VCARD\nVERSION:2.1\nN:Lee;Ann\nTEL:+4915112345\nEND:VCARD\n";
  const std::string env = "BEGIN:VENV\nBEGIN:VBODY\nDate:20.03.2009 10:15:00\n";
  const std::string end = "END:VBODY\nEND:VENV\nEND:VMSG\n";
  const std::string head = "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-STATUS:UNREAD\nX-IRMC-BOX:INBOX\n";
  auto line_ends = [](const std::string& text, const std::string& line_end) {
    std::string out;
    for (char c : text) out += c == '\n' ? line_end : std::string(1, c);
    return out;
  };
  const std::string utf16 = testing::Utf16WithMark(
      u"BEGIN:VMSG\r\nBEGIN:VCARD\r\nFN:\u00c5sa\r\nEND:VCARD\r\nBEGIN:VENV\r\nBEGIN:VBODY\r\n"
      u"Date:1.1.2010\r\nHej \u00e5\u20ac\r\nEND:VBODY\r\nEND:VENV\r\nEND:VMSG\r\n");
  const struct {
    std::string text;
    WString sender, subject, body;
    bool unread = true;
  } cases[] = {
      {head + card + env + "Hello <Bo> & co\nsecond line\n" + end, u"Ann Lee <+4915112345>", u"",
       u"<html><body>Hello &lt;Bo&gt; &amp; co<br>\nsecond line</body></html>"},
      {line_ends(head + card + env + "Subject:Plans\nSee you\n" + end, "\r\n"), u"Ann Lee <+4915112345>", u"Plans",
       u"<html><body>See you</body></html>"},
      {line_ends(head + card + env + "CR only\n" + end, "\r"), u"Ann Lee <+4915112345>", u"",
       u"<html><body>CR only</body></html>"},
      {head + "BEGIN:VCARD\nTEL;CELL:+4930123\nEND:VCARD\n" + env +
           "Content-Type:text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding:quoted-printable\n\n"
           "K=E4se und=\n Brot\n" + end,
       u"+4930123", u"", u"<html><body>K\u00e4se und Brot</body></html>"},
      {head + "BEGIN:VCARD\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg\nEND:VCARD\n" + env +
           "Gr\xc3\xbc\xc3\x9f\n" + end,
       u"J\u00f6rg M\u00fcller", u"", u"<html><body>Gr\u00fc\u00df</body></html>"},
      {utf16, u"\u00c5sa", u"", u"<html><body>Hej \u00e5\u20ac</body></html>", false}};
  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(c.text);
    EXPECT_EQ(1, result) << c.text;
    EXPECT_EQ(std::make_tuple(c.sender, c.subject, c.body, c.unread),
              std::make_tuple(mail.sent_on_behalf_of_name, mail.subject, mail.html_body, mail.unread));
  }
}

TEST_F(VMessageReaderTest, SetsTheHeaderProperties) {
  const struct {
    std::string headers;
    WString from, to, cc, subject;
    bool unread;
    int32_t importance;
  } cases[] = {
      {"From:Ann\nTo:bob@example.com\nCC:carl\nSubject:Hi\nX-IRMC-STATUS:UNREAD\nImportance:2\n", u"Ann",
       u"bob@example.com", u"carl", u"Hi", true, 2},
      {"X-IRMC-STATUS:unread\nImportance:\n", u"", u"", u"", u"", false, 1},  // missing values clear them
      {"Importance: -3x\nSubject:bad\xff\n", u"", u"", u"", u"bad\ufffd", false, -3},
      // Keys are found anywhere, not only at a line start.
      {"BCC:hidden\nCC:carl\n", u"", u"", u"hidden", u"", false, 1},
      {"X-IRMC-STATUS:UNREAD \nImportance:high\n", u"", u"", u"", u"", false, 0},
      {"Importance:99999999999\n", u"", u"", u"", u"", false, INT_MAX},
      {"Subject:Caf\xc3\xa9\r\nTo:a\rb\r\n", u"", u"a\rb", u"", u"Caf\u00e9", false, 1},
      // Values are cut to 2047 bytes, never inside a character.
      {"Subject:" + std::string(2046, 'x') + "\xc3\xa9\n", u"", u"", u"", WString(2046, u'x'), false, 1}};
  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(Message(c.headers, "<html></html>"));
    EXPECT_EQ(1, result) << c.headers;
    EXPECT_EQ(std::make_tuple(c.from, c.to, c.cc, c.subject, c.unread, c.importance),
              std::make_tuple(mail.sent_on_behalf_of_name, mail.to, mail.cc, mail.subject, mail.unread,
                              mail.importance));
  }
}

TEST_F(VMessageReaderTest, DecodesTheHtmlBody) {
  const std::string no_end = Message("To:x\n", "<html/>");
  const struct {
    std::string text;
    std::optional<WString> body;  // nullopt: rejected, nothing set
  } cases[] = {
      // The body starts at the LF of the empty line after the part header.
      {Message("", "<html>a=20b=0D=0A=C3=A9</html>"), u"\n<html>a b\r\n\u00e9</html>"},
      {Message("", "<HTML>x</HTML>trailer"), u"\n<HTML>x</HTML>"},
      {Message("", "no=20end=20tag"), u"\nno end tag"}, {Message("", "a=00b</html>"), u"\na"}, {Message("", ""), u"\n"},
      // A header value holding the end tag does not take the body away.
      {Message("Subject:see </html>\n", "<html>kept</html>"), u"\n<html>kept</html>"},
      // The body of a multipart mail without an end tag ends at the first part.
      {Multipart(Part("a.txt", "QQ=="), "no=20tag"), u"\nno tag"},
      {kTail + "BEGIN:VBODY\nBEGIN:VENV\nBEGIN:VMSG\n" + kHtmlHeader + "\n<p/></html>", u"\n<p/></html>"},
      {no_end.substr(0, no_end.size() - 9), std::nullopt},
      {std::string("BEGIN:VMSG\0", 11) + no_end, std::nullopt}, {"", std::nullopt}};
  EXPECT_FALSE(IsVMessageText(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(IsVMessageText(Message("", "").c_str()));
  for (const auto& c : cases) {
    const auto [result, mail] = ReadMail(c.text);
    EXPECT_EQ(c.body ? 1 : 0, result) << c.text;
    EXPECT_EQ(c.body, mail.html_body) << c.text;
    EXPECT_TRUE(c.body || !mail.to) << "a rejected file set the recipients: " << c.text;
  }
}

// The attachment parts: each is added under a name that stays in the
// temporary folder, and its file is removed again. A part without a usable
// name, one that breaks off, or one that cannot be written or added is left
// out; the body is kept and the next part added all the same.
TEST_F(VMessageReaderTest, AttachmentPartsAreAddedOrLeftOut) {
  const std::string head =
      "BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\n" + kTail + kPreamble + kHtmlHeader + "\n<html>Hi</html>\n";
  const std::string next = Part("next.txt", "QQ==");
  const struct {
    std::string file;
    std::vector<WString> names;
    std::string fault = "";  // a call of the item store, or "Write" for every file write
  } cases[] = {
      {Multipart(Part("../in.vmg", "QUJD") + next), {u"in.vmg", u"next.txt"}},
      {Multipart(Part("\"Caf\xc3\xa9\".txt", "QUJD") + next), {u"Caf\u00e9.txt", u"next.txt"}},
      {Multipart(Part("CON.txt", "QUJD") + next), {u"next.txt"}},
      {Multipart(Part(std::string(3000, 'n'), "QUJD") + next), {u"next.txt"}},
      // Parts that break off: no data-start key, no closing separator, a
      // NUL byte inside the data, the part key without any separator.
      {Multipart("------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"a\"\nQQ==\n"), {}},
      {head + Part("a.txt", "QUJD"), {}},
      {head + Part("a.txt", std::string("QU\0JD", 5)) + kClose, {}},
      {head + "Content-Type:text/plain; charset=US-ASCII; name=\"a\"\nContent-Transfer-Encoding:base64\n\nQQ==", {}},
      {Multipart(Part("a.txt", "QQ==")), {}, "Attachments.Add"},
      {Multipart(Part("a.txt", "QQ==")), {}, "Write"}};
  for (const auto& c : cases) {
    fake_.ClearFailures();
    if (c.fault == "Write")
      env_.FailNth("Write", 0);
    else if (!c.fault.empty())
      fake_.FailOn(c.fault);
    const auto [result, mail] = ReadMail(c.file);
    EXPECT_EQ(1, result) << c.file;
    EXPECT_EQ(u"\n<html>Hi</html>", mail.html_body) << c.file;
    std::vector<WString> names;
    for (const auto& a : mail.attachments) names.push_back(a.file_name);
    EXPECT_EQ(c.names, names) << c.file;
    EXPECT_EQ((std::set<std::string>{"appdata", "temp", "in.vmg"}), TempFiles(scratch_.path()));
  }
}

TEST_F(VMessageReaderTest, AttachmentsAreAddedAndTheirFilesRemoved) {
  const auto mail = ReadMail(Multipart(Part("a.txt", kLine54Encoded) + Part("b.bin", kLine54Encoded + "\nAP8Q"))).second;
  ASSERT_EQ(2u, mail.attachments.size());
  EXPECT_EQ(kLine54, mail.attachments[0].bytes);
  EXPECT_EQ(TempFolder() + u"a.txt", mail.attachments[0].display_name);
  // The position is the length of the part's Base64 text: the LF of the
  // second empty line, the data line and the empty line after it.
  EXPECT_EQ(int32_t(1 + 72 + 2), mail.attachments[0].position);
  EXPECT_EQ(kLine54 + std::string("\0\xff\x10", 3), mail.attachments[1].bytes);  // a part of two lines
  EXPECT_EQ(u"b.bin", mail.attachments[1].file_name);
  // With the setting off the parts are ignored.
  const auto off = ReadMail(Multipart(Part("a.txt", "QQ==")), 0).second;
  EXPECT_TRUE(off.html_body == u"\n<html>Hi</html>" && off.attachments.empty());
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
