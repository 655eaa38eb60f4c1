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

TEST(EscapeNoteValue, Escapes) {
  const struct {
    std::string input, expected;
    int flag;
  } cases[] = {{"a;b", "a=5C=3Bb", 1}, {"x=1", "x=3D1", 1}, {"a:b", "a=3Ab", 1},
               {"line1\r\nline2", "line1=0D=0A=\nline2", 1}, {"no special", "no special", 0}, {"", "", 0},
               // A lone CR or LF, TAB and 8-bit bytes are kept.
               {"a\rb\nc\td\xc3\xa9", "a\rb\nc\td\xc3\xa9", 0}, {"\r\n\r\n", "=0D=0A=\n=0D=0A=\n", 1},
               {"\r\r\n", "\r=0D=0A=\n", 1},
               // Input ends at its first NUL.
               {std::string("a\0;", 3), "a", 0}};
  for (const auto& c : cases) {
    int flag = 0;
    EXPECT_EQ(c.expected, EscapeNoteValue(c.input, &flag));
    EXPECT_EQ(c.flag, flag) << c.input;
    // Set once, the flag is never cleared.
    flag = 1;
    EscapeNoteValue(c.input, &flag);
    EXPECT_EQ(1, flag);
  }
}

struct QpCase {
  std::string plain, encoded;
};

TEST(QuotedPrintable, EncodesAndDecodes) {
  for (const QpCase& c : {QpCase{"a b=c", "a=20b=3Dc"}, QpCase{"\xc3\xa9", "=C3=A9"}, QpCase{"", ""},
                          QpCase{"<p>\r\n</p>", "<p>=0D=0A</p>"}, QpCase{"\t\x7f~!", "=09=7F~!"},
                          QpCase{std::string("x\0y", 3), "x"}}) {
    EXPECT_EQ(c.encoded, QuotedPrintableEncode(c.plain));
  }
  for (const QpCase& c : {QpCase{"==", "=3d=3D"}, QpCase{"ab", "a=\r\nb"}, QpCase{"ZZ", "=ZZ"}, QpCase{"x=4", "x=4"},
                          QpCase{"=", "="}, QpCase{"a\nb", "a=\nb"}, QpCase{"\xc3\xa9 ", "=C3=A9=20"},
                          QpCase{std::string("a\0", 2), "a=00"}, QpCase{"ab", std::string("ab\0=41", 6)}}) {
    EXPECT_EQ(c.plain, QuotedPrintableDecode(c.encoded)) << c.encoded;
  }
  // Every byte survives the round trip, with no white space on the way.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string encoded = QuotedPrintableEncode(all);
  EXPECT_EQ(std::string::npos, encoded.find_first_of(" \t\r\n"));
  EXPECT_EQ(all, QuotedPrintableDecode(encoded));
  // In pieces, the same bytes, up to the first NUL in whichever piece.
  const std::string with_nul = all + std::string(1, '\0') + "after";
  for (size_t piece : {1, 2, 7, 254, 1000}) {
    QuotedPrintableEncoder encoder;
    std::string pieces;
    for (size_t at = 0; at < with_nul.size(); at += piece)
      encoder.Update(with_nul.substr(at, piece), &pieces);
    EXPECT_EQ(encoded, pieces) << piece;
  }
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

// Base64 over files: the canonical images both ways, then texts the
// decoder reads that the encoder never writes.
TEST_F(FormatsTest, Base64FileImages) {
  auto run = [&](char mode, const std::string& input) {
    Write(Path("in"), input);
    EXPECT_EQ(kCodecOk, Base64FileCodec(mode, Wide("in"), Wide("out")));
    return Read(Path("out"));
  };
  for (const QpCase& c : {QpCase{"", ""}, QpCase{"A", "QQ==\r\n"}, QpCase{"AB", "QUI=\r\n"}, QpCase{"ABC", "QUJD\r\n"},
                          QpCase{std::string("\0\xff\x10", 3), "AP8Q\r\n"}, QpCase{kLine54, kLine54Encoded + "\r\n"},
                          QpCase{kLine54 + "9", kLine54Encoded + "\r\nOQ==\r\n"},
                          QpCase{kLine54 + kLine54, kLine54Encoded + "\r\n" + kLine54Encoded + "\r\n"}}) {
    EXPECT_EQ(c.encoded, run('e', c.plain));
    EXPECT_EQ(c.plain, run('d', c.encoded));
  }
  for (const QpCase& c : {QpCase{"A", "Q Q\r\n"}, QpCase{"", "Q"}, QpCase{"AB", "QUI"}, QpCase{"AB", "Q-U.I:"},
                          QpCase{"A\x04\x14$", "QQ==QUJD"}, QpCase{"A", std::string("Q\0Q\xff{|", 7)}}) {
    EXPECT_EQ(c.plain, run('d', c.encoded)) << c.encoded;
  }
}

// Files across the encoder's blocks: back through the decoder and through
// coreutils, which takes LF line ends only (the vMessage writer stores these
// lines with LF).
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
#ifndef _WIN32
    const std::string command =
        "tr -d '\\r' < '" + Path("encoded").string() + "' | base64 -d > '" + Path("coreutils").string() + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
    EXPECT_EQ(data, Read(Path("coreutils"))) << size;
#endif
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
// Python's own decoder reads what the encoder writes.
TEST_F(FormatsTest, PythonQuopriDecodesTheEncodedBody) {
  if (std::system("python3 -c 'import quopri' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3 quopri";
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
