// The text conversions the object formats take from the platform layer: the
// digits of _fcvt_s, strict UTF-8 and the ANSI code page.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/fcvt_emulation.h"
#include "platform/platform.h"

namespace zelsync {
namespace {

// The emulation, on every build: 17 significant digits, then "0". The
// platform's own digits agree wherever the value is exact.
TEST(Fcvt, GivesTheRuntimeDigits) {
  const struct {
    double value;
    std::string digits;
    bool exact;
  } cases[] = {{39448.5, "3944850000000000000", true}, {-39448.5, "3944850000000000000", true},
               {0.5, "50000000000000", true}, {0.0, "", true}, {1e-20, "", true},
               {45292.541666666664, "4529254166666666400", false},
               {123456789.123456789, "12345678912345679000000", false}, {1e20, "1" + std::string(34, '0'), false},
               {0.001, "100000000000", false},
               // Rounding carries into a new leading digit.
               {0.999999999999995, "100000000000000", false}, {6e-15, "1", false}, {4e-15, "", false},
               {std::numeric_limits<double>::infinity(), "", false}, {std::nan(""), "", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.digits, FcvtDigitsEmulated(c.value, 14)) << c.value;
    if (c.exact) {
      EXPECT_EQ(c.digits, FcvtDigits(c.value, 14)) << c.value;
    }
  }
  EXPECT_EQ("39449", FcvtDigitsEmulated(39448.5, 0));
  // At most 100 fraction digits.
  EXPECT_EQ("394485" + std::string(99, '0'), FcvtDigitsEmulated(39448.5, 1000));
}

TEST(Utf8ToUtf16Strict, RefusesIllFormedText) {
  WString out = u"kept";
  EXPECT_TRUE(Utf8ToUtf16Strict("caf\xc3\xa9 \xe2\x82\xac\xef\xbf\xbd", &out));
  EXPECT_EQ(u"caf\u00e9 \u20ac\ufffd", out);
  out = u"kept";
  for (const char* bad : {"caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\xff"}) {
    EXPECT_FALSE(Utf8ToUtf16Strict(bad, &out)) << bad;
    EXPECT_EQ(u"kept", out);
  }
}

TEST(AnsiToUtf16, ReadsWindows1252) {
  EXPECT_EQ(u"caf\u00e9 \u20ac\u0081\u0178\u00ff", AnsiToUtf16("caf\xe9 \x80\x81\x9f\xff"));
  EXPECT_EQ(WString(u"a\0b", 3), AnsiToUtf16(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace zelsync
