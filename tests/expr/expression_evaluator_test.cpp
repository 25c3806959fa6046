#include "expr/expression_evaluator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "expr/expression_state.h"
#include "expr_test_hosts.h"
#include "support/test_support.h"

namespace tk::expr {
namespace {

using namespace Qt::Literals::StringLiterals;

// Exact comparison that treats NaN as equal to NaN and tells -0 from 0.
bool sameDouble(double expected, double actual) {
  return (std::isnan(expected) && std::isnan(actual)) ||
         std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(actual);
}

// Pieces chosen to hit the quirks: results merging with neighbouring words, negative results
// after operands, exponent stems, stray tokens, unbalanced parentheses and stateful calls.
// Blank-separated: ")" twice on purpose.
const QStringList kPieces =
    QString::fromLatin1(
        "1 2.5 0 1e3 1e .5 nan infinity a nb x1e lambda loop neg sm foo array.negFuel - "
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

class EvaluatorTest : public ::testing::Test {
 protected:
  EvaluatorTest() {
    host.values = {{u"a"_s, 5.0},    {u"b"_s, 3.0},       {u"foo2"_s, 42.0},   {u"x.y"_s, 7.0},
                   {u"afr"_s, 14.7}, {u"stoich"_s, 14.7}, {u"lambda"_s, 99.0}, {u"pin"_s, 1.0},
                   {u"map"_s, 95.0}, {u"rpm"_s, 100.0},   {u"nb"_s, -3.0},     {u"x1e"_s, 2.0}};
    view.named = {
        {u"lambda"_s, u"afr / stoich"_s}, {u"twice"_s, u"lambda * 2"_s},
        {u"loop"_s, u"loop + 1"_s},       {u"ping"_s, u"pong * 2"_s},
        {u"pong"_s, u"ping + 1"_s},       {u"viaCall"_s, u"sqrt(a * 20)"_s},
        {u"neg"_s, u"min(-1, a) 2"_s},    {u"sm"_s, u"smoothfiltered(a) + lastvalue(a)"_s}};
    view.arrays = {{u"boardFuel"_s, {4.0, 8.0, 6.0}}, {u"negFuel"_s, {4.0, -8.0, 6.0}}};
    view.channels = {{10, {u"map"_s, 0.1, -40.0, 1, 0.0, 250.0}}};
    host.view = &view;
  }

  double eval(const QString& text) { return evaluator.evaluate(text, host, &state); }
  double eval(const char* text) { return eval(QString::fromUtf8(text)); }
  double rewrite(const QString& text) {
    return evaluator.evaluateByRewriting(text, host, &rewriteState);
  }
  /// Both ways of evaluating give exactly the expected value, the compiled one also from cache.
  void expectValue(double expected, const QString& text) {
    for (const double got : {eval(text), eval(text), rewrite(text)}) {
      EXPECT_TRUE(sameDouble(expected, got)) << text.toStdString() << " gives " << got;
    }
  }

  test::TableDefinitionView view;
  test::TableHost host;
  ExpressionState state;
  ExpressionState rewriteState;
  ExpressionEvaluator evaluator;
};

TEST_F(EvaluatorTest, VectorFileValues) {
  int cases = 0;
  for (const QString& line : tk::test::caseLines(u"expr/evaluator_cases.txt"_s)) {
    if (line.startsWith(u"record ")) {
      const QStringList words = line.simplified().split(u' ');
      for (qsizetype i = 2; i < words.size(); ++i) {
        state.record(words.at(1), tk::test::caseNumber(words.at(i)));
        rewriteState.record(words.at(1), tk::test::caseNumber(words.at(i)));
      }
      continue;
    }
    const qsizetype blank = line.indexOf(u' ');
    expectValue(tk::test::caseNumber(line.left(blank)), line.mid(blank).trimmed());
    ++cases;
  }
  EXPECT_GT(cases, 200);
  // Texts a line of that file cannot hold: blanks only, and other whitespace characters.
  expectValue(0, QString());
  expectValue(0, u"   "_s);
  expectValue(3, u"1\u00A0+\u00852"_s);
  expectValue(3, u"1\t+\n2"_s);
}

TEST_F(EvaluatorTest, CachedFormsFollowHostValuesAndDefinitions) {
  EXPECT_EQ(eval("a * 2 + sqrt(b * 3)"), 13.0);
  host.values[u"a"_s] = 1.0;
  host.values[u"b"_s] = 12.0;
  EXPECT_EQ(eval("a * 2 + sqrt(b * 3)"), 8.0);
  // The named expression is preferred over the host's value of the same name.
  EXPECT_EQ(eval("twice"), 2.0);
  view.named[u"twice"_s] = u"lambda * 3"_s;
  ++view.rev;
  EXPECT_EQ(eval("twice"), 3.0);
  test::TableDefinitionView other;
  other.named = {{u"twice"_s, u"7"_s}};
  host.view = &other;
  EXPECT_EQ(eval("twice"), 7.0);
  host.view = &view;
  EXPECT_EQ(eval("twice"), 3.0);
  host.view = nullptr;
  EXPECT_EQ(eval("lambda"), 99.0);
}

// A host that evaluates another text, against another definition, from inside getValue.
class ReentrantHost : public test::TableHost {
 public:
  ExpressionEvaluator* evaluator = nullptr;
  const ExpressionHost* other = nullptr;
  double getValue(const QString& name) const override {
    if (name == u"inner"_s) {
      return evaluator->evaluate(u"twice"_s, *other);
    }
    return TableHost::getValue(name);
  }
};

TEST_F(EvaluatorTest, ReentrantEvaluationKeepsTheOuterDefinition) {
  test::TableDefinitionView otherView;
  otherView.named = {{u"twice"_s, u"7"_s}};
  test::TableHost otherHost;
  otherHost.view = &otherView;
  ReentrantHost outer;
  outer.values = host.values;
  outer.view = &view;
  outer.evaluator = &evaluator;
  outer.other = &otherHost;
  EXPECT_EQ(evaluator.evaluate(u"twice + inner + twice"_s, outer), 11.0);
  EXPECT_EQ(evaluator.evaluate(u"twice"_s, otherHost), 7.0);
  EXPECT_EQ(evaluator.evaluate(u"twice"_s, outer), 2.0);
}

TEST_F(EvaluatorTest, ConditionIsTruthOfTheValueAndOneOffEvaluationMatches) {
  for (const char* text : {"a > b", "-0.5", "infinity"}) {
    EXPECT_TRUE(evaluator.evaluateCondition(QString::fromUtf8(text), host)) << text;
  }
  for (const char* text : {"nan", "a < b", ""}) {
    EXPECT_FALSE(evaluator.evaluateCondition(QString::fromUtf8(text), host)) << text;
  }
  EXPECT_EQ(evaluate(u"twice + sqrt(a * 5)"_s, host), 7.0);
}

TEST_F(EvaluatorTest, ReferenceChainsAreBoundedInDepthAndWork) {
  // p0 -> p1 -> ... -> p<length> = 1, each step written by step with %1 for the next name.
  const auto chain = [this](const char* prefix, int length, const char* step) {
    for (int k = 0; k < length; ++k) {
      view.named[QString::fromUtf8(prefix) + QString::number(k)] =
          QString::fromUtf8(step).arg(QString::fromUtf8(prefix) + QString::number(k + 1));
    }
    view.named[QString::fromUtf8(prefix) + QString::number(length)] = u"1"_s;
    ++view.rev;
  };
  chain("s", 60, "%1 + 1");
  EXPECT_EQ(eval("s0"), 61.0);
  EXPECT_EQ(rewrite(u"s0"_s), 61.0);
  chain("n", 100, "%1 + 1");
  EXPECT_TRUE(std::isnan(eval("n0")));
  // Deep inside the chain the remaining depth suffices again.
  EXPECT_EQ(eval("n50"), 51.0);
  // 2^40 evaluations unbounded: stopped by the work budget; a small shared graph is not.
  chain("d", 40, "%1 + %1");
  EXPECT_TRUE(std::isnan(eval("d0")));
  EXPECT_EQ(eval("d30"), 1024.0);
  // A cycle through a call argument.
  view.named[u"selfCall"_s] = u"abs(selfCall) + 1"_s;
  ++view.rev;
  EXPECT_TRUE(std::isnan(eval("selfCall")));
  EXPECT_TRUE(std::isnan(rewrite(u"selfCall"_s)));
}

TEST_F(EvaluatorTest, CompiledEvaluationAgreesWithLiteralRewriting) {
  for (const double v : {1.0, -2.0, 7.5}) {
    state.record(u"a"_s, v);
    rewriteState.record(u"a"_s, v);
  }
  std::mt19937 rng(20240611);
  for (int i = 0; i < 6000; ++i) {
    const QString text = randomExpression(rng);
    const double compiled = eval(text);
    const double rewritten = rewrite(text);
    ASSERT_TRUE(sameDouble(compiled, rewritten))
        << text.toStdString() << " compiled " << compiled << " rewritten " << rewritten;
  }
  QString longText;
  while (longText.size() < 250000) {
    longText += randomExpression(rng);
  }
  EXPECT_TRUE(sameDouble(eval(longText), rewrite(longText)));
}

TEST_F(EvaluatorTest, DeepNestingAndHugeTexts) {
  const QString open(10000, QLatin1Char('('));
  const QString close(10000, QLatin1Char(')'));
  const QString a = u"a"_s;
  for (const auto& [text, value] : {std::pair(open + a + close, 5.0), std::pair(open + a, 5.0),
                                    std::pair(close + a, 5.0), std::pair(open, 0.0)}) {
    EXPECT_EQ(eval(text), value);
  }
  EXPECT_EQ(rewrite(open + u"2*a"_s + close), 10.0);
  // One megabyte of terms.
  EXPECT_EQ(eval(u"1+"_s.repeated(500000) + a), 500005.0);
  // Calls are replaced in one pass, not by searching the text again from the start each time.
  const QString calls = u"abs(-1)+"_s.repeated(20000) + u"0"_s;
  const QString nested = u"abs("_s.repeated(5000) + u"nb"_s + QString(5000, u')');
  for (const auto& [text, value] : {std::pair(calls, 20000.0), std::pair(nested, 3.0)}) {
    EXPECT_EQ(eval(text), value);
    EXPECT_EQ(rewrite(text), value);
  }
  EXPECT_EQ(eval(u"sqrt("_s.repeated(5000) + u"16"_s), 16.0);
}

TEST_F(EvaluatorTest, ManyDistinctTextsKeepTheCacheBounded) {
  for (int i = 0; i < ExpressionEvaluator::kMaxCacheEntries + 100; ++i) {
    ASSERT_EQ(eval(u"a + %1"_s.arg(i)), 5.0 + i);
  }
  EXPECT_EQ(eval("lambda"), 1.0);
  // Long texts count by their length.
  const QString padding(4000, QLatin1Char(' '));
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(eval(padding + u"nb * %1"_s.arg(i)), -3.0 * i);
  }
  EXPECT_EQ(eval("lambda"), 1.0);
}

}  // namespace
}  // namespace tk::expr
