#include "expr/expression_syntax.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();

TEST(TokenizerTest, SplitsIntoTheExpectedTokens) {
  // Expected tokens are separated by single blanks (no token holds one).
  const struct {
    const char16_t* text;
    const char16_t* tokens;
  } cases[] = {
      // Two-character operators are taken first.
      {u"a||b&&c==d!=e<<f<=g>>h>=i", u"a || b && c == d != e << f <= g >> h >= i"},
      {u"!==<<=|||", u"!= = << = || |"},
      {u"a<-1", u"a < - 1"},
      // Words run over letters, digits, underscore and dot.
      {u"array.boardFuel_2+x1", u"array.boardFuel_2 + x1"},
      {u"caf\u00E9 1.2.3", u"caf\u00E9 1.2.3"},
      // An exponent sign stays with its number, and the exponent ends with its digits.
      {u"1.5e-3", u"1.5e-3"},
      {u"2E+10*3", u"2E+10 * 3"},
      {u".5e-2", u".5e-2"},
      {u"1e+5x", u"1e+5 x"},
      // Not a number stem, or no digit right after the sign: the sign is an operator.
      {u"rate-3", u"rate - 3"},
      {u"1e-x", u"1e - x"},
      {u"x1e-3", u"x1e - 3"},
      {u"1e -3", u"1e - 3"},
      // Whitespace separates; other characters stand alone.
      {u" a\u0085b\u00A0c\td\n", u"a b c d"},
      {u"(a ? 1 : 2), $#", u"( a ? 1 : 2 ) , $ #"},
      {u"!~%&*+-/^|", u"! ~ % & * + - / ^ |"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
    EXPECT_EQ(tokenTexts(c.text), QString::fromUtf16(c.tokens).split(u' '));
  }
}

TEST(TokenizerTest, KindsFollowTheContent) {
  const std::vector<Token> t = tokenize(u"rpm _x 12 1x ( ) , - nan");
  ASSERT_EQ(t.size(), 9u);
  const TokenKind kinds[] = {TokenKind::Name,  TokenKind::Name,      TokenKind::Number,
                             TokenKind::Stray, TokenKind::OpenParen, TokenKind::CloseParen,
                             TokenKind::Stray, TokenKind::Operator,  TokenKind::Number};
  for (std::size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(t[i].kind, kinds[i]) << "token " << i;
  }
  EXPECT_EQ(t[2].number, 12.0);
  EXPECT_EQ(t[7].op, OpCode::Sub);
  EXPECT_TRUE(std::isnan(t[8].number));
}

TEST(NumberLiteralTest, ParsesExactlyTheLiteralForms) {
  const std::pair<const char16_t*, double> cases[] = {
      {u"0", 0.0},      {u"42", 42.0},       {u"1.5", 1.5},     {u".5", 0.5},
      {u"5.", 5.0},     {u"1e3", 1000.0},    {u"1E+3", 1000.0}, {u"2.5e-1", 0.25},
      {u"0.1", 0.1},    {u"NaN", kNaN},      {u"nAn", kNaN},    {u"Infinity", kInf},
      {u"1e400", kInf}, {u"INFINITY", kInf}, {u"1e-400", 0.0},  {u"5e-324", 5e-324}};
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(QString::fromUtf16(text).toStdString());
    const std::optional<double> got = parseNumberLiteral(QStringView(text));
    ASSERT_TRUE(got.has_value());
    if (std::isnan(value)) {
      EXPECT_TRUE(std::isnan(*got));
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(value));
    }
  }
  EXPECT_EQ(parseNumberLiteral(u"123456789012345678901234567890"), 1.2345678901234568e+29);
  for (const char16_t* text : {u"", u".", u"e5", u"1e", u"1e+", u"-1", u"+1", u"1.2.3", u"inf",
                               u"0x10", u"1_000", u"\u0661"}) {
    EXPECT_FALSE(parseNumberLiteral(QStringView(text)).has_value())
        << QString::fromUtf16(text).toStdString();
  }
}

TEST(ConversionTest, ToInt64SaturatesAndTruncates) {
  const std::pair<double, std::int64_t> cases[] = {
      {kNaN, 0},       {9.223372036854776e18, kMax64},  {kInf, kMax64}, {2.99, 2},
      {-kInf, kMin64}, {-9.223372036854776e18, kMin64}, {-2.99, -2},    {-0.5, 0}};
  for (const auto& [x, expected] : cases) {
    EXPECT_EQ(toInt64(x), expected) << x;
  }
  EXPECT_EQ(toInt64(9.2233720368547748e18), 9223372036854774784);
}

TEST(ConversionTest, ShiftCountKeepsTheLowEightBits) {
  // 2147483647.9 truncates to 0x7FFFFFFF (low byte 0xFF); -2147483648.5 to 0x80000000.
  const std::pair<double, int> cases[] = {
      {kNaN, 0},   {2147483648.0, 255}, {2147483647.9, 255}, {-2147483649.0, 0}, {-2147483648.5, 0},
      {-1.0, 255}, {257.9, 1},          {70.0, 70},          {-0.9, 0}};
  for (const auto& [x, expected] : cases) {
    EXPECT_EQ(toShiftCount(x), expected) << x;
  }
}

TEST(CallResultTextTest, NonFiniteWordsAndExpressionThreshold) {
  const std::pair<double, const char*> cases[] = {
      {kNaN, "NaN"},     {kInf, "Infinity"}, {-kInf, "-Infinity"},
      {1e15, "1E+15"},   {-0.0, "-0"},       {123456789012345.0, "123456789012345"},
      {0.00001, "1E-05"}};
  for (const auto& [x, text] : cases) {
    EXPECT_EQ(callResultText(x), QString::fromUtf8(text)) << x;
  }
}

}  // namespace
}  // namespace tk::expr
