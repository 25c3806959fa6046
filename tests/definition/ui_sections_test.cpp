#include "definition/ini_test_util.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

using test::parseIni;

TEST(IniTableEditorTest, TablesAndTheirKeys) {
  const EcuDefinition d = parseIni(
      "[TableEditor]\nxBins = ignored, rpm\n"
      "table = veTbl, veMap, \"VE Table\", 2 ; comment\n"
      "xBins = rpmBins, rpm, readOnly\nyBins = mapBins, map, readonly\nzBins = veTable\n"
      "xyLabels = \"RPM\", \"MAP\"\nupDownLabel = \"UP\", \"DOWN\"\ngridOrient = 250, 0, 340\n"
      "topicHelp = \"help\"\ngridHeight = 3.5\nuserPassword = secret\n"
      "table = t2, m2, \"Two\"\ngridHeight = x\n");
  ASSERT_EQ(d.Tables.size(), 2u);
  const TableDef& ve = *d.Tables.find(QStringLiteral("veTbl"));
  EXPECT_EQ(ve.Map3dId, QStringLiteral("veMap"));
  EXPECT_EQ(ve.Title, QStringLiteral("VE Table"));
  EXPECT_EQ(ve.Page, 2);
  EXPECT_EQ(ve.XBinVariable, QStringLiteral("rpmBins"));
  EXPECT_EQ(ve.XBinSource, QStringLiteral("rpm"));
  EXPECT_TRUE(ve.XBinReadOnly);
  EXPECT_FALSE(ve.YBinReadOnly);
  EXPECT_EQ(ve.ZBinVariable, QStringLiteral("veTable"));
  EXPECT_EQ(ve.XyLabels, (QStringList{QStringLiteral("RPM"), QStringLiteral("MAP")}));
  EXPECT_EQ(ve.UpDownLabel, QStringLiteral("UP, DOWN"));
  EXPECT_EQ(ve.GridOrient, QStringLiteral("250, 0, 340"));
  EXPECT_EQ(ve.TopicHelp, QStringLiteral("help"));
  EXPECT_EQ(ve.GridHeight, 3.5);
  EXPECT_EQ(ve.UserPassword, QStringLiteral("secret"));
  const TableDef& t2 = *d.Tables.find(QStringLiteral("t2"));
  EXPECT_EQ(t2.Page, 0);
  EXPECT_EQ(t2.GridHeight, 2.0);
}

TEST(IniCurveEditorTest, CurvesAndTheirKeys) {
  const EcuDefinition d = parseIni(
      "[CurveEditor]\ncurve = c1, \"Curve One\"\ncolumnLabel = \"X\", \"Y\"\n"
      "xAxis = 0, { hi }, 9\nyAxis = 0, 255, 5\nxBins = xb, coolant, readOnly\nyBins = y1\nyBins = y2\n"
      "gauge = cltGauge\ntopicHelp = \"t\"\nshowTextValues = TRUE\nlineLabel = \"a\", \"b\"\n"
      "size = 400, 200\nsuppressGraph = 1\n"
      "curve = c2, \"Two\"\nxBins = xb2, readOnly\nsize = 1, x\nshowTextValues = yes\n");
  const CurveDef& c1 = *d.Curves.find(QStringLiteral("c1"));
  EXPECT_EQ(c1.Title, QStringLiteral("Curve One"));
  EXPECT_EQ(c1.ColumnLabels, (QStringList{QStringLiteral("X"), QStringLiteral("Y")}));
  EXPECT_EQ(c1.XAxis, QStringLiteral("0, { hi }, 9"));
  EXPECT_EQ(c1.XBinVariable, QStringLiteral("xb"));
  EXPECT_EQ(c1.XBinChannel, QStringLiteral("coolant"));
  EXPECT_TRUE(c1.XBinReadOnly);
  EXPECT_EQ(c1.YBinVariable, QStringLiteral("y2"));
  EXPECT_EQ(c1.Gauge, QStringLiteral("cltGauge"));
  EXPECT_TRUE(c1.ShowTextValues);
  EXPECT_EQ(c1.LineLabels, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
  EXPECT_EQ(c1.Size, std::make_pair(400, 200));
  EXPECT_TRUE(c1.SuppressGraph);
  const CurveDef& c2 = *d.Curves.find(QStringLiteral("c2"));
  EXPECT_TRUE(c2.XBinReadOnly);
  EXPECT_EQ(c2.XBinChannel, QString());
  EXPECT_FALSE(c2.Size.has_value());
  EXPECT_FALSE(c2.ShowTextValues);
}

TEST(IniGaugeTest, GaugesWithCategoriesAndExpressions) {
  const EcuDefinition d = parseIni(
      "[GaugeConfigurations]\ntwoItems = rpm, \"RPM\"\ngaugeCategory = \"Engine\"\n"
      "tach = rpm, \"Engine Speed\", \"RPM\", 0, {rpmMax}, 300, 600, 3000, 5000, 0, 0, { running }\n"
      "[GaugeConfigurations2]\nclt = coolant, \"CLT\", \"C\", -40, 120\n");
  EXPECT_FALSE(d.Gauges.contains(QStringLiteral("twoItems")));
  const GaugeDef& tach = *d.Gauges.find(QStringLiteral("tach"));
  EXPECT_EQ(tach.Channel, QStringLiteral("rpm"));
  EXPECT_EQ(tach.Title, QStringLiteral("Engine Speed"));
  EXPECT_EQ(tach.Category, QStringLiteral("Engine"));
  EXPECT_EQ(tach.MaxExpression, QStringLiteral("rpmMax"));
  EXPECT_EQ(tach.Max, 0.0);
  EXPECT_EQ(tach.LowWarning, 600.0);
  EXPECT_EQ(tach.HighDanger, 5000.0);
  EXPECT_EQ(tach.ActiveCondition, QStringLiteral("running"));
  EXPECT_EQ(d.Gauges.find(QStringLiteral("clt"))->Min, -40.0);
  EXPECT_EQ(d.Gauges.find(QStringLiteral("clt"))->Category, QStringLiteral("Engine"));
}

TEST(IniFrontPageTest, GaugesAndIndicators) {
  const EcuDefinition d = parseIni(
      "[FrontPage]\ngauge1 = tach\nGauge2 = clt \n"
      "indicator = { running }, \"Off\", \"On\", red, \"blue\"\n"
      "indicator = { a }, \"only two\"\n"
      "indicatorTemplate = { b }, \"{ Pin bitStringValue(pinNames, pinSel) }\", \"On\"\n");
  EXPECT_EQ(d.FrontPage.GaugeRefs, (QStringList{QStringLiteral("tach"), QStringLiteral("clt")}));
  ASSERT_EQ(d.FrontPage.Indicators.size(), 1);
  const IndicatorDef& i = d.FrontPage.Indicators.at(0);
  // The condition loses its braces only; the blanks inside stay.
  EXPECT_EQ(i.Condition, QStringLiteral(" running "));
  EXPECT_EQ(i.OffBackground, QStringLiteral("red"));
  EXPECT_EQ(i.OffForeground, QStringLiteral("blue"));
  EXPECT_EQ(i.OnBackground, QStringLiteral("green"));
  EXPECT_EQ(i.OnForeground, QStringLiteral("black"));
  ASSERT_EQ(d.FrontPage.IndicatorTemplates.size(), 1);
  const IndicatorDef& t = d.FrontPage.IndicatorTemplates.at(0);
  EXPECT_EQ(t.OffLabelPrefix, QStringLiteral("Pin "));
  EXPECT_EQ(t.OffBitStringList, QStringLiteral("pinNames"));
  EXPECT_EQ(t.OffBitStringChannel, QStringLiteral("pinSel"));
  EXPECT_FALSE(t.OnLabelPrefix.has_value());
}

TEST(IniMenuTest, MenusAndItems) {
  const EcuDefinition d = parseIni(
      "[Menu]\nsubMenu = early, \"Ignored\"\nmenuDialog = main\nmenu = \"&Fuel\"\n"
      "subMenu = reqFuel, \"Required Fuel\", 0, { a }, { b }\nsubMenu = std_separator\n"
      "subMenu = bare\nsubMenu = injChars\"Injector\", {c}\n"
      "groupMenu = \"Group\", {g}\ngroupChildMenu = child, \"Child\", 0, {x}\n"
      "updateSubMenuLabel = bare, \"Renamed\"\nremoveSubMenu = injChars\n");
  ASSERT_EQ(d.Menus.size(), 1);
  const MenuDef& m = d.Menus.at(0);
  EXPECT_EQ(m.Name, QStringLiteral("&Fuel"));
  ASSERT_EQ(m.Items.size(), 4);
  EXPECT_EQ(m.Items.at(0).Action, QStringLiteral("reqFuel"));
  EXPECT_EQ(m.Items.at(0).Label, QStringLiteral("Required Fuel"));
  EXPECT_EQ(m.Items.at(0).Type, QStringLiteral("Dialog"));
  EXPECT_EQ(m.Items.at(0).Condition, QStringLiteral("a"));
  EXPECT_EQ(m.Items.at(0).VisibilityCondition, QStringLiteral("b"));
  EXPECT_EQ(m.Items.at(1).Type, QStringLiteral("Separator"));
  EXPECT_EQ(m.Items.at(1).Label, QStringLiteral("-"));
  EXPECT_EQ(m.Items.at(2).Label, QStringLiteral("Renamed"));
  EXPECT_EQ(m.Items.at(3).Type, QStringLiteral("Menu"));
  ASSERT_EQ(m.Items.at(3).SubItems.size(), 1u);
  EXPECT_EQ(m.Items.at(3).SubItems.at(0).Condition, QStringLiteral("x"));
  // A quote inside the first item splits action and label.
  const EcuDefinition q = parseIni("[Menu]\nmenu = m\nsubMenu = act\"Label\", {c}\n");
  EXPECT_EQ(q.Menus.at(0).Items.at(0).Action, QStringLiteral("act"));
  EXPECT_EQ(q.Menus.at(0).Items.at(0).Label, QStringLiteral("Label"));
  EXPECT_EQ(q.Menus.at(0).Items.at(0).Condition, QStringLiteral("c"));
}

TEST(IniUserDefinedTest, DialogsAndComponents) {
  const EcuDefinition d = parseIni(
      "[UserDefined]\nfield = \"orphan\", x\n"
      "dialog = engine, \"Engine\", YAxis\ntopicHelp = \"th\"\n"
      "field = \"A label\"\nfield = unquoted\nfield = \"Name\", nCyl, { a }, { b }\n"
      "field = \"Blank\", {}\nfield = \"V5\", f5, , x, { v }\n"
      "commandButton = \"Go\", cmd_go, { ready }\npanel = other, West, { p }\n"
      "slider = \"S\", sl, vertical\nradio = horizontal, \"R\", rf\n"
      "settingSelector = \"Sensors\", { s }\nsettingOption = \"GM\", a=1\nsettingOption = \"Ford\", a=2\n"
      "liveGraph = lg, \"Graph\", South\ngraphLine = rpm\ngraphLine = map, \"%\"\n"
      "gauge = tach, North\ndisplayOnlyField = \"Show\", shown, { c }\n"
      "dialog = second, \"Two\", sideways\n"
      "indicatorPanel = ip, 2, { on }\nindicator = { x }, \"off\", \"on\"\n"
      "readoutPanel = rp\nreadout = rpm\nreadout = map, \"MAP\", \"kPa\", 0, 250\n");
  ASSERT_EQ(d.Dialogs.size(), 2);
  const DialogDef& e = d.Dialogs.at(0);
  EXPECT_EQ(e.Label, QStringLiteral("Engine"));
  EXPECT_EQ(e.LayoutType, QStringLiteral("yaxis"));
  EXPECT_EQ(e.TopicHelp, QStringLiteral("th"));
  EXPECT_EQ(d.Dialogs.at(1).LayoutType, QString());
  QStringList types;
  for (const DialogItemDef& item : e.Items) {
    types.append(item.Type);
  }
  EXPECT_EQ(types, (QStringList{QStringLiteral("Label"), QStringLiteral("Field"),
                                QStringLiteral("Label"), QStringLiteral("Field"),
                                QStringLiteral("CommandButton"), QStringLiteral("Panel"),
                                QStringLiteral("Slider"), QStringLiteral("Radio"),
                                QStringLiteral("SettingSelector"), QStringLiteral("LiveGraph"),
                                QStringLiteral("Gauge"), QStringLiteral("DisplayOnlyField")}));
  const DialogItemDef& field = e.Items.at(1);
  EXPECT_EQ(field.FieldName, QStringLiteral("nCyl"));
  EXPECT_EQ(field.Condition, QStringLiteral("a"));
  EXPECT_EQ(field.VisibilityCondition, QStringLiteral("b"));
  EXPECT_EQ(field.Orientation, QStringLiteral("horizontal"));
  EXPECT_EQ(e.Items.at(3).VisibilityCondition, QStringLiteral("v"));
  EXPECT_EQ(e.Items.at(4).Action, QStringLiteral("cmd_go"));
  EXPECT_EQ(e.Items.at(4).Condition, QStringLiteral("ready"));
  EXPECT_EQ(e.Items.at(5).LayoutPlacement, QStringLiteral("West"));
  EXPECT_EQ(e.Items.at(6).Orientation, QStringLiteral("vertical"));
  EXPECT_EQ(e.Items.at(8).SettingOptions, (QStringList{QStringLiteral("GM"), QStringLiteral("Ford")}));
  ASSERT_EQ(d.LiveGraphs.size(), 1);
  EXPECT_EQ(d.LiveGraphs.at(0).Position, QStringLiteral("South"));
  EXPECT_EQ(d.LiveGraphs.at(0).Channels, (QStringList{QStringLiteral("rpm"), QStringLiteral("map")}));
  EXPECT_EQ(d.GaugeDialogs, QStringList{QStringLiteral("tach")});
  ASSERT_EQ(d.DisplayOnlyFields.size(), 1);
  EXPECT_EQ(d.DisplayOnlyFields.at(0).Condition, QStringLiteral("c"));
  ASSERT_EQ(d.IndicatorPanels.size(), 1);
  EXPECT_EQ(d.IndicatorPanels.at(0).Columns, 2);
  EXPECT_EQ(d.IndicatorPanels.at(0).EnableCondition, QStringLiteral("on"));
  EXPECT_EQ(d.IndicatorPanels.at(0).Indicators.size(), 1);
  ASSERT_EQ(d.ReadoutPanels.size(), 1);
  EXPECT_EQ(d.ReadoutPanels.at(0).Columns, 1);
  ASSERT_EQ(d.ReadoutPanels.at(0).Readouts.size(), 2);
  EXPECT_TRUE(d.ReadoutPanels.at(0).Readouts.at(0).IsGaugeReference);
  EXPECT_EQ(d.ReadoutPanels.at(0).Readouts.at(1).Max, 250.0);
}

TEST(IniUserDefinedTest, DialogLineClosesAnOpenHelpTopic) {
  const EcuDefinition d = parseIni(
      "[UserDefined]\nhelp = hx, \"Help X\"\ntext = \"body\"\nwebHelp = \"http://x\"\n"
      "dialog = d, \"D\"\nwebHelp = \"http://d\"\ntext = \"late\"\n");
  const HelpDefinition& h = d.HelpDefinitions.value(QStringLiteral("hx"));
  EXPECT_EQ(h.TextLines, QStringList{QStringLiteral("body")});
  EXPECT_EQ(h.WebHelp, QStringLiteral("http://x"));
  EXPECT_EQ(d.Dialogs.at(0).WebHelp, QStringLiteral("http://d"));
  EXPECT_EQ(d.HelpText, QStringLiteral("late"));
}

}  // namespace
}  // namespace tk
