// The vNote writer and reader: byte images, the whole file or none, notes
// as phones write them, and hostile files.
#include <gtest/gtest.h>

#include "formats/vnote.h"
#include "formats_test_support.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace formats {
namespace {

using testing::FakeOutlook;
using testing::NoteData;

class VNoteTest : public testing::FormatsTest {
 protected:
  // The file written from a note with `body`, as a vNote or as text;
  // "(none)" when the writer reported a failure, which must leave no file.
  std::string Write(const outlook::OptString& body, bool as_text = false) {
    const std::string name = as_text ? "note.txt" : "note.vnt";
    const WString path = Wide(name);
    std::filesystem::remove(Path(name));
    if ((as_text ? WriteNoteAsText : WriteNoteAsVNote)(fake_.NewNote({.body = body}), &path))
      return ReadText(Path(name));
    EXPECT_FALSE(testing::Exists(Path(name))) << name;
    return "(none)";
  }
  // Reads `file` into a fresh note, as a vNote or as text: the result and
  // the body it got.
  std::pair<int, outlook::OptString> Read(const std::string& file, bool as_text = false) {
    WriteText(Path("in"), file);
    auto buffer = FileBuffer::Open(Wide("in"));
    EXPECT_TRUE(buffer);
    if (!buffer) return {-1, std::nullopt};
    auto note = fake_.NewNote();
    const int result = (as_text ? ImportTextIntoNoteItem : ReadVNoteIntoNoteItem)(*buffer, note);
    return {result, FakeOutlook::DataOf(*note)->body};
  }
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()); }

  FakeOutlook fake_;
};

const std::string kBegin = "BEGIN:VNOTE\r\nVERSION:1.1\r\n";
const std::string kEnd = "END:VNOTE\r\n";
const std::string kEmptyNote = kBegin + "SUMMARY:\r\nBODY:\r\n" + kEnd;

TEST_F(VNoteTest, WritesTheByteImage) {
  const struct {
    outlook::OptString body;
    std::string file;
  } cases[] = {
      {u"Buy milk", kBegin + "SUMMARY:Buy milk\r\nBODY:Buy milk\r\n" + kEnd},
      {u"List:\r\nmilk", kBegin + "SUMMARY;ENCODING=QUOTED-PRINTABLE:List=3A\r\n"
                                  "BODY;ENCODING=QUOTED-PRINTABLE:List=3A=0D=0A=\r\nmilk\r\n" + kEnd},
      {u"x=;y", kBegin + "SUMMARY;ENCODING=QUOTED-PRINTABLE:x=3D=5C=3By\r\n"
                         "BODY;ENCODING=QUOTED-PRINTABLE:x=3D=5C=3By\r\n" + kEnd},
      // Every line break, CR LF, LF or CR, is one, so the lines stay in BODY.
      {u"one\ntwo\rthree",
       kBegin + "SUMMARY;ENCODING=QUOTED-PRINTABLE:one\r\n"
                "BODY;ENCODING=QUOTED-PRINTABLE:one=0D=0A=\r\ntwo=0D=0A=\r\nthree\r\n" + kEnd},
      {u"Caf\u00e9 \u20ac", kBegin + "SUMMARY:Caf\xc3\xa9 \xe2\x82\xac\r\nBODY:Caf\xc3\xa9 \xe2\x82\xac\r\n" + kEnd},
      {u"", kEmptyNote}, {std::nullopt, kEmptyNote}};
  for (const auto& c : cases) EXPECT_EQ(c.file, Write(c.body));
  // As text: the body alone, every line break CR LF.
  for (const char16_t* lines : {u"a\r\nb", u"a\nb", u"a\rb"})
    EXPECT_EQ("a\r\nb", Write(lines, true));
  for (const outlook::OptString& empty : {outlook::OptString(), outlook::OptString(u"")})
    EXPECT_EQ("\r\n", Write(empty, true));
}

// A note that cannot be written whole is reported, and leaves no file: a
// note sent empty would empty the phone's copy.
TEST_F(VNoteTest, AFileThatCannotBeWrittenWholeIsReported) {
  EXPECT_FALSE(WriteNoteAsVNote(fake_.NewNote({.body = u"x"}), nullptr));
  const WString unreachable = Wide("no-folder/note.vnt");
  EXPECT_FALSE(WriteNoteAsText(fake_.NewNote({.body = u"x"}), &unreachable));
  const std::pair<const char*, bool> kFaults[] = {
      {"Write", false}, {"Write", true}, {"Sync", false}};
  for (const auto& [step, as_text] : kFaults) {
    env_.FailNth(step, 1);
    EXPECT_EQ("(none)", Write(u"x", as_text)) << step << as_text;
  }
  fake_.FailOn("NoteItem.Body");
  EXPECT_EQ("(none)", Write(u"lost"));
  EXPECT_EQ("(none)", Write(u"lost", true));
}

TEST_F(VNoteTest, ReadsTheBody) {
  const struct {
    std::string file;
    int result;
    outlook::OptString body;  // what the note holds afterwards
  } cases[] = {
      {kBegin + "BODY:Hello\r\n Continued\r\n" + kEnd, 1, u"Hello"},
      {kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:Line one=0D=0A=\r\nLine two\r\n" + kEnd, 1, u"Line one\r\nLine two"},
      // Escapes of either case, the vNote's own escaped separators, and
      // what is no escape (the "=" goes).
      {kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:a=3Db=3ac=5C=3Bd=5C=5C=3B=5C x=A=0Z=ZZ=\r\n more\r\n" + kEnd, 1,
       u"a=b:c;d\\;\\ xA0ZZZ more"},
      // Parameters as phones write them: the encoding and character set are
      // honoured, in any order and case.
      {kBegin + "BODY;CHARSET=utf-8;ENCODING=quoted-printable:K=c3=a4se=\r\n und Brot\r\n" + kEnd, 1,
       u"K\u00e4se und Brot"},
      {kBegin + "BODY;QUOTED-PRINTABLE;CHARSET=ISO-8859-1:K=E4se\r\n" + kEnd, 1, u"K\u00e4se"},
      {kBegin + "BODY;CHARSET=KOI8-R:\xf0\xd2\xc9\xd7\xc5\xd4\r\n" + kEnd, 1, u"\u041f\u0440\u0438\u0432\u0435\u0442"},
      {kBegin + "BODY;LANGUAGE=de;CHARSET=NO-SUCH-SET:K\xc3\xa4se\r\n" + kEnd, 1, u"K\u00e4se"},
      // Line ends of every kind.
      {"BEGIN:VNOTE\rBODY:cr only\rEND:VNOTE\r", 1, u"cr only"},
      {kBegin + "SUMMARY:BODY:not this\r\nX-BODY:nor this\r\nbody:lower\r\n" + kEnd, 1, u"lower"},
      {"END:VNOTE\r\nBODY:late\r\nBEGIN:VNOTE\r\n", 1, u"late"}, {"BEGIN:VNOTE\r\nBODY:x\r\n", 0, std::nullopt},
      {kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:qp\r\nBODY:plain\r\n" + kEnd, 1, u"qp"},  // the first BODY
      {kBegin + "SUMMARY:x\r\n" + kEnd, 0, std::nullopt}, {kBegin + "BODY:\r\n" + kEnd, 1, u""},
      // The sample a Nokia phone sent.
      {"BEGIN:VNOTE\nVERSION:1.1\nBODY:Some text is here.\nDCREATED:20051030T111735Z\n"
       "LAST-MODIFIED:20051030T112041Z\nEND:VNOTE\n", 1, u"Some text is here."},
      // Not UTF-8: the 8-bit code page of the device.
      {kBegin + "BODY:Caf\xe9 \x80\r\n" + kEnd, 1, u"Caf\u00e9 \u20ac"},
      // Hostile and truncated files.
      {kBegin + kEnd + "BODY;ENCODING=QUOTED-PRINTABLE:last=", 1, u"last"},
      {kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:cut=", 0, std::nullopt},
      {kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:a=\r\nb=\r\n\r\nnot body\r\n" + kEnd, 1, u"ab"},
      {kBegin + std::string("BODY:a\0b\r\n", 11) + kEnd, 0, std::nullopt},
      {kEnd + kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:=0", 1, u"0"},
      {kBegin + kEnd + std::string("\0BODY:hidden\r\n", 14), 0, std::nullopt},
      {kBegin + "BODY:" + std::string(100000, 'x') + "\r\n" + kEnd, 1, WString(100000, u'x')},
      // UTF-16 with a byte-order mark, either way round.
      {testing::Utf16WithMark(u"BEGIN:VNOTE\r\nBODY:K\u00e4se \u20ac\r\nEND:VNOTE\r\n"), 1, u"K\u00e4se \u20ac"},
      {testing::Utf16WithMark(u"BEGIN:VNOTE\nBODY:\u041f\nEND:VNOTE\n", true), 1, u"\u041f"}};
  for (const auto& c : cases) EXPECT_EQ(std::make_pair(c.result, c.body), Read(c.file)) << c.file;
}

// Plain text: the whole text is the body, with no code-page fallback.
TEST_F(VNoteTest, ImportText) {
  const std::pair<std::string, outlook::OptString> cases[] = {
      {"a\r\r\nb", u"a\r\nb"}, {"Caf\xe9", u"Caf\ufffd"}, {std::string("ab\0cd", 5), u"ab"}};
  for (const auto& [file, body] : cases) EXPECT_EQ(std::make_pair(1, body), Read(file, true));
  // A body that cannot be set (as text or from a vNote), or no note, is reported.
  auto buffer = FileBuffer::Open(Wide("in"));
  ASSERT_TRUE(buffer);
  fake_.FailOn("NoteItem.PutBody");
  EXPECT_EQ(0, ImportTextIntoNoteItem(*buffer, fake_.NewNote()));
  EXPECT_EQ(0, Read(kBegin + "BODY:x\r\n" + kEnd).first);
  EXPECT_EQ(0, ImportTextIntoNoteItem(*buffer, nullptr));
  EXPECT_EQ(0, ReadVNoteIntoNoteItem(*buffer, nullptr));
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
