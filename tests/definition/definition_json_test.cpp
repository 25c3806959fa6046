#include "definition/definition_json.h"

#include <gtest/gtest.h>

#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::memberText;
using test::parseIni;

QStringList keysOf(const JsonValue& object) {
  QStringList keys;
  for (const auto& [key, value] : object.members()) {
    keys.append(key);
  }
  return keys;
}

QStringList words(const char* text) {
  return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

TEST(DefinitionJsonTest, TopLevelPropertiesInOrder) {
  const EcuDefinition empty;
  EXPECT_EQ(
      keysOf(definitionJson(empty)),
      words("Signature Endianness QueryCommand VersionInfo HelpGeneral WebHelp HelpText "
            "HelpDefinitions NPages PageSizes PageIdentifiers PageReadCommands BurnCommands "
            "PageValueWriteCommands PageChunkWriteCommands Crc32CheckCommands "
            "RetrieveConfigErrorCommand BlockingFactor PageActivationDelay Pages ContextHelp "
            "BitValueLists Constants Defines PcVariableExpressions Lists Menus Dialogs Tables "
            "Curves Scalars IndicatorPanels ReadoutPanels LiveGraphs GaugeDialogs PortEditor "
            "DisplayOnlyFields Gauges FrontPage Commands DisplayCommands ExpressionDefinitions "
            "OchGetCommand OchBlockSize ScatteredOffsetArray ScatteredOchGetCommand "
            "ScatteredGetEnabled OutputChannels ReplayChannels OutputChannelsCommand "
            "DatalogEntries TriggeredPageRefreshes RequiresPowerCycleFields UserShortcuts "
            "VeAnalyze WueAnalyze LoggerDefinitions ReferenceTables KeyActions DatalogViews "
            "ConstantExtensions SettingGroups SettingFlags"));
  EXPECT_EQ(
      keysOf(constantsJson(empty)),
      words("Signature Endianness QueryCommand VersionInfo NPages PageSizes PageIdentifiers "
            "PageReadCommands BurnCommands PageValueWriteCommands PageChunkWriteCommands "
            "Crc32CheckCommands RetrieveConfigErrorCommand BlockingFactor PageActivationDelay "
            "Pages Constants Defines PcVariableExpressions ConstantExtensions SettingGroups "
            "SettingFlags"));
  EXPECT_EQ(keysOf(uiDefsJson(empty)), words("Tables Curves IndicatorPanels Gauges FrontPage"));
}

TEST(DefinitionJsonTest, DefaultsWithoutAnySettingRender) {
  const JsonValue doc = definitionJson(parseIni("[Constants]\n"));
  EXPECT_EQ(memberText(doc, "Endianness"), "\"little\"");
  EXPECT_EQ(memberText(doc, "RetrieveConfigErrorCommand"), "\"e\"");
  EXPECT_EQ(memberText(doc, "BlockingFactor"), "3000");
  EXPECT_EQ(memberText(doc, "PageActivationDelay"), "0");
  EXPECT_EQ(memberText(doc, "NPages"), "0");
  EXPECT_EQ(memberText(doc, "Pages"), "{}");
  EXPECT_EQ(memberText(doc, "ReplayChannels"), "null");
  EXPECT_EQ(memberText(doc, "OutputChannelsCommand"), "\"\"");
  EXPECT_EQ(memberText(doc, "ScatteredGetEnabled"), "null");
  EXPECT_EQ(memberText(doc, "FrontPage"),
            "{\n  \"GaugeRefs\": [],\n  \"Indicators\": [],\n  \"IndicatorTemplates\": []\n}");
}

TEST(DefinitionJsonTest, ConstantRendersEveryField) {
  const EcuDefinition d =
      parseIni("[Constants]\npage = 1\nrpmk = scalar, U16, 2, \"rpm\", 0.5, -10, 0, 8000, 0\n");
  EXPECT_EQ(serialize(constantJson(d.Pages.at(0).Fields.at(0))),
            "{\n"
            "  \"Name\": \"rpmk\",\n  \"Type\": \"Scalar\",\n  \"DataType\": \"U16\",\n"
            "  \"Offset\": 2,\n  \"Units\": \"rpm\",\n  \"Scale\": 0.5,\n  \"Translate\": -10,\n"
            "  \"Min\": 0,\n  \"Max\": 8000,\n  \"HasMin\": true,\n  \"HasMax\": true,\n"
            "  \"Digits\": 0,\n  \"UnitsExpression\": null,\n  \"ScaleExpression\": null,\n"
            "  \"TranslateExpression\": null,\n  \"MinExpression\": null,\n"
            "  \"MaxExpression\": null,\n  \"DigitsExpression\": null,\n  \"BitStart\": 0,\n"
            "  \"BitEnd\": 0,\n  \"BitValues\": {},\n  \"Shape\": [],\n  \"IsPcVariable\": false,\n"
            "  \"IsOddArray\": false,\n  \"DisplayInHex\": false,\n  \"NoMsqSave\": false,\n"
            "  \"ControllerPriority\": false,\n  \"ShapeColsExpression\": null,\n"
            "  \"ShapeRowsExpression\": null,\n  \"PcVariableType\": \"Normal\",\n"
            "  \"ReferencedChannel\": null,\n  \"Expression\": null,\n"
            "  \"CachedElementSize\": 0,\n  \"CachedDataTypeCode\": 0\n}");
}

TEST(DefinitionJsonTest, BitValuesShapesAndPages) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 2\nb = bits, U08, 0, [0:2], a, b, 4=x\nt = array, U08, 1, [2x3]\n"
      "[PcVariables]\npv = scalar, U08, \"\"\n");
  const JsonValue doc = definitionJson(d);
  const JsonValue& pages = *doc.find(QStringLiteral("Pages"));
  EXPECT_EQ(keysOf(pages), (QStringList{QStringLiteral("2"), QStringLiteral("0")}));
  const JsonValue& page2 = *pages.find(QStringLiteral("2"));
  EXPECT_EQ(memberText(page2, "PageNumber"), "2");
  EXPECT_EQ(memberText(page2, "Size"), "0");
  const JsonValue& bits = page2.find(QStringLiteral("Fields"))->elements().at(0);
  EXPECT_EQ(memberText(bits, "BitValues"),
            "{\n  \"0\": \"a\",\n  \"1\": \"b\",\n  \"4\": \"x\"\n}");
  EXPECT_EQ(memberText(bits, "Type"), "\"Bits\"");
  const JsonValue& table = page2.find(QStringLiteral("Fields"))->elements().at(1);
  EXPECT_EQ(memberText(table, "Shape"), "[\n  2,\n  3\n]");
}

TEST(DefinitionJsonTest, SortedMapsAndRepeatedNames) {
  const EcuDefinition d = parseIni(
      "[ControllerCommands]\ncmd_b = \"2\"\ncmd_B = \"3\"\ncmd_a = \"1\"\n"
      "[UserDefined]\ndialog = dup, \"First\"\ndialog = dup, \"Second\"\n"
      "[OutputChannels]\nochGetCommand = \"A\"\n");
  const JsonValue doc = definitionJson(d);
  EXPECT_EQ(
      keysOf(*doc.find(QStringLiteral("Commands"))),
      (QStringList{QStringLiteral("cmd_B"), QStringLiteral("cmd_a"), QStringLiteral("cmd_b")}));
  EXPECT_EQ(keysOf(*doc.find(QStringLiteral("Dialogs"))),
            (QStringList{QStringLiteral("dup"), QStringLiteral("dup")}));
  EXPECT_EQ(memberText(doc, "OutputChannelsCommand"), "\"QQ==\"");
}

TEST(DefinitionJsonTest, RecordsRenderInTheirFieldOrder) {
  const EcuDefinition d = parseIni(
      "[TableEditor]\ntable = t, m, \"T\"\n[Datalog]\nentry = rpm, \"RPM\", int, \"%d\"\n"
      "[ConstantsExtensions]\ndefaultValue = arr, 1, 2.5\n"
      "[SettingGroups]\nsettingGroup = g, \"G\"\nsettingOption = DEFAULT, \"D\"\n#set F\n");
  const JsonValue doc = definitionJson(d);
  EXPECT_EQ(keysOf(*doc.find(QStringLiteral("Tables"))->find(QStringLiteral("t"))),
            words("Id Map3dId Title Page XyLabels XBinVariable XBinSource YBinVariable YBinSource "
                  "ZBinVariable UpDownLabel GridOrient TopicHelp GridHeight XBinReadOnly "
                  "YBinReadOnly UserPassword"));
  EXPECT_EQ(
      memberText(*doc.find(QStringLiteral("Tables"))->find(QStringLiteral("t")), "GridHeight"),
      "2");
  EXPECT_EQ(
      memberText(doc, "DatalogEntries"),
      "[\n  {\n    \"ChannelName\": \"rpm\",\n    \"Label\": \"RPM\",\n    \"Type\": \"int\",\n"
      "    \"Format\": \"%d\",\n    \"Category\": \"\",\n    \"EnabledCondition\": \"\",\n"
      "    \"Lag\": \"\",\n    \"IsBooleanFormat\": false,\n    \"IsHexFormat\": false\n  }\n]");
  EXPECT_EQ(memberText(doc, "ConstantExtensions"),
            "[\n  {\n    \"ConstantName\": \"arr\",\n    \"ExtensionType\": \"DefaultValue\",\n"
            "    \"Value\": \"\",\n    \"ArrayValues\": [\n      1,\n      2.5\n    ]\n  }\n]");
  EXPECT_EQ(
      memberText(doc, "SettingGroups"),
      "{\n  \"g\": {\n    \"Name\": \"g\",\n    \"DisplayName\": \"G\",\n    \"Options\": [\n"
      "      {\n        \"Name\": \"DEFAULT\",\n        \"DisplayName\": \"D\",\n"
      "        \"IsDefault\": true\n      }\n    ],\n    \"SelectedOption\": \"DEFAULT\"\n  }\n}");
  EXPECT_EQ(memberText(doc, "SettingFlags"),
            "{\n  \"F\": {\n    \"Name\": \"F\",\n    \"DefaultValue\": true,\n    \"IsActive\": "
            "true\n  }\n}");
}

TEST(DefinitionJsonTest, NonFiniteNumbersRenderAsStrings) {
  const EcuDefinition d = parseIni("[Constants]\npage = 1\nx = scalar, U08, 0, \"\", inf, nan\n");
  const JsonValue doc = definitionJson(d);
  const JsonValue& field = doc.find(QStringLiteral("Pages"))
                               ->find(QStringLiteral("1"))
                               ->find(QStringLiteral("Fields"))
                               ->elements()
                               .at(0);
  EXPECT_EQ(memberText(field, "Scale"), "\"Infinity\"");
  EXPECT_EQ(memberText(field, "Translate"), "\"NaN\"");
}

}  // namespace
}  // namespace tk
