#include <gtest/gtest.h>

#include <tuple>

#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::orNone;
using test::parseIni;
using test::strings;

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
  EXPECT_EQ((QStringList{ve.Map3dId, ve.Title, ve.XBinVariable, ve.XBinSource, ve.ZBinVariable,
                         ve.UpDownLabel, ve.GridOrient, ve.TopicHelp, ve.UserPassword}),
            strings({"veMap", "VE Table", "rpmBins", "rpm", "veTable", "UP, DOWN", "250, 0, 340",
                     "help", "secret"}));
  EXPECT_EQ(ve.XyLabels, strings({"RPM", "MAP"}));
  EXPECT_EQ(std::tuple(ve.Page, ve.GridHeight, ve.XBinReadOnly, ve.YBinReadOnly),
            std::tuple(2, 3.5, true, false));
  const TableDef& t2 = *d.Tables.find(QStringLiteral("t2"));
  EXPECT_EQ(std::tuple(t2.Page, t2.GridHeight), std::tuple(0, 2.0));
}

TEST(IniCurveEditorTest, CurvesAndTheirKeys) {
  const EcuDefinition d = parseIni(
      "[CurveEditor]\ncurve = c1, \"Curve One\"\ncolumnLabel = \"X\", \"Y\"\n"
      "xAxis = 0, { hi }, 9\nyAxis = 0, 255, 5\nxBins = xb, coolant, readOnly\nyBins = y1\nyBins = "
      "y2\n"
      "gauge = cltGauge\ntopicHelp = \"t\"\nshowTextValues = TRUE\nlineLabel = \"a\", \"b\"\n"
      "size = 400, 200\nsuppressGraph = 1\n"
      "curve = c2, \"Two\"\nxBins = xb2, readOnly\nsize = 1, x\nshowTextValues = yes\n");
  const CurveDef& c1 = *d.Curves.find(QStringLiteral("c1"));
  EXPECT_EQ(
      (QStringList{c1.Title, c1.XAxis, c1.XBinVariable, c1.XBinChannel, c1.YBinVariable, c1.Gauge}),
      strings({"Curve One", "0, { hi }, 9", "xb", "coolant", "y2", "cltGauge"}));
  EXPECT_EQ(c1.ColumnLabels, strings({"X", "Y"}));
  EXPECT_EQ(c1.LineLabels, strings({"a", "b"}));
  EXPECT_EQ(std::tuple(c1.XBinReadOnly, c1.ShowTextValues, c1.SuppressGraph),
            std::tuple(true, true, true));
  EXPECT_EQ(c1.Size, std::make_pair(400, 200));
  const CurveDef& c2 = *d.Curves.find(QStringLiteral("c2"));
  EXPECT_EQ(std::tuple(c2.XBinReadOnly, c2.ShowTextValues), std::tuple(true, false));
  EXPECT_EQ(c2.XBinChannel, QString());
  EXPECT_FALSE(c2.Size.has_value());
}

TEST(IniGaugeTest, GaugesWithCategoriesAndExpressions) {
  const EcuDefinition d = parseIni(
      "[GaugeConfigurations]\ntwoItems = rpm, \"RPM\"\ngaugeCategory = \"Engine\"\n"
      "tach = rpm, \"Engine Speed\", \"RPM\", 0, {rpmMax}, 300, 600, 3000, 5000, 0, 0, { running "
      "}\n"
      "[GaugeConfigurations2]\nclt = coolant, \"CLT\", \"C\", -40, 120\n");
  EXPECT_FALSE(d.Gauges.contains(QStringLiteral("twoItems")));
  const GaugeDef& tach = *d.Gauges.find(QStringLiteral("tach"));
  EXPECT_EQ((QStringList{tach.Channel, tach.Title, tach.Category, orNone(tach.MaxExpression),
                         tach.ActiveCondition}),
            strings({"rpm", "Engine Speed", "Engine", "rpmMax", "running"}));
  EXPECT_EQ(std::tuple(tach.Max, tach.LowWarning, tach.HighDanger), std::tuple(0.0, 600.0, 5000.0));
  EXPECT_EQ(d.Gauges.find(QStringLiteral("clt"))->Min, -40.0);
  EXPECT_EQ(d.Gauges.find(QStringLiteral("clt"))->Category, QStringLiteral("Engine"));
}

TEST(IniFrontPageTest, GaugesAndIndicators) {
  const EcuDefinition d = parseIni(
      "[FrontPage]\ngauge1 = tach\nGauge2 = clt \n"
      "indicator = { running }, \"Off\", \"On\", red, \"blue\"\n"
      "indicator = { a }, \"only two\"\n"
      "indicatorTemplate = { b }, \"{ Pin bitStringValue(pinNames, pinSel) }\", \"On\"\n");
  EXPECT_EQ(d.FrontPage.GaugeRefs, strings({"tach", "clt"}));
  ASSERT_EQ(d.FrontPage.Indicators.size(), 1);
  const IndicatorDef& i = d.FrontPage.Indicators.at(0);
  // The condition loses its braces only; the blanks inside stay. Missing colours take defaults.
  EXPECT_EQ(
      (QStringList{i.Condition, i.OffBackground, i.OffForeground, i.OnBackground, i.OnForeground}),
      strings({" running ", "red", "blue", "green", "black"}));
  ASSERT_EQ(d.FrontPage.IndicatorTemplates.size(), 1);
  const IndicatorDef& t = d.FrontPage.IndicatorTemplates.at(0);
  EXPECT_EQ((QStringList{orNone(t.OffLabelPrefix), orNone(t.OffBitStringList),
                         orNone(t.OffBitStringChannel)}),
            strings({"Pin ", "pinNames", "pinSel"}));
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
  const MenuItemDef& fuel = m.Items.at(0);
  EXPECT_EQ(
      (QStringList{fuel.Action, fuel.Label, fuel.Type, fuel.Condition, fuel.VisibilityCondition}),
      strings({"reqFuel", "Required Fuel", "Dialog", "a", "b"}));
  EXPECT_EQ((QStringList{m.Items.at(1).Type, m.Items.at(1).Label, m.Items.at(2).Label,
                         m.Items.at(3).Type}),
            strings({"Separator", "-", "Renamed", "Menu"}));
  ASSERT_EQ(m.Items.at(3).SubItems.size(), 1u);
  EXPECT_EQ(m.Items.at(3).SubItems.at(0).Condition, QStringLiteral("x"));
  // A quote inside the first item splits action and label.
  const MenuItemDef q =
      parseIni("[Menu]\nmenu = m\nsubMenu = act\"Label\", {c}\n").Menus.at(0).Items.at(0);
  EXPECT_EQ((QStringList{q.Action, q.Label, q.Condition}), strings({"act", "Label", "c"}));
}

TEST(IniUserDefinedTest, DialogsAndComponents) {
  const EcuDefinition d = parseIni(
      "[UserDefined]\nfield = \"orphan\", x\n"
      "dialog = engine, \"Engine\", YAxis\ntopicHelp = \"th\"\n"
      "field = \"A label\"\nfield = unquoted\nfield = \"Name\", nCyl, { a }, { b }\n"
      "field = \"Blank\", {}\nfield = \"V5\", f5, , x, { v }\n"
      "commandButton = \"Go\", cmd_go, { ready }\npanel = other, West, { p }\n"
      "slider = \"S\", sl, vertical\nradio = horizontal, \"R\", rf\n"
      "settingSelector = \"Sensors\", { s }\nsettingOption = \"GM\", a=1\nsettingOption = "
      "\"Ford\", a=2\n"
      "liveGraph = lg, \"Graph\", South\ngraphLine = rpm\ngraphLine = map, \"%\"\n"
      "gauge = tach, North\ndisplayOnlyField = \"Show\", shown, { c }\n"
      "dialog = second, \"Two\", sideways\n"
      "indicatorPanel = ip, 2, { on }\nindicator = { x }, \"off\", \"on\"\n"
      "readoutPanel = rp\nreadout = rpm\nreadout = map, \"MAP\", \"kPa\", 0, 250\n");
  ASSERT_EQ(d.Dialogs.size(), 2);
  const DialogDef& e = d.Dialogs.at(0);
  EXPECT_EQ((QStringList{e.Label, e.LayoutType, e.TopicHelp, d.Dialogs.at(1).LayoutType}),
            strings({"Engine", "yaxis", "th", ""}));
  QStringList types;
  for (const DialogItemDef& item : e.Items) {
    types.append(item.Type);
  }
  EXPECT_EQ(types, strings({"Label", "Field", "Label", "Field", "CommandButton", "Panel", "Slider",
                            "Radio", "SettingSelector", "LiveGraph", "Gauge", "DisplayOnlyField"}));
  const DialogItemDef& field = e.Items.at(1);
  EXPECT_EQ(
      (QStringList{field.FieldName, field.Condition, field.VisibilityCondition, field.Orientation,
                   e.Items.at(3).VisibilityCondition, e.Items.at(4).Action, e.Items.at(4).Condition,
                   e.Items.at(5).LayoutPlacement, e.Items.at(6).Orientation}),
      strings({"nCyl", "a", "b", "horizontal", "v", "cmd_go", "ready", "West", "vertical"}));
  EXPECT_EQ(e.Items.at(8).SettingOptions, strings({"GM", "Ford"}));
  ASSERT_EQ(d.LiveGraphs.size(), 1);
  EXPECT_EQ(d.LiveGraphs.at(0).Position, QStringLiteral("South"));
  EXPECT_EQ(d.LiveGraphs.at(0).Channels, strings({"rpm", "map"}));
  EXPECT_EQ(d.GaugeDialogs, strings({"tach"}));
  ASSERT_EQ(d.DisplayOnlyFields.size(), 1);
  EXPECT_EQ(d.DisplayOnlyFields.at(0).Condition, QStringLiteral("c"));
  ASSERT_EQ(d.IndicatorPanels.size(), 1);
  EXPECT_EQ(d.IndicatorPanels.at(0).Columns, 2);
  EXPECT_EQ(d.IndicatorPanels.at(0).EnableCondition, QStringLiteral("on"));
  EXPECT_EQ(d.IndicatorPanels.at(0).Indicators.size(), 1);
  ASSERT_EQ(d.ReadoutPanels.size(), 1);
  const ReadoutPanelDef& readouts = d.ReadoutPanels.at(0);
  ASSERT_EQ(readouts.Readouts.size(), 2);
  EXPECT_EQ(std::tuple(readouts.Columns, readouts.Readouts.at(0).IsGaugeReference,
                       readouts.Readouts.at(1).Max),
            std::tuple(1, true, 250.0));
}

TEST(IniUserDefinedTest, DialogLineClosesAnOpenHelpTopic) {
  const EcuDefinition d = parseIni(
      "[UserDefined]\nhelp = hx, \"Help X\"\ntext = \"body\"\nwebHelp = \"http://x\"\n"
      "dialog = d, \"D\"\nwebHelp = \"http://d\"\ntext = \"late\"\n");
  const HelpDefinition& h = d.HelpDefinitions.value(QStringLiteral("hx"));
  EXPECT_EQ(h.TextLines, strings({"body"}));
  EXPECT_EQ((QStringList{h.WebHelp, d.Dialogs.at(0).WebHelp, d.HelpText}),
            strings({"http://x", "http://d", "late"}));
}

}  // namespace
}  // namespace tk
