// What the case files cannot show: the caller's reading options, the built-in setting groups,
// the records the document leaves out and the model's helpers.
#include "definition/ini_parser.h"

#include <gtest/gtest.h>

#include "definition/default_setting_groups.h"
#include "definition/definition_json.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

EcuDefinition parseText(const char* text, const IniParser& parser = IniParser()) {
  return parser.parseBytes(QByteArray(text), QString());
}

template <typename V>
QStringList keysOf(const OrderedMap<V>& map) {
  QStringList keys;
  for (const auto& [key, value] : map) {
    keys.append(key);
  }
  return keys;
}

TEST(IniParserTest, OverridesAndSelectionsChangeTheBranchesRead) {
  const char* text =
      "#unset FEATURE\n[SettingGroups]\nsettingGroup = g, \"G\"\nsettingOption = A, \"a\"\n"
      "settingOption = B, \"b\"\n[Constants]\n#if FEATURE\nf = 1\n#endif\n#if B\nb = 1\n#endif\n";
  IniParser parser;
  parser.setFlagOverrides(
      FlagOverrides{{QStringLiteral("FEATURE"), true}, {QStringLiteral("UNKNOWN"), true}});
  parser.setGroupSelections(GroupSelections{{QStringLiteral("g"), QStringLiteral("B")},
                                            {QStringLiteral("g"), QStringLiteral("C")}});
  const EcuDefinition d = parseText(text, parser);
  EXPECT_EQ(d.Constants.keys(), (QStringList{QStringLiteral("b"), QStringLiteral("f")}));
  const SettingFlag& flag = *d.SettingFlags.find(QStringLiteral("FEATURE"));
  EXPECT_EQ(std::pair(flag.DefaultValue, flag.IsActive), std::pair(false, true));
  EXPECT_EQ(keysOf(d.SettingFlags), QStringList{QStringLiteral("FEATURE")});
  EXPECT_EQ(d.SettingGroups.find(QStringLiteral("g"))->SelectedOption, QStringLiteral("B"));
  // Without options the file's own choices hold.
  EXPECT_TRUE(parseText(text).Constants.isEmpty());
}

TEST(IniParserTest, SettingsSourceMergesOnlyGroupsWhoseOptionsAreUsed) {
  const char* text = "#if CELSIUS\n#endif\n#if mpx4250\n#endif\n#if OTHER\n#endif\n";
  IniParser parser;
  parser.setSettingsSource(defaultSettingGroups());
  const EcuDefinition merged = parseText(text, parser);
  // Option names match symbols ignoring case; the flags that name an option are dropped.
  EXPECT_EQ(keysOf(merged.SettingGroups),
            (QStringList{QStringLiteral("temperatureDisplay"), QStringLiteral("mapSensor")}));
  EXPECT_EQ(keysOf(merged.SettingFlags), QStringList{QStringLiteral("OTHER")});
  EXPECT_EQ(
      keysOf(parseText(text).SettingFlags),
      (QStringList{QStringLiteral("CELSIUS"), QStringLiteral("mpx4250"), QStringLiteral("OTHER")}));
}

TEST(IniParserTest, BuiltInSettingGroupsAndTheirDocumentReader) {
  EcuDefinition d;
  for (const SettingGroup& group : defaultSettingGroups()) {
    d.SettingGroups.insert(group.Name, group);
  }
  const JsonValue doc = constantsJson(d);
  EXPECT_TRUE(test::matchesGolden(serialize(*doc.find(QStringLiteral("SettingGroups"))) + '\n',
                                  QStringLiteral("ini/default-setting-groups.json")));
  const QList<SettingGroup> parsed = readSettingGroupsXml(
      QStringLiteral("<defaultSettingGroups><settingGroup name=\"g\" displayName=\"G\"><unknown/>"
                     "<option name=\"a\" displayName=\"A\"/><option name=\"b\" displayName=\"B\" "
                     "default=\"TRUE\"/></settingGroup></defaultSettingGroups>"));
  ASSERT_EQ(parsed.size(), 1);
  EXPECT_EQ(parsed.at(0).Options,
            (QList<SettingOption>{{QStringLiteral("a"), QStringLiteral("A"), false},
                                  {QStringLiteral("b"), QStringLiteral("B"), true}}));
  EXPECT_EQ(parsed.at(0).SelectedOption, QStringLiteral("b"));
}

TEST(IniParserTest, UnreadableFileGivesTheDefaultDefinition) {
  EXPECT_EQ(IniParser().parse(QStringLiteral("/nonexistent/dir/file.ini")), EcuDefinition());
}

TEST(IniParserTest, ToolsAreKeptThoughNotRendered) {
  const EcuDefinition d =
      parseText("[Tools]\naddTool = veGen, \"VE Generator\", veTbl\naddTool = two, items\n");
  EXPECT_EQ(d.Tools, (QList<ToolDef>{{QStringLiteral("veGen"), QStringLiteral("VE Generator"),
                                      QStringLiteral("veTbl")}}));
}

TEST(IniParserTest, ModelHelpers) {
  const EcuDefinition d = IniParser().parse(test::dataPath(QStringLiteral("ini/small.ini")));
  EXPECT_FALSE(d.isBigEndian());
  EXPECT_TRUE(parseText("[MegaTune]\nendianness = BIG\n").isBigEndian());
  EXPECT_EQ((QList<int>{d.pageSize(0), d.pageSize(1), d.pageSize(2), d.pageSize(3)}),
            (QList<int>{0, 16, 8, 0}));
  EXPECT_EQ(d.findConstant(QStringLiteral("mode")), &d.findPage(2)->Fields.at(0));
  EXPECT_EQ(d.findConstant(QStringLiteral("Mode")), nullptr);
  EXPECT_EQ(std::pair(d.pageOfConstant(QStringLiteral("tempUnits")),
                      d.pageOfConstant(QStringLiteral("missing"))),
            std::pair(0, -1));
}

TEST(IniParserTest, OchCommandBytes) {
  const std::pair<const char*, QByteArray> cases[] = {
      {"", QByteArray()}, {"\\x41", "A"},      {"\\x 0f", "\x0f"},   {"\\x100", "\\x100"},
      {"\\xzz", "\\xzz"}, {"A\xC3\xA9", "A?"}, {"r\\x00", "r\\x00"},
  };
  for (const auto& [command, bytes] : cases) {
    EcuDefinition d;
    d.OchGetCommand = QString::fromUtf8(command);
    EXPECT_EQ(ochCommandBytes(d), bytes) << command;
  }
}

}  // namespace
}  // namespace tk
