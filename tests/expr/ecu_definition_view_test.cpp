#include "expr/ecu_definition_view.h"

#include "definition/ini_parser.h"
#include "expr/expression_evaluator.h"
#include "support/test_support.h"
#include "expr_test_hosts.h"

#include <gtest/gtest.h>

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

TEST_F(EcuDefinitionViewTest, NamedExpressionsAreTheComputedChannels) {
  ASSERT_NE(view.namedExpression(QStringLiteral("lambda")), nullptr);
  EXPECT_EQ(*view.namedExpression(QStringLiteral("lambda")), QStringLiteral("afr / stoich"));
  EXPECT_EQ(*view.namedExpression(QStringLiteral("selfLoop")), QStringLiteral("selfLoop + 1"));
  EXPECT_EQ(view.namedExpression(QStringLiteral("rpm")), nullptr);
  EXPECT_EQ(view.namedExpression(QStringLiteral("Lambda")), nullptr);
}

TEST_F(EcuDefinitionViewTest, ChannelsByOffsetSkipComputedChannels) {
  const std::optional<ChannelAttributes> seconds = view.channelAtOffset(0);
  ASSERT_TRUE(seconds.has_value());
  EXPECT_EQ(seconds->name, QStringLiteral("seconds"));
  const std::optional<ChannelAttributes> coolant = view.channelAtOffset(6);
  ASSERT_TRUE(coolant.has_value());
  EXPECT_EQ(*coolant, (ChannelAttributes{QStringLiteral("coolantRaw"), 1.0, -40.0, 0, 0.0, 0.0}));
  EXPECT_EQ(view.channelAtOffset(4)->scale, 0.1);
  EXPECT_FALSE(view.channelAtOffset(3).has_value());
  EXPECT_FALSE(view.channelAtOffset(-1).has_value());
}

TEST_F(EcuDefinitionViewTest, ArraysComeFromDefaultValues) {
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

TEST_F(EcuDefinitionViewTest, EvaluatesComputedChannelsThroughAHost) {
  test::TableHost host;
  host.view = &view;
  host.values = {{QStringLiteral("afr"), 13.23},
                 {QStringLiteral("stoich"), 14.7},
                 {QStringLiteral("coolantRaw"), 30.0}};
  ExpressionEvaluator evaluator;
  EXPECT_DOUBLE_EQ(evaluator.evaluate(QStringLiteral("lambda"), host), 0.9);
  EXPECT_EQ(evaluator.evaluate(QStringLiteral("coolantF"), host), 14.0);
}

}  // namespace
}  // namespace tk::expr
