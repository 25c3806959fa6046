#include "tune/effective_attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tune/attribute_expression.h"
#include "tune/field_index.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr char kDefinition[] = R"(
[MegaTune]
signature = "effective test"

[Constants]
nPages = 1
pageSize = 64

page = 1
  unitSel    = bits,   U08, 0, [0:1], "kPa", "psi", "bar"
  useMetric  = bits,   U08, 1, [0:0], "No", "Yes"
  alias      = string, ASCII, 2, 8
  byList     = scalar, U08, 10, { bitStringValue(pressureUnits, unitSel) }, 1, 0, 0, 255, 0
  byName     = scalar, U08, 11, { stringValue(alias) }, 1, 0, 0, 255, 0
  byChoice   = scalar, U08, 12, { useMetric ? "C" : "F" }, 1, 0, 0, 255, 0
  byNot      = scalar, U08, 13, { !useMetric ? "C" : "F" }, 1, 0, 0, 255, 0
  byChannel  = scalar, U08, 14, { bitStringValue(pressureUnits, unitChan) }, 1, 0, 0, 255, 0
  byExpr     = scalar, U08, 15, { bitStringValue(pressureUnits, (unitSel ? 1 : 0)) }, 1, 0, 0, 255, 0
  noList     = scalar, U08, 16, { bitStringValue(nothing, unitSel) }, 1, 0, 0, 255, 0
  noConstant = scalar, U08, 17, { stringValue(missing) }, 1, 0, 0, 255, 0
  plainUnits = scalar, U08, 18, "ms", 1, 0, 0, 255, 3
  digitsExpr = scalar, U08, 19, "", 1, 0, 0, 255, { unitSel == 1 ? 2.9 : -1.9 }
  limitsExpr = scalar, U08, 20, "", 1, 0, { unitSel * 10 }, { 50 + unitSel }, 0
  badLimits  = scalar, U08, 21, "", 1, 0, { foo(1) }, { bar(2) }, { baz(3) }
  emptyExprs = scalar, U08, 22, "", {}, {}, {}, {}, {}
  scaled     = scalar, U08, 23, "", { unitSel == 1 ? 0.5 : 2 }, { unitSel * 100 }, , , 0

[PcVariables]
  pressureUnits = bits, U08, [0:1], "kPa", "psi", "bar"

[OutputChannels]
  unitChan = { unitSel + 1 }
)";

class EffectiveAttributesTest : public ::testing::Test {
 protected:
  EffectiveAttributesTest()
      : definition_(test::parseDefinition(kDefinition)),
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

TEST_F(EffectiveAttributesTest, UnitsResolveEveryForm) {
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
  EXPECT_EQ(units("byChannel"), QStringLiteral("psi"));
}

TEST_F(EffectiveAttributesTest, UnitsThatDoNotResolveStayAsWritten) {
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
  EXPECT_EQ(effectiveScale(c("plainUnits"), scope_), 1);
  EXPECT_EQ(effectiveDigits(c("plainUnits"), scope_), 3);
  // Digits are truncated toward zero.
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), 2);
  set("unitSel", 2);
  EXPECT_EQ(effectiveDigits(c("digitsExpr"), scope_), -1);
  EXPECT_EQ(effectiveScale(c("scaled"), scope_), 2);
  EXPECT_EQ(effectiveTranslate(c("scaled"), scope_), 200);
  EXPECT_EQ(effectiveMin(c("limitsExpr"), scope_), 20);
  EXPECT_EQ(effectiveMax(c("limitsExpr"), scope_), 52);
}

TEST_F(EffectiveAttributesTest, EmptyAndUnparseableExpressionsFallBackToNeutralValues) {
  EXPECT_EQ(effectiveScale(c("emptyExprs"), scope_), 1);
  EXPECT_EQ(effectiveTranslate(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveMin(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveMax(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveDigits(c("emptyExprs"), scope_), 0);
  EXPECT_EQ(effectiveMin(c("badLimits"), scope_), -kInf);
  EXPECT_EQ(effectiveMax(c("badLimits"), scope_), kInf);
  EXPECT_EQ(effectiveDigits(c("badLimits"), scope_), 0);
}

TEST_F(EffectiveAttributesTest, ClampingUsesTheEffectiveLimits) {
  EXPECT_EQ(clampValue(c("limitsExpr"), 5, scope_), 10);
  EXPECT_EQ(clampValue(c("limitsExpr"), 60, scope_), 51);
  EXPECT_EQ(clampValue(c("limitsExpr"), 30, scope_), 30);
  // Limits that do not parse do not limit; empty limit expressions are 0 and do.
  EXPECT_EQ(clampValue(c("badLimits"), -500, scope_), -500);
  EXPECT_EQ(clampValue(c("badLimits"), 500, scope_), 500);
  EXPECT_EQ(clampValue(c("emptyExprs"), 7, scope_), 0);
  EXPECT_EQ(quantizeValue(c("badLimits"), 300, scope_), 255);
}

TEST_F(EffectiveAttributesTest, QuantizingFollowsTheExpressionScale) {
  // scale 0.5, translate 100: 103.3 -> raw 6.6 -> 7 -> 103.5
  EXPECT_EQ(quantizeValue(c("scaled"), 103.3, scope_), 103.5);
  // Below the translate the raw value clamps at 0.
  EXPECT_EQ(quantizeValue(c("scaled"), 50, scope_), 100);
  set("unitSel", 0);  // scale 2, translate 0: 3.3 -> raw 1.65 -> 2 -> 4
  EXPECT_EQ(quantizeValue(c("scaled"), 3.3, scope_), 4);
  EXPECT_EQ(quantizeValue(c("scaled"), 1000, scope_), 510);
}

// Quantizing with plain attributes: every storage type, limits, rounding and non-finite input.
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

class QuantizeTest : public ::testing::TestWithParam<QuantizeCase> {
 protected:
  QuantizeTest() : index_(definition_), scope_(definition_, index_, tune_) {}
  EcuDefinition definition_;
  FieldIndex index_;
  Tune tune_;
  AttributeScope scope_;
};

TEST_P(QuantizeTest, StoresWhatTheControllerWillHold) {
  const QuantizeCase& p = GetParam();
  ConstantDef c;
  c.Name = QStringLiteral("q");
  c.Type = p.type;
  c.DataType = QString::fromLatin1(p.dataType);
  c.Scale = p.scale;
  c.Translate = p.translate;
  c.HasMin = p.min.has_value();
  c.Min = p.min.value_or(0);
  c.HasMax = p.max.has_value();
  c.Max = p.max.value_or(0);
  c.BitStart = p.bitStart;
  c.BitEnd = p.bitEnd;
  const double q = quantizeValue(c, p.input, scope_);
  EXPECT_EQ(q, p.expected) << p.label;
  EXPECT_FALSE(std::signbit(q) && q == 0) << p.label << ": a stored zero is never negative";
}

constexpr auto S = ConstantType::Scalar;
constexpr auto A = ConstantType::Array;
constexpr auto B = ConstantType::Bits;
constexpr auto T = ConstantType::String;
const std::optional<double> kNone;

INSTANTIATE_TEST_SUITE_P(
    PlainAttributes, QuantizeTest,
    ::testing::Values(
        QuantizeCase{"u08 tenth", S, "U08", 0.1, 0, kNone, 25.5, 12.34, 12.3},
        // raw 122.49999999999999 -> 122; the stored value is 0.1 x 122, one unit in the last
        // place above the double nearest 12.2.
        QuantizeCase{"u08 tenth down", S, "U08", 0.1, 0, kNone, 25.5, 12.25, 12.200000000000001},
        QuantizeCase{"u08 above max", S, "U08", 0.1, 0, kNone, 25.5, 30, 25.5},
        QuantizeCase{"u08 below type", S, "U08", 0.1, 0, kNone, 25.5, -1, 0},
        QuantizeCase{"u08 half even down", A, "U08", 0.5, 0, kNone, kNone, 1.25, 1},
        QuantizeCase{"u08 half even up", A, "U08", 0.5, 0, kNone, kNone, 1.75, 2},
        QuantizeCase{"u08 type max", A, "U08", 0.5, 0, kNone, kNone, 127.75, 127.5},
        QuantizeCase{"u08 translate", S, "U08", 1, -40, kNone, kNone, -50, -40},
        QuantizeCase{"u08 translate top", S, "U08", 1, -40, kNone, kNone, 300, 215},
        QuantizeCase{"s08 low", S, "S08", 1, 0, kNone, kNone, -200, -128},
        QuantizeCase{"s08 high", S, "S08", 1, 0, kNone, kNone, 200, 127},
        QuantizeCase{"s08 minus half", S, "S08", 1, 0, kNone, kNone, -0.5, 0},
        QuantizeCase{"u16 hundredth", S, "U16", 0.01, 0, kNone, kNone, 655.36, 655.35},
        QuantizeCase{"s16 bottom", S, "S16", 0.5, -40, kNone, kNone, -20000, -16424},
        QuantizeCase{"s16 half even", S, "s16", 1, 0, kNone, kNone, -2.5, -2},
        QuantizeCase{"u32 top", S, "U32", 1, 0, kNone, kNone, 5e9, 4294967295.0},
        QuantizeCase{"u32 negative", S, "U32", 1, 0, kNone, kNone, -5, 0},
        QuantizeCase{"s32 bottom", S, "S32", 1, 0, kNone, kNone, -3e9, -2147483648.0},
        QuantizeCase{"f32 tenth", S, "F32", 1, 0, kNone, kNone, 0.1, static_cast<double>(0.1F)},
        QuantizeCase{"f32 tie", S, "F32", 1, 0, kNone, kNone, 16777217, 16777216},
        QuantizeCase{"f32 overflow", S, "F32", 1, 0, kNone, kNone, 1e39, 0},
        QuantizeCase{"other type", S, "ASCII", 0.5, 0, kNone, kNone, 12.345, 12.345},
        QuantizeCase{"string other", T, "ASCII", 1, 0, kNone, kNone, 3.3, 3.3},
        QuantizeCase{"zero scale", S, "U08", 0, 3, kNone, 10, 300, 10},
        QuantizeCase{"zero scale free", S, "U08", 0, 3, kNone, kNone, 7.77, 7.77},
        QuantizeCase{"nan", S, "U08", 1, 0, 5, kNone, kNaN, 0},
        QuantizeCase{"inf", S, "U08", 1, 0, kNone, 10, kInf, 0},
        QuantizeCase{"minus inf", S, "S16", 1, 0, kNone, kNone, -kInf, 0},
        QuantizeCase{"min above max, low", S, "U08", 1, 0, 10, 5, 2, 5},
        QuantizeCase{"min above max, high", S, "U08", 1, 0, 10, 5, 7, 5},
        QuantizeCase{"min clamps", S, "S16", 1, 0, -3, 3, -9, -3}));

INSTANTIATE_TEST_SUITE_P(
    Bits, QuantizeTest,
    ::testing::Values(QuantizeCase{"3 bits top", B, "U08", 1, 0, kNone, kNone, 9, 7, 0, 2},
                      QuantizeCase{"3 bits negative", B, "U08", 1, 0, kNone, kNone, -3, 0, 0, 2},
                      QuantizeCase{"half even down", B, "U08", 1, 0, kNone, kNone, 2.5, 2, 4, 6},
                      QuantizeCase{"half even up", B, "U08", 1, 0, kNone, kNone, 3.5, 4, 4, 6},
                      QuantizeCase{"not scaled", B, "U08", 0.5, 10, kNone, kNone, 3, 3, 4, 6},
                      QuantizeCase{"max limits", B, "U08", 1, 0, kNone, 3, 6, 3, 4, 6},
                      QuantizeCase{"29 bits", B, "U32", 1, 0, kNone, kNone, 1e10, 536870911, 0, 28},
                      QuantizeCase{"31 bits", B, "U32", 1, 0, kNone, kNone, 3e9, 2147483647, 0, 30},
                      QuantizeCase{"32 bits", B, "U32", 1, 0, kNone, kNone, 3e9, 2147483647, 0, 31},
                      QuantizeCase{"reversed", B, "U08", 1, 0, kNone, kNone, 5, 0, 6, 2},
                      QuantizeCase{"nan bits", B, "U08", 1, 0, kNone, kNone, kNaN, 0, 0, 2}));

}  // namespace
}  // namespace tk
