#include <gtest/gtest.h>

#include <tuple>

#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::parseIni;
using test::strings;

TEST(IniControllerCommandsTest, CommandsAndDisplayCommands) {
  const EcuDefinition d = parseIni(
      "#define id = \\x01\n[ControllerCommands]\ncmd_test = \"E\\x00$id\"\ncmd_test = \"E2\"\n"
      "Cmd_Other = \"O\"\nnoPrefix = \"N\"\ndisplayCommand = cmd_test\ndisplayCommand = CMD_TEST\n"
      "[Constants]\ncmd_fromConstants = \"C\"\n");
  EXPECT_EQ(d.Commands.keys(), strings({"Cmd_Other", "cmd_fromConstants", "cmd_test"}));
  EXPECT_EQ(d.Commands.value(QStringLiteral("cmd_test")), QStringLiteral("E2"));
  EXPECT_EQ(d.DisplayCommands, strings({"cmd_test"}));
}

TEST(IniControllerCommandsTest, EventTriggersToolsShortcutsAndKeyActions) {
  const EcuDefinition d = parseIni(
      "[TableEditor]\ntable = veTbl, m, \"VE\"\n"
      "[Constants]\npage = 1\nreqFuel = scalar, U08, 0\nnCyl = bits, U08, 1, [0:3]\n"
      "[UserShortcuts]\nshortcut = s1, \"VE\", \"F1\", \"ctrl\", veTbl, true, \"c\"\n"
      "shortcut = s2, \"Req\", F2, , reqFuel\nshortcut = s3, \"Cyl\", F3, , nCyl\n"
      "shortcut = s4, \"Later\", F4, , laterTbl\nshortcut = s5, \"Empty\", F5, , \"\"\n"
      "shortcut = short, \"x\", F6, alt\n"
      "[TableEditor]\ntable = laterTbl, m2, \"Later\"\n"
      "[EventTriggers]\ntriggeredPageRefresh = 1, { vss > 0 }\ntriggeredPageRefresh = x, {a}\n"
      "timedPageRefresh = 2, 500\ntimedPageRefresh = 3, fast\n"
      "[Tools]\naddTool = veGen, \"VE Generator\", veTbl\naddTool = two, items\n"
      "[KeyActions]\nshowPanel = spi,  spiBuses\n");
  ASSERT_EQ(d.UserShortcuts.size(), 5u);
  const ShortcutDef& s1 = *d.UserShortcuts.find(QStringLiteral("s1"));
  EXPECT_EQ((QStringList{s1.TargetType, s1.Modifiers, s1.Condition}),
            strings({"Table", "ctrl", "c"}));
  EXPECT_TRUE(s1.IsToggle);
  // Scalars are derived only after the whole file is read, so a scalar constant is a "Field";
  // targets are resolved against what was declared before the shortcut line.
  QStringList types;
  for (const char* id : {"s2", "s3", "s4", "s5"}) {
    types.append(d.UserShortcuts.find(QString::fromUtf8(id))->TargetType);
  }
  EXPECT_EQ(types, strings({"Field", "Field", "Unknown", "Unknown"}));
  EXPECT_EQ(d.TriggeredPageRefreshes,
            (QList<TriggeredPageRefresh>{{1, QStringLiteral("vss > 0")},
                                         {2, QStringLiteral("timer:500")}}));
  EXPECT_EQ(d.Tools, (QList<ToolDef>{{QStringLiteral("veGen"), QStringLiteral("VE Generator"),
                                      QStringLiteral("veTbl")}}));
  EXPECT_EQ(d.KeyActions, (QList<KeyAction>{{QStringLiteral("showPanel"), QStringLiteral("spi"),
                                             QStringLiteral("spiBuses")}}));
}

TEST(IniControllerCommandsTest, AnalysisSettings) {
  const EcuDefinition d = parseIni(
      "[VeAnalyze]\nveAnalyzeMap = veTbl, afrTbl, afr, egoCor, { on }\n"
      "lambdaTargetTables = afrTbl, lambdaTbl\n"
      "filter = std_xAxisMin\nfilter = minClt, \"Minimum CLT\", coolant, <, 60, , true\n"
      "filter = VBatt, \"VBatt\", VBatt\t\t<\t\t, 12,\t\t, true\n"
      "[WueAnalyze]\nwueAnalyzeMap = wueTbl, afrTbl\nfilter = d, \"D\", deltaTps, >=, 5, , 0\n");
  EXPECT_EQ((QStringList{d.VeAnalyze.VeTableName, d.VeAnalyze.EgoCorrectionChannelName,
                         d.VeAnalyze.ActiveCondition, d.WueAnalyze.WueTableName,
                         d.WueAnalyze.TargetTableName, d.WueAnalyze.ChannelName}),
            strings({"veTbl", "egoCor", "{ on }", "wueTbl", "afrTbl", ""}));
  EXPECT_EQ(d.VeAnalyze.LambdaTargetTables, strings({"afrTbl", "lambdaTbl"}));
  ASSERT_EQ(d.VeAnalyze.Filters.size(), 2);
  EXPECT_EQ(d.VeAnalyze.Filters.at(0),
            (AnalysisFilter{QStringLiteral("minClt"), QStringLiteral("Minimum CLT"),
                            QStringLiteral("coolant"), QStringLiteral("<"), 60.0, true}));
  const AnalysisFilter& vbatt = d.VeAnalyze.Filters.at(1);
  EXPECT_EQ(std::tuple(vbatt.ChannelName, vbatt.Operator, vbatt.DefaultValue),
            std::tuple(QStringLiteral("VBatt"), QStringLiteral("<"), 12.0));
  ASSERT_EQ(d.WueAnalyze.Filters.size(), 1);
  EXPECT_FALSE(d.WueAnalyze.Filters.at(0).UserAdjustable);
}

TEST(IniControllerCommandsTest, LoggersReferenceTablesAndViews) {
  const EcuDefinition d = parseIni(
      "[LoggerDefinition]\nstartCommand = \"early\"\n"
      "loggerDef = tooth, \"Tooth Logger\", tooth\nstartCommand = \"H\"\nstopCommand = \"h\"\n"
      "dataReadCommand = \"T\\$tsCanId\"\ndataReadyCondition = { toothLog1Ready }\n"
      "dataReadTimeout = 15000\ncontinuousRead = TRUE\ndataLength = 256\nrecordDef = 0, 0, 2\n"
      "recordField = toothGap, \"ToothTime\", 0, 16, 1.0, \"uS\"\n"
      "recordField = flag, \"Flag\", 15, 1, 1.0, 2, \"F\", { !x }, hidden\n"
      "calcField = t, \"Time\", \"ms\", { a + b }, hidden\nloggerDef = comp, \"Composite\"\n"
      "[ReferenceTables]\nreferenceTable = std_ms2gentherm, \"Calibrate Thermistor Tables...\"\n"
      "topicHelp = \"http://h\"\ntableIdentifier = 000, \"Coolant\", 001, \"Air\"\n"
      "adcCount = 1024\nbytesPerAdc = 2\nscale = 10\ntableLimits = 000, -40, 350, 180\n"
      "thermOption = \"GM\", 2490, -40, 100700, 30, 2238, 99, 177\n"
      "solution = \"3 Point\", thermGenerator\nsolution = \"Expr\", { x * 2 }\nsolutionsLabel = "
      "\"Sensor\"\n"
      "tableGenerator = thermGenerator, \"Therm\", \"C\", \"Ohm\", -40, 150, 0, 100\n"
      "[DatalogViews]\ngraph1 = early\nlogViewName = \"Fuel\"\ngraph1 = rpm, map\nlogViewName = "
      "Ign\n");
  ASSERT_EQ(d.LoggerDefinitions.size(), 2u);
  const LoggerDef& tooth = *d.LoggerDefinitions.find(QStringLiteral("tooth"));
  EXPECT_EQ((QStringList{tooth.DisplayName, tooth.Type, tooth.StartCommand, tooth.DataReadCommand,
                         tooth.DataReadyCondition}),
            strings({"Tooth Logger", "tooth", "H", "T\\$tsCanId", "toothLog1Ready"}));
  EXPECT_EQ(std::tuple(tooth.DataReadTimeout, tooth.ContinuousRead, tooth.RecordLength),
            std::tuple(15000, true, 2));
  ASSERT_EQ(tooth.RecordFields.size(), 2);
  const LoggerField& gap = tooth.RecordFields.at(0);
  const LoggerField& flag = tooth.RecordFields.at(1);
  EXPECT_EQ((QStringList{gap.Units, gap.Translate, flag.Translate, flag.UpdateCondition}),
            strings({"uS", "0", "2", "!x"}));
  EXPECT_TRUE(flag.Hidden);
  ASSERT_EQ(tooth.CalcFields.size(), 1);
  EXPECT_EQ(tooth.CalcFields.at(0).Expression, QStringLiteral("a + b"));
  EXPECT_TRUE(tooth.CalcFields.at(0).Hidden);
  EXPECT_EQ(d.LoggerDefinitions.find(QStringLiteral("comp"))->Type, QStringLiteral("csv"));

  const ReferenceTableDef& r = *d.ReferenceTables.find(QStringLiteral("std_ms2gentherm"));
  EXPECT_EQ((QStringList{r.Title, r.Solutions.at(1).Expression, r.SolutionsLabel}),
            strings({"Calibrate Thermistor Tables...", "x * 2", "Sensor"}));
  ASSERT_EQ(r.TableIdentifiers.size(), 2);
  EXPECT_EQ(r.TableIdentifiers.at(1), (TableIdentifier{1, QStringLiteral("Air")}));
  EXPECT_EQ(std::tuple(r.AdcCount, r.Scale, r.ThermOptions.at(0).ResPoint3,
                       r.TableGenerators.at(0).YHigh),
            std::tuple(1024, 10.0, 177.0, 100.0));
  EXPECT_EQ(r.TableLimits.at(0), (TableLimit{0, -40.0, 350.0, 180.0}));
  EXPECT_TRUE(r.Solutions.at(0).IsGenerator);

  ASSERT_EQ(d.DatalogViews.size(), 2);
  EXPECT_EQ((QStringList{d.DatalogViews.at(0).Name, d.DatalogViews.at(1).Name}),
            strings({"Fuel", "Ign"}));
  EXPECT_EQ(d.DatalogViews.at(0).GraphTraces, strings({"rpm, map"}));
}

TEST(IniControllerCommandsTest, PortEditor) {
  const EcuDefinition d = parseIni(
      "[PortEditor]\nportEditor = pe, \"Outputs \"\ntopicHelp = \"h\"\n"
      "enabledPorts = psEnabled, \"PM3\", \"PM4\"\noperators = psCondition, \"<\", \"=\"\n"
      "threshold = psThreshold\nhysteresis = psHyst\nportActiveDelay = psOn\n"
      "conditionRelationship = psConnector, \" \", \"|\"\nactivateOption = extendedDataInSize\n");
  const PortEditorDef& p = d.PortEditor;
  EXPECT_EQ(
      (QStringList{p.Name, p.Title, p.EnabledFieldName, p.ThresholdFieldName,
                   p.ActiveDelayFieldName, p.ConditionRelationshipFieldName}),
      strings({"pe", "Outputs ", "psEnabled", "psThreshold", "psOn", "psConnector, \" \", \"|\""}));
  EXPECT_EQ(p.EnabledPorts, strings({"PM3", "PM4"}));
  EXPECT_EQ(p.Operators, strings({"<", "="}));
}

}  // namespace
}  // namespace tk
