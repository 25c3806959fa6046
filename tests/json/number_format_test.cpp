#include "json/number_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace tk {
namespace {

TEST(NumberFormatTest, DoublesAtJsonThreshold) {
  const std::pair<double, const char*> cases[] = {
      {100, "100"},
      {1.5, "1.5"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {1e16, "10000000000000000"},
      {1e17, "1E+17"},
      {0.1 + 0.2, "0.30000000000000004"},
      {-2.5, "-2.5"},
      {std::ldexp(1.0, -25), "2.980232238769531E-08"},
      {std::numeric_limits<double>::denorm_min(), "5E-324"},
      {123456789012345678.0, "1.2345678901234568E+17"},
      {0.0, "0"},
      {-0.0, "-0"},
      {1e300, "1E+300"},
      {-1.25e-7, "-1.25E-07"},
      {123.456, "123.456"},
      {1e21, "1E+21"},
      {std::numeric_limits<double>::max(), "1.7976931348623157E+308"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(formatDouble(value, kJsonThreshold), QString::fromLatin1(text)) << text;
  }
}

TEST(NumberFormatTest, FixedBitPatternsKeepTheirDigits) {
  EXPECT_EQ(formatDouble(std::bit_cast<double>(0x3E60000000000000ULL), 17),
            QStringLiteral("2.980232238769531E-08"));
  EXPECT_EQ(formatDouble(std::bit_cast<double>(0x0410000000000000ULL), 17),
            QStringLiteral("4.104536801298376E-289"));
  EXPECT_EQ(formatDouble(-std::bit_cast<double>(0x3E60000000000000ULL), 17),
            QStringLiteral("-2.980232238769531E-08"));
}

TEST(NumberFormatTest, ThresholdMovesTheScientificBoundary) {
  EXPECT_EQ(formatDouble(1e16, kExprThreshold), QStringLiteral("1E+16"));
  EXPECT_EQ(formatDouble(1e14, kExprThreshold), QStringLiteral("100000000000000"));
  EXPECT_EQ(formatDouble(1.5e15, kExprThreshold), QStringLiteral("1.5E+15"));
}

TEST(NumberFormatTest, Floats) {
  EXPECT_EQ(formatFloat(16777216.0f), QStringLiteral("16777216"));
  EXPECT_EQ(formatFloat(1e9f), QStringLiteral("1E+09"));
  EXPECT_EQ(formatFloat(0.1f), QStringLiteral("0.1"));
  EXPECT_EQ(formatFloat(25.4f), QStringLiteral("25.4"));
  EXPECT_EQ(formatFloat(-0.0f), QStringLiteral("-0"));
  EXPECT_EQ(formatFloat(1e8f), QStringLiteral("100000000"));
  EXPECT_EQ(formatFloat(std::numeric_limits<float>::denorm_min()), QStringLiteral("1E-45"));
  EXPECT_EQ(formatFloat(std::numeric_limits<float>::max()), QStringLiteral("3.4028235E+38"));
}

TEST(NumberFormatTest, NonFiniteTexts) {
  EXPECT_EQ(formatDoubleOrNonFinite(std::nan("")), QStringLiteral("NaN"));
  EXPECT_EQ(formatDoubleOrNonFinite(INFINITY), QStringLiteral("Infinity"));
  EXPECT_EQ(formatDoubleOrNonFinite(-INFINITY), QStringLiteral("-Infinity"));
  EXPECT_EQ(formatDoubleOrNonFinite(0.5), QStringLiteral("0.5"));
  EXPECT_EQ(formatFloatOrNonFinite(-INFINITY), QStringLiteral("-Infinity"));
}

template <typename T, typename Bits>
void expectRoundTrips(std::mt19937_64& rng, int count) {
  for (int i = 0; i < count; ++i) {
    const Bits bits = static_cast<Bits>(rng());
    const T x = std::bit_cast<T>(bits);
    if (!std::isfinite(x)) {
      continue;
    }
    std::string text;
    if constexpr (std::is_same_v<T, double>) {
      appendDouble(text, x, kJsonThreshold);
    } else {
      appendFloat(text, x);
    }
    T back{};
    const auto res = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(res.ec, std::errc()) << text;
    ASSERT_EQ(res.ptr, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<Bits>(back), bits) << text;
  }
}

TEST(NumberFormatTest, MillionRandomValuesReadBackToTheSameBits) {
  std::mt19937_64 rng(20261205);
  expectRoundTrips<double, std::uint64_t>(rng, 1000000);
  expectRoundTrips<float, std::uint32_t>(rng, 1000000);
}

}  // namespace
}  // namespace tk
