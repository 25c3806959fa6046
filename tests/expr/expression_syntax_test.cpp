#include "expr/expression_syntax.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace tk::expr {
namespace {

constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();

QStringList list(std::initializer_list<const char*> items) {
  QStringList out;
  for (const char* s : items) {
    out.append(QString::fromUtf8(s));
  }
  return out;
}

TEST(TokenizerTest, TwoCharacterOperatorsAreTakenFirst) {
  EXPECT_EQ(tokenTexts(u"a||b&&c==d!=e<<f<=g>>h>=i"),
            list({"a", "||", "b", "&&", "c", "==", "d", "!=", "e", "<<", "f", "<=", "g", ">>", "h",
                  ">=", "i"}));
  EXPECT_EQ(tokenTexts(u"!==<<=|||"), list({"!=", "=", "<<", "=", "||", "|"}));
  EXPECT_EQ(tokenTexts(u"a<-1"), list({"a", "<", "-", "1"}));
}

TEST(TokenizerTest, WordsRunOverLettersDigitsUnderscoreAndDot) {
  EXPECT_EQ(tokenTexts(u"array.boardFuel_2+x1"), list({"array.boardFuel_2", "+", "x1"}));
  EXPECT_EQ(tokenTexts(u"caf\u00E9 1.2.3"), list({"caf\u00E9", "1.2.3"}));
}

TEST(TokenizerTest, ExponentSignStaysWithItsNumber) {
  EXPECT_EQ(tokenTexts(u"1.5e-3"), list({"1.5e-3"}));
  EXPECT_EQ(tokenTexts(u"2E+10*3"), list({"2E+10", "*", "3"}));
  EXPECT_EQ(tokenTexts(u".5e-2"), list({".5e-2"}));
  // Not a number stem, or no digit after the sign: the sign is an operator.
  EXPECT_EQ(tokenTexts(u"rate-3"), list({"rate", "-", "3"}));
  EXPECT_EQ(tokenTexts(u"1e-x"), list({"1e", "-", "x"}));
  EXPECT_EQ(tokenTexts(u"x1e-3"), list({"x1e", "-", "3"}));
  EXPECT_EQ(tokenTexts(u"1e -3"), list({"1e", "-", "3"}));
  // The exponent ends with its digits.
  EXPECT_EQ(tokenTexts(u"1e+5x"), list({"1e+5", "x"}));
}

TEST(TokenizerTest, WhitespaceSeparatesAndOtherCharactersStandAlone) {
  EXPECT_EQ(tokenTexts(u" a\u0085b\u00A0c\td\n"), list({"a", "b", "c", "d"}));
  EXPECT_EQ(tokenTexts(u"(a ? 1 : 2), $#"),
            list({"(", "a", "?", "1", ":", "2", ")", ",", "$", "#"}));
  EXPECT_EQ(tokenTexts(u"!~%&*+-/^|"), list({"!", "~", "%", "&", "*", "+", "-", "/", "^", "|"}));
}

TEST(TokenizerTest, KindsFollowTheContent) {
  const std::vector<Token> t = tokenize(u"rpm _x 12 1x ( ) , - nan");
  ASSERT_EQ(t.size(), 9u);
  EXPECT_EQ(t[0].kind, TokenKind::Name);
  EXPECT_EQ(t[1].kind, TokenKind::Name);
  EXPECT_EQ(t[2].kind, TokenKind::Number);
  EXPECT_EQ(t[2].number, 12.0);
  EXPECT_EQ(t[3].kind, TokenKind::Stray);
  EXPECT_EQ(t[4].kind, TokenKind::OpenParen);
  EXPECT_EQ(t[5].kind, TokenKind::CloseParen);
  EXPECT_EQ(t[6].kind, TokenKind::Stray);
  EXPECT_EQ(t[7].kind, TokenKind::Operator);
  EXPECT_EQ(t[7].op, OpCode::Sub);
  EXPECT_EQ(t[8].kind, TokenKind::Number);
  EXPECT_TRUE(std::isnan(t[8].number));
}

struct LiteralCase {
  const char16_t* text;
  std::optional<double> value;
};

class NumberLiteralTest : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(NumberLiteralTest, ParsesExactlyTheLiteralForms) {
  const LiteralCase& c = GetParam();
  const std::optional<double> got = parseNumberLiteral(QStringView(c.text));
  ASSERT_EQ(got.has_value(), c.value.has_value()) << QString::fromUtf16(c.text).toStdString();
  if (c.value) {
    if (std::isnan(*c.value)) {
      EXPECT_TRUE(std::isnan(*got));
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*c.value))
          << QString::fromUtf16(c.text).toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NumberLiteralTest,
    ::testing::Values(LiteralCase{u"0", 0.0}, LiteralCase{u"42", 42.0}, LiteralCase{u"1.5", 1.5},
                      LiteralCase{u".5", 0.5}, LiteralCase{u"5.", 5.0}, LiteralCase{u"1e3", 1000.0},
                      LiteralCase{u"1E+3", 1000.0}, LiteralCase{u"2.5e-1", 0.25},
                      LiteralCase{u"0.1", 0.1},
                      LiteralCase{u"NaN", std::numeric_limits<double>::quiet_NaN()},
                      LiteralCase{u"nAn", std::numeric_limits<double>::quiet_NaN()},
                      LiteralCase{u"Infinity", std::numeric_limits<double>::infinity()},
                      LiteralCase{u"INFINITY", std::numeric_limits<double>::infinity()},
                      LiteralCase{u"1e400", std::numeric_limits<double>::infinity()},
                      LiteralCase{u"1e-400", 0.0}, LiteralCase{u"5e-324", 5e-324},
                      LiteralCase{u"123456789012345678901234567890", 1.2345678901234568e+29},
                      LiteralCase{u"", std::nullopt}, LiteralCase{u".", std::nullopt},
                      LiteralCase{u"e5", std::nullopt}, LiteralCase{u"1e", std::nullopt},
                      LiteralCase{u"1e+", std::nullopt}, LiteralCase{u"-1", std::nullopt},
                      LiteralCase{u"+1", std::nullopt}, LiteralCase{u"1.2.3", std::nullopt},
                      LiteralCase{u"inf", std::nullopt}, LiteralCase{u"0x10", std::nullopt},
                      LiteralCase{u"1_000", std::nullopt}, LiteralCase{u"\u0661", std::nullopt}));

TEST(ConversionTest, ToInt64SaturatesAndTruncates) {
  EXPECT_EQ(toInt64(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(toInt64(9.223372036854776e18), kMax64);
  EXPECT_EQ(toInt64(std::numeric_limits<double>::infinity()), kMax64);
  EXPECT_EQ(toInt64(-9.223372036854776e18), kMin64);
  EXPECT_EQ(toInt64(-std::numeric_limits<double>::infinity()), kMin64);
  EXPECT_EQ(toInt64(9.2233720368547748e18), 9223372036854774784);
  EXPECT_EQ(toInt64(2.99), 2);
  EXPECT_EQ(toInt64(-2.99), -2);
  EXPECT_EQ(toInt64(-0.5), 0);
}

TEST(ConversionTest, ShiftCountKeepsTheLowEightBits) {
  EXPECT_EQ(toShiftCount(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(toShiftCount(2147483648.0), 255);
  EXPECT_EQ(toShiftCount(2147483647.9), 255);  // 0x7FFFFFFF keeps 0xFF
  EXPECT_EQ(toShiftCount(-2147483649.0), 0);
  EXPECT_EQ(toShiftCount(-2147483648.5), 0);  // truncates to 0x80000000
  EXPECT_EQ(toShiftCount(-1.0), 255);
  EXPECT_EQ(toShiftCount(257.9), 1);
  EXPECT_EQ(toShiftCount(70.0), 70);
  EXPECT_EQ(toShiftCount(-0.9), 0);
}

TEST(OperatorTest, PrecedenceTable) {
  EXPECT_EQ(precedence(OpCode::Not), 11);
  EXPECT_EQ(precedence(OpCode::BitNot), 11);
  EXPECT_EQ(precedence(OpCode::Neg), 11);
  EXPECT_EQ(precedence(OpCode::Mod), 10);
  EXPECT_EQ(precedence(OpCode::Sub), 9);
  EXPECT_EQ(precedence(OpCode::Shr), 8);
  EXPECT_EQ(precedence(OpCode::Ge), 7);
  EXPECT_EQ(precedence(OpCode::Ne), 6);
  EXPECT_EQ(precedence(OpCode::BitAnd), 5);
  EXPECT_EQ(precedence(OpCode::BitXor), 4);
  EXPECT_EQ(precedence(OpCode::BitOr), 3);
  EXPECT_EQ(precedence(OpCode::And), 2);
  EXPECT_EQ(precedence(OpCode::Or), 1);
  EXPECT_EQ(precedence(OpCode::Name), 0);
}

TEST(OperatorTest, TruthAndEqualityUseTheSmallestSubnormal) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_TRUE(isTrue(tiny * 2));
  EXPECT_FALSE(isTrue(-0.0));
  EXPECT_FALSE(isTrue(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(applyBinary(OpCode::Eq, tiny, 0.0), 0.0);
  EXPECT_EQ(applyBinary(OpCode::Ne, tiny * 2, 0.0), 1.0);
  EXPECT_EQ(applyBinary(OpCode::Eq, -0.0, 0.0), 1.0);
}

TEST(CallResultTextTest, NonFiniteWordsAndExpressionThreshold) {
  EXPECT_EQ(callResultText(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("NaN"));
  EXPECT_EQ(callResultText(std::numeric_limits<double>::infinity()), QStringLiteral("Infinity"));
  EXPECT_EQ(callResultText(-std::numeric_limits<double>::infinity()), QStringLiteral("-Infinity"));
  EXPECT_EQ(callResultText(1e15), QStringLiteral("1E+15"));
  EXPECT_EQ(callResultText(123456789012345.0), QStringLiteral("123456789012345"));
  EXPECT_EQ(callResultText(-0.0), QStringLiteral("-0"));
  EXPECT_EQ(callResultText(0.00001), QStringLiteral("1E-05"));
}

TEST(CallResultTextTest, ValueIsWhatTheTextReadsBackAs) {
  for (const double x : {0.1, -2.5, 1e300, 5e-324, 2.98023223876953125e-08,
                         -2.98023223876953125e-08, std::ldexp(1.0, -957)}) {
    const QString text = callResultText(std::fabs(x));
    const double back = *parseNumberLiteral(text);
    EXPECT_EQ(callResultValue(x), std::signbit(x) ? -back : back) << x;
  }
  // The historical digits of 2^-25 do not read back as 2^-25.
  EXPECT_NE(callResultValue(2.98023223876953125e-08), 2.98023223876953125e-08);
}

}  // namespace
}  // namespace tk::expr
