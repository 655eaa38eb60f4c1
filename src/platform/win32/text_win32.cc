// Text conversions of the Windows backend: the system's own converters and
// the C runtime's _fcvt_s.
#include <windows.h>
#include <stdlib.h>

#include <climits>
#include <cmath>

#include "platform/platform.h"

namespace zelsync {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

WString MultiByteToWide(UINT code_page, DWORD flags, const std::string& text, bool* ok) {
  *ok = true;
  if (text.empty()) return WString();
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    *ok = false;
    return WString();
  }
  const int length = static_cast<int>(text.size());
  int units = MultiByteToWideChar(code_page, flags, text.data(), length, nullptr, 0);
  if (units <= 0) {
    *ok = false;
    return WString();
  }
  WString out(static_cast<size_t>(units), u'\0');
  units = MultiByteToWideChar(code_page, flags, text.data(), length,
                              reinterpret_cast<wchar_t*>(&out[0]), units);
  if (units <= 0) {
    *ok = false;
    return WString();
  }
  out.resize(static_cast<size_t>(units));
  return out;
}

}  // namespace

std::string Utf16ToUtf8(const WString& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, &out[0], bytes, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  out.resize(static_cast<size_t>(bytes));
  return out;
}

WString Utf8ToUtf16(const std::string& text) {
  bool ok = false;
  return MultiByteToWide(CP_UTF8, 0, text, &ok);
}

bool Utf8ToUtf16Strict(const std::string& text, WString* out) {
  bool ok = false;
  WString decoded = MultiByteToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text, &ok);
  if (!ok) return false;
  *out = std::move(decoded);
  return true;
}

WString AnsiToUtf16(const std::string& text) {
  bool ok = false;
  return MultiByteToWide(CP_ACP, 0, text, &ok);
}

size_t FileNameLength(const WString& name) { return name.size(); }

std::string FcvtDigits(double value, int fraction_digits) {
  // Zero has no significant digit; the runtimes disagree on what they give
  // for it, so both builds give the empty text.
  if (!std::isfinite(value) || value == 0.0) return std::string();
  if (fraction_digits < 0) fraction_digits = 0;
  if (fraction_digits > 100) fraction_digits = 100;
  char buffer[_CVTBUFSIZE] = {0};
  int decimal_point = 0, sign = 0;
  if (_fcvt_s(buffer, sizeof buffer, value, fraction_digits, &decimal_point, &sign) != 0) {
    return std::string();
  }
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

}  // namespace zelsync
