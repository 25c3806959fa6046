#include "formats/msq_import_plan.h"

#include <gtest/gtest.h>

#include <limits>

#include "formats/msq_reader.h"
#include "tune/attribute_expression.h"
#include "tune/tune_editor.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

// An entry each way a constant of tune/editor.ini takes or refuses it: a number for a scalar, a
// label or a raw number for a bit field, an array of the declared count, a text for a string;
// refused are an unknown name, an array of another count or with a word among its numbers, an
// unknown label, a word for a scalar and a NaN. An infinity ends at the largest double.
TEST(MsqImportPlanTest, EveryEntryCheckedBeforeAnyStore) {
  const MsqDocument document = parseMsq(R"(<msq><page number="0">
    <constant name="RPMLIMIT">7000</constant>
    <constant name="mode">"auto"</constant>
    <constant name="useMetricOnInterface">1</constant>
    <constant name="curveY" rows="4">1 2 3 4</constant>
    <constant name="label">"abc"</constant>
    <constant name="wide" rows="3">1 2</constant>
    <constant name="tempAxis" rows="2">1 x 2</constant>
    <constant name="other">"many"</constant>
    <constant name="fuelTrim">NaN</constant>
    <constant name="ghost">1</constant>
    <constant name="mode">"sometimes"</constant>
  </page><page><pcVariable name="pcOnly">Infinity</pcVariable></page></msq>)");
  TuneEditor editor(tk::test::tuneDefinition("editor.ini"), Tune());
  const MsqImportPlan plan = planMsqImport(document, editor);
  QStringList stored;
  for (const PlannedStore& store : plan.stores) {
    stored.append(store.constant->Name + QLatin1Char('=') +
                  (store.constant->Type == ConstantType::String
                       ? store.text
                       : QString::number(store.numbers.value(0)) + 'x' +
                             QString::number(store.numbers.size())));
  }
  EXPECT_EQ(stored,
            (QStringList{"rpmLimit=7000x1", "mode=2x1", "useMetricOnInterface=1x1", "curveY=1x4",
                         "label=abc",
                         "pcOnly=" + QString::number(std::numeric_limits<double>::max()) + "x1"}));
  EXPECT_EQ(plan.skipped.names(), QStringLiteral("wide, tempAxis, other, fuelTrim, ghost, mode"));
  // Every constant is named by the file, taken or refused: none is missing.
  EXPECT_EQ(plan.missing, 0);
  EXPECT_EQ(plan.converted.size() + plan.unitsDiffer.size(), 0);
}

// Outside: beyond the limits, not finite, or further from its stored value than half a step.
TEST(MsqImportPlanTest, OutsideLimitsAndReportCap) {
  const EcuDefinition definition = tk::test::tuneDefinition("editor.ini");
  const FieldIndex index(definition);
  const Tune tune;
  const AttributeScope scope(definition, index, tune);
  const ConstantDef& trim = *index.find(definition, QStringLiteral("fuelTrim"))->constant;
  const ConstantDef& mode = *index.find(definition, QStringLiteral("mode"))->constant;
  for (const auto& [value, outside] : std::initializer_list<std::pair<double, bool>>{
           {1.2, false}, {1.24, false}, {25.6, true}, {-0.1, true}, {INFINITY, true}}) {
    EXPECT_EQ(outsideLimits(trim, value, scope), outside) << value;
  }
  EXPECT_FALSE(outsideLimits(mode, 2, scope));
  EXPECT_TRUE(outsideLimits(mode, -1, scope));

  NameReport report;
  for (int i = 0; i < 60; ++i) {
    report.add(QStringLiteral("n%1").arg(i % 55));
  }
  EXPECT_EQ(report.size(), 55);
  EXPECT_EQ(report.json().find(QStringLiteral("names"))->size(), NameReport::kMaxListed);
}

}  // namespace
}  // namespace tk
