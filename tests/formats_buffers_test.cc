// Received files read whole: text mode, the zero byte after the content,
// the same bytes on both builds, and files that cannot be read.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/file_buffer.h"
#include "formats_test_support.h"

namespace zelsync {
namespace formats {
namespace {

using BufferTest = testing::FormatsTest;

TEST_F(BufferTest, BothBuffersReadInTextMode) {
  const struct {
    std::string file, text;
  } cases[] = {{"", ""}, {"a\r\nb\rc\r\n", "a\nb\rc\n"}, {"\r\r\n\n", "\r\n\n"}, {"end\r", "end\r"},
               // The text ends at a NUL byte and, as in text mode on Windows, at Ctrl-Z.
               {std::string("ab\0cd", 5), "ab"}, {"ab\x1a\r\ncd", "ab"}};
  for (const auto& c : cases) {
    Write(Path("in"), c.file);
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
  EXPECT_FALSE(FileBuffer::Open(WString()));
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
