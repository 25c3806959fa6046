#include "expr/ecu_definition_view.h"

#include <gtest/gtest.h>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk::expr {
namespace {

class EcuDefinitionViewTest : public ::testing::Test {
 protected:
  EcuDefinitionViewTest()
      : definition(IniParser().parse(tk::test::dataPath(QStringLiteral("expr/expr_channels.ini")))),
        view(definition) {}

  EcuDefinition definition;
  EcuDefinitionView view;
};

TEST_F(EcuDefinitionViewTest, NamedExpressionsChannelsAndArraysComeFromTheDefinition) {
  ASSERT_NE(view.namedExpression(QStringLiteral("lambda")), nullptr);
  EXPECT_EQ(*view.namedExpression(QStringLiteral("lambda")), QStringLiteral("afr / stoich"));
  EXPECT_EQ(*view.namedExpression(QStringLiteral("selfLoop")), QStringLiteral("selfLoop + 1"));
  EXPECT_EQ(view.namedExpression(QStringLiteral("rpm")), nullptr);
  EXPECT_EQ(view.namedExpression(QStringLiteral("Lambda")), nullptr);
  // Channels by offset skip the computed channels.
  EXPECT_EQ(view.channelAtOffset(0)->name, QStringLiteral("seconds"));
  EXPECT_EQ(view.channelAtOffset(6),
            (ChannelAttributes{QStringLiteral("coolantRaw"), 1.0, -40.0, 0, 0.0, 0.0}));
  EXPECT_EQ(view.channelAtOffset(4)->scale, 0.1);
  EXPECT_FALSE(view.channelAtOffset(3).has_value());
  EXPECT_FALSE(view.channelAtOffset(-1).has_value());
  // Arrays come from the default values.
  EXPECT_EQ(view.arrayElement(QStringLiteral("boardOutputs"), 0), 4.0);
  EXPECT_EQ(view.arrayElement(QStringLiteral("boardOutputs"), 3), 12.0);
  EXPECT_FALSE(view.arrayElement(QStringLiteral("boardOutputs"), 4).has_value());
  EXPECT_FALSE(view.arrayElement(QStringLiteral("boardOutputs"), -1).has_value());
  EXPECT_FALSE(view.arrayElement(QStringLiteral("stoich"), 0).has_value());
}

TEST_F(EcuDefinitionViewTest, ListedDefaultValuesAreUsedAsTheyAre) {
  EcuDefinition d;
  ConstantExtension e;
  e.ConstantName = QStringLiteral("gears");
  e.ExtensionType = ExtensionType::DefaultValue;
  e.ArrayValues = {3.5, 2.1, 1.4};
  d.ConstantExtensions.append(e);
  e.ConstantName = QStringLiteral("mixed");
  e.ArrayValues.clear();
  e.Value = QStringLiteral("1, x 2,,3");
  d.ConstantExtensions.append(e);
  const EcuDefinitionView v(d);
  EXPECT_EQ(v.arrayElement(QStringLiteral("gears"), 1), 2.1);
  EXPECT_EQ(v.arrayElement(QStringLiteral("mixed"), 2), 3.0);
}

}  // namespace
}  // namespace tk::expr
