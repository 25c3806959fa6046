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

using namespace Qt::Literals::StringLiterals;

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
  parser.setFlagOverrides(FlagOverrides{{u"FEATURE"_s, true}, {u"UNKNOWN"_s, true}});
  parser.setGroupSelections(GroupSelections{{u"g"_s, u"B"_s}, {u"g"_s, u"C"_s}});
  const EcuDefinition d = parseText(text, parser);
  EXPECT_EQ(d.Constants.keys(), (QStringList{u"b"_s, u"f"_s}));
  const SettingFlag& flag = *d.SettingFlags.find(u"FEATURE"_s);
  EXPECT_EQ(std::pair(flag.DefaultValue, flag.IsActive), std::pair(false, true));
  EXPECT_EQ(keysOf(d.SettingFlags), QStringList{u"FEATURE"_s});
  EXPECT_EQ(d.SettingGroups.find(u"g"_s)->SelectedOption, u"B"_s);
  // Without options the file's own choices hold.
  EXPECT_TRUE(parseText(text).Constants.isEmpty());
}

TEST(IniParserTest, SettingsSourceMergesOnlyGroupsWhoseOptionsAreUsed) {
  const char* text = "#if CELSIUS\n#endif\n#if mpx4250\n#endif\n#if OTHER\n#endif\n";
  IniParser parser;
  parser.setSettingsSource(defaultSettingGroups());
  const EcuDefinition merged = parseText(text, parser);
  // Option names match symbols ignoring case; the flags that name an option are dropped.
  EXPECT_EQ(keysOf(merged.SettingGroups), (QStringList{u"temperatureDisplay"_s, u"mapSensor"_s}));
  EXPECT_EQ(keysOf(merged.SettingFlags), QStringList{u"OTHER"_s});
  EXPECT_EQ(keysOf(parseText(text).SettingFlags),
            (QStringList{u"CELSIUS"_s, u"mpx4250"_s, u"OTHER"_s}));
}

TEST(IniParserTest, BuiltInSettingGroupsAndTheirDocumentReader) {
  EcuDefinition d;
  for (const SettingGroup& group : defaultSettingGroups()) {
    d.SettingGroups.insert(group.Name, group);
  }
  const JsonValue doc = constantsJson(d);
  EXPECT_TRUE(test::matchesGolden(serialize(*doc.find(u"SettingGroups"_s)) + '\n',
                                  u"ini/default-setting-groups.json"_s));
  const QList<SettingGroup> parsed = readSettingGroupsXml(
      QStringLiteral("<defaultSettingGroups><settingGroup name=\"g\" displayName=\"G\"><unknown/>"
                     "<option name=\"a\" displayName=\"A\"/><option name=\"b\" displayName=\"B\" "
                     "default=\"TRUE\"/></settingGroup></defaultSettingGroups>"));
  ASSERT_EQ(parsed.size(), 1);
  EXPECT_EQ(parsed.at(0).Options,
            (QList<SettingOption>{{u"a"_s, u"A"_s, false}, {u"b"_s, u"B"_s, true}}));
  EXPECT_EQ(parsed.at(0).SelectedOption, u"b"_s);
}

TEST(IniParserTest, UnreadableFileGivesTheDefaultDefinition) {
  EXPECT_EQ(definitionJson(IniParser().parse(u"/nonexistent/dir/file.ini"_s)),
            definitionJson(EcuDefinition()));
}

TEST(IniParserTest, ToolsAreKeptThoughNotRendered) {
  const EcuDefinition d =
      parseText("[Tools]\naddTool = veGen, \"VE Generator\", veTbl\naddTool = two, items\n");
  EXPECT_EQ(d.Tools, (QList<ToolDef>{{u"veGen"_s, u"VE Generator"_s, u"veTbl"_s}}));
}

TEST(IniParserTest, EndiannessAndPageSizes) {
  const EcuDefinition d =
      parseText("[MegaTune]\nendianness = BIG\n[Constants]\npageSize = 16, 8\n");
  EXPECT_TRUE(d.isBigEndian());
  EXPECT_FALSE(EcuDefinition().isBigEndian());
  EXPECT_EQ((QList<int>{d.pageSize(0), d.pageSize(1), d.pageSize(2), d.pageSize(3)}),
            (QList<int>{0, 16, 8, 0}));
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
