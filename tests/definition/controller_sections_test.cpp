#include "definition/ini_test_util.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

using test::parseIni;

TEST(IniControllerCommandsTest, CommandsAndDisplayCommands) {
  const EcuDefinition d = parseIni(
      "#define id = \\x01\n[ControllerCommands]\ncmd_test = \"E\\x00$id\"\ncmd_test = \"E2\"\n"
      "Cmd_Other = \"O\"\nnoPrefix = \"N\"\ndisplayCommand = cmd_test\ndisplayCommand = CMD_TEST\n"
      "[Constants]\ncmd_fromConstants = \"C\"\n");
  EXPECT_EQ(d.Commands.keys(), (QStringList{QStringLiteral("Cmd_Other"), QStringLiteral("cmd_fromConstants"),
                                            QStringLiteral("cmd_test")}));
  EXPECT_EQ(d.Commands.value(QStringLiteral("cmd_test")), QStringLiteral("E2"));
  EXPECT_EQ(d.DisplayCommands, QStringList{QStringLiteral("cmd_test")});
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
  EXPECT_EQ(s1.TargetType, QStringLiteral("Table"));
  EXPECT_TRUE(s1.IsToggle);
  EXPECT_EQ(s1.Modifiers, QStringLiteral("ctrl"));
  EXPECT_EQ(s1.Condition, QStringLiteral("c"));
  // Scalars are derived only after the whole file is read, so a scalar constant is a "Field".
  EXPECT_EQ(d.UserShortcuts.find(QStringLiteral("s2"))->TargetType, QStringLiteral("Field"));
  EXPECT_EQ(d.UserShortcuts.find(QStringLiteral("s3"))->TargetType, QStringLiteral("Field"));
  // Targets are resolved against what was declared before the shortcut line.
  EXPECT_EQ(d.UserShortcuts.find(QStringLiteral("s4"))->TargetType, QStringLiteral("Unknown"));
  EXPECT_EQ(d.UserShortcuts.find(QStringLiteral("s5"))->TargetType, QStringLiteral("Unknown"));
  ASSERT_EQ(d.TriggeredPageRefreshes.size(), 2);
  EXPECT_EQ(d.TriggeredPageRefreshes.at(0), (TriggeredPageRefresh{1, QStringLiteral("vss > 0")}));
  EXPECT_EQ(d.TriggeredPageRefreshes.at(1), (TriggeredPageRefresh{2, QStringLiteral("timer:500")}));
  ASSERT_EQ(d.Tools.size(), 1);
  EXPECT_EQ(d.Tools.at(0), (ToolDef{QStringLiteral("veGen"), QStringLiteral("VE Generator"),
                                    QStringLiteral("veTbl")}));
  ASSERT_EQ(d.KeyActions.size(), 1);
  EXPECT_EQ(d.KeyActions.at(0), (KeyAction{QStringLiteral("showPanel"), QStringLiteral("spi"),
                                           QStringLiteral("spiBuses")}));
}

TEST(IniControllerCommandsTest, AnalysisSettings) {
  const EcuDefinition d = parseIni(
      "[VeAnalyze]\nveAnalyzeMap = veTbl, afrTbl, afr, egoCor, { on }\n"
      "lambdaTargetTables = afrTbl, lambdaTbl\n"
      "filter = std_xAxisMin\nfilter = minClt, \"Minimum CLT\", coolant, <, 60, , true\n"
      "filter = VBatt, \"VBatt\", VBatt\t\t<\t\t, 12,\t\t, true\n"
      "[WueAnalyze]\nwueAnalyzeMap = wueTbl, afrTbl\nfilter = d, \"D\", deltaTps, >=, 5, , 0\n");
  EXPECT_EQ(d.VeAnalyze.VeTableName, QStringLiteral("veTbl"));
  EXPECT_EQ(d.VeAnalyze.EgoCorrectionChannelName, QStringLiteral("egoCor"));
  EXPECT_EQ(d.VeAnalyze.ActiveCondition, QStringLiteral("{ on }"));
  EXPECT_EQ(d.VeAnalyze.LambdaTargetTables, (QStringList{QStringLiteral("afrTbl"), QStringLiteral("lambdaTbl")}));
  ASSERT_EQ(d.VeAnalyze.Filters.size(), 2);
  EXPECT_EQ(d.VeAnalyze.Filters.at(0), (AnalysisFilter{QStringLiteral("minClt"), QStringLiteral("Minimum CLT"),
                                                       QStringLiteral("coolant"), QStringLiteral("<"), 60.0, true}));
  EXPECT_EQ(d.VeAnalyze.Filters.at(1).ChannelName, QStringLiteral("VBatt"));
  EXPECT_EQ(d.VeAnalyze.Filters.at(1).Operator, QStringLiteral("<"));
  EXPECT_EQ(d.VeAnalyze.Filters.at(1).DefaultValue, 12.0);
  EXPECT_EQ(d.WueAnalyze.WueTableName, QStringLiteral("wueTbl"));
  EXPECT_EQ(d.WueAnalyze.TargetTableName, QStringLiteral("afrTbl"));
  EXPECT_EQ(d.WueAnalyze.ChannelName, QString());
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
      "solution = \"3 Point\", thermGenerator\nsolution = \"Expr\", { x * 2 }\nsolutionsLabel = \"Sensor\"\n"
      "tableGenerator = thermGenerator, \"Therm\", \"C\", \"Ohm\", -40, 150, 0, 100\n"
      "[DatalogViews]\ngraph1 = early\nlogViewName = \"Fuel\"\ngraph1 = rpm, map\nlogViewName = Ign\n");
  ASSERT_EQ(d.LoggerDefinitions.size(), 2u);
  const LoggerDef& tooth = *d.LoggerDefinitions.find(QStringLiteral("tooth"));
  EXPECT_EQ(tooth.DisplayName, QStringLiteral("Tooth Logger"));
  EXPECT_EQ(tooth.Type, QStringLiteral("tooth"));
  EXPECT_EQ(tooth.StartCommand, QStringLiteral("H"));
  EXPECT_EQ(tooth.DataReadCommand, QStringLiteral("T\\$tsCanId"));
  EXPECT_EQ(tooth.DataReadyCondition, QStringLiteral("toothLog1Ready"));
  EXPECT_EQ(tooth.DataReadTimeout, 15000);
  EXPECT_TRUE(tooth.ContinuousRead);
  EXPECT_EQ(tooth.RecordLength, 2);
  ASSERT_EQ(tooth.RecordFields.size(), 2);
  EXPECT_EQ(tooth.RecordFields.at(0).Units, QStringLiteral("uS"));
  EXPECT_EQ(tooth.RecordFields.at(0).Translate, QStringLiteral("0"));
  EXPECT_EQ(tooth.RecordFields.at(1).Translate, QStringLiteral("2"));
  EXPECT_EQ(tooth.RecordFields.at(1).UpdateCondition, QStringLiteral("!x"));
  EXPECT_TRUE(tooth.RecordFields.at(1).Hidden);
  ASSERT_EQ(tooth.CalcFields.size(), 1);
  EXPECT_EQ(tooth.CalcFields.at(0).Expression, QStringLiteral("a + b"));
  EXPECT_TRUE(tooth.CalcFields.at(0).Hidden);
  EXPECT_EQ(d.LoggerDefinitions.find(QStringLiteral("comp"))->Type, QStringLiteral("csv"));

  const ReferenceTableDef& r = *d.ReferenceTables.find(QStringLiteral("std_ms2gentherm"));
  EXPECT_EQ(r.Title, QStringLiteral("Calibrate Thermistor Tables..."));
  ASSERT_EQ(r.TableIdentifiers.size(), 2);
  EXPECT_EQ(r.TableIdentifiers.at(1), (TableIdentifier{1, QStringLiteral("Air")}));
  EXPECT_EQ(r.AdcCount, 1024);
  EXPECT_EQ(r.Scale, 10.0);
  EXPECT_EQ(r.TableLimits.at(0), (TableLimit{0, -40.0, 350.0, 180.0}));
  EXPECT_EQ(r.ThermOptions.at(0).ResPoint3, 177.0);
  EXPECT_TRUE(r.Solutions.at(0).IsGenerator);
  EXPECT_EQ(r.Solutions.at(1).Expression, QStringLiteral("x * 2"));
  EXPECT_EQ(r.SolutionsLabel, QStringLiteral("Sensor"));
  EXPECT_EQ(r.TableGenerators.at(0).YHigh, 100.0);

  ASSERT_EQ(d.DatalogViews.size(), 2);
  EXPECT_EQ(d.DatalogViews.at(0).Name, QStringLiteral("Fuel"));
  EXPECT_EQ(d.DatalogViews.at(0).GraphTraces, QStringList{QStringLiteral("rpm, map")});
  EXPECT_EQ(d.DatalogViews.at(1).Name, QStringLiteral("Ign"));
}

TEST(IniControllerCommandsTest, PortEditor) {
  const EcuDefinition d = parseIni(
      "[PortEditor]\nportEditor = pe, \"Outputs \"\ntopicHelp = \"h\"\n"
      "enabledPorts = psEnabled, \"PM3\", \"PM4\"\noperators = psCondition, \"<\", \"=\"\n"
      "threshold = psThreshold\nhysteresis = psHyst\nportActiveDelay = psOn\n"
      "conditionRelationship = psConnector, \" \", \"|\"\nactivateOption = extendedDataInSize\n");
  const PortEditorDef& p = d.PortEditor;
  EXPECT_EQ(p.Name, QStringLiteral("pe"));
  EXPECT_EQ(p.Title, QStringLiteral("Outputs "));
  EXPECT_EQ(p.EnabledFieldName, QStringLiteral("psEnabled"));
  EXPECT_EQ(p.EnabledPorts, (QStringList{QStringLiteral("PM3"), QStringLiteral("PM4")}));
  EXPECT_EQ(p.Operators, (QStringList{QStringLiteral("<"), QStringLiteral("=")}));
  EXPECT_EQ(p.ThresholdFieldName, QStringLiteral("psThreshold"));
  EXPECT_EQ(p.ActiveDelayFieldName, QStringLiteral("psOn"));
  EXPECT_EQ(p.ConditionRelationshipFieldName, QStringLiteral("psConnector, \" \", \"|\""));
}

}  // namespace
}  // namespace tk
