#include "expr/expression_syntax.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "support/test_support.h"

namespace tk::expr {
namespace {

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

// expr/syntax-cases.txt: "literal", "int64", "shift" or "text", the input | the expected result
// of parseNumberLiteral ("none": not a literal), toInt64, toShiftCount or callResultText.
TEST(SyntaxCasesTest, LiteralsAndConversionsGiveTheirCaseResults) {
  const auto same = [](double a, double b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  };
  for (const QString& line : tk::test::caseLines(QStringLiteral("expr/syntax-cases.txt"))) {
    SCOPED_TRACE(line.toStdString());
    const QString kind = line.section(u' ', 0, 0);
    const QString input = line.section(u'|', 0, 0).section(u' ', 1).trimmed();
    const QString expected = line.section(u'|', 1).trimmed();
    const double x = tk::test::caseNumber(input);
    if (kind == u"literal") {
      const std::optional<double> got = parseNumberLiteral(input);
      EXPECT_EQ(got.has_value(), expected != u"none");
      EXPECT_TRUE(!got || same(*got, tk::test::caseNumber(expected)));
    } else if (kind == u"int64") {
      EXPECT_EQ(toInt64(x), expected.toLongLong());
    } else if (kind == u"shift") {
      EXPECT_EQ(toShiftCount(x), expected.toInt());
    } else {
      ASSERT_EQ(kind, u"text");
      EXPECT_EQ(callResultText(x), expected);
    }
  }
  EXPECT_FALSE(parseNumberLiteral(u"").has_value());
}

}  // namespace
}  // namespace tk::expr
