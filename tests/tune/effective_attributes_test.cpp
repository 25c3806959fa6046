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
struct QuantizeCase {
  const char* label;
  ConstantType type;
  const char* dataType;
  double scale;
  double translate;
  std::optional<double> min;
  std::optional<double> max;
  double input;
  double expected;
  int bitStart = 0;
  int bitEnd = 0;
};

TEST_F(EffectiveAttributesTest, QuantizingStoresWhatTheControllerWillHold) {
  constexpr auto S = ConstantType::Scalar;
  constexpr auto B = ConstantType::Bits;
  const std::optional<double> none;
  const QuantizeCase cases[] = {
      QuantizeCase{"u08 tenth", S, "U08", 0.1, 0, none, 25.5, 12.34, 12.3},
      // raw 122.49999999999999 -> 122; the stored value is 0.1 x 122, one unit in the last
      // place above the double nearest 12.2.
      QuantizeCase{"u08 tenth down", S, "U08", 0.1, 0, none, 25.5, 12.25, 12.200000000000001},
      QuantizeCase{"u08 above max", S, "U08", 0.1, 0, none, 25.5, 30, 25.5},
      QuantizeCase{"u08 below type", S, "U08", 0.1, 0, none, 25.5, -1, 0},
      QuantizeCase{"u08 translate top", S, "U08", 1, -40, none, none, 300, 215},
      QuantizeCase{"s08 minus half", S, "S08", 1, 0, none, none, -0.5, 0},
      QuantizeCase{"u16 hundredth", S, "U16", 0.01, 0, none, none, 655.36, 655.35},
      QuantizeCase{"s16 bottom", S, "S16", 0.5, -40, none, none, -20000, -16424},
      QuantizeCase{"s16 half even", S, "s16", 1, 0, none, none, -2.5, -2},
      QuantizeCase{"u32 top", S, "U32", 1, 0, none, none, 5e9, 4294967295.0},
      QuantizeCase{"f32 tenth", S, "F32", 1, 0, none, none, 0.1, static_cast<double>(0.1F)},
      QuantizeCase{"f32 overflow", S, "F32", 1, 0, none, none, 1e39, 0},
      QuantizeCase{"other type", S, "ASCII", 0.5, 0, none, none, 12.345, 12.345},
      QuantizeCase{"zero scale", S, "U08", 0, 3, none, 10, 300, 10},
      QuantizeCase{"nan", S, "U08", 1, 0, 5, none, kNaN, 0},
      QuantizeCase{"inf", S, "U08", 1, 0, none, 10, kInf, 0},
      QuantizeCase{"min above max, low", S, "U08", 1, 0, 10, 5, 2, 5},
      QuantizeCase{"min above max, high", S, "U08", 1, 0, 10, 5, 7, 5},
      QuantizeCase{"bits top", B, "U08", 1, 0, none, none, 9, 7, 0, 2},
      QuantizeCase{"bits negative", B, "U08", 1, 0, none, none, -3, 0, 0, 2},
      QuantizeCase{"bits half even", B, "U08", 1, 0, none, none, 2.5, 2, 4, 6},
      QuantizeCase{"bits not scaled", B, "U08", 0.5, 10, none, none, 3.5, 4, 4, 6},
      QuantizeCase{"bits max limit", B, "U08", 1, 0, none, 3, 6, 3, 4, 6},
      QuantizeCase{"29 bits", B, "U32", 1, 0, none, none, 1e10, 536870911, 0, 28},
      QuantizeCase{"31 bits", B, "U32", 1, 0, none, none, 3e9, 2147483647, 0, 30},
      QuantizeCase{"32 bits", B, "U32", 1, 0, none, none, 3e9, 2147483647, 0, 31},
      QuantizeCase{"reversed bits", B, "U08", 1, 0, none, none, 5, 0, 6, 2}};
  for (const QuantizeCase& p : cases) {
    ConstantDef q;
    q.Type = p.type;
    q.DataType = QString::fromLatin1(p.dataType);
    q.Scale = p.scale;
    q.Translate = p.translate;
    q.HasMin = p.min.has_value();
    q.Min = p.min.value_or(0);
    q.HasMax = p.max.has_value();
    q.Max = p.max.value_or(0);
    q.BitStart = p.bitStart;
    q.BitEnd = p.bitEnd;
    const double stored = quantizeValue(q, p.input, scope_);
    EXPECT_EQ(stored, p.expected) << p.label;
    EXPECT_FALSE(std::signbit(stored) && stored == 0) << p.label << ": a stored zero is positive";
  }
}

}  // namespace
}  // namespace tk
