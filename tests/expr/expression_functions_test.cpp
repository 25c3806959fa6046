// The function library beyond the value vectors of expr/evaluator_cases.txt: name lookup, host
// status, and the history functions with their state.
#include "expr/expression_functions.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "expr/expression_evaluator.h"
#include "expr/expression_state.h"
#include "expr_test_hosts.h"

namespace tk::expr {
namespace {

using namespace Qt::Literals::StringLiterals;

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
  EXPECT_EQ(findFunction(u"pastvalue"), FunctionId::HistoricalValue);
  // The name is spelt as the controllers' files spell it.
  EXPECT_EQ(findFunction(u"isadvancedmathavaliable"), FunctionId::IsAdvancedMathAvailable);
  EXPECT_FALSE(findFunction(u"isadvancedmathavailable"));
  EXPECT_FALSE(findFunction(u"SQRT"));  // the lookup itself takes lower case
  EXPECT_FALSE(findFunction(u"bitstringvalue"));
  EXPECT_EQ(call("SqRt", {81}), 9.0);
  EXPECT_EQ(call("noSuchFunction", {81}), 0.0);
}

TEST_F(FunctionTest, HostStatusAndLookupsWithoutADefinition) {
  host.values[u"map"_s] = 5;
  for (const char* name :
       {"getworkinglocalcanid", "isonline", "getchannelvaluebyoffset", "getchannelscalebyoffset"}) {
    EXPECT_EQ(call(name, {0}), 0.0) << name;
  }
  EXPECT_EQ(call("isadvancedmathavaliable", {0}), 1.0);
  EXPECT_EQ(call("arrayvalue", {0, 1}, {u"array.boardFuel"_s, u"1"_s}), 0.0);
  host.online = true;
  EXPECT_EQ(call("isonline", {0}), 1.0);
  const double before = static_cast<double>(QDateTime::currentSecsSinceEpoch());
  const double now = call("timenow", {});
  EXPECT_GE(now, before);
  EXPECT_LE(now, before + 5);
  EXPECT_EQ(now, std::floor(now));
}

TEST_F(FunctionTest, HistoryFunctionsWithoutStateGiveZero) {
  state.record(u"rpm"_s, 1000);
  const QStringList rpm{u"rpm"_s, u"0"_s};
  for (const char* name :
       {"minvalue", "maxvalue", "lastvalue", "accumulate", "persistentaccumulate", "smoothfiltered",
        "getlogtime", "highspeedrecordnumber", "historicalvalue", "smoothbasic"}) {
    EXPECT_EQ(call(name, {1000, 5}, rpm), 0.0) << name;
  }
  EXPECT_EQ(call("minvalue", {1000}, rpm, &state), 1000.0);
}

// The values the history functions read are in expr/evaluator_cases.txt; here their resets.
TEST_F(FunctionTest, HistoryResets) {
  for (const double v : {1000.0, 3000.0, 2000.0}) {
    state.record(u"rpm"_s, v);
  }
  EXPECT_EQ(std::pair(eval("accumulate(rpm)"), eval("persistentaccumulate(rpm)")),
            std::pair(6000.0, 6000.0));
  state.reset();
  EXPECT_EQ(
      std::tuple(eval("accumulate(rpm)"), eval("maxvalue(rpm)"), eval("persistentaccumulate(rpm)")),
      std::tuple(0.0, 0.0, 6000.0));
  state.record(u"rpm"_s, 10);
  EXPECT_EQ(std::pair(eval("accumulate(rpm)"), eval("persistentaccumulate(rpm)")),
            std::pair(10.0, 6010.0));
  state.clearPersistent();
  EXPECT_EQ(eval("persistentaccumulate(rpm)"), 0.0);
}

TEST_F(FunctionTest, SmoothFilteredKeepsAMemoryPerArgumentText) {
  host.values[u"rpm"_s] = 100;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 100.0);
  host.values[u"rpm"_s] = 200;
  // The argument text is trimmed (same memory); another text has a memory of its own.
  // Braces: the three run in order.
  EXPECT_EQ((std::tuple{eval("smoothfiltered(rpm)"), eval("smoothfiltered( rpm )"),
                        eval("smoothfiltered(rpm * 1)")}),
            std::tuple(150.0, 175.0, 200.0));
  host.values[u"rpm"_s] = kNaN;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 175.0);
  EXPECT_EQ(state.smoothing(u"__smoothfiltered_rpm"_s), 175.0);
  state.reset();
  host.values[u"rpm"_s] = 40;
  EXPECT_EQ(eval("smoothfiltered(rpm)"), 40.0);
}

TEST_F(FunctionTest, LogTimeAndRecordNumber) {
  EXPECT_EQ(eval("getlogtime()"), 0.0);
  state.setLogTime(12.5);
  EXPECT_EQ(eval("getLogTime()"), 12.5);
  EXPECT_GE(eval("highspeedrecordnumber()"), 0.0);
  state.reset();
  EXPECT_EQ(eval("getlogtime()"), 0.0);
}

TEST(ExpressionStateTest, HistoryKeepsTheNewestValues) {
  ExpressionState state;
  const std::size_t total = ExpressionState::kHistoryDepth + 10;
  for (std::size_t i = 0; i < total; ++i) {
    state.record(u"h"_s, static_cast<double>(i));
  }
  const ChannelRecord* h = state.channel(u"h"_s);
  ASSERT_EQ(h->history.size(), ExpressionState::kHistoryDepth);
  EXPECT_EQ(std::tuple(h->history.front(), h->history.back(), h->minimum),
            std::tuple(10.0, static_cast<double>(total - 1), std::optional(0.0)));
  EXPECT_EQ(state.channel(u"y"_s), nullptr);
}

// Compiled forms are cached per view serial, so a copy that may be changed needs its own.
TEST(ExpressionHostTest, ViewsHaveDistinctSerials) {
  test::TableDefinitionView a;
  test::TableDefinitionView b;
  const test::TableDefinitionView c = a;
  EXPECT_NE(a.serial(), b.serial());
  EXPECT_NE(a.serial(), c.serial());
}

}  // namespace
}  // namespace tk::expr
