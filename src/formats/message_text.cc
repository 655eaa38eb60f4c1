#include "formats/message_text.h"

#include <climits>
#include <cstring>

namespace zelsync {
namespace formats {
namespace {
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

std::ptrdiff_t FindText(std::string_view text, std::string_view key, std::ptrdiff_t start) {
  if (start < 0) start = 0;
  size_t at = static_cast<size_t>(start);
  while (at < text.size()) {
    at = text.find(key, at);
    if (at == std::string_view::npos || at >= text.size()) return -1;
    if (text[at] != '\n') return static_cast<std::ptrdiff_t>(at);
    ++at;
  }
  return -1;
}

size_t ReadLineAt(std::string_view text, std::ptrdiff_t offset, char (&buffer)[kLineBufferSize]) {
  size_t count = 0;
  if (offset >= 0 && static_cast<size_t>(offset) < text.size()) {
    std::string_view rest = text.substr(static_cast<size_t>(offset));
    count = rest.find('\n');
    if (count == std::string_view::npos) count = rest.size();
    if (count > kLineBufferSize - 1) {
      count = kLineBufferSize - 1;
      // When the byte after the cut continues a UTF-8 sequence, end before
      // the sequence's lead byte instead of keeping half a character.
      if (IsContinuation(rest[count])) {
        size_t lead = count;
        while (lead > 0 && count - lead < 3 && IsContinuation(rest[lead])) --lead;
        if (static_cast<unsigned char>(rest[lead]) >= 0xC0) count = lead;
      }
    }
    std::memcpy(buffer, rest.data(), count);
  }
  buffer[count] = '\0';
  return count;
}

std::string LineAt(std::string_view text, std::ptrdiff_t offset) {
  char buffer[kLineBufferSize];
  const size_t count = ReadLineAt(text, offset, buffer);
  return std::string(buffer, count);
}

int ParseLeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace formats
}  // namespace zelsync
