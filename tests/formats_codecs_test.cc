// The text codecs: byte images of each, Base64 over files in blocks, and
// the system's own decoders reading what the encoders write.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "formats/codecs.h"
#include "formats_test_support.h"

namespace zelsync {
namespace formats {
namespace {

using testing::FormatsTest;

struct EscapeCase {
  std::string input, expected;
  int flag;
};

class EscapeNoteValueTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeNoteValueTest, Escapes) {
  const EscapeCase& c = GetParam();
  int flag = 0;
  EXPECT_EQ(c.expected, EscapeNoteValue(c.input, &flag));
  EXPECT_EQ(c.flag, flag);
  // Set once, the flag is never cleared.
  flag = 1;
  EscapeNoteValue(c.input, &flag);
  EXPECT_EQ(1, flag);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EscapeNoteValueTest,
    ::testing::Values(EscapeCase{"a;b", "a=5C=3Bb", 1}, EscapeCase{"x=1", "x=3D1", 1},
                      EscapeCase{"a:b", "a=3Ab", 1},
                      EscapeCase{"line1\r\nline2", "line1=0D=0A=\nline2", 1},
                      EscapeCase{"no special", "no special", 0}, EscapeCase{"", "", 0},
                      // A lone CR or LF, TAB and 8-bit bytes are kept.
                      EscapeCase{"a\rb\nc\td\xc3\xa9", "a\rb\nc\td\xc3\xa9", 0},
                      EscapeCase{"\r\n\r\n", "=0D=0A=\n=0D=0A=\n", 1},
                      EscapeCase{"\r\r\n", "\r=0D=0A=\n", 1},
                      // Input ends at its first NUL.
                      EscapeCase{std::string("a\0;", 3), "a", 0}));

struct QpCase {
  std::string plain, encoded;
};

class QuotedPrintableEncodeTest : public ::testing::TestWithParam<QpCase> {};

TEST_P(QuotedPrintableEncodeTest, Encodes) {
  EXPECT_EQ(GetParam().encoded, QuotedPrintableEncode(GetParam().plain));
}

INSTANTIATE_TEST_SUITE_P(Values, QuotedPrintableEncodeTest,
                         ::testing::Values(QpCase{"a b=c", "a=20b=3Dc"}, QpCase{"\xc3\xa9", "=C3=A9"},
                                           QpCase{"", ""}, QpCase{"<p>\r\n</p>", "<p>=0D=0A</p>"},
                                           QpCase{"\t\x7f~!", "=09=7F~!"},
                                           QpCase{std::string("x\0y", 3), "x"}));

class QuotedPrintableDecodeTest : public ::testing::TestWithParam<QpCase> {};

TEST_P(QuotedPrintableDecodeTest, Decodes) {
  EXPECT_EQ(GetParam().plain, QuotedPrintableDecode(GetParam().encoded));
}

INSTANTIATE_TEST_SUITE_P(
    Values, QuotedPrintableDecodeTest,
    ::testing::Values(QpCase{"==", "=3d=3D"}, QpCase{"ab", "a=\r\nb"}, QpCase{"ZZ", "=ZZ"},
                      QpCase{"x=4", "x=4"}, QpCase{"=", "="}, QpCase{"a\nb", "a=\nb"},
                      QpCase{"\xc3\xa9 ", "=C3=A9=20"}, QpCase{std::string("a\0", 2), "a=00"},
                      QpCase{"ab", std::string("ab\0=41", 6)}, QpCase{"", ""}));

TEST(QuotedPrintable, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string encoded = QuotedPrintableEncode(all);
  EXPECT_EQ(std::string::npos, encoded.find_first_of(" \t\r\n"));
  EXPECT_EQ(all, QuotedPrintableDecode(encoded));
}

TEST(WideToUtf8, ConvertsUpToTheFirstNul) {
  EXPECT_FALSE(WideToUtf8(std::nullopt));
  EXPECT_FALSE(WideToUtf8(WString()));
  EXPECT_EQ("Buy milk", WideToUtf8(WString(u"Buy milk")));
  EXPECT_EQ("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", WideToUtf8(WString(u"\u00e9\u20ac\U0001F600")));
  EXPECT_EQ("ab", WideToUtf8(WString(u"ab\0cd", 5)));
  EXPECT_EQ("", WideToUtf8(WString(u"\0x", 2)));
  EXPECT_EQ("a\xef\xbf\xbd", WideToUtf8(WString{u'a', 0xD800}));
}

// Base64 over files.
struct Base64Case {
  std::string plain, encoded;
};

const std::string kLine54 = "The quick brown fox jumps over the lazy dog. 012345678";
const std::string kLine54Encoded = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4gMDEyMzQ1Njc4";

class Base64FileTest : public FormatsTest, public ::testing::WithParamInterface<Base64Case> {
 protected:
  int Run(char mode, const std::string& input) {
    Write(Path("in"), input);
    return Base64FileCodec(mode, Wide("in"), Wide("out"));
  }
};

TEST_P(Base64FileTest, EncodesIntoLinesOf72) {
  EXPECT_EQ(kCodecOk, Run('e', GetParam().plain));
  EXPECT_EQ(GetParam().encoded, Read(Path("out")));
}

TEST_P(Base64FileTest, DecodesWhatItEncodes) {
  EXPECT_EQ(kCodecOk, Run('d', GetParam().encoded));
  EXPECT_EQ(GetParam().plain, Read(Path("out")));
}

INSTANTIATE_TEST_SUITE_P(
    Images, Base64FileTest,
    ::testing::Values(Base64Case{"", ""}, Base64Case{"A", "QQ==\r\n"}, Base64Case{"AB", "QUI=\r\n"},
                      Base64Case{"ABC", "QUJD\r\n"}, Base64Case{std::string("\0\xff\x10", 3), "AP8Q\r\n"},
                      Base64Case{kLine54, kLine54Encoded + "\r\n"},
                      Base64Case{kLine54 + "9", kLine54Encoded + "\r\nOQ==\r\n"},
                      Base64Case{kLine54 + kLine54, kLine54Encoded + "\r\n" + kLine54Encoded + "\r\n"}));

struct DecodeCase {
  std::string encoded, plain;
};

class Base64DecodeTest : public FormatsTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(Base64DecodeTest, SkipsWhatIsNotInTheAlphabet) {
  Write(Path("in"), GetParam().encoded);
  EXPECT_EQ(kCodecOk, Base64FileCodec('d', Wide("in"), Wide("out")));
  EXPECT_EQ(GetParam().plain, Read(Path("out")));
}

INSTANTIATE_TEST_SUITE_P(Texts, Base64DecodeTest,
                         ::testing::Values(DecodeCase{"QQ==", "A"}, DecodeCase{"Q Q\r\n", "A"},
                                           DecodeCase{"Q", ""}, DecodeCase{"QUI", "AB"},
                                           DecodeCase{"Q-U.I:", "AB"}, DecodeCase{"QQ==QUJD", "A\x04\x14$"},
                                           DecodeCase{std::string("Q\0Q\xff{|", 7), "A"},
                                           DecodeCase{"", ""}));

TEST_F(FormatsTest, Base64SurvivesLargeFilesAcrossBlocks) {
  std::mt19937 random(7);
  for (size_t size : {size_t{54 * 1024 - 1}, size_t{54 * 1024}, size_t{54 * 1024 + 1}, size_t{200000}}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    Write(Path("plain"), data);
    ASSERT_EQ(kCodecOk, Base64FileCodec('e', Wide("plain"), Wide("encoded")));
    const std::string encoded = Read(Path("encoded"));
    // 72 characters and CR LF a line, the last line shorter.
    const size_t groups = (size + 2) / 3, lines = (groups + 17) / 18;
    EXPECT_EQ(groups * 4 + lines * 2, encoded.size()) << size;
    EXPECT_EQ("\r\n", encoded.substr(74 - 2, 2));
    ASSERT_EQ(kCodecOk, Base64FileCodec('d', Wide("encoded"), Wide("decoded")));
    EXPECT_EQ(data, Read(Path("decoded"))) << size;
  }
}

TEST(Base64Encoder, GivesTheSameTextWhateverTheChunks) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::string whole, chunked;
  Base64Encoder one("\n");
  one.Update(bytes, data.size(), &whole);
  one.Finish(&whole);
  Base64Encoder many("\n");
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step % 5 + 1) {
    many.Update(bytes + at, std::min(step, data.size() - at), &chunked);
  }
  many.Finish(&chunked);
  EXPECT_EQ(whole, chunked);
  std::string decoded;
  Base64Decoder decoder;
  for (size_t at = 0; at < whole.size(); at += 3) decoder.Update(whole.data() + at, std::min<size_t>(3, whole.size() - at), &decoded);
  decoder.Finish(&decoded);
  EXPECT_EQ(data, decoded);
}

TEST_F(FormatsTest, Base64FileCodecReportsFilesItCannotUse) {
  EXPECT_EQ(kCodecOpenFailed, Base64FileCodec('e', Wide("missing"), Wide("out")));
  EXPECT_FALSE(testing::Exists(Path("out")));
  Write(Path("in"), "data");
  EXPECT_EQ(kCodecOpenFailed, Base64FileCodec('e', Wide("in"), Wide("no-folder/out")));
  EXPECT_EQ(kCodecOpenFailed, Base64FileCodec('d', WString(), Wide("out")));
  env_.FailNth("Write", 1);
  EXPECT_EQ(kCodecStreamError, Base64FileCodec('e', Wide("in"), Wide("out")));
}

#ifndef _WIN32
// The system's own decoders read what the encoders write.
bool HaveCommand(const std::string& check) { return std::system((check + " >/dev/null 2>&1").c_str()) == 0; }

TEST_F(FormatsTest, CoreutilsBase64DecodesTheEncodedFile) {
  if (!HaveCommand("command -v base64")) GTEST_SKIP() << "no base64 command";
  std::string data(100000, '\0');
  std::mt19937 random(11);
  for (char& c : data) c = static_cast<char>(random());
  Write(Path("plain"), data);
  ASSERT_EQ(kCodecOk, Base64FileCodec('e', Wide("plain"), Wide("encoded")));
  // Coreutils takes LF line ends only; the vMessage writer stores these
  // lines with LF.
  const std::string command =
      "tr -d '\\r' < '" + Path("encoded").string() + "' | base64 -d > '" + Path("decoded").string() + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(data, Read(Path("decoded")));
}

TEST_F(FormatsTest, PythonQuopriDecodesTheEncodedBody) {
  if (!HaveCommand("python3 -c 'import quopri'")) GTEST_SKIP() << "no python3 quopri";
  std::string body = "<html><p>Caf\xc3\xa9 = 5 \xe2\x82\xac;\tx</p>\r\n</html>";
  for (int b = 1; b < 256; ++b) body.push_back(static_cast<char>(b));
  Write(Path("encoded"), QuotedPrintableEncode(body));
  const std::string command = "python3 -c 'import quopri,sys; quopri.decode(sys.stdin.buffer, sys.stdout.buffer)' < '" +
                              Path("encoded").string() + "' > '" + Path("decoded").string() + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(body, Read(Path("decoded")));
}
#endif

}  // namespace
}  // namespace formats
}  // namespace zelsync
