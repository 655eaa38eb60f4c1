// The text codecs: byte images of each, quoted-printable soft breaks,
// Base64 over files across the encoder's blocks, streaming in pieces, and
// received files read whole into buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "formats/codecs.h"
#include "formats/file_buffer.h"
#include "formats_test_support.h"

namespace zelsync {
namespace formats {
namespace {

using testing::FormatsTest;

struct CodecCase {
  std::string plain, encoded;
};

TEST(QuotedPrintable, ImagesSoftBreaksAndPieces) {
  for (const CodecCase& c : {CodecCase{"a b=c", "a=20b=3Dc"}, CodecCase{"\t\x7f~", "=09=7F~"},
                             CodecCase{std::string("x\0y", 3), "x"}})
    EXPECT_EQ(c.encoded, QuotedPrintableEncode(c.plain));
  // Soft breaks after CR LF or LF, lower-case digits, and what is no escape.
  for (const CodecCase& c : {CodecCase{"ab", "a=\r\nb"}, CodecCase{"a\nb", "a=\nb"}, CodecCase{"==", "=3d=3D"},
                             CodecCase{"ZZ", "=ZZ"}, CodecCase{"x=4", "x=4"}, CodecCase{std::string("a\0", 2), "a=00"},
                             CodecCase{"ab", std::string("ab\0=41", 6)}})
    EXPECT_EQ(c.plain, QuotedPrintableDecode(c.encoded)) << c.encoded;
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string encoded = QuotedPrintableEncode(all);
  EXPECT_EQ(std::string::npos, encoded.find_first_of(" \t\r\n"));
  EXPECT_EQ(all, QuotedPrintableDecode(encoded));
  // In pieces of any size, the same text, up to the first NUL.
  for (size_t piece : {1, 7}) {
    const std::string with_nul = all + std::string(1, '\0') + "after";
    QuotedPrintableEncoder encoder;
    std::string pieces;
    for (size_t at = 0; at < with_nul.size(); at += piece) encoder.Update(with_nul.substr(at, piece), &pieces);
    EXPECT_EQ(encoded, pieces) << piece;
  }
}

TEST(WideToUtf8, ConvertsUpToTheFirstNul) {
  EXPECT_FALSE(WideToUtf8(std::nullopt));
  EXPECT_EQ("\xc3\xa9\xf0\x9f\x98\x80", WideToUtf8(WString(u"\u00e9\U0001F600")));
  EXPECT_EQ("ab", WideToUtf8(WString(u"ab\0cd", 5)));
}

TEST_F(FormatsTest, Base64FileImages) {
  auto run = [&](char mode, const std::string& input) {
    WriteText(Path("in"), input);
    EXPECT_EQ(kCodecOk, Base64FileCodec(mode, Wide("in"), Wide("out")));
    return ReadText(Path("out"));
  };
  for (const CodecCase& c : {CodecCase{"", ""}, CodecCase{"A", "QQ==\r\n"}, CodecCase{"AB", "QUI=\r\n"},
                             CodecCase{kLine54 + "9", kLine54Encoded + "\r\nOQ==\r\n"}}) {
    EXPECT_EQ(c.encoded, run('e', c.plain));
    EXPECT_EQ(c.plain, run('d', c.encoded));
  }
  // The decoder passes over what is no Base64 and stops at the first NUL.
  for (const CodecCase& c :
       {CodecCase{"", "Q"}, CodecCase{"AB", "Q-U.I:"}, CodecCase{"A\x04\x14$", "QQ==QUJD"},
        CodecCase{"A", std::string("Q\0Q\xff{|", 7)}})
    EXPECT_EQ(c.plain, run('d', c.encoded)) << c.encoded;
  EXPECT_EQ(kCodecOpenFailed, Base64FileCodec('e', Wide("missing"), Wide("out2")));
  EXPECT_FALSE(testing::Exists(Path("out2")));
  EXPECT_EQ(kCodecOpenFailed, Base64FileCodec('e', Wide("in"), Wide("no-folder/out")));
  env_.FailNth("Write", 1);
  EXPECT_EQ(kCodecStreamError, Base64FileCodec('e', Wide("in"), Wide("out")));
}

// Files across the encoder's blocks, back through the decoder and through
// coreutils (which takes LF line ends only, as the vMessage writer stores them).
TEST_F(FormatsTest, Base64SurvivesLargeFilesAcrossBlocks) {
  std::mt19937 random(7);
  for (size_t size : {size_t{54 * 1024}, size_t{54 * 1024 + 1}, size_t{200000}}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    WriteText(Path("plain"), data);
    ASSERT_EQ(kCodecOk, Base64FileCodec('e', Wide("plain"), Wide("encoded")));
    // 72 characters and CR LF a line, the last line shorter.
    const size_t groups = (size + 2) / 3, lines = (groups + 17) / 18;
    EXPECT_EQ(groups * 4 + lines * 2, ReadText(Path("encoded")).size()) << size;
    ASSERT_EQ(kCodecOk, Base64FileCodec('d', Wide("encoded"), Wide("decoded")));
    EXPECT_EQ(data, ReadText(Path("decoded"))) << size;
#ifndef _WIN32
    const std::string command = "tr -d '\\r' < '" + Path("encoded").string() + "' | base64 -d > '" +
                                Path("coreutils").string() + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
    EXPECT_EQ(data, ReadText(Path("coreutils"))) << size;
#endif
  }
}

TEST(Base64Streaming, GivesTheSameTextWhateverThePieces) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::string whole, pieces, decoded;
  Base64Encoder one("\n"), many("\n");
  one.Update(bytes, data.size(), &whole);
  one.Finish(&whole);
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step % 5 + 1)
    many.Update(bytes + at, std::min(step, data.size() - at), &pieces);
  many.Finish(&pieces);
  EXPECT_EQ(whole, pieces);
  Base64Decoder decoder;
  for (size_t at = 0; at < whole.size(); at += 3)
    decoder.Update(whole.data() + at, std::min<size_t>(3, whole.size() - at), &decoded);
  decoder.Finish(&decoded);
  EXPECT_EQ(data, decoded);
}

// Received files read whole: text mode, the zero byte after the content,
// the same bytes on both builds, and files that cannot be read.
using BufferTest = testing::FormatsTest;

TEST_F(BufferTest, BothBuffersReadInTextMode) {
  const struct {
    std::string file, text;
  } cases[] = {{"", ""}, {"a\r\nb\rc\r\n", "a\nb\rc\n"}, {"\r\r\n\n", "\r\n\n"},
               // The text ends at a NUL byte and, as in text mode on Windows, at Ctrl-Z.
               {std::string("ab\0cd", 5), "ab"}, {"ab\x1a\r\ncd", "ab"}};
  for (const auto& c : cases) {
    WriteText(Path("in"), c.file);
    auto message = MessageFileBuffer::Open(Wide("in"));
    ASSERT_TRUE(message);
    EXPECT_EQ(c.text, message->text());
    EXPECT_EQ('\0', message->data()[message->size()]);
    EXPECT_EQ(0, std::memcmp(c.text.data(), message->data(), c.text.size()));
    message.reset();  // the message buffer keeps its file open
    auto note = FileBuffer::Open(Wide("in"));
    ASSERT_TRUE(note);
    EXPECT_EQ(c.text, note->text());
    EXPECT_EQ(0, note->data()[note->size()]);
  }
  EXPECT_FALSE(MessageFileBuffer::Open(Wide("missing.vmg")));
  env_.FailNth("Open", 1);
  EXPECT_FALSE(FileBuffer::Open(Wide("in")));
  env_.FailNth("Read", 0);  // a failed read leaves the content empty, never undefined
  auto buffer = FileBuffer::Open(Wide("in"));
  ASSERT_TRUE(buffer);
  EXPECT_EQ("", buffer->text());
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
