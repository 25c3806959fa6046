#include "json/number_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <limits>

namespace tk {
namespace {

struct NumberCase {
  const char* text;
  std::optional<double> expected;
};

class MsqNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(MsqNumberTest, FollowsTheNumberRule) {
  const NumberCase& c = GetParam();
  const std::optional<double> got = parseMsqNumber(QString::fromUtf8(c.text));
  ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
  if (c.expected) {
    EXPECT_EQ(*got, *c.expected) << c.text;
    EXPECT_EQ(std::signbit(*got), std::signbit(*c.expected)) << c.text;
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Forms, MsqNumberTest,
    ::testing::Values(NumberCase{"12", 12.0}, NumberCase{"  -3.25\t\n", -3.25},
                      NumberCase{"+7", 7.0}, NumberCase{"5.", 5.0}, NumberCase{".5", 0.5},
                      NumberCase{"-.5e1", -5.0}, NumberCase{"1E+3", 1000.0},
                      NumberCase{"2.5e-3", 0.0025}, NumberCase{"-0", -0.0},
                      NumberCase{"Infinity", kInf}, NumberCase{"-INFINITY", -kInf},
                      NumberCase{"1e999", kInf}, NumberCase{"-1e999", -kInf},
                      NumberCase{"1e-999", 0.0}, NumberCase{"-1e-999", -0.0},
                      NumberCase{"0.000e999", 0.0}, NumberCase{"5e-324", 5e-324},
                      // Not numbers: empty, lone sign or point, hexadecimal, grouping, decimal
                      // comma, exponent without digits, trailing text, "inf", inner blank.
                      NumberCase{"", std::nullopt}, NumberCase{"   ", std::nullopt},
                      NumberCase{"-", std::nullopt}, NumberCase{".", std::nullopt},
                      NumberCase{"0x10", std::nullopt}, NumberCase{"1,000", std::nullopt},
                      NumberCase{"1,5", std::nullopt}, NumberCase{"1e", std::nullopt},
                      NumberCase{"1e+", std::nullopt}, NumberCase{"e5", std::nullopt},
                      NumberCase{"12abc", std::nullopt}, NumberCase{"inf", std::nullopt},
                      NumberCase{"1 2", std::nullopt}, NumberCase{"--1", std::nullopt},
                      NumberCase{"+-1", std::nullopt}, NumberCase{"\"5\"", std::nullopt},
                      NumberCase{"\xd9\xa3", std::nullopt}));  // Arabic-Indic digit three

TEST(MsqNumberNanTest, NanInAnyCaseAndSign) {
  for (const char* text : {"nan", "NaN", " -NAN ", "+nan"}) {
    const std::optional<double> got = parseMsqNumber(QString::fromLatin1(text));
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_TRUE(std::isnan(*got)) << text;
  }
  EXPECT_FALSE(parseMsqNumber(u"nan1").has_value());
}

struct FixedCase {
  double value;
  int precision;
  const char* expected;
};

class FormatFixedTest : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixedTest, PrintsLikePrintfInTheCLocale) {
  const FixedCase& c = GetParam();
  EXPECT_EQ(formatFixed(c.value, c.precision), QByteArray(c.expected))
      << c.value << " at " << c.precision;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatFixedTest,
    ::testing::Values(FixedCase{12.0, 1, "12.0"}, FixedCase{15.7, 1, "15.7"},
                      FixedCase{0.125, 2, "0.12"},  // exact binary tie rounds to even
                      FixedCase{0.375, 2, "0.38"}, FixedCase{2.5, 0, "2"}, FixedCase{3.5, 0, "4"},
                      FixedCase{-2.5, 2, "-2.50"}, FixedCase{-0.0, 1, "-0.0"},
                      FixedCase{-0.04, 1, "-0.0"}, FixedCase{1e21, 1, "1000000000000000000000.0"},
                      FixedCase{1.0 / 3.0, -1, "0.333333"},  // negative precision means 6
                      FixedCase{0.1, 20, "0.10000000000000000555"},
                      FixedCase{std::numeric_limits<double>::infinity(), 1, "inf"},
                      FixedCase{-std::numeric_limits<double>::infinity(), 3, "-inf"},
                      FixedCase{std::numeric_limits<double>::quiet_NaN(), 1, "nan"}));

TEST(FormatFixedLimitsTest, LargestDoubleAndCappedPrecision) {
  const QByteArray max = formatFixed(std::numeric_limits<double>::max(), 1);
  EXPECT_EQ(max.size(), 309 + 2);
  EXPECT_TRUE(max.startsWith("17976931348623157"));
  EXPECT_TRUE(max.endsWith(".0"));
  // A hostile precision is capped; the decimals are exact and end in zeros.
  const QByteArray capped = formatFixed(0.5, 1000000000);
  EXPECT_EQ(capped.size(), 2 + kMaxFixedPrecision);
  EXPECT_EQ(capped.first(4), QByteArray("0.50"));
  EXPECT_EQ(capped.count('0'), kMaxFixedPrecision);
}

}  // namespace
}  // namespace tk
