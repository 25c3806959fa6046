#include "tune/effective_attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tune/attribute_expression.h"
#include "tune/field_index.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class EffectiveAttributesTest : public ::testing::Test {
 protected:
  EffectiveAttributesTest()
      : definition_(test::tuneDefinition("effective.ini")),
        index_(definition_),
        scope_(definition_, index_, tune_) {
    for (const char* name : {"unitSel", "useMetric"}) {
      TuneValue bits;
      bits.name = QString::fromLatin1(name);
      bits.bitsRawValue = 1;
      tune_.upsert(bits);
    }
    TuneValue alias;
    alias.name = QStringLiteral("alias");
    alias.stringValue = QStringLiteral("Boost");
    tune_.upsert(alias);
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

TEST_F(EffectiveAttributesTest, UnitsResolveEveryFormOrStayAsWritten) {
  EXPECT_EQ(units("plainUnits"), QStringLiteral("ms"));
  EXPECT_EQ(units("byList"), QStringLiteral("psi"));
  EXPECT_EQ(units("byName"), QStringLiteral("Boost"));
  EXPECT_EQ(units("byChoice"), QStringLiteral("C"));
  EXPECT_EQ(units("byNot"), QStringLiteral("F"));
  EXPECT_EQ(units("byChannel"), QStringLiteral("bar"));  // unitChan = unitSel + 1
  set("unitSel", 0);
  set("useMetric", 0);
  EXPECT_EQ(units("byList"), QStringLiteral("kPa"));
  EXPECT_EQ(units("byChoice"), QStringLiteral("F"));
  EXPECT_EQ(units("byNot"), QStringLiteral("C"));
  EXPECT_EQ(units("byExpr"),
            QStringLiteral("{ bitStringValue(pressureUnits, (unitSel ? 1 : 0)) }"));
  EXPECT_EQ(units("noList"), QStringLiteral("{ bitStringValue(nothing, unitSel) }"));
  EXPECT_EQ(units("noConstant"), QStringLiteral("{ stringValue(missing) }"));
  set("unitSel", 3);  // the list has no label for 3
  EXPECT_EQ(units("byList"), QStringLiteral("{ bitStringValue(pressureUnits, unitSel) }"));
  // A known constant without a text gives empty units.
  tune_.find(QStringLiteral("alias"))->stringValue.reset();
  EXPECT_EQ(units("byName"), QString());
}

TEST_F(EffectiveAttributesTest, AttributesUseTheirExpressionsWhenPresent) {
  EXPECT_EQ(effectiveScale(c("scaled"), scope_), 0.5);
  EXPECT_EQ(effectiveTranslate(c("scaled"), scope_), 100);
  EXPECT_EQ(effectiveDigits(c("plainUnits"), scope_), 3);
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), 2);  // truncated toward zero
  // scale 0.5, translate 100: 103.3 -> raw 6.6 -> 7 -> 103.5; below the translate raw is 0.
  EXPECT_EQ(quantizeValue(c("scaled"), 103.3, scope_), 103.5);
  EXPECT_EQ(quantizeValue(c("scaled"), 50, scope_), 100);
  set("unitSel", 2);
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), -1);
  EXPECT_EQ(effectiveScale(c("scaled"), scope_), 2);
  EXPECT_EQ(effectiveTranslate(c("scaled"), scope_), 200);
  EXPECT_EQ(quantizeValue(c("scaled"), 1000, scope_), 710);
  EXPECT_EQ(clampValue(c("limitsExpr"), 5, scope_), 20);
  EXPECT_EQ(clampValue(c("limitsExpr"), 60, scope_), 52);
  EXPECT_EQ(clampValue(c("limitsExpr"), 30, scope_), 30);
}

TEST_F(EffectiveAttributesTest, EmptyAndUnparseableExpressionsFallBackToNeutralValues) {
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
TEST_F(EffectiveAttributesTest, QuantizingStoresWhatTheControllerWillHold) {
  struct Case {
    const char* constant;
    double input;
    double expected;
  };
  const Case cases[] = {
      Case{"qTenth", 12.34, 12.3}, Case{"qTenth", 30, 25.5},
      // raw 122.49999999999999 -> 122; the stored value is 0.1 x 122, one unit in the last
      // place above the double nearest 12.2.
      Case{"qTenth", 12.25, 12.200000000000001}, Case{"qOffset", 300, 215}, Case{"qS08", -0.5, 0},
      Case{"qS16", -20000, -16424}, Case{"qLowerCase", -2.5, -2},
      Case{"qF32", 0.1, static_cast<double>(0.1F)}, Case{"qF32", 1e39, 0},
      Case{"qOther", 12.345, 12.345}, Case{"qNoScale", 300, 10}, Case{"qMinOnly", kNaN, 0},
      Case{"qMinOnly", kInf, 0}, Case{"qCrossed", 2, 5}, Case{"qCrossed", 7, 5},
      // Bit fields keep the rounded raw value within their width, unscaled.
      Case{"qBits", 9, 7}, Case{"qBits", 2.5, 2}, Case{"qBits", 3.5, 4},
      Case{"q31Bits", 3e9, 2147483647}, Case{"q32Bits", 3e9, 2147483647}, Case{"qReversed", 5, 0}};
  for (const Case& q : cases) {
    const double stored = quantizeValue(c(q.constant), q.input, scope_);
    EXPECT_EQ(stored, q.expected) << q.constant << " " << q.input;
    EXPECT_FALSE(std::signbit(stored) && stored == 0) << q.constant << ": a stored 0 is positive";
  }
}

}  // namespace
}  // namespace tk
