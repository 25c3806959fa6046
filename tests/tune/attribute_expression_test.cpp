#include "tune/attribute_expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tune/field_codec.h"
#include "tune/field_index.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

constexpr double kFailed = -12345.5;  // marks "did not parse" in these tests
constexpr double kInf = std::numeric_limits<double>::infinity();

class AttributeExpressionTest : public ::testing::Test {
 protected:
  AttributeExpressionTest()
      : definition_(test::tuneDefinition("attributes.ini")),
        index_(definition_),
        scope_(definition_, index_, tune_) {
    // mode 2, level -7, curve 10 20 30 40, label "42", Factor 3.5.
    tune_ = decodePages(
        {{1, test::fromHex("02 f9 ff 0a 14 1e 28 34 32 00 00 00 00 07").leftJustified(32, '\0')}},
        definition_);
  }

  double eval(const char* text) const {
    return scope_.evaluate(QString::fromUtf8(text), 1.25, kFailed);
  }

  EcuDefinition definition_;
  FieldIndex index_;
  Tune tune_;
  AttributeScope scope_;
};

struct Case {
  const char* text;
  double expected;
};

class AttributeValueTest : public AttributeExpressionTest,
                           public ::testing::WithParamInterface<Case> {};

TEST_P(AttributeValueTest, Evaluates) {
  EXPECT_EQ(eval(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    NumbersAndNames, AttributeValueTest,
    // An empty text gives the value for empty (1.25 here).
    ::testing::Values(Case{"", 1.25}, Case{"   \t ", 1.25}, Case{"{2.5}", 2.5},
                      Case{"\"0.25\"", 0.25}, Case{"-3", -3}, Case{"+3", 3}, Case{"2.5E-1", 0.25},
                      Case{".5", 0.5}, Case{"2.", 2},
                      // Names: the stored value, element 0 of arrays, 0 for text.
                      Case{"LEVEL", -7}, Case{"{ factor }", 3.5}, Case{"mode", 2},
                      Case{"curve", 10}, Case{"label", 0}, Case{"unknownName", 0}, Case{"2x", 0}));

INSTANTIATE_TEST_SUITE_P(
    Operators, AttributeValueTest,
    ::testing::Values(Case{"level * 2 + 1", -13}, Case{"(1 + 2) * 3", 9}, Case{"10 - 4 - 3", 3},
                      Case{"8 / 2 / 2", 2}, Case{"2 * 3 % 4", 2}, Case{"-7 % 3", -1},
                      Case{"7.5 % 2", 1.5}, Case{"-level", 7}, Case{"--2", 2}, Case{"2*-3", -6},
                      Case{"1e2+1", 101}, Case{"\"level * 2\"", -14}, Case{"4 <= 4", 1},
                      Case{"5 > 6", 0}, Case{"6 >= 6", 1}, Case{"2 != 3", 1}, Case{"1 < 2 == 1", 1},
                      Case{"!mode", 0}, Case{"!!mode", 1}, Case{"0 || 3", 1}, Case{"2 && 0", 0},
                      Case{"1 || 0 && 0", 1}, Case{"(1 || 0) && 0", 0},
                      Case{"(level < 0) * 10 + 1", 11}, Case{"(0/0) == (0/0)", 0},
                      Case{"(0/0) != (0/0)", 1}));

INSTANTIATE_TEST_SUITE_P(
    Conditionals, AttributeValueTest,
    ::testing::Values(Case{"mode == 2 ? 0.5 : 2", 0.5}, Case{"mode == 1 ? 0.5 : 2", 2},
                      Case{"{ level < 0 ? \"5\" : 6 }", 5},
                      Case{"mode == 0 ? 1 : mode == 1 ? 2 : 3", 3},
                      Case{"level ? (factor - 3) : 100.0", 0.5},
                      // The smallest denormal still counts as zero, and so does NaN.
                      Case{"4.9406564584124654e-324 ? 1 : 2", 2}, Case{"1e-323 ? 1 : 2", 1},
                      Case{"(0 / 0) ? 1 : 2", 2},
                      // Only the chosen branch is evaluated.
                      Case{"1 ? 4 : )(", 4}));

INSTANTIATE_TEST_SUITE_P(
    ComputedChannels, AttributeValueTest,
    ::testing::Values(Case{"{resA}", 0.5}, Case{"resB", 2}, Case{"RESA + 1", 1.5},
                      // A constant wins over a channel of the same name.
                      Case{"level", -7},
                      // At the point where a channel names itself again it counts as 0.
                      Case{"loopA", 2}, Case{"selfRef", 3},
                      // c0 names c1 ... names c19 = 5, deeper than the bound: the channel at the
                      // bound counts as 0 and each level above it adds 1; c4 to c19 fit.
                      Case{"c0", AttributeScope::kMaxChannelNesting},
                      Case{"c3", AttributeScope::kMaxChannelNesting}, Case{"c4", 5 + 15}));

INSTANTIATE_TEST_SUITE_P(DoesNotParse, AttributeValueTest,
                         ::testing::Values(Case{"1 +", kFailed}, Case{"(1 + 2", kFailed},
                                           Case{"2 3", kFailed}, Case{"a.b", kFailed},
                                           Case{"1 ? 2", kFailed}, Case{"mode ? : 2", kFailed},
                                           Case{"(mode ? 1 : 2)", kFailed}, Case{"1 = 1", kFailed},
                                           Case{"+level", kFailed}, Case{"curve[1]", kFailed},
                                           Case{"max(1, 2)", kFailed}, Case{"broken + 1", kFailed},
                                           Case{"\"a\" + 1", kFailed}));

TEST_F(AttributeExpressionTest, DivisionFollowsIeeeRules) {
  EXPECT_EQ(eval("1 / 0"), kInf);
  EXPECT_EQ(eval("-1 / 0"), -kInf);
  EXPECT_TRUE(std::isnan(eval("0 / 0")));
  EXPECT_TRUE(std::isnan(eval("5 % 0")));
}

TEST_F(AttributeExpressionTest, ChannelsFollowTheTuneAsItChanges) {
  tune_.find(QStringLiteral("mode"))->bitsRawValue = 1;
  EXPECT_EQ(eval("resA"), 2);
  EXPECT_EQ(eval("resB"), 8);
  EXPECT_EQ(scope_.nameValue(QStringLiteral("LEVEL")), -7);
  EXPECT_EQ(scope_.nameValue(QStringLiteral("nothing")), std::nullopt);
  EXPECT_EQ(scope_.nameValue(QStringLiteral("broken")), std::nullopt);
  EXPECT_FALSE(scope_.findField(QStringLiteral("resA")).has_value());
}

TEST_F(AttributeExpressionTest, DeepNestingDoesNotParseInsteadOfExhaustingTheStack) {
  const auto nested = [](int depth) {
    return QString(depth, u'(') + QStringLiteral("1") + QString(depth, u')');
  };
  EXPECT_EQ(scope_.evaluate(nested(20), 0, kFailed), 1);
  EXPECT_EQ(scope_.evaluate(nested(100000), 0, kFailed), kFailed);
  QString chain;
  for (int i = 0; i < 10000; ++i) {
    chain += QStringLiteral("0 ? 1 : ");
  }
  EXPECT_EQ(scope_.evaluate(chain + QStringLiteral("2"), 0, kFailed), kFailed);
  EXPECT_EQ(scope_.evaluate(QString(50000, u'-') + QStringLiteral("1"), 0, kFailed), kFailed);
}

}  // namespace
}  // namespace tk
