// Quoted-printable for the HTML bodies of mail.
#include "formats/codecs.h"

namespace zelsync {
namespace formats {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

void QuotedPrintableEncoder::Update(std::string_view chunk, std::string* out) {
  if (ended_) return;
  const std::string_view text = UpToNul(chunk);
  ended_ = text.size() < chunk.size();
  if (text.size() > (out->max_size() - out->size()) / 3) return;
  // Sized once for the worst case and filled in place.
  const size_t start = out->size();
  out->resize(start + text.size() * 3);
  char* p = &(*out)[start];
  for (unsigned char b : text) {
    if (b >= 0x21 && b <= 0x7E && b != '=') {
      *p++ = static_cast<char>(b);
    } else {
      *p++ = '=';
      *p++ = kHexDigits[b >> 4];
      *p++ = kHexDigits[b & 0x0F];
    }
  }
  out->resize(static_cast<size_t>(p - out->data()));
}

std::string QuotedPrintableEncode(std::string_view text) {
  std::string out;
  QuotedPrintableEncoder().Update(text, &out);
  return out;
}

std::string QuotedPrintableDecode(std::string_view text) {
  text = UpToNul(text);
  std::string out(text.size(), '\0');
  char* p = &out[0];
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '=' || i + 2 >= text.size()) {
      *p++ = text[i++];
      continue;
    }
    const char c = text[i + 1], d = text[i + 2];
    if (c == '\r' && d == '\n') {
      i += 3;  // soft line break
    } else if (HexValue(c) >= 0 && HexValue(d) >= 0) {
      *p++ = static_cast<char>(HexValue(c) * 16 + HexValue(d));
      i += 3;
    } else {
      *p++ = c;  // the "=" is dropped
      i += 2;
    }
  }
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

}  // namespace formats
}  // namespace zelsync
