#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "expr/expression_evaluator.h"
#include "expr/expression_state.h"
#include "expr_test_hosts.h"

namespace tk::expr {
namespace {

bool sameResult(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b);
  }
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

class RobustnessTest : public ::testing::Test {
 protected:
  RobustnessTest() {
    host.values = {{QStringLiteral("a"), 5.0},
                   {QStringLiteral("b"), -3.0},
                   {QStringLiteral("foo2"), 42.0},
                   {QStringLiteral("x1e"), 2.0}};
    view.named = {{QStringLiteral("lambda"), QStringLiteral("a / b")},
                  {QStringLiteral("loop"), QStringLiteral("loop * 2")},
                  {QStringLiteral("neg"), QStringLiteral("min(-1, a) 2")},
                  {QStringLiteral("sm"), QStringLiteral("smoothfiltered(a) + lastvalue(a)")}};
    view.arrays = {{QStringLiteral("boardFuel"), {4.0, -8.0, 6.0}}};
    host.view = &view;
    for (const double v : {1.0, -2.0, 7.5}) {
      compiledState.record(QStringLiteral("a"), v);
      rewriteState.record(QStringLiteral("a"), v);
    }
  }

  test::TableDefinitionView view;
  test::TableHost host;
  ExpressionState compiledState;
  ExpressionState rewriteState;
  ExpressionEvaluator compiled;
  ExpressionEvaluator rewriting;
};

// Pieces chosen to hit the quirks: results merging with neighbouring words, negative results
// after operands, exponent stems, stray tokens, unbalanced parentheses and stateful calls.
// Blank-separated: ")" twice on purpose.
const QStringList kPieces =
    QString::fromLatin1(
        "1 2.5 0 1e3 1e .5 nan infinity a b x1e lambda loop neg sm foo array.boardFuel - "
        "+ * / % << >> < >= == != & ^ | && || ! ~ ( ) ) , ? : sqrt( abs( min( max( pow( "
        "log log10( selectexpression( smoothfiltered( lastvalue( arrayvalue( unknown( "
        "round( e E -2 recip( isnan( 2.98023223876953125E-08")
        .split(QLatin1Char(' '));

QString randomExpression(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(1, 14);
  std::uniform_int_distribution<qsizetype> piece(0, kPieces.size() - 1);
  std::uniform_int_distribution<int> gap(0, 2);
  QString text;
  for (int n = length(rng); n > 0; --n) {
    text += kPieces.at(piece(rng));
    if (gap(rng) == 0) {
      text += QLatin1Char(' ');
    }
  }
  return text;
}

TEST_F(RobustnessTest, CompiledEvaluationAgreesWithLiteralRewriting) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 6000; ++i) {
    const QString text = randomExpression(rng);
    const double viaCompiled = compiled.evaluate(text, host, &compiledState);
    const double viaRewriting = rewriting.evaluateByRewriting(text, host, &rewriteState);
    ASSERT_TRUE(sameResult(viaCompiled, viaRewriting))
        << text.toStdString() << " compiled " << viaCompiled << " rewritten " << viaRewriting;
  }
}

TEST_F(RobustnessTest, DeepNestingAndHugeTexts) {
  const QString open(10000, QLatin1Char('('));
  const QString close(10000, QLatin1Char(')'));
  EXPECT_EQ(compiled.evaluate(open + QStringLiteral("a") + close, host), 5.0);
  EXPECT_EQ(compiled.evaluate(open + QStringLiteral("a"), host), 5.0);
  EXPECT_EQ(compiled.evaluate(close + QStringLiteral("a"), host), 5.0);
  EXPECT_EQ(compiled.evaluate(open, host), 0.0);
  EXPECT_EQ(compiled.evaluateByRewriting(open + QStringLiteral("2*a") + close, host), 10.0);
  // One megabyte of terms.
  const QString sum = QStringLiteral("1+").repeated(500000) + QStringLiteral("a");
  ASSERT_GT(sum.size(), 1000000);
  EXPECT_EQ(compiled.evaluate(sum, host), 500005.0);
  // Calls are replaced in one pass, not by searching the text again from the start each time.
  const QString calls = QStringLiteral("abs(-1)+").repeated(20000) + QStringLiteral("0");
  EXPECT_EQ(compiled.evaluate(calls, host), 20000.0);
  EXPECT_EQ(compiled.evaluateByRewriting(calls, host), 20000.0);
  const QString nested =
      QStringLiteral("abs(").repeated(5000) + QStringLiteral("b") + QString(5000, QLatin1Char(')'));
  EXPECT_EQ(compiled.evaluate(nested, host), 3.0);
  EXPECT_EQ(compiled.evaluateByRewriting(nested, host), 3.0);
  EXPECT_EQ(compiled.evaluate(QStringLiteral("sqrt(").repeated(5000) + QStringLiteral("16"), host),
            16.0);
}

TEST_F(RobustnessTest, LongRandomTextTerminates) {
  std::mt19937 rng(7);
  QString text;
  while (text.size() < 250000) {
    text += randomExpression(rng);
  }
  const double viaCompiled = compiled.evaluate(text, host, &compiledState);
  const double viaRewriting = rewriting.evaluateByRewriting(text, host, &rewriteState);
  EXPECT_TRUE(sameResult(viaCompiled, viaRewriting));
}

TEST_F(RobustnessTest, ManyDistinctTextsKeepTheCacheBounded) {
  for (int i = 0; i < ExpressionEvaluator::kMaxCacheEntries + 100; ++i) {
    ASSERT_EQ(compiled.evaluate(QStringLiteral("a + %1").arg(i), host), 5.0 + i);
  }
  EXPECT_EQ(compiled.evaluate(QStringLiteral("lambda"), host), 5.0 / -3.0);
  // Long texts count by their length.
  const QString padding(4000, QLatin1Char(' '));
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(compiled.evaluate(padding + QStringLiteral("b * %1").arg(i), host), -3.0 * i);
  }
  EXPECT_EQ(compiled.evaluate(QStringLiteral("lambda"), host), 5.0 / -3.0);
}

}  // namespace
}  // namespace tk::expr
