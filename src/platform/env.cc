// What every backend shares: the current-Env switch and the UTF-16/UTF-8
// conversion used for POSIX paths and for the text of the formats.
#include "platform/platform.h"

namespace zelsync {
namespace {
Env* g_installed = nullptr;
}  // namespace

Env& Env::Current() { return g_installed ? *g_installed : Default(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(g_installed) { g_installed = &env; }
ScopedEnv::~ScopedEnv() { g_installed = previous_; }

std::string Utf16ToUtf8(const WString& text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // lone surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

WString Utf8ToUtf16(const std::string& text) {
  WString out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    uint32_t c = 0;
    size_t len = 0;
    uint32_t min = 0;
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F, len = 2, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F, len = 3, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07, len = 4, min = 0x10000;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j < len && i + j < n && (s[i + j] & 0xC0) == 0x80; ++j) c = (c << 6) | (s[i + j] & 0x3F);
    if (j < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // An invalid or truncated sequence: one replacement character for the
      // bytes consumed so far, then resynchronise on the next byte.
      out.push_back(0xFFFD);
      i += (j > 1 && j < len) ? j : 1;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

}  // namespace zelsync
