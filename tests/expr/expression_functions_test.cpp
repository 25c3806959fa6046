#include "expr/expression_functions.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include "expr/expression_evaluator.h"
#include "expr/expression_state.h"
#include "expr_test_hosts.h"

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Eval {
  const char* text;
  double expected;
};

struct Call {
  const char* name;
  std::vector<double> args;
  double expected;
};

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
  // Exact, NaN equal to NaN, and -0 told from 0.
  void expectCall(const Call& c) {
    const double got = call(c.name, c.args);
    std::ostringstream where;
    where << c.name << '(';
    for (const double a : c.args) {
      where << a << ',';
    }
    where << ')';
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(got)) << where.str() << " gives " << got;
    } else {
      EXPECT_EQ(got, c.expected) << where.str();
      EXPECT_EQ(std::signbit(got), std::signbit(c.expected)) << where.str() << " gives " << got;
    }
  }
  template <typename... Calls>
  void expectCalls(const Calls&... calls) {
    (expectCall(calls), ...);
  }
  double eval(const char* text) {
    return evaluator.evaluate(QString::fromUtf8(text), host, &state);
  }
  void expectEval(const Eval& e) { EXPECT_EQ(eval(e.text), e.expected) << e.text; }
  template <typename... Evals>
  void expectEvals(const Evals&... evals) {
    (expectEval(evals), ...);
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
  expectCalls(Call{"sin", {0}, 0}, Call{"cos", {0}, 1}, Call{"sqrt", {2.25}, 1.5},
              Call{"abs", {-3.5}, 3.5}, Call{"exp", {0}, 1}, Call{"log", {0}, 0},
              Call{"log", {kNaN}, 0}, Call{"log10", {1000}, 3}, Call{"log10", {-1}, 0},
              Call{"pow", {2, -1}, 0.5}, Call{"pow", {2}, 0}, Call{"recip", {0}, 0},
              Call{"recip", {-4}, -0.25}, Call{"floor", {-1.5}, -2}, Call{"ceil", {-1.5}, -1},
              Call{"isnan", {kNaN}, 1}, Call{"isnan", {1}, 0}, Call{"table", {7, 0}, 7},
              Call{"tablelookup", {1, 2, 3}, 0});
}

TEST_F(FunctionTest, RoundIsHalfToEven) {
  expectCalls(Call{"round", {2.5}, 2}, Call{"round", {3.5}, 4}, Call{"round", {-2.5}, -2},
              Call{"round", {-3.5}, -4}, Call{"round", {2.6}, 3}, Call{"round", {2.4}, 2},
              Call{"round", {0.5}, 0}, Call{"round", {1.5}, 2}, Call{"round", {-0.5}, -0.0},
              Call{"round", {1e300}, 1e300});
}

TEST_F(FunctionTest, MinSkipsNaNAndMaxFollowsItsReplacementRule) {
  // A later NaN is not "less than or equal" to the maximum, so it replaces it, and then so does 2.
  expectCalls(Call{"min", {4, 2, 9}, 2}, Call{"min", {kNaN, 3, 2}, 2}, Call{"min", {3, kNaN, 5}, 3},
              Call{"min", {kNaN, kNaN}, kNaN}, Call{"max", {4, 2, 9}, 9},
              Call{"max", {kNaN, 3, 2}, 3}, Call{"max", {3, kNaN}, kNaN},
              Call{"max", {3, kNaN, 2}, 2}, Call{"max", {kNaN}, kNaN}, Call{"max", {}, 0},
              Call{"min", {}, 0});
}

TEST_F(FunctionTest, SelectExpressionClampsItsIndexAndPowerFormulas) {
  expectCalls(
      Call{"selectexpression", {5, 10, 20, 30}, 30}, Call{"selectexpression", {-1, 10, 20}, 10},
      Call{"selectexpression", {1.9, 10, 20, 30}, 20}, Call{"selectexpression", {kNaN, 10, 20}, 10},
      Call{"selectexpression", {1e300, 10, 20}, 20}, Call{"selectexpression", {-1e300, 10, 20}, 10},
      Call{"selectexpression", {1}, 0}, Call{"accelhp", {0, 10, 2, 75}, 1},
      Call{"accelhp", {0, 10, 0, 75}, 0}, Call{"accelhp", {1, 2, 3}, 0},
      Call{"aerodynamicdraghp", {10, 2, 3, 5}, 40}, Call{"aerodynamicdraghp", {10, 2, 3}, 0},
      Call{"rollingdraghp", {100, 0, 1}, 0}, Call{"rollingdraghp", {100, -2, 1}, 0},
      Call{"rollingdraghp", {100, kNaN, 1}, 0}, Call{"rollingdraghp", {100, 2}, 0});
}

TEST_F(FunctionTest, InexactResults) {
  EXPECT_DOUBLE_EQ(call("tan", {std::atan(1.0)}), 1.0);
  EXPECT_DOUBLE_EQ(call("asin", {1}), M_PI / 2);
  EXPECT_DOUBLE_EQ(call("acos", {-1}), M_PI);
  EXPECT_DOUBLE_EQ(call("atan", {1}), M_PI / 4);
  EXPECT_DOUBLE_EQ(call("log", {std::exp(2.0)}), 2.0);
  EXPECT_DOUBLE_EQ(call("rollingdraghp", {100, 2, 375}), 2.5);
}

TEST_F(FunctionTest, ConstantsHostStatusAndLookupsWithoutADefinition) {
  host.values[QStringLiteral("map")] = 5;
  expectCalls(Call{"isadvancedmathavaliable", {0}, 1}, Call{"getworkinglocalcanid", {0}, 0},
              Call{"isonline", {0}, 0}, Call{"getchannelvaluebyoffset", {0}, 0},
              Call{"getchannelscalebyoffset", {0}, 0});
  EXPECT_EQ(call("arrayvalue", {0, 1}, {QStringLiteral("array.boardFuel"), QStringLiteral("1")}),
            0.0);
  host.online = true;
  EXPECT_EQ(call("isonline", {0}), 1.0);
  const double before = static_cast<double>(QDateTime::currentSecsSinceEpoch());
  const double now = call("timenow", {});
  EXPECT_GE(now, before);
  EXPECT_LE(now, before + 5);
  EXPECT_EQ(now, std::floor(now));
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

// smoothbasic averages the newest samples.
TEST_F(HistoryFunctionTest, ExtremesLastValueHistoryAndAverages) {
  expectEvals(Eval{"minvalue(rpm)", 1000}, Eval{"maxvalue(rpm)", 3000},
              Eval{"lastValue(rpm)", 2000}, Eval{"pastvalue(rpm, 2)", 1000},
              Eval{"pastvalue(rpm, 3)", 0}, Eval{"pastvalue(rpm, -1)", 0},
              Eval{"pastvalue(rpm)", 0}, Eval{"minvalue(never)", 0}, Eval{"lastvalue(never)", 0},
              Eval{"smoothbasic(rpm, 2)", 2500}, Eval{"smoothBasic(rpm, 75)", 2000},
              Eval{"smoothbasic(rpm, 0)", 2000}, Eval{"smoothbasic(rpm, 1)", 2000},
              Eval{"smoothbasic(never, 3)", 0}, Eval{"historicalvalue(rpm, 0)", 2000},
              Eval{"historicalValue(rpm, 1)", 3000});
}

TEST_F(HistoryFunctionTest, AccumulatorsAndResets) {
  expectEvals(Eval{"accumulate(rpm)", 6000}, Eval{"persistentaccumulate(rpm)", 6000});
  state.reset();
  expectEvals(Eval{"accumulate(rpm)", 0}, Eval{"maxvalue(rpm)", 0},
              Eval{"persistentaccumulate(rpm)", 6000});
  state.record(QStringLiteral("rpm"), 10);
  expectEvals(Eval{"accumulate(rpm)", 10}, Eval{"persistentaccumulate(rpm)", 6010});
  state.clearPersistent();
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 0.0);
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
}

}  // namespace
}  // namespace tk::expr
