// Received files read whole: text mode, the zero byte after the content,
// and the same bytes on both builds.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/file_buffer.h"
#include "formats_test_support.h"

namespace zelsync {
namespace formats {
namespace {

struct BufferCase {
  std::string file, text;
};

class BufferTest : public testing::FormatsTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(BufferTest, BothBuffersReadInTextMode) {
  Write(Path("in"), GetParam().file);
  auto message = MessageFileBuffer::Open(Wide("in"));
  auto note = FileBuffer::Open(Wide("in"));
  ASSERT_TRUE(message && note);
  EXPECT_EQ(GetParam().text, message->text());
  EXPECT_EQ(GetParam().text, note->text());
  EXPECT_EQ(GetParam().file.size(), message->size());
  EXPECT_EQ(GetParam().file.size(), note->size());
  EXPECT_EQ('\0', message->data()[message->size()]);
  EXPECT_EQ(0, note->data()[note->size()]);
  EXPECT_EQ(0, std::memcmp(GetParam().text.data(), message->data(), GetParam().text.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BufferTest,
    ::testing::Values(BufferCase{"", ""}, BufferCase{"a\r\nb\rc\r\n", "a\nb\rc\n"},
                      BufferCase{"\r\r\n\n", "\r\n\n"}, BufferCase{"end\r", "end\r"},
                      // The text ends at a NUL byte and, as text mode on
                      // Windows has it, at Ctrl-Z.
                      BufferCase{std::string("ab\0cd", 5), "ab"}, BufferCase{"ab\x1a\r\ncd", "ab"}));

using BufferFailureTest = testing::FormatsTest;

TEST_F(BufferFailureTest, BuffersOfFilesThatCannotBeReadAreNull) {
  EXPECT_FALSE(MessageFileBuffer::Open(Wide("missing.vmg")));
  EXPECT_FALSE(FileBuffer::Open(Wide("missing.vnt")));
  EXPECT_FALSE(FileBuffer::Open(WString()));
  Write(Path("in"), "BEGIN:VNOTE");
  env_.FailNth("Open", 1);
  EXPECT_FALSE(FileBuffer::Open(Wide("in")));
  // A failed read leaves the content empty, never undefined.
  env_.FailNth("Read", 0);
  auto buffer = FileBuffer::Open(Wide("in"));
  ASSERT_TRUE(buffer);
  EXPECT_EQ("", buffer->text());
}

}  // namespace
}  // namespace formats
}  // namespace zelsync
