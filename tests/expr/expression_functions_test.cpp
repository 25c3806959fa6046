#include "expr/expression_functions.h"

#include "expr/expression_evaluator.h"
#include "expr/expression_state.h"
#include "expr_test_hosts.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class FunctionTest : public ::testing::Test {
 protected:
  double call(const char* name, std::vector<double> values, QStringList texts = {},
              ExpressionState* withState = nullptr) {
    while (texts.size() < static_cast<qsizetype>(values.size())) {
      texts.append(QString());
    }
    return callFunction(QString::fromUtf8(name), values,
                        std::span<const QString>(texts.constData(), texts.size()), host, withState);
  }
  double eval(const char* text) {
    return evaluator.evaluate(QString::fromUtf8(text), host, &state);
  }

  test::TableHost host;
  ExpressionState state;
  ExpressionEvaluator evaluator;
};

TEST_F(FunctionTest, NamesAreMatchedIgnoringCase) {
  EXPECT_EQ(findFunction(u"sqrt"), FunctionId::Sqrt);
  EXPECT_EQ(findFunction(u"pastvalue"), FunctionId::HistoricalValue);
  EXPECT_EQ(findFunction(u"getchanneltranslatebyoffset"), FunctionId::GetChannelTranslateByOffset);
  EXPECT_EQ(findFunction(u"isadvancedmathavaliable"), FunctionId::IsAdvancedMathAvailable);
  EXPECT_FALSE(findFunction(u"isadvancedmathavailable"));
  EXPECT_FALSE(findFunction(u"SQRT"));  // the lookup itself takes lower case
  EXPECT_FALSE(findFunction(u"bitstringvalue"));
  EXPECT_EQ(call("SqRt", {81}), 9.0);
  EXPECT_EQ(call("noSuchFunction", {81}), 0.0);
}

TEST_F(FunctionTest, MathematicalFunctions) {
  EXPECT_EQ(call("sin", {0}), 0.0);
  EXPECT_EQ(call("cos", {0}), 1.0);
  EXPECT_DOUBLE_EQ(call("tan", {std::atan(1.0)}), 1.0);
  EXPECT_DOUBLE_EQ(call("asin", {1}), M_PI / 2);
  EXPECT_DOUBLE_EQ(call("acos", {-1}), M_PI);
  EXPECT_DOUBLE_EQ(call("atan", {1}), M_PI / 4);
  EXPECT_EQ(call("sqrt", {2.25}), 1.5);
  EXPECT_EQ(call("abs", {-3.5}), 3.5);
  EXPECT_EQ(call("exp", {0}), 1.0);
  EXPECT_DOUBLE_EQ(call("log", {std::exp(2.0)}), 2.0);
  EXPECT_EQ(call("log", {0}), 0.0);
  EXPECT_EQ(call("log", {kNaN}), 0.0);
  EXPECT_EQ(call("log10", {1000}), 3.0);
  EXPECT_EQ(call("log10", {-1}), 0.0);
  EXPECT_EQ(call("pow", {2, -1}), 0.5);
  EXPECT_EQ(call("pow", {2}), 0.0);
  EXPECT_EQ(call("recip", {0}), 0.0);
  EXPECT_EQ(call("recip", {-4}), -0.25);
  EXPECT_EQ(call("floor", {-1.5}), -2.0);
  EXPECT_EQ(call("ceil", {-1.5}), -1.0);
  EXPECT_EQ(call("isnan", {kNaN}), 1.0);
  EXPECT_EQ(call("isnan", {1}), 0.0);
  EXPECT_EQ(call("table", {7, 0}), 7.0);
  EXPECT_EQ(call("tablelookup", {1, 2, 3}), 0.0);
}

TEST_F(FunctionTest, RoundIsHalfToEven) {
  const std::pair<double, double> cases[] = {{2.5, 2},     {3.5, 4},      {-2.5, -2}, {-3.5, -4},
                                             {2.6, 3},     {2.4, 2},      {0.5, 0},   {1.5, 2},
                                             {-0.5, -0.0}, {1e300, 1e300}};
  for (const auto& [x, expected] : cases) {
    const double got = call("round", {x});
    EXPECT_EQ(got, expected) << x;
    EXPECT_EQ(std::signbit(got), std::signbit(expected)) << x;
  }
}

TEST_F(FunctionTest, MinSkipsNaNAndMaxFollowsItsReplacementRule) {
  EXPECT_EQ(call("min", {4, 2, 9}), 2.0);
  EXPECT_EQ(call("min", {kNaN, 3, 2}), 2.0);
  EXPECT_EQ(call("min", {3, kNaN, 5}), 3.0);
  EXPECT_TRUE(std::isnan(call("min", {kNaN, kNaN})));
  EXPECT_EQ(call("max", {4, 2, 9}), 9.0);
  EXPECT_EQ(call("max", {kNaN, 3, 2}), 3.0);
  // A later NaN is not "less than or equal", so it replaces the maximum, and then so does 2.
  EXPECT_TRUE(std::isnan(call("max", {3, kNaN})));
  EXPECT_EQ(call("max", {3, kNaN, 2}), 2.0);
  EXPECT_TRUE(std::isnan(call("max", {kNaN})));
  EXPECT_EQ(call("max", {}), 0.0);
  EXPECT_EQ(call("min", {}), 0.0);
}

TEST_F(FunctionTest, SelectExpressionClampsItsIndex) {
  EXPECT_EQ(call("selectexpression", {5, 10, 20, 30}), 30.0);
  EXPECT_EQ(call("selectexpression", {-1, 10, 20}), 10.0);
  EXPECT_EQ(call("selectexpression", {1.9, 10, 20, 30}), 20.0);
  EXPECT_EQ(call("selectexpression", {kNaN, 10, 20}), 10.0);
  EXPECT_EQ(call("selectexpression", {1e300, 10, 20}), 20.0);
  EXPECT_EQ(call("selectexpression", {-1e300, 10, 20}), 10.0);
  EXPECT_EQ(call("selectexpression", {1}), 0.0);
}

TEST_F(FunctionTest, PowerFormulas) {
  EXPECT_EQ(call("accelhp", {0, 10, 2, 75}), 1.0);
  EXPECT_EQ(call("accelhp", {0, 10, 0, 75}), 0.0);
  EXPECT_EQ(call("accelhp", {1, 2, 3}), 0.0);
  EXPECT_EQ(call("aerodynamicdraghp", {10, 2, 3, 5}), 40.0);
  EXPECT_EQ(call("aerodynamicdraghp", {10, 2, 3}), 0.0);
  EXPECT_EQ(call("rollingdraghp", {100, 0, 1}), 0.0);
  EXPECT_EQ(call("rollingdraghp", {100, -2, 1}), 0.0);
  EXPECT_EQ(call("rollingdraghp", {100, kNaN, 1}), 0.0);
  EXPECT_DOUBLE_EQ(call("rollingdraghp", {100, 2, 375}), 2.5);
  EXPECT_EQ(call("rollingdraghp", {100, 2}), 0.0);
}

TEST_F(FunctionTest, ConstantsAndHostStatus) {
  EXPECT_EQ(call("isadvancedmathavaliable", {0}), 1.0);
  EXPECT_EQ(call("getworkinglocalcanid", {0}), 0.0);
  EXPECT_EQ(call("isonline", {0}), 0.0);
  host.online = true;
  EXPECT_EQ(call("isonline", {0}), 1.0);
  const double before = static_cast<double>(QDateTime::currentSecsSinceEpoch());
  const double now = call("timenow", {});
  EXPECT_GE(now, before);
  EXPECT_LE(now, before + 5);
  EXPECT_EQ(now, std::floor(now));
}

TEST_F(FunctionTest, DefinitionLookupsWithoutADefinitionGiveZero) {
  host.values[QStringLiteral("map")] = 5;
  EXPECT_EQ(call("arrayvalue", {0, 1}, {QStringLiteral("array.boardFuel"), QStringLiteral("1")}),
            0.0);
  EXPECT_EQ(call("getchannelvaluebyoffset", {0}), 0.0);
  EXPECT_EQ(call("getchannelscalebyoffset", {0}), 0.0);
}

TEST_F(FunctionTest, HistoryFunctionsWithoutStateGiveZero) {
  state.record(QStringLiteral("rpm"), 1000);
  const QStringList rpm{QStringLiteral("rpm"), QStringLiteral("0")};
  for (const char* name :
       {"minvalue", "maxvalue", "lastvalue", "accumulate", "persistentaccumulate", "smoothfiltered",
        "getlogtime", "highspeedrecordnumber"}) {
    EXPECT_EQ(call(name, {1000}, rpm), 0.0) << name;
  }
  EXPECT_EQ(call("historicalvalue", {1000, 0}, rpm), 0.0);
  EXPECT_EQ(call("smoothbasic", {1000, 5}, rpm), 0.0);
  EXPECT_EQ(call("minvalue", {1000}, rpm, &state), 1000.0);
}

class HistoryFunctionTest : public FunctionTest {
 protected:
  HistoryFunctionTest() {
    for (const double v : {1000.0, 3000.0, 2000.0}) {
      state.record(QStringLiteral("rpm"), v);
    }
  }
};

TEST_F(HistoryFunctionTest, ExtremesLastValueAndHistory) {
  EXPECT_EQ(eval("minvalue(rpm)"), 1000.0);
  EXPECT_EQ(eval("maxvalue(rpm)"), 3000.0);
  EXPECT_EQ(eval("lastValue(rpm)"), 2000.0);
  EXPECT_EQ(eval("historicalvalue(rpm, 0)"), 2000.0);
  EXPECT_EQ(eval("historicalValue(rpm, 1)"), 3000.0);
  EXPECT_EQ(eval("pastvalue(rpm, 2)"), 1000.0);
  EXPECT_EQ(eval("pastvalue(rpm, 3)"), 0.0);
  EXPECT_EQ(eval("pastvalue(rpm, -1)"), 0.0);
  EXPECT_EQ(eval("pastvalue(rpm)"), 0.0);
  EXPECT_EQ(eval("minvalue(never)"), 0.0);
  EXPECT_EQ(eval("lastvalue(never)"), 0.0);
}

TEST_F(HistoryFunctionTest, AccumulatorsAndResets) {
  EXPECT_EQ(eval("accumulate(rpm)"), 6000.0);
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 6000.0);
  state.reset();
  EXPECT_EQ(eval("accumulate(rpm)"), 0.0);
  EXPECT_EQ(eval("maxvalue(rpm)"), 0.0);
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 6000.0);
  state.record(QStringLiteral("rpm"), 10);
  EXPECT_EQ(eval("accumulate(rpm)"), 10.0);
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 6010.0);
  state.clearPersistent();
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 0.0);
}

TEST_F(HistoryFunctionTest, SmoothBasicAveragesTheNewestSamples) {
  EXPECT_EQ(eval("smoothbasic(rpm, 2)"), 2500.0);
  EXPECT_EQ(eval("smoothBasic(rpm, 75)"), 2000.0);
  EXPECT_EQ(eval("smoothbasic(rpm, 0)"), 2000.0);
  EXPECT_EQ(eval("smoothbasic(rpm, 1)"), 2000.0);
  EXPECT_EQ(eval("smoothbasic(never, 3)"), 0.0);
}

TEST_F(HistoryFunctionTest, SmoothFilteredKeepsAMemoryPerArgumentText) {
  host.values[QStringLiteral("rpm")] = 100;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 100.0);
  host.values[QStringLiteral("rpm")] = 200;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 150.0);
  EXPECT_EQ(eval("smoothfiltered( rpm )"), 175.0);    // the text is trimmed: same memory
  EXPECT_EQ(eval("smoothfiltered(rpm * 1)"), 200.0);  // another text: a memory of its own
  host.values[QStringLiteral("rpm")] = kNaN;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 175.0);
  EXPECT_EQ(state.smoothing(QStringLiteral("__smoothfiltered_rpm")), 175.0);
  state.reset();
  host.values[QStringLiteral("rpm")] = 40;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 40.0);
}

TEST_F(HistoryFunctionTest, LogTimeAndTimer) {
  EXPECT_EQ(eval("getlogtime()"), 0.0);
  state.setLogTime(12.5);
  EXPECT_EQ(eval("getLogTime()"), 12.5);
  EXPECT_GE(eval("highspeedrecordnumber()"), 0.0);
  state.reset();
  EXPECT_EQ(eval("getlogtime()"), 0.0);
}

TEST(ExpressionStateTest, NaNIsRecordedButNotCounted) {
  ExpressionState state;
  state.record(QStringLiteral("x"), kNaN);
  const ChannelRecord* rec = state.channel(QStringLiteral("x"));
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(std::isnan(rec->last));
  EXPECT_FALSE(rec->minimum.has_value());
  EXPECT_FALSE(rec->maximum.has_value());
  EXPECT_EQ(rec->history.size(), 1u);
  EXPECT_EQ(rec->sum, 0.0);
  state.record(QStringLiteral("x"), -4);
  EXPECT_EQ(rec->minimum, -4.0);
  EXPECT_EQ(rec->maximum, -4.0);
  EXPECT_EQ(state.persistentSum(QStringLiteral("x")), -4.0);
  EXPECT_EQ(state.channel(QStringLiteral("y")), nullptr);
}

TEST(ExpressionStateTest, HistoryKeepsTheNewestValues) {
  ExpressionState state;
  const std::size_t total = ExpressionState::kHistoryDepth + 10;
  for (std::size_t i = 0; i < total; ++i) {
    state.record(QStringLiteral("x"), static_cast<double>(i));
  }
  const ChannelRecord* rec = state.channel(QStringLiteral("x"));
  ASSERT_EQ(rec->history.size(), ExpressionState::kHistoryDepth);
  EXPECT_EQ(rec->history.front(), 10.0);
  EXPECT_EQ(rec->history.back(), static_cast<double>(total - 1));
  EXPECT_EQ(rec->minimum, 0.0);
}

TEST(ExpressionHostTest, DefaultTextValueIsEmptyAndViewsHaveDistinctSerials) {
  test::TableHost host;
  EXPECT_FALSE(host.textValue(QStringLiteral("x")).has_value());
  test::TableDefinitionView a;
  test::TableDefinitionView b;
  const test::TableDefinitionView c = a;
  EXPECT_NE(a.serial(), b.serial());
  EXPECT_NE(a.serial(), c.serial());
  EXPECT_EQ(a.revision(), 0u);
}

}  // namespace
}  // namespace tk::expr
