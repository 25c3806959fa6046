#include "tune/attribute_expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tune/effective_attributes.h"
#include "tune/field_codec.h"
#include "tune/field_index.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

constexpr double kFailed = -12345.5;  // marks "did not parse" in these tests
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Expressions and effective attributes evaluated against a tune decoded from two pages.
class AttributeExpressionTest : public ::testing::Test {
 protected:
  AttributeExpressionTest()
      : definition_(test::tuneDefinition("attributes.ini")),
        index_(definition_),
        scope_(definition_, index_, tune_) {
    // Page 1: unitSel 1, useMetric 1, alias "Boost". Page 2: mode 2, level -7,
    // curve 10 20 30 40, label "42", Factor 3.5.
    tune_ = decodePages(
        {{1, test::fromHex("01 01 42 6f 6f 73 74").leftJustified(64, '\0')},
         {2, test::fromHex("02 f9 ff 0a 14 1e 28 34 32 00 00 00 00 07").leftJustified(32, '\0')}},
        definition_);
  }

  double eval(const char* text) const {
    return scope_.evaluate(QString::fromUtf8(text), 1.25, kFailed);
  }
  const ConstantDef& c(const char* name) const {
    return *definition_.findConstant(QString::fromLatin1(name));
  }
  QString units(const char* name) const { return effectiveUnits(c(name), scope_); }
  void set(const char* name, int raw) { tune_.find(QString::fromLatin1(name))->bitsRawValue = raw; }

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
    NumbersNamesOperatorsAndChannels, AttributeValueTest,
    // An empty text gives the value for empty (1.25 here).
    ::testing::Values(
        Case{"", 1.25}, Case{"   \t ", 1.25}, Case{"{2.5}", 2.5}, Case{"\"0.25\"", 0.25},
        Case{"-3", -3}, Case{"+3", 3}, Case{"2.5E-1", 0.25}, Case{".5", 0.5}, Case{"2.", 2},
        // Names: the stored value, element 0 of arrays, 0 for text.
        Case{"LEVEL", -7}, Case{"{ factor }", 3.5}, Case{"mode", 2}, Case{"curve", 10},
        Case{"label", 0}, Case{"unknownName", 0}, Case{"2x", 0}, Case{"level * 2 + 1", -13},
        Case{"(1 + 2) * 3", 9}, Case{"10 - 4 - 3", 3}, Case{"8 / 2 / 2", 2}, Case{"2 * 3 % 4", 2},
        Case{"-7 % 3", -1}, Case{"7.5 % 2", 1.5}, Case{"-level", 7}, Case{"--2", 2},
        Case{"2*-3", -6}, Case{"1e2+1", 101}, Case{"\"level * 2\"", -14}, Case{"4 <= 4", 1},
        Case{"5 > 6", 0}, Case{"6 >= 6", 1}, Case{"2 != 3", 1}, Case{"1 < 2 == 1", 1},
        Case{"!mode", 0}, Case{"!!mode", 1}, Case{"0 || 3", 1}, Case{"2 && 0", 0},
        Case{"1 || 0 && 0", 1}, Case{"(1 || 0) && 0", 0}, Case{"(level < 0) * 10 + 1", 11},
        Case{"(0/0) == (0/0)", 0}, Case{"(0/0) != (0/0)", 1}, Case{"mode == 2 ? 0.5 : 2", 0.5},
        Case{"mode == 1 ? 0.5 : 2", 2}, Case{"{ level < 0 ? \"5\" : 6 }", 5},
        Case{"mode == 0 ? 1 : mode == 1 ? 2 : 3", 3}, Case{"level ? (factor - 3) : 100.0", 0.5},
        // The smallest denormal still counts as zero, and so does NaN.
        Case{"4.9406564584124654e-324 ? 1 : 2", 2}, Case{"1e-323 ? 1 : 2", 1},
        Case{"(0 / 0) ? 1 : 2", 2},
        // Only the chosen branch is evaluated.
        Case{"1 ? 4 : )(", 4}, Case{"{resA}", 0.5}, Case{"resB", 2}, Case{"RESA + 1", 1.5},
        // A constant wins over a channel of the same name.
        Case{"level", -7},
        // At the point where a channel names itself again it counts as 0.
        Case{"loopA", 2}, Case{"selfRef", 3},
        // c0 names c1 ... names c19 = 5, deeper than the bound: the channel at the
        // bound counts as 0 and each level above it adds 1; c4 to c19 fit.
        Case{"c0", AttributeScope::kMaxChannelNesting},
        Case{"c3", AttributeScope::kMaxChannelNesting}, Case{"c4", 5 + 15}, Case{"1 / 0", kInf},
        Case{"-1 / 0", -kInf},
        // Texts that do not parse give the fallback.
        Case{"1 +", kFailed}, Case{"(1 + 2", kFailed}, Case{"2 3", kFailed}, Case{"a.b", kFailed},
        Case{"1 ? 2", kFailed}, Case{"mode ? : 2", kFailed}, Case{"(mode ? 1 : 2)", kFailed},
        Case{"1 = 1", kFailed}, Case{"+level", kFailed}, Case{"curve[1]", kFailed},
        Case{"max(1, 2)", kFailed}, Case{"broken + 1", kFailed}, Case{"\"a\" + 1", kFailed}));

TEST_F(AttributeExpressionTest, ChannelsFollowTheTuneAsItChanges) {
  set("mode", 1);
  EXPECT_EQ(eval("resA"), 2);
  EXPECT_EQ(eval("resB"), 8);
  EXPECT_EQ(scope_.nameValue("nothing"), std::nullopt);
  EXPECT_EQ(scope_.nameValue("broken"), std::nullopt);
}

TEST_F(AttributeExpressionTest, DegenerateTextsGiveNaNOrDoNotParse) {
  EXPECT_TRUE(std::isnan(eval("0 / 0")));
  EXPECT_TRUE(std::isnan(eval("5 % 0")));
  // Deep nesting does not parse instead of exhausting the stack.
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

TEST_F(AttributeExpressionTest, UnitsResolveEveryFormOrStayAsWritten) {
  EXPECT_EQ(units("plainUnits"), "ms");
  EXPECT_EQ(units("byList"), "psi");
  EXPECT_EQ(units("byName"), "Boost");
  EXPECT_EQ(units("byChoice"), "C");
  EXPECT_EQ(units("byNot"), "F");
  EXPECT_EQ(units("byChannel"), "bar");  // unitChan = unitSel + 1
  set("unitSel", 0);
  set("useMetric", 0);
  EXPECT_EQ(units("byList"), "kPa");
  EXPECT_EQ(units("byChoice"), "F");
  EXPECT_EQ(units("byNot"), "C");
  EXPECT_EQ(units("byExpr"), "{ bitStringValue(pressureUnits, (unitSel ? 1 : 0)) }");
  EXPECT_EQ(units("noList"), "{ bitStringValue(nothing, unitSel) }");
  EXPECT_EQ(units("noConstant"), "{ stringValue(missing) }");
  set("unitSel", 3);  // the list has no label for 3
  EXPECT_EQ(units("byList"), "{ bitStringValue(pressureUnits, unitSel) }");
  // A known constant without a text gives empty units.
  tune_.find("alias")->stringValue.reset();
  EXPECT_EQ(units("byName"), QString());
}

TEST_F(AttributeExpressionTest, AttributesUseTheirExpressionsWhenPresent) {
  EXPECT_EQ(effectiveScale(c("scaled"), scope_), 0.5);
  EXPECT_EQ(effectiveTranslate(c("scaled"), scope_), 100);
  EXPECT_EQ(effectiveDigits(c("plainUnits"), scope_), 3);
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), 2);  // truncated toward zero
  // scale 0.5, translate 100: 103.3 -> raw 106.6 -> 107 -> 103.5; below 50 raw is 0.
  EXPECT_EQ(quantizeValue(c("scaled"), 103.3, scope_), 103.5);
  EXPECT_EQ(quantizeValue(c("scaled"), 40, scope_), 50);
  set("unitSel", 2);
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), -1);
  EXPECT_EQ(effectiveScale(c("scaled"), scope_), 2);
  EXPECT_EQ(effectiveTranslate(c("scaled"), scope_), 200);
  EXPECT_EQ(quantizeValue(c("scaled"), 1000, scope_), 910);  // raw 300 -> 255
  EXPECT_EQ(clampValue(c("limitsExpr"), 5, scope_), 20);
  EXPECT_EQ(clampValue(c("limitsExpr"), 60, scope_), 52);
  EXPECT_EQ(clampValue(c("limitsExpr"), 30, scope_), 30);
}

TEST_F(AttributeExpressionTest, EmptyAndUnparseableExpressionsFallBackToNeutralValues) {
  EXPECT_EQ(effectiveScale(c("emptyExprs"), scope_), 1);
  EXPECT_EQ(effectiveTranslate(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveDigits(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveMin(c("badLimits"), scope_), -kInf);
  EXPECT_EQ(effectiveMax(c("badLimits"), scope_), kInf);
  EXPECT_EQ(effectiveDigits(c("badLimits"), scope_), 0);
  // Limits that do not parse do not limit; empty limit expressions are 0 and do.
  EXPECT_EQ(clampValue(c("badLimits"), -500, scope_), -500);
  EXPECT_EQ(quantizeValue(c("badLimits"), 300, scope_), 255);
  EXPECT_EQ(clampValue(c("emptyExprs"), 7, scope_), 0);
}

// Quantizing with plain attributes: limits, rounding, storage types and non-finite input.
TEST_F(AttributeExpressionTest, QuantizingStoresWhatTheControllerWillHold) {
  struct Quantized {
    const char* constant;
    double input;
    double expected;
  };
  const Quantized cases[] = {
      Quantized{"qTenth", 12.34, 12.3}, Quantized{"qTenth", 30, 25.5},
      // raw 122.49999999999999 -> 122; the stored value is 0.1 x 122, one unit in the last
      // place above the double nearest 12.2.
      Quantized{"qTenth", 12.25, 12.200000000000001}, Quantized{"qOffset", 300, 215},
      Quantized{"qS08", -0.5, 0}, Quantized{"qS16", -20000, -16404},
      Quantized{"qLowerCase", -2.5, -2}, Quantized{"qF32", 0.1, static_cast<double>(0.1F)},
      Quantized{"qF32", 1e39, 0}, Quantized{"qOther", 12.345, 12.345},
      Quantized{"qNoScale", 300, 10}, Quantized{"qMinOnly", kNaN, 0},
      Quantized{"qMinOnly", kInf, 0}, Quantized{"qCrossed", 2, 5}, Quantized{"qCrossed", 7, 5},
      // Bit fields keep the rounded raw value within their width, unscaled.
      Quantized{"qBits", 9, 7}, Quantized{"qBits", 2.5, 2}, Quantized{"qBits", 3.5, 4},
      Quantized{"q31Bits", 3e9, 2147483647}, Quantized{"q32Bits", 3e9, 2147483647},
      Quantized{"qReversed", 5, 0}};
  for (const Quantized& q : cases) {
    const double stored = quantizeValue(c(q.constant), q.input, scope_);
    EXPECT_EQ(stored, q.expected) << q.constant << " " << q.input;
    EXPECT_FALSE(std::signbit(stored) && stored == 0) << q.constant << ": a stored 0 is positive";
  }
  ConstantDef negative = c("qS08");  // (raw + 0) x -1 is -0 for raw 0
  negative.Scale = -1;
  EXPECT_EQ(quantizeValue(negative, -2.4, scope_), -2);
  EXPECT_FALSE(std::signbit(quantizeValue(negative, 0.3, scope_)));
}

}  // namespace
}  // namespace tk
