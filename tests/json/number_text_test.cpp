#include "json/number_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <limits>

namespace tk {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MsqNumberTest, FollowsTheNumberRule) {
  // clang-format off
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"12", 12.0}, {"  -3.25\t\n", -3.25}, {"+7", 7.0}, {"5.", 5.0}, {".5", 0.5}, {"-.5e1", -5.0},
      {"1E+3", 1000.0}, {"2.5e-3", 0.0025}, {"-0", -0.0}, {"Infinity", kInf}, {"-INFINITY", -kInf},
      {"1e999", kInf}, {"-1e999", -kInf}, {"1e-999", 0.0}, {"-1e-999", -0.0}, {"0.000e999", 0.0},
      {"5e-324", 5e-324}, {"nan", kNaN}, {" -NAN ", kNaN}, {"+NaN", kNaN},
      // Not numbers: empty, lone sign or point, hexadecimal, grouping, decimal comma, exponent
      // without digits, trailing text, "inf", inner blank, quotes, other digits.
      {"", {}}, {"   ", {}}, {"-", {}}, {".", {}}, {"0x10", {}}, {"1,000", {}}, {"1,5", {}},
      {"1e", {}}, {"1e+", {}}, {"e5", {}}, {"12abc", {}}, {"inf", {}}, {"nan1", {}}, {"1 2", {}},
      {"--1", {}}, {"+-1", {}}, {"\"5\"", {}}, {"\xd9\xa3", {}}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    const std::optional<double> got = parseMsqNumber(QString::fromUtf8(text));
    ASSERT_EQ(got.has_value(), expected.has_value()) << text;
    if (expected && std::isnan(*expected)) {
      EXPECT_TRUE(std::isnan(*got)) << text;
    } else if (expected) {
      EXPECT_EQ(*got, *expected) << text;
      EXPECT_EQ(std::signbit(*got), std::signbit(*expected)) << text;
    }
  }
}

TEST(FormatFixedTest, PrintsLikePrintfInTheCLocale) {
  // clang-format off
  const std::tuple<double, int, const char*> cases[] = {
      {12.0, 1, "12.0"}, {0.125, 2, "0.12"} /* an exact binary tie rounds to even */,
      {0.375, 2, "0.38"}, {2.5, 0, "2"}, {3.5, 0, "4"}, {-0.0, 1, "-0.0"}, {-0.04, 1, "-0.0"},
      {1e21, 1, "1000000000000000000000.0"}, {1.0 / 3.0, -1, "0.333333"} /* -1 means 6 */,
      {0.1, 20, "0.10000000000000000555"}, {kInf, 1, "inf"}, {-kInf, 3, "-inf"}, {kNaN, 1, "nan"}};
  // clang-format on
  for (const auto& [value, precision, expected] : cases) {
    EXPECT_EQ(formatFixed(value, precision), QByteArray(expected)) << expected;
  }
  const QByteArray max = formatFixed(std::numeric_limits<double>::max(), 1);
  EXPECT_EQ(max.size(), 309 + 2);
  EXPECT_TRUE(max.startsWith("17976931348623157"));
  // A hostile precision is capped; the decimals are exact and end in zeros.
  const QByteArray capped = formatFixed(0.5, 1000000000);
  EXPECT_EQ(capped.size(), 2 + kMaxFixedPrecision);
  EXPECT_EQ(capped.count('0'), kMaxFixedPrecision);
}

}  // namespace
}  // namespace tk
