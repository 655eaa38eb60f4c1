// The digits of the C runtime's _fcvt_s, computed portably. The POSIX
// backend's FcvtDigits is this function; it is built on every platform so
// both builds can check it against the same table.
#ifndef ZELSYNC_PLATFORM_FCVT_EMULATION_H
#define ZELSYNC_PLATFORM_FCVT_EMULATION_H

#include <string>

namespace zelsync {

// As FcvtDigits (platform.h): the value rounded to 17 significant digits,
// then rounded half up to `fraction_digits` digits after the point (0 to
// 100), padded with "0" past the 17th digit; no sign, no point, no leading
// zeros. Empty for 0.0, for values that are not finite and for values that
// round to zero.
std::string FcvtDigitsEmulated(double value, int fraction_digits);

}  // namespace zelsync

#endif  // ZELSYNC_PLATFORM_FCVT_EMULATION_H
