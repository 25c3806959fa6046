#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <tuple>

#include "definition/default_setting_groups.h"
#include "definition/ini_parser.h"
#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::mapKeys;
using test::parseIni;
using test::strings;

QString constantsValue(const EcuDefinition& d, const char* key) {
  return d.Constants.value(QString::fromUtf8(key), QStringLiteral("<absent>"));
}

/// The settings-map values of the keys, "<absent>" for a missing key.
QStringList constantsValues(const EcuDefinition& d, std::initializer_list<const char*> keys) {
  QStringList values;
  for (const char* key : keys) {
    values.append(constantsValue(d, key));
  }
  return values;
}

TEST(IniPreprocessorTest, FlagsComeFromSetUnsetAndTestedSymbols) {
  const EcuDefinition d = parseIni(
      "#set A\n#unset B\n#if C\n#endif\n#set B\n#if A\nk1 = 1\n#endif\n"
      "[Constants]\n#if B\nk2 = 2\n#endif\n#if C\nk3 = 3\n#else\nk4 = 4\n#endif\n");
  EXPECT_EQ(mapKeys(d.SettingFlags), strings({"A", "B", "C"}));
  // The first line that mentions a symbol decides: the later #set B changes nothing.
  EXPECT_EQ(std::tuple(d.SettingFlags.find(QStringLiteral("A"))->DefaultValue,
                       d.SettingFlags.find(QStringLiteral("B"))->IsActive,
                       d.SettingFlags.find(QStringLiteral("C"))->DefaultValue),
            std::tuple(true, false, false));
  EXPECT_EQ(constantsValues(d, {"k1", "k2", "k3", "k4"}),
            strings({"<absent>", "<absent>", "<absent>", "4"}));
}

TEST(IniPreprocessorTest, ElifAndElseChains) {
  const EcuDefinition d = parseIni(
      "#set T\n[Constants]\n"
      "#if T\na = 1\n#elif T\na = 2\n#else\na = 3\n#endif\n"
      "#if X\nb = 1\n#elif T\nb = 2\n#else\nb = 3\n#endif\n"
      "#if X\nc = 1\n#elif Y\nc = 2\n#else\nc = 3\n#endif\n"
      "#if X && T\nd = 1\n#endif\n");
  // No operators: the whole text "X && T" is one symbol name, which is false.
  EXPECT_EQ(constantsValues(d, {"a", "b", "c", "d"}), strings({"1", "2", "3", "<absent>"}));
  EXPECT_TRUE(d.SettingFlags.contains(QStringLiteral("X && T")));
}

TEST(IniPreprocessorTest, UnbalancedAndCommentedDirectivesAreLenient) {
  const EcuDefinition d = parseIni(
      "[Constants]\n#endif\n#else\n#elif Q\na = 1\n#if Z\nb = 1\n#endif ; trailing\nc = 1\n"
      "#endif\nd = 1\n");
  // "#endif ; trailing" is not recognised, so the block of Z goes on until the plain #endif.
  EXPECT_EQ(constantsValues(d, {"a", "b", "c", "d"}), strings({"1", "<absent>", "<absent>", "1"}));
}

TEST(IniPreprocessorTest, SettingGroupsSelectOptions) {
  const EcuDefinition d = parseIni(
      "[SettingGroups]\n"
      "settingGroup = units, \"Units\" ; comment\n"
      "settingOption = METRIC, \"Metric\"\n"
      "settingOption = DEFAULT, \"Imperial\"\n"
      "settingGroup = mode, \"Mode\"\n"
      "settingOption = FAST, \"Fast; really\"\n"
      "settingOption = SLOW, \"Slow\"\n"
      "[Constants]\n#if DEFAULT\na = 1\n#endif\n#if METRIC\nb = 1\n#endif\n"
      "#if FAST\nc = 1\n#endif\n#if SLOW\nd = 1\n#endif\n");
  ASSERT_EQ(d.SettingGroups.size(), 2u);
  const SettingGroup& units = *d.SettingGroups.find(QStringLiteral("units"));
  const SettingGroup& mode = *d.SettingGroups.find(QStringLiteral("mode"));
  // The semicolon inside the quotes is not a comment.
  EXPECT_EQ((QStringList{units.DisplayName, units.SelectedOption, mode.SelectedOption,
                         mode.Options.at(0).DisplayName}),
            strings({"Units", "DEFAULT", "FAST", "Fast; really"}));
  EXPECT_TRUE(units.Options.at(1).IsDefault);
  EXPECT_EQ(constantsValues(d, {"a", "b", "c", "d"}), strings({"1", "<absent>", "1", "<absent>"}));
  // Option names tested by #if are not flags.
  EXPECT_TRUE(d.SettingFlags.isEmpty());
}

TEST(IniPreprocessorTest, OverridesAndSelectionsChangeTheBranchesRead) {
  const char* text =
      "#unset FEATURE\n[SettingGroups]\nsettingGroup = g, \"G\"\nsettingOption = A, \"a\"\n"
      "settingOption = B, \"b\"\n[Constants]\n#if FEATURE\nf = 1\n#endif\n#if B\nb = 1\n#endif\n";
  IniParser parser;
  parser.setFlagOverrides(
      FlagOverrides{{QStringLiteral("FEATURE"), true}, {QStringLiteral("UNKNOWN"), true}});
  parser.setGroupSelections(GroupSelections{{QStringLiteral("g"), QStringLiteral("B")},
                                            {QStringLiteral("g"), QStringLiteral("C")}});
  const EcuDefinition d = parseIni(text, parser);
  EXPECT_EQ(constantsValues(d, {"f", "b"}), strings({"1", "1"}));
  const SettingFlag& flag = *d.SettingFlags.find(QStringLiteral("FEATURE"));
  EXPECT_EQ(std::pair(flag.DefaultValue, flag.IsActive), std::pair(false, true));
  EXPECT_FALSE(d.SettingFlags.contains(QStringLiteral("UNKNOWN")));
  EXPECT_EQ(d.SettingGroups.find(QStringLiteral("g"))->SelectedOption, QStringLiteral("B"));
}

TEST(IniPreprocessorTest, SettingsSourceMergesGroupsWhoseOptionsAreUsed) {
  const char* text = "#if CELSIUS\n#endif\n#if mpx4250\n#endif\n#if OTHER\n#endif\n";
  IniParser parser;
  parser.setSettingsSource(defaultSettingGroups());
  const EcuDefinition merged = parseIni(text, parser);
  EXPECT_EQ(mapKeys(merged.SettingGroups), strings({"temperatureDisplay", "mapSensor"}));
  EXPECT_EQ(mapKeys(merged.SettingFlags), strings({"OTHER"}));
  EXPECT_EQ(merged.SettingGroups.find(QStringLiteral("mapSensor"))->SelectedOption,
            QStringLiteral("MPX4250"));
  // Without a source the symbols stay plain flags.
  EXPECT_EQ(mapKeys(parseIni(text).SettingFlags), strings({"CELSIUS", "mpx4250", "OTHER"}));
}

TEST(IniPreprocessorTest, BuiltInGroupsAreReadFromTheEmbeddedDocument) {
  const QList<SettingGroup>& groups = defaultSettingGroups();
  ASSERT_EQ(groups.size(), 8);
  EXPECT_EQ(groups.at(0).Name, QStringLiteral("lambdaSensor"));
  EXPECT_EQ(groups.at(0).Options.size(), 12);
  EXPECT_EQ(groups.at(0).Options.at(1).DisplayName,
            QStringLiteral("Wideband in NB Emulator Mode, 0-1v 1.5-0.5 Lambda"));
  EXPECT_EQ(groups.at(3).Options.at(0).Name, QString());
  EXPECT_TRUE(groups.at(3).Options.at(0).IsDefault);
  EXPECT_EQ(groups.at(7).DisplayName, QStringLiteral("MAP Sensor"));
  const QList<SettingGroup> parsed = readSettingGroupsXml(
      QStringLiteral("<defaultSettingGroups><settingGroup name=\"g\" displayName=\"G\">"
                     "<option name=\"a\" displayName=\"A\"/><option name=\"b\" displayName=\"B\" "
                     "default=\"TRUE\"/>"
                     "</settingGroup></defaultSettingGroups>"));
  ASSERT_EQ(parsed.size(), 1);
  EXPECT_FALSE(parsed.at(0).Options.at(0).IsDefault);
  EXPECT_TRUE(parsed.at(0).Options.at(1).IsDefault);
  EXPECT_EQ(parsed.at(0).SelectedOption, QStringLiteral("b"));
}

TEST(IniPreprocessorTest, DefinesExpandInValues) {
  const EcuDefinition d = parseIni(
      "[Constants]\na = $late, $abcd, $none\n#define late = \"L\"\n#define abc 1\n"
      "#if OFF\n#define late = \"changed\"\n#endif\nb = $late\n#define self=x$self\nc = $self\n"
      "#define outer = $inner!\n#define inner = in\nd = $outer\n");
  // Before the section pass reaches any #define, values see the last definition of the symbol
  // pass (even one in an inactive branch). "$abcd" begins with "$abc", so it is replaced too.
  // A self-referencing define stops after 20 rounds.
  EXPECT_EQ(constantsValues(d, {"a", "b", "c", "d"}),
            (QStringList{QStringLiteral("\"changed\", 1d, $none"), QStringLiteral("\"L\""),
                         QString(20, u'x') + QStringLiteral("$self"), QStringLiteral("in!")}));
  QStringList names;
  for (const auto& [name, value] : d.Defines) {
    names.append(name + u'=' + value);
  }
  EXPECT_EQ(names, strings({"late=\"L\"", "abc=1", "self=x$self", "outer=$inner!", "inner=in"}));
}

TEST(IniPreprocessorTest, CommentRemovalRespectsQuotesAndBraces) {
  const EcuDefinition d = parseIni(
      "[Constants]\na = \"x;y\" ; note\nq = \"x\" ; y;z\nb = { p ; q }\nc = ; all comment\nd = "
      "plain ; cut\n"
      "e = \"open ; never closed\n");
  // Only the first semicolon is considered: it stands inside quotes, so the value stays whole.
  EXPECT_EQ(
      constantsValues(d, {"a", "q", "b", "c", "d", "e"}),
      strings({"\"x;y\" ; note", "\"x\"", "{ p ; q }", "", "plain", "\"open ; never closed"}));
}

TEST(IniPreprocessorTest, SectionNamesAreCaseSensitiveAndGaugeSectionsMatchByPrefix) {
  const EcuDefinition d = parseIni(
      "[constants]\nlower = 1\n[GaugeConfigurations2]\ng = rpm, \"RPM\", \"rpm\"\n"
      "[Unknown]\nx = 1\n");
  EXPECT_TRUE(d.Constants.isEmpty());
  EXPECT_TRUE(d.Gauges.contains(QStringLiteral("g")));
}

TEST(IniPreprocessorTest, HelpTopicsInSettingGroups) {
  const EcuDefinition d = parseIni(
      "[SettingGroups]\nhelp = topicA, \"Topic A\"\ntext = \"line 1\"\ntext = \"line 2\"\n"
      "webHelp = \"http://a\"\nhelp = solo\nhelp = topicA, \"Again\"\n");
  ASSERT_EQ(d.HelpDefinitions.size(), 2);
  const HelpDefinition& a = d.HelpDefinitions.value(QStringLiteral("topicA"));
  EXPECT_TRUE(a.TextLines.isEmpty());
  EXPECT_EQ((QStringList{a.Title, d.HelpDefinitions.value(QStringLiteral("solo")).Title,
                         d.HelpGeneral, d.HelpText, d.WebHelp}),
            strings({"Again", "", "Again", "line 2", "http://a"}));
}

TEST(IniPreprocessorTest, ContextHelpIsUnquoted) {
  const EcuDefinition d = parseIni(
      "[SettingContextHelp]\nreqFuel = \"Required fuel\"\n"
      "[ContextHelp]\nother = \"x, y\"\n");
  EXPECT_EQ(d.ContextHelp.value(QStringLiteral("reqFuel")), QStringLiteral("Required fuel"));
  EXPECT_EQ(d.ContextHelp.value(QStringLiteral("other")), QStringLiteral("x, y"));
}

class IniIncludeTest : public ::testing::Test {
 protected:
  void write(const QString& name, const QByteArray& text) {
    QDir().mkpath(QFileInfo(dir_.filePath(name)).path());
    QFile f(dir_.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  EcuDefinition parse(const QString& name) { return IniParser().parse(dir_.filePath(name)); }
  QTemporaryDir dir_;
};

TEST_F(IniIncludeTest, ResolvesAgainstTopFolderThenProjectCfg) {
  write(QStringLiteral("main.ini"),
        "[Constants]\n#include part.inc\n#include\tcfg.inc\n#include missing.inc\n#include\n"
        "#if OFF\n#include never.inc\n#endif\n");
  write(QStringLiteral("part.inc"), "a = 1\n#include sub/nested.inc\n");
  write(QStringLiteral("sub/nested.inc"), "wrong = 1\n");
  write(QStringLiteral("nested.inc"), "b = 2\n#set OFF\n");
  write(QStringLiteral("projectCfg/cfg.inc"), "c = 3\n");
  write(QStringLiteral("never.inc"), "d = 4\n");
  const EcuDefinition d = parse(QStringLiteral("main.ini"));
  // A nested include resolves against the top file's folder, not the including file's.
  EXPECT_EQ(constantsValues(d, {"a", "wrong", "b", "c", "d"}),
            strings({"1", "1", "<absent>", "3", "<absent>"}));
}

TEST_F(IniIncludeTest, IncludeCyclesEndWithoutRecursion) {
  write(QStringLiteral("self.ini"), "[Constants]\na = 1\n#include self.ini\n");
  write(QStringLiteral("a.ini"), "[Constants]\n#include b.inc\nx = 1\n");
  write(QStringLiteral("b.inc"), "y = 2\n#include a.ini\n");
  EXPECT_EQ(constantsValue(parse(QStringLiteral("self.ini")), "a"), QStringLiteral("1"));
  EXPECT_EQ(constantsValues(parse(QStringLiteral("a.ini")), {"x", "y"}), strings({"1", "2"}));
}

TEST_F(IniIncludeTest, MissingFileGivesTheDefaultDefinition) {
  EXPECT_EQ(parse(QStringLiteral("absent.ini")), EcuDefinition());
}

}  // namespace
}  // namespace tk
