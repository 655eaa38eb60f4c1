// The vNote writer and reader: byte images, the reader's edge cases, round
// trips through a file, and hostile files.
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
  // The file written from a note with `body`.
  std::string WriteVNote(const outlook::OptString& body) {
    const WString path = Wide("note.vnt");
    WriteNoteAsVNote(fake_.NewNote({.body = body}), &path);
    return Read(Path("note.vnt"));
  }
  std::string WriteText(const outlook::OptString& body) {
    const WString path = Wide("note.txt");
    WriteNoteAsText(fake_.NewNote({.body = body}), &path);
    return Read(Path("note.txt"));
  }
  // Reads `file` into a fresh note: the result and the body it got.
  std::pair<int, outlook::OptString> ReadVNote(const std::string& file) {
    Write(Path("in.vnt"), file);
    auto buffer = FileBuffer::Open(Wide("in.vnt"));
    EXPECT_TRUE(buffer);
    if (!buffer) return {-1, std::nullopt};
    auto note = fake_.NewNote();
    const int result = ReadVNoteIntoNoteItem(*buffer, note);
    return {result, FakeOutlook::DataOf(*note)->body};
  }
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects(); }

  FakeOutlook fake_;
};

struct WriterCase {
  outlook::OptString body;
  std::string file;
};

class VNoteWriterTest : public VNoteTest, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(VNoteWriterTest, WritesTheByteImage) { EXPECT_EQ(GetParam().file, WriteVNote(GetParam().body)); }

INSTANTIATE_TEST_SUITE_P(
    Notes, VNoteWriterTest,
    ::testing::Values(
        WriterCase{u"Buy milk",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:Buy milk\r\nBODY:Buy milk\r\nEND:VNOTE\r\n"},
        WriterCase{u"List:\r\nmilk",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY;ENCODING=QUOTED-PRINTABLE:List=3A\r\n"
                   "BODY;ENCODING=QUOTED-PRINTABLE:List=3A=0D=0A=\r\nmilk\r\nEND:VNOTE\r\n"},
        WriterCase{u"a:b",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY;ENCODING=QUOTED-PRINTABLE:a=3Ab\r\n"
                   "BODY;ENCODING=QUOTED-PRINTABLE:a=3Ab\r\nEND:VNOTE\r\n"},
        WriterCase{u"x;y",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY;ENCODING=QUOTED-PRINTABLE:x=5C=3By\r\n"
                   "BODY;ENCODING=QUOTED-PRINTABLE:x=5C=3By\r\nEND:VNOTE\r\n"},
        // A lone LF keeps the plain form and is stored as CR LF.
        WriterCase{u"one\ntwo",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:one\r\ntwo\r\nBODY:one\r\ntwo\r\nEND:VNOTE\r\n"},
        WriterCase{u"Caf\u00e9 \u20ac",
                   "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:Caf\xc3\xa9 \xe2\x82\xac\r\n"
                   "BODY:Caf\xc3\xa9 \xe2\x82\xac\r\nEND:VNOTE\r\n"},
        WriterCase{u"", "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:\r\nBODY:\r\nEND:VNOTE\r\n"},
        WriterCase{std::nullopt, "BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:\r\nBODY:\r\nEND:VNOTE\r\n"}));

TEST_F(VNoteTest, FailedBodyReadWritesAnEmptyNote) {
  fake_.FailOn("NoteItem.Body");
  EXPECT_EQ("BEGIN:VNOTE\r\nVERSION:1.1\r\nSUMMARY:\r\nBODY:\r\nEND:VNOTE\r\n", WriteVNote(u"lost"));
}

TEST_F(VNoteTest, NoPathNoFile) {
  WriteNoteAsVNote(fake_.NewNote({.body = u"x"}), nullptr);
  WriteNoteAsText(fake_.NewNote({.body = u"x"}), nullptr);
  const WString unreachable = Wide("no-folder/note.vnt");
  WriteNoteAsVNote(fake_.NewNote({.body = u"x"}), &unreachable);
  EXPECT_FALSE(testing::Exists(Path("no-folder")));
  // The body is read all the same.
  EXPECT_EQ(3, fake_.Count("NoteItem.Body"));
}

TEST_F(VNoteTest, TextWriterWritesTheBodyAlone) {
  EXPECT_EQ("a\r\r\nb", WriteText(u"a\r\nb"));
  EXPECT_EQ("Buy milk", WriteText(u"Buy milk"));
  EXPECT_EQ("\r\n", WriteText(u""));
  EXPECT_EQ("\r\n", WriteText(std::nullopt));
}

struct ReaderCase {
  std::string file;
  int result;
  outlook::OptString body;  // what the note holds afterwards
};

class VNoteReaderTest : public VNoteTest, public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(VNoteReaderTest, SetsTheBody) {
  const auto [result, body] = ReadVNote(GetParam().file);
  EXPECT_EQ(GetParam().result, result);
  EXPECT_EQ(GetParam().body, body);
}

const std::string kBegin = "BEGIN:VNOTE\r\nVERSION:1.1\r\n";
const std::string kEnd = "END:VNOTE\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, VNoteReaderTest,
    ::testing::Values(
        ReaderCase{kBegin + "BODY:Hello\r\n Continued\r\n" + kEnd, 1, u"Hello"},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:Line one=0D=0A=\r\nLine two\r\n" + kEnd, 1,
                   u"Line one\r\nLine two"},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:a=3Db=3Ac=5C=3Bd\r\n" + kEnd, 1, u"a=b:c;d"},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:=C3=A9\r\n" + kEnd, 1, u"C3A9"},
        // Not a form the reader knows: the note is left as it was.
        ReaderCase{kBegin + "BODY;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:x\r\n" + kEnd, 0, std::nullopt},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:qp\r\nBODY:plain\r\n" + kEnd, 1, u"plain"},
        ReaderCase{"END:VNOTE\r\nBODY:late\r\nBEGIN:VNOTE\r\n", 1, u"late"},
        ReaderCase{"BEGIN:VNOTE\r\nBODY:x\r\n", 0, std::nullopt},
        ReaderCase{"BODY:x\r\nEND:VNOTE\r\n", 0, std::nullopt}, ReaderCase{"", 0, std::nullopt},
        ReaderCase{kBegin + "SUMMARY:x\r\n" + kEnd, 0, std::nullopt},
        ReaderCase{kBegin + "BODY:\r\n" + kEnd, 1, u""},
        // The sample a Nokia phone sent.
        ReaderCase{"BEGIN:VNOTE\nVERSION:1.1\nBODY:Some text is here.\nDCREATED:20051030T111735Z\n"
                   "LAST-MODIFIED:20051030T112041Z\nEND:VNOTE\n",
                   1, u"Some text is here."},
        // Not UTF-8: the 8-bit code page of the device.
        ReaderCase{kBegin + "BODY:Caf\xe9 \x80\r\n" + kEnd, 1, u"Caf\u00e9 \u20ac"},
        ReaderCase{kBegin + "BODY:Caf\xc3\xa9\r\n" + kEnd, 1, u"Caf\u00e9"},
        // Hostile and truncated files.
        ReaderCase{kBegin + kEnd + "BODY;ENCODING=QUOTED-PRINTABLE:last=", 1, u"last"},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:cut=", 0, std::nullopt},
        ReaderCase{kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:a=\r\nb=\r\n\r\nnot body\r\n" + kEnd, 1, u"ab"},
        ReaderCase{kEnd + kBegin + "BODY;ENCODING=QUOTED-PRINTABLE:=0", 1, u"0"},
        ReaderCase{kBegin + "BODY:" + std::string(100000, 'x') + "\r\n" + kEnd, 1,
                   WString(100000, u'x')},
        ReaderCase{kBegin + std::string("BODY:a\0b\r\n", 11) + kEnd, 0, std::nullopt},
        ReaderCase{kBegin + kEnd + std::string("\0BODY:hidden\r\n", 14), 0, std::nullopt},
        ReaderCase{kBegin + kEnd + "BODY:", 1, u""}));

struct LineCase {
  std::string line, decoded;
  bool soft_break;
};

class DecodeVNoteLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(DecodeVNoteLineTest, Decodes) {
  std::string out = "<";
  EXPECT_EQ(GetParam().soft_break, DecodeVNoteLine(GetParam().line, &out));
  EXPECT_EQ("<" + GetParam().decoded, out);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DecodeVNoteLineTest,
    ::testing::Values(LineCase{"a=3Db=3Ac=5C=3Bd", "a=b:c;d", false}, LineCase{"=3B", "3B", false},
                      LineCase{"=5C", "", false}, LineCase{"=0A", "0A", false},
                      LineCase{"=0D=0A", "\r\n", false}, LineCase{"x=0D=0A=", "x\r\n", true},
                      LineCase{"=C3=A9", "C3A9", false}, LineCase{"x=", "x", true},
                      LineCase{"x=A", "xA", false}, LineCase{"=0Dx=0A", "x0A", false},
                      LineCase{"=5Cx=3B", "x3B", false}, LineCase{"=5C=0D=0A", "\r\n", false},
                      LineCase{"=3", "3", false}, LineCase{"", "", false}, LineCase{"=ZZ=", "ZZ", true},
                      LineCase{"=0Z", "0Z", false}));

// What the writer writes, the reader reads back into a fresh note. A lone
// LF of the plain form ends the BODY line, so the notes here have none.
class VNoteRoundTripTest : public VNoteTest, public ::testing::WithParamInterface<WString> {};

TEST_P(VNoteRoundTripTest, KeepsTheBody) {
  const auto [result, body] = ReadVNote(WriteVNote(GetParam()));
  EXPECT_EQ(1, result);
  EXPECT_EQ(GetParam(), body);
}

INSTANTIATE_TEST_SUITE_P(Notes, VNoteRoundTripTest,
                         ::testing::Values(u"Buy milk", u"List:\r\nmilk", u"a;b=c:d", u"x=1", u"a\r\n",
                                           u"\r\n\r\nthree\r\nlines;\r\n", u"Caf\u00e9 \u20ac \U0001F600",
                                           u"Caf\u00e9\r\n=3D literal", u"tab\there", u"lone\rCR", u"",
                                           u"=0D=0A=", u"==\r\n=="));

struct ImportCase {
  std::string file;
  WString body;
};

class ImportTextTest : public VNoteTest, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportTextTest, TheWholeTextIsTheBody) {
  Write(Path("in.txt"), GetParam().file);
  auto buffer = FileBuffer::Open(Wide("in.txt"));
  ASSERT_TRUE(buffer);
  auto note = fake_.NewNote();
  EXPECT_EQ(1, ImportTextIntoNoteItem(*buffer, note));
  EXPECT_EQ(GetParam().body, FakeOutlook::DataOf(*note)->body);
}

INSTANTIATE_TEST_SUITE_P(Files, ImportTextTest,
                         ::testing::Values(ImportCase{"a\r\r\nb", u"a\r\nb"}, ImportCase{"", u""},
                                           ImportCase{"Caf\xc3\xa9", u"Caf\u00e9"},
                                           // No code-page fallback for plain text.
                                           ImportCase{"Caf\xe9", u"Caf\ufffd"},
                                           ImportCase{std::string("ab\0cd", 5), u"ab"}));

TEST_F(VNoteTest, ImportReportsAFailedBody) {
  Write(Path("in.txt"), "text");
  auto buffer = FileBuffer::Open(Wide("in.txt"));
  ASSERT_TRUE(buffer);
  fake_.FailOn("NoteItem.PutBody");
  EXPECT_EQ(0, ImportTextIntoNoteItem(*buffer, fake_.NewNote()));
  EXPECT_EQ(0, ImportTextIntoNoteItem(*buffer, nullptr));
  EXPECT_EQ(0, ReadVNoteIntoNoteItem(*buffer, nullptr));
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
