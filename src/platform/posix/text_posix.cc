// Text conversions of the POSIX backend, written to give the results the
// Windows converters give: UTF-16 <-> UTF-8 with U+FFFD for ill-formed input,
// Windows-1252 as the ANSI code page, and the digits of _fcvt_s.
#include "platform/fcvt_emulation.h"
#include "platform/platform.h"

namespace zelsync {
namespace {

// Decodes UTF-8; every ill-formed sequence becomes one U+FFFD for the bytes
// consumed, and *ill_formed is set. With `escape` each byte of it becomes the
// lone surrogate U+DC00 + byte instead, so the bytes can be given back.
WString DecodeUtf8(const std::string& text, bool* ill_formed, bool escape = false) {
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
      out.push_back(escape ? static_cast<char16_t>(0xDC00 + b) : 0xFFFD);
      *ill_formed = true;
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j < len && i + j < n && (s[i + j] & 0xC0) == 0x80; ++j) c = (c << 6) | (s[i + j] & 0x3F);
    if (j < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // An invalid or truncated sequence: one replacement character for the
      // bytes consumed so far, then resynchronise on the next byte.
      const size_t consumed = (j > 1 && j < len) ? j : 1;
      if (escape) {
        for (size_t k = 0; k < consumed; ++k) out.push_back(static_cast<char16_t>(0xDC00 + s[i + k]));
      } else {
        out.push_back(0xFFFD);
      }
      *ill_formed = true;
      i += consumed;
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

// Windows-1252 bytes 0x80 to 0x9F; the unassigned 0x81, 0x8D, 0x8F, 0x90 and
// 0x9D stay the C1 controls of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Encodes UTF-16 as UTF-8; a lone surrogate becomes U+FFFD, or with
// `escape` a lone U+DC80..U+DCFF becomes the byte it stands for.
std::string EncodeUtf8(const WString& text, bool escape) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (escape && c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - 0xDC00));
      continue;
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

}  // namespace

std::string Utf16ToUtf8(const WString& text) { return EncodeUtf8(text, /*escape=*/false); }

WString PathFromNative(const std::string& bytes) {
  bool ill_formed = false;
  return DecodeUtf8(bytes, &ill_formed, /*escape=*/true);
}

std::string NativePath(const WString& path) { return EncodeUtf8(path, /*escape=*/true); }

WString Utf8ToUtf16(const std::string& text) {
  bool ill_formed = false;
  return DecodeUtf8(text, &ill_formed);
}

bool Utf8ToUtf16Strict(const std::string& text, WString* out) {
  bool ill_formed = false;
  WString decoded = DecodeUtf8(text, &ill_formed);
  if (ill_formed) return false;
  *out = std::move(decoded);
  return true;
}

WString AnsiToUtf16(const std::string& text) {
  WString out;
  out.reserve(text.size());
  for (unsigned char b : text) out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
  return out;
}

size_t FileNameLength(const WString& name) { return Utf16ToUtf8(name).size(); }

std::string FcvtDigits(double value, int fraction_digits) {
  return FcvtDigitsEmulated(value, fraction_digits);
}

}  // namespace zelsync
