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

// tune/attribute-values.txt: the value, then the text (to the end of the line); "fail" marks a
// text that does not parse. An empty text gives the value for empty (1.25 here).
TEST_F(AttributeExpressionTest, TextsEvaluateToTheirCaseValues) {
  for (const QString& line : test::caseLines(QStringLiteral("tune/attribute-values.txt"))) {
    const QString value = line.section(u' ', 0, 0);
    const QString text = line.section(u' ', 1).trimmed();
    EXPECT_EQ(scope_.evaluate(text, 1.25, kFailed),
              value == u"fail" ? kFailed : test::caseNumber(value))
        << text.toStdString();
  }
  EXPECT_EQ(eval(""), 1.25);
  EXPECT_EQ(eval("   \t "), 1.25);
  // c0 names c1 ... names c19 = 5, deeper than the bound: the channel at the bound counts as 0
  // and each level above it adds 1; c4 to c19 fit.
  EXPECT_EQ(eval("c0"), AttributeScope::kMaxChannelNesting);
  EXPECT_EQ(eval("c3"), AttributeScope::kMaxChannelNesting);
}

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
  // tune/quantized-values.txt: the constant, the value stored | the value the tune then holds.
  for (const QString& line : test::caseLines(QStringLiteral("tune/quantized-values.txt"))) {
    const QStringList stores = line.section(u'|', 0, 0).split(u' ', Qt::SkipEmptyParts);
    const double stored = quantizeValue(c(stores.at(0).toLatin1().constData()),
                                        test::caseNumber(stores.at(1)), scope_);
    EXPECT_EQ(stored, test::caseNumber(line.section(u'|', 1).trimmed())) << line.toStdString();
    EXPECT_FALSE(std::signbit(stored) && stored == 0)
        << line.toStdString() << ": a stored 0 is positive";
  }
  ConstantDef negative = c("qS08");  // (raw + 0) x -1 is -0 for raw 0
  negative.Scale = -1;
  EXPECT_EQ(quantizeValue(negative, -2.4, scope_), -2);
  EXPECT_FALSE(std::signbit(quantizeValue(negative, 0.3, scope_)));
}

}  // namespace
}  // namespace tk
