#include "expr/computed_channels.h"

#include <gtest/gtest.h>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk::expr {
namespace {

using namespace Qt::Literals::StringLiterals;

// Snapshots of the synthetic definition, with coolantF rewritten to name a channel declared
// after it: references decide the order, cycles read 0, constants come from the lookup and the
// history functions see the earlier snapshots.
TEST(ComputedChannelsTest, ReferencesFirstCyclesZeroConstantsAndHistory) {
  EcuDefinition d = IniParser().parse(tk::test::dataPath(u"expr/expr_channels.ini"_s));
  d.OutputChannels.find(u"coolantF"_s)->Expression = u"celsius * 1.8 + 32"_s;
  ConstantDef celsius;
  celsius.Expression = u"coolantRaw - 40"_s;
  d.OutputChannels.insert(u"celsius"_s, celsius);
  ComputedChannels computed(d, [](const QString& name) -> std::optional<double> {
    if (name == u"stoich"_s) {
      return 14.7;
    }
    return name == u"pinLayout"_s ? std::optional(1.0) : std::nullopt;
  });
  const QStringList& order = computed.evaluationOrder();
  EXPECT_LT(order.indexOf(u"celsius"_s), order.indexOf(u"coolantF"_s));
  EXPECT_LT(order.indexOf(u"cycleTime"_s), order.indexOf(u"dutyCycle"_s));
  EXPECT_EQ(order.size(), 11);
  EXPECT_TRUE(computed.isCyclic(u"selfLoop"_s) && computed.isCyclic(u"ringA"_s) &&
              computed.isCyclic(u"ringB"_s) && !computed.isCyclic(u"lambda"_s));
  QHash<QString, double> v;
  for (const double rpm : {3000.0, 4000.0, 5000.0}) {
    const ComputedChannels::Values declared{
        {u"rpm"_s, rpm}, {u"coolantRaw"_s, 120}, {u"afr"_s, 13.23}};
    v.clear();
    for (const auto& [name, value] : computed.complete(declared)) {
      v.insert(name, value);
    }
  }
  EXPECT_EQ(v.value(u"celsius"_s), 80.0);
  EXPECT_EQ(v.value(u"coolantF"_s), 80.0 * 1.8 + 32);
  EXPECT_DOUBLE_EQ(v.value(u"lambda"_s), 13.23 / 14.7);
  EXPECT_EQ(v.value(u"nOutputs"_s), 8.0);
  EXPECT_EQ(v.value(u"rpmSmooth"_s), 3500.0);  // the two snapshots before this one
  EXPECT_EQ(v.value(u"ringA"_s) + v.value(u"ringB"_s) + v.value(u"selfLoop"_s), 0.0);
  // Declared channels the snapshot lacks stay out; the rest keeps definition order.
  EXPECT_FALSE(v.contains(u"seconds"_s));
  EXPECT_EQ(v.size(), 3 + 11);
}

}  // namespace
}  // namespace tk::expr
