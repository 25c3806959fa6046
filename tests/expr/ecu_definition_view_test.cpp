#include "expr/ecu_definition_view.h"

#include <gtest/gtest.h>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk::expr {
namespace {

using namespace Qt::Literals::StringLiterals;

TEST(EcuDefinitionViewTest, NamedExpressionsChannelsAndArraysComeFromTheDefinition) {
  const EcuDefinition d = IniParser().parse(tk::test::dataPath(u"expr/expr_channels.ini"_s));
  const EcuDefinitionView view(d);
  ASSERT_NE(view.namedExpression(u"lambda"_s), nullptr);
  EXPECT_EQ(*view.namedExpression(u"lambda"_s), u"afr / stoich"_s);
  EXPECT_EQ(view.namedExpression(u"rpm"_s), nullptr);
  EXPECT_EQ(view.namedExpression(u"Lambda"_s), nullptr);
  // Channels by offset skip the computed channels.
  EXPECT_EQ(view.channelAtOffset(0)->name, u"seconds"_s);
  EXPECT_EQ(view.channelAtOffset(6), (ChannelAttributes{u"coolantRaw"_s, 1.0, -40.0, 0, 0.0, 0.0}));
  EXPECT_EQ(view.channelAtOffset(4)->scale, 0.1);
  EXPECT_FALSE(view.channelAtOffset(3) || view.channelAtOffset(-1));
  // Arrays come from the default values: a list of numbers, or one text of several.
  EXPECT_EQ(
      std::pair(view.arrayElement(u"boardOutputs"_s, 0), view.arrayElement(u"boardOutputs"_s, 3)),
      std::pair(std::optional(4.0), std::optional(12.0)));
  for (const int index : {4, -1}) {
    EXPECT_FALSE(view.arrayElement(u"boardOutputs"_s, index)) << index;
  }
  EXPECT_FALSE(view.arrayElement(u"stoich"_s, 0));
  EcuDefinition listed;
  listed.ConstantExtensions = {{u"gears"_s, ExtensionType::DefaultValue, {}, {3.5, 2.1, 1.4}},
                               {u"mixed"_s, ExtensionType::DefaultValue, u"1, x 2,,3"_s, {}}};
  const EcuDefinitionView v(listed);
  EXPECT_EQ(v.arrayElement(u"gears"_s, 1), 2.1);
  EXPECT_EQ(v.arrayElement(u"mixed"_s, 2), 3.0);
}

}  // namespace
}  // namespace tk::expr
