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

// The dump-jsonfmt golden file covers the listed doubles and floats; these cases the rest.

TEST(NumberFormatTest, DoublesByThresholdFloatsAndNonFiniteTexts) {
  // clang-format off
  const std::tuple<double, int, const char*> cases[] = {
      {-std::ldexp(1.0, -25), kJsonThreshold, "-2.980232238769531E-08"},
      {std::bit_cast<double>(0x0410000000000000ULL), kJsonThreshold, "4.104536801298376E-289"},
      {1e300, kJsonThreshold, "1E+300"}, {-1.25e-7, kJsonThreshold, "-1.25E-07"},
      {-2.5, kJsonThreshold, "-2.5"}, {1e16, kExprThreshold, "1E+16"},
      {1e14, kExprThreshold, "100000000000000"}, {1.5e15, kExprThreshold, "1.5E+15"}};
  // clang-format on
  for (const auto& [value, threshold, text] : cases) {
    EXPECT_EQ(formatDouble(value, threshold), QString::fromLatin1(text)) << text;
  }
  EXPECT_EQ(formatFloat(-0.0f) + formatFloat(-25.4f), QStringLiteral("-0-25.4"));
  EXPECT_EQ(formatDoubleOrNonFinite(std::nan("")) + formatDoubleOrNonFinite(0.5),
            QStringLiteral("NaN0.5"));
  EXPECT_EQ(formatFloatOrNonFinite(-INFINITY) + formatFloatOrNonFinite(0.1f),
            QStringLiteral("-Infinity0.1"));
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
