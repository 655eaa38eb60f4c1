// Searching the text of a received vMessage. The reader finds every key by
// searching the whole text, not by reading properties in order.
#ifndef ZELSYNC_FORMATS_MESSAGE_TEXT_H
#define ZELSYNC_FORMATS_MESSAGE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace zelsync {
namespace formats {

// The size of a header value buffer: at most 2047 bytes and a NUL.
constexpr size_t kLineBufferSize = 2048;

// The offset of the first occurrence of `key` at or after `start`, or -1. A
// match never starts on an LF byte; a start at or past the end gives -1.
std::ptrdiff_t FindText(std::string_view text, std::string_view key, std::ptrdiff_t start);

// Copies the bytes from `offset` up to the next LF or the end of the text
// into `buffer` (of kLineBufferSize bytes), NUL-terminated; returns their
// count. A longer line is cut to 2047 bytes, and back to the start of a
// UTF-8 sequence the cut would split.
size_t ReadLineAt(std::string_view text, std::ptrdiff_t offset, char (&buffer)[kLineBufferSize]);

// The same line as a string.
std::string LineAt(std::string_view text, std::ptrdiff_t offset);

// The leading decimal number of `text` as the C runtime's atoi reads it:
// leading blanks and a sign accepted, 0 when no digit follows; a number out
// of range gives INT_MAX or INT_MIN.
int ParseLeadingInt(std::string_view text);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_MESSAGE_TEXT_H
