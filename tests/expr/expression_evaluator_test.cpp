#include "expr/expression_evaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "expr/expression_state.h"
#include "expr_test_hosts.h"

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
  const char* text;
  double expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.text; }

// Exact comparison that treats NaN as equal to NaN and tells -0 from 0.
::testing::AssertionResult sameDouble(double expected, double actual) {
  if (std::isnan(expected) && std::isnan(actual)) {
    return ::testing::AssertionSuccess();
  }
  if (expected == actual && std::signbit(expected) == std::signbit(actual)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected " << expected << ", got " << actual;
}

class EvaluatorTest : public ::testing::Test {
 protected:
  EvaluatorTest() {
    host.values = {{QStringLiteral("a"), 5.0},       {QStringLiteral("b"), 3.0},
                   {QStringLiteral("foo2"), 42.0},   {QStringLiteral("x.y"), 7.0},
                   {QStringLiteral("afr"), 14.7},    {QStringLiteral("stoich"), 14.7},
                   {QStringLiteral("lambda"), 99.0}, {QStringLiteral("pin"), 1.0},
                   {QStringLiteral("map"), 95.0},    {QStringLiteral("rpm"), 100.0}};
    view.named = {{QStringLiteral("lambda"), QStringLiteral("afr / stoich")},
                  {QStringLiteral("twice"), QStringLiteral("lambda * 2")},
                  {QStringLiteral("loop"), QStringLiteral("loop + 1")},
                  {QStringLiteral("ping"), QStringLiteral("pong * 2")},
                  {QStringLiteral("pong"), QStringLiteral("ping + 1")},
                  {QStringLiteral("viaCall"), QStringLiteral("sqrt(a * 20)")}};
    view.arrays = {{QStringLiteral("boardFuel"), {4.0, 8.0, 6.0}}};
    view.channels = {{10, {QStringLiteral("map"), 0.1, -40.0, 1, 0.0, 250.0}}};
    host.view = &view;
  }

  double eval(const char* text) {
    return evaluator.evaluate(QString::fromUtf8(text), host, &state);
  }
  double rewrite(const char* text) {
    return evaluator.evaluateByRewriting(QString::fromUtf8(text), host, &rewriteState);
  }

  test::TableDefinitionView view;
  test::TableHost host;
  ExpressionState state;
  ExpressionState rewriteState;
  ExpressionEvaluator evaluator;
};

class EvaluatorTableTest : public EvaluatorTest, public ::testing::WithParamInterface<Case> {};

TEST_P(EvaluatorTableTest, CompiledAndRewrittenGiveTheExpectedValue) {
  const Case& c = GetParam();
  EXPECT_TRUE(sameDouble(c.expected, eval(c.text))) << c.text;
  // Twice: the second run uses the cached compiled form.
  EXPECT_TRUE(sameDouble(c.expected, eval(c.text))) << c.text;
  EXPECT_TRUE(sameDouble(c.expected, rewrite(c.text))) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    PrecedenceAndAssociativity, EvaluatorTableTest,
    ::testing::Values(Case{"1 + 2 * 3", 7}, Case{"8 - 3 - 2", 3}, Case{"16 / 4 / 2", 2},
                      Case{"2 * 3 % 4", 2}, Case{"7 % 4 * 2", 6}, Case{"10 - 2 * 3 - 1", 3},
                      Case{"2 * 3 + 4 * 5", 26}, Case{"3 + 1 << 1", 8}, Case{"1 << 2 + 1", 8},
                      Case{"2 + 3 > 4", 1}, Case{"1 < 2 == 1", 1}, Case{"1 & 3 == 3", 1},
                      Case{"6 & 3 ^ 1", 3}, Case{"2 | 3 ^ 3", 2}, Case{"0 && 1 | 2", 0},
                      Case{"1 || 0 && 0", 1}, Case{"(1 + 2) * 3", 9}, Case{"2 * (3 + 4) * 5", 70},
                      Case{"a * b - a / 5", 14}, Case{"a > b && b > 1", 1}));

INSTANTIATE_TEST_SUITE_P(UnaryOperators, EvaluatorTableTest,
                         ::testing::Values(Case{"2 * -3", -6}, Case{"-2 ^ 1", -1}, Case{"!0", 1},
                                           Case{"!5", 0}, Case{"- - 3", 3}, Case{"!!5", 1},
                                           Case{"~0", -1}, Case{"~5", -6}, Case{"-~0", 1},
                                           Case{"!-1", 0}, Case{"~1.9", -2}, Case{"~-1.9", 0},
                                           Case{"- 2 * 3", -6}, Case{"-3 + 5", 2}, Case{"!-0", 1},
                                           Case{"-0", -0.0}, Case{"!nan", 1}, Case{"-a", -5},
                                           Case{"3 - -2", 5}, Case{"(-2)", -2}));

INSTANTIATE_TEST_SUITE_P(
    ArithmeticAndComparisonRules, EvaluatorTableTest,
    ::testing::Values(Case{"7 / 0", 0}, Case{"7 / -0", 0}, Case{"0 / 0", 0}, Case{"7 % 0", kNaN},
                      Case{"-7 % 3", -1}, Case{"7.5 % 2", 1.5}, Case{"1 / 4", 0.25},
                      Case{"nan == nan", 0}, Case{"nan != 1", 0}, Case{"nan < 1", 0},
                      Case{"nan >= nan", 0}, Case{"infinity == infinity", 0},
                      Case{"infinity != infinity", 0}, Case{"infinity > 1", 1}, Case{"1 == 1", 1},
                      Case{"0.1 + 0.2 == 0.3", 0}, Case{"1 != 2", 1}, Case{"2 >= 2", 1},
                      Case{"2 <= 1", 0}, Case{"nan && 1", 0}, Case{"nan || 0", 0},
                      Case{"infinity && 1", 1}, Case{"0.5 && 0.5", 1}, Case{"1e308 * 10", kInf}));

INSTANTIATE_TEST_SUITE_P(
    IntegerConversions, EvaluatorTableTest,
    ::testing::Values(Case{"6 & 3", 2}, Case{"6 | 3", 7}, Case{"6 ^ 3", 5}, Case{"-1 & 255", 255},
                      Case{"2.9 | 0", 2}, Case{"-2.9 | 0", -2}, Case{"nan | 4", 4},
                      Case{"1e30 & 1", 1}, Case{"-1e30 & 1", 0},
                      Case{"-1e30 | 0", -9223372036854775808.0}, Case{"1 << 70", 64},
                      Case{"1 << -1", -9223372036854775808.0}, Case{"-8 >> 1", -4},
                      Case{"-1 >> 70", -1}, Case{"1 << 3e9", -9223372036854775808.0},
                      Case{"1 << -3e9", 1}, Case{"1 << nan", 1}, Case{"256 >> 8.9", 1},
                      Case{"1 << 256", 1}, Case{"1 << 257", 2}, Case{"5 << 0.5", 5},
                      Case{"1 << 63 >> 63", -1}));

INSTANTIATE_TEST_SUITE_P(
    TokensAndMalformedInput, EvaluatorTableTest,
    ::testing::Values(Case{"a ? 1 : 2", 2}, Case{"3 +", 0}, Case{"", 0}, Case{"   ", 0},
                      Case{"+3", 0}, Case{"(1 + 2", 3}, Case{"1 + 2)", 3}, Case{"1 2", 2},
                      Case{"1 , 2", 2}, Case{"$ 4", 4}, Case{"1e3", 1000}, Case{"1e+3", 1000},
                      Case{"1.5e-3 * 2", 0.003}, Case{"1e", 0}, Case{"1e + 3", 0},
                      Case{"2 * 1e+3", 2000}, Case{"1.5E+2", 150}, Case{".5 + 5.", 5.5},
                      Case{"NaN", kNaN}, Case{"INFINITY", kInf}, Case{"-Infinity", -kInf},
                      Case{"inf", 0}, Case{"x.y", 7}, Case{"5 = 3", 3}, Case{"a + * 2", 0},
                      Case{"1 , -2", -1}, Case{"(,-2)", 0}, Case{"unknownName", 0},
                      Case{"1\u00A0+\u00852", 3}, Case{"1\t+\n2", 3}, Case{"a ? -1 : 2", -1},
                      Case{"1e999", kInf}, Case{"1e-999", 0}, Case{"0.0000e999", 0}));

INSTANTIATE_TEST_SUITE_P(
    FunctionPreEvaluation, EvaluatorTableTest,
    ::testing::Values(
        Case{"sqrt(16) + abs(-2)", 6}, Case{"SQRT(16)", 4}, Case{"sqrt (16)", 4},
        Case{"foosqrt(4)", 42}, Case{"logsqrt(100)(1000)", 3}, Case{"max(1, min(5, 3), 2)", 3},
        Case{"2 min(-3, 0)", -1}, Case{"2 min(3, 0)", 0}, Case{"a ? 1 : min(-2, 0)", -1},
        Case{"min(-2, 0) 3", -3}, Case{"-min(-2,0)", 2}, Case{"3 - min(-2,0)", 5},
        Case{"min(-2,0) * 3", -6}, Case{"1e-sqrt(4)", 0.01}, Case{"sqrt(4)sqrt(9)", 23},
        Case{"sqrt(4).5", 2.5}, Case{"abs(-2)e3", 2000}, Case{"pow(2)", 0},
        Case{"pow(2, 10)", 1024}, Case{"pow()", 0}, Case{"sqrt()", 0}, Case{"unknown(4)", 4},
        Case{"bitStringValue(a, b)", 3}, Case{"sqrt(sqrt(sqrt(256)))", 2},
        Case{"abs(2.98023223876953125E-08)", 2.980232238769531e-08}, Case{"2 ^ abs(-1)", 3},
        Case{"!min(-3, 0)", 0}, Case{"~max(-1, -2)", 0}, Case{"(min(-1,0))", -1},
        Case{"abs(-infinity)", kInf}, Case{"min(-infinity, 0) 1", -1}, Case{"sqrt(-1)", kNaN},
        Case{"isnan(sqrt(-1))", 1}, Case{"recip(0) + recip(4)", 0.25},
        Case{"selectexpression(a - 4, 10, 20, 30)", 20}, Case{"table(7, \"x.inc\")", 7},
        Case{"max(1,2)max(3,4)", 24}, Case{"sqrt(4) (5)", 5}));

INSTANTIATE_TEST_SUITE_P(
    NamedExpressionsAndDefinition, EvaluatorTableTest,
    ::testing::Values(
        Case{"lambda", 1}, Case{"twice + 1", 3}, Case{"loop", kNaN}, Case{"ping", kNaN},
        Case{"pong", kNaN}, Case{"viaCall", 10}, Case{"arrayvalue(array.boardFuel, 2)", 6},
        Case{"arrayValue( array.boardFuel, pin )", 8}, Case{"arrayvalue(array.boardFuel, 5)", 0},
        Case{"arrayvalue(array.other, 0)", 0}, Case{"arrayvalue(boardFuel, 0)", 4},
        Case{"getchannelvaluebyoffset(10)", 95}, Case{"getChannelValueByOffset(10.9)", 95},
        Case{"getchannelscalebyoffset(10)", 0.1}, Case{"getchanneltranslatebyoffset(10)", -40},
        Case{"getchanneldigitsbyoffset(10)", 1}, Case{"getchannelminbyoffset(10)", 0},
        Case{"getchannelmaxbyoffset(10)", 250}, Case{"getchannelvaluebyoffset(11)", 0},
        Case{"getchannelscalebyoffset(nan)", 0}));

TEST_F(EvaluatorTest, CachedFormsFollowHostValuesAndDefinitions) {
  EXPECT_EQ(eval("a * 2 + sqrt(b * 3)"), 13.0);
  host.values[QStringLiteral("a")] = 1.0;
  host.values[QStringLiteral("b")] = 12.0;
  EXPECT_EQ(eval("a * 2 + sqrt(b * 3)"), 8.0);
  // The named expression is preferred over the host's value of the same name.
  EXPECT_EQ(eval("twice"), 2.0);
  view.named[QStringLiteral("twice")] = QStringLiteral("lambda * 3");
  ++view.rev;
  EXPECT_EQ(eval("twice"), 3.0);
  test::TableDefinitionView other;
  other.named = {{QStringLiteral("twice"), QStringLiteral("7")}};
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
    if (name == QStringLiteral("inner")) {
      return evaluator->evaluate(QStringLiteral("twice"), *other);
    }
    return TableHost::getValue(name);
  }
};

TEST_F(EvaluatorTest, ReentrantEvaluationKeepsTheOuterDefinition) {
  test::TableDefinitionView otherView;
  otherView.named = {{QStringLiteral("twice"), QStringLiteral("7")}};
  test::TableHost otherHost;
  otherHost.view = &otherView;
  ReentrantHost outer;
  outer.values = host.values;
  outer.view = &view;
  outer.evaluator = &evaluator;
  outer.other = &otherHost;
  EXPECT_EQ(evaluator.evaluate(QStringLiteral("twice + inner + twice"), outer), 11.0);
  EXPECT_EQ(evaluator.evaluate(QStringLiteral("twice"), otherHost), 7.0);
  EXPECT_EQ(evaluator.evaluate(QStringLiteral("twice"), outer), 2.0);
}

TEST_F(EvaluatorTest, ConditionIsTruthOfTheValueAndOneOffEvaluationMatches) {
  for (const char* text : {"a > b", "-0.5", "infinity"}) {
    EXPECT_TRUE(evaluator.evaluateCondition(QString::fromUtf8(text), host)) << text;
  }
  for (const char* text : {"nan", "a < b", ""}) {
    EXPECT_FALSE(evaluator.evaluateCondition(QString::fromUtf8(text), host)) << text;
  }
  EXPECT_EQ(evaluate(QStringLiteral("twice + sqrt(a * 5)"), host), 7.0);
}

TEST_F(EvaluatorTest, ReferenceChainsAreBoundedInDepthAndWork) {
  // n0 -> n1 -> ... -> n<length>, each adding one; d<k> = d<k+1> + d<k+1> doubles the work.
  const auto chain = [this](const char* prefix, int length, const char* step) {
    for (int k = 0; k < length; ++k) {
      view.named[QString::fromUtf8(prefix) + QString::number(k)] =
          QString::fromUtf8(step).arg(QString::fromUtf8(prefix) + QString::number(k + 1));
    }
    view.named[QString::fromUtf8(prefix) + QString::number(length)] = QStringLiteral("1");
    ++view.rev;
  };
  chain("s", 60, "%1 + 1");
  EXPECT_EQ(eval("s0"), 61.0);
  EXPECT_EQ(rewrite("s0"), 61.0);
  chain("n", 100, "%1 + 1");
  EXPECT_TRUE(std::isnan(eval("n0")));
  // Deep inside the chain the remaining depth suffices again.
  EXPECT_EQ(eval("n50"), 51.0);
  // 2^40 evaluations unbounded: stopped by the work budget; a small shared graph is not.
  chain("d", 40, "%1 + %1");
  EXPECT_TRUE(std::isnan(eval("d0")));
  EXPECT_EQ(eval("d30"), 1024.0);
  // A cycle through a call argument.
  view.named[QStringLiteral("selfCall")] = QStringLiteral("abs(selfCall) + 1");
  ++view.rev;
  EXPECT_TRUE(std::isnan(eval("selfCall")));
  EXPECT_TRUE(std::isnan(rewrite("selfCall")));
}

}  // namespace
}  // namespace tk::expr
