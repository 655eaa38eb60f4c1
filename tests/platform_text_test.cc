// The text conversions the object formats take from the platform layer: the
// digits of _fcvt_s, strict UTF-8 and the ANSI code page.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/fcvt_emulation.h"
#include "platform/platform.h"

namespace zelsync {
namespace {

struct DigitsCase {
  double value;
  std::string digits;
};

// The emulation, on every build: 17 significant digits, then "0".
class FcvtEmulationTest : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(FcvtEmulationTest, GivesTheRuntimeDigits) {
  EXPECT_EQ(GetParam().digits, FcvtDigitsEmulated(GetParam().value, 14)) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FcvtEmulationTest,
    ::testing::Values(DigitsCase{39448.5, "3944850000000000000"}, DigitsCase{-39448.5, "3944850000000000000"},
                      DigitsCase{39448.1, "3944809999999999900"},
                      DigitsCase{45292.541666666664, "4529254166666666400"},
                      DigitsCase{123456789.123456789, "12345678912345679000000"},
                      DigitsCase{1e20, "1" + std::string(34, '0')}, DigitsCase{0.5, "50000000000000"},
                      DigitsCase{0.1, "10000000000000"}, DigitsCase{0.001, "100000000000"},
                      // Rounding carries into a new leading digit.
                      DigitsCase{0.999999999999995, "100000000000000"}, DigitsCase{6e-15, "1"},
                      DigitsCase{4e-15, ""}, DigitsCase{1e-20, ""}, DigitsCase{0.0, ""}, DigitsCase{-0.0, ""},
                      DigitsCase{std::numeric_limits<double>::infinity(), ""},
                      DigitsCase{std::nan(""), ""}));

TEST(FcvtEmulation, CountsFractionDigits) {
  EXPECT_EQ("39449", FcvtDigitsEmulated(39448.5, 0));
  EXPECT_EQ("394485", FcvtDigitsEmulated(39448.5, 1));
  // At most 100 fraction digits.
  EXPECT_EQ("394485" + std::string(99, '0'), FcvtDigitsEmulated(39448.5, 1000));
}

// The platform's own digits agree wherever the value is exact.
class FcvtDigitsTest : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(FcvtDigitsTest, GivesTheDateDigits) {
  EXPECT_EQ(GetParam().digits, FcvtDigits(GetParam().value, 14)) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, FcvtDigitsTest,
                         ::testing::Values(DigitsCase{39448.5, "3944850000000000000"},
                                           DigitsCase{-39448.5, "3944850000000000000"},
                                           DigitsCase{0.5, "50000000000000"}, DigitsCase{0.0, ""},
                                           DigitsCase{1e-20, ""}, DigitsCase{45292.25, "4529225000000000000"}));

TEST(Utf8ToUtf16Strict, RefusesIllFormedText) {
  WString out = u"kept";
  EXPECT_TRUE(Utf8ToUtf16Strict("caf\xc3\xa9 \xe2\x82\xac\xef\xbf\xbd", &out));
  EXPECT_EQ(u"caf\u00e9 \u20ac\ufffd", out);
  EXPECT_TRUE(Utf8ToUtf16Strict("", &out));
  EXPECT_EQ(u"", out);
  out = u"kept";
  for (const char* bad : {"caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\xff"}) {
    EXPECT_FALSE(Utf8ToUtf16Strict(bad, &out)) << bad;
    EXPECT_EQ(u"kept", out);
  }
}

TEST(AnsiToUtf16, ReadsWindows1252) {
  EXPECT_EQ(u"caf\u00e9 \u20ac\u0081\u0178\u00ff", AnsiToUtf16("caf\xe9 \x80\x81\x9f\xff"));
  EXPECT_EQ(u"", AnsiToUtf16(""));
  EXPECT_EQ(WString(u"a\0b", 3), AnsiToUtf16(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace zelsync
