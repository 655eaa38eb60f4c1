#include "platform/fcvt_emulation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zelsync {
namespace {
constexpr int kSignificantDigits = 17;
// The runtime's conversion buffer holds 349 bytes: at most 347 digits plus
// the carry digit and the terminator.
constexpr int kMaxDigits = 347;
constexpr int kMaxFractionDigits = 100;
}  // namespace

std::string FcvtDigitsEmulated(double value, int fraction_digits) {
  if (!std::isfinite(value) || value == 0.0) return std::string();
  if (fraction_digits < 0) fraction_digits = 0;
  if (fraction_digits > kMaxFractionDigits) fraction_digits = kMaxFractionDigits;

  // 17 significant digits and the decimal exponent, e.g. "3.9448500000000000e+04".
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", kSignificantDigits - 1, std::fabs(value));
  char mantissa[kSignificantDigits + 1] = {0};
  int count = 0;
  const char* p = text;
  // Digits up to the exponent mark; whatever the locale's decimal point is,
  // it is not a digit.
  for (; *p && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '0' && *p <= '9' && count < kSignificantDigits) mantissa[count++] = *p;
  }
  if (*p == '\0' || count == 0) return std::string();
  const int decimal_point = std::atoi(p + 1) + 1;

  int digits = decimal_point + fraction_digits;
  if (digits > kMaxDigits) digits = kMaxDigits;

  // A leading "0" takes the carry of a rounding such as 9.99 -> 10.0.
  std::string out = "0";
  const char* next = mantissa;
  for (int i = 0; i < digits; ++i) out.push_back(*next ? *next++ : '0');
  // Round half up on the digit after the last one kept; when no digit is
  // kept at all (digits < 0) the value is below the resolution.
  if (digits >= 0 && *next >= '5') {
    size_t i = out.size() - 1;
    while (out[i] == '9') out[i--] = '0';
    ++out[i];
  }
  if (out[0] == '0') out.erase(0, 1);
  return out;
}

}  // namespace zelsync
