#include "definition/ui_defs_json.h"

#include "definition/definition_json_render.h"

namespace tk::detail {

namespace {
JsonValue menuItemJson(const MenuItemDef& m) {
  return Obj()
      .add("Label", m.Label)
      .add("Action", m.Action)
      .add("Type", m.Type)
      .add("SubItems", arrayOf(m.SubItems, menuItemJson))
      .add("Condition", m.Condition)
      .add("VisibilityCondition", m.VisibilityCondition)
      .take();
}
}  // namespace

JsonValue menuJson(const MenuDef& m) {
  return Obj().add("Name", m.Name).add("Items", arrayOf(m.Items, menuItemJson)).take();
}

namespace {
JsonValue dialogItemJson(const DialogItemDef& d) {
  return Obj()
      .add("Type", d.Type)
      .add("Label", d.Label)
      .add("FieldName", d.FieldName)
      .add("Action", d.Action)
      .add("Condition", d.Condition)
      .add("VisibilityCondition", d.VisibilityCondition)
      .add("Tooltip", d.Tooltip)
      .add("Orientation", d.Orientation)
      .add("LayoutPlacement", d.LayoutPlacement)
      .add("Values", strings(d.Values))
      .add("SettingOptions", strings(d.SettingOptions))
      .add("SelectorName", d.SelectorName)
      .add("OffsetConstant", d.OffsetConstant)
      .add("LenConstant", d.LenConstant)
      .add("MaxBytesExpression", d.MaxBytesExpression)
      .add("SizeConstant", d.SizeConstant)
      .add("CanIdConstant", d.CanIdConstant)
      .add("DeviceCanIdConstant", d.DeviceCanIdConstant)
      .add("Items", arrayOf(d.Items, dialogItemJson))
      .take();
}
}  // namespace

JsonValue dialogJson(const DialogDef& d) {
  return Obj()
      .add("Name", d.Name)
      .add("Label", d.Label)
      .add("LayoutType", d.LayoutType)
      .add("TopicHelp", d.TopicHelp)
      .add("WebHelp", d.WebHelp)
      .add("Items", arrayOf(d.Items, dialogItemJson))
      .take();
}

JsonValue tableJson(const TableDef& t) {
  return Obj()
      .add("Id", t.Id)
      .add("Map3dId", t.Map3dId)
      .add("Title", t.Title)
      .add("Page", t.Page)
      .add("XyLabels", strings(t.XyLabels))
      .add("XBinVariable", t.XBinVariable)
      .add("XBinSource", t.XBinSource)
      .add("YBinVariable", t.YBinVariable)
      .add("YBinSource", t.YBinSource)
      .add("ZBinVariable", t.ZBinVariable)
      .add("UpDownLabel", t.UpDownLabel)
      .add("GridOrient", t.GridOrient)
      .add("TopicHelp", t.TopicHelp)
      .add("GridHeight", num(t.GridHeight))
      .add("XBinReadOnly", t.XBinReadOnly)
      .add("YBinReadOnly", t.YBinReadOnly)
      .add("UserPassword", t.UserPassword)
      .take();
}

JsonValue curveJson(const CurveDef& c) {
  JsonValue size;
  if (c.Size) {
    size = JsonValue::array();
    size.append(c.Size->first);
    size.append(c.Size->second);
  }
  return Obj()
      .add("Id", c.Id)
      .add("Title", c.Title)
      .add("ColumnLabels", strings(c.ColumnLabels))
      .add("XAxis", c.XAxis)
      .add("YAxis", c.YAxis)
      .add("XBinVariable", c.XBinVariable)
      .add("YBinVariable", c.YBinVariable)
      .add("Gauge", c.Gauge)
      .add("TopicHelp", c.TopicHelp)
      .add("ShowTextValues", c.ShowTextValues)
      .add("LineLabels", strings(c.LineLabels))
      .add("Size", size)
      .add("XYDataPlot", c.XYDataPlot)
      .add("SuppressGraph", c.SuppressGraph)
      .add("XBinReadOnly", c.XBinReadOnly)
      .add("XBinChannel", c.XBinChannel)
      .add("AdditionalYBins", arrayOf(c.AdditionalYBins,
                                      [](const CurveYBin& y) {
                                        return Obj()
                                            .add("Variable", y.Variable)
                                            .add("Channel", y.Channel)
                                            .add("Condition", y.Condition)
                                            .take();
                                      }))
      .take();
}

JsonValue scalarJson(const ScalarDef& s) {
  return Obj()
      .add("Name", s.Name)
      .add("Title", s.Title)
      .add("Page", s.Page)
      .add("Offset", s.Offset)
      .add("DataType", s.DataType)
      .add("Units", s.Units)
      .add("Scale", num(s.Scale))
      .add("Translate", num(s.Translate))
      .add("Min", num(s.Min))
      .add("Max", num(s.Max))
      .add("Digits", s.Digits)
      .take();
}

namespace {
JsonValue indicatorJson(const IndicatorDef& i) {
  return Obj()
      .add("Name", i.Name)
      .add("Condition", i.Condition)
      .add("OffLabel", i.OffLabel)
      .add("OnLabel", i.OnLabel)
      .add("OffBackground", i.OffBackground)
      .add("OffForeground", i.OffForeground)
      .add("OnBackground", i.OnBackground)
      .add("OnForeground", i.OnForeground)
      .add("Category", i.Category)
      .add("OnLabelPrefix", opt(i.OnLabelPrefix))
      .add("OnBitStringList", opt(i.OnBitStringList))
      .add("OnBitStringChannel", opt(i.OnBitStringChannel))
      .add("OffLabelPrefix", opt(i.OffLabelPrefix))
      .add("OffBitStringList", opt(i.OffBitStringList))
      .add("OffBitStringChannel", opt(i.OffBitStringChannel))
      .take();
}
}  // namespace

JsonValue indicatorPanelJson(const IndicatorPanelDef& p) {
  return Obj()
      .add("Name", p.Name)
      .add("Columns", p.Columns)
      .add("EnableCondition", p.EnableCondition)
      .add("Indicators", arrayOf(p.Indicators, indicatorJson))
      .take();
}

namespace {
JsonValue readoutJson(const ReadoutDef& r) {
  return Obj()
      .add("Channel", r.Channel)
      .add("Title", r.Title)
      .add("Units", r.Units)
      .add("Min", num(r.Min))
      .add("Max", num(r.Max))
      .add("LowDanger", num(r.LowDanger))
      .add("LowWarn", num(r.LowWarn))
      .add("HighWarn", num(r.HighWarn))
      .add("HighDanger", num(r.HighDanger))
      .add("ValueDigits", r.ValueDigits)
      .add("LabelDigits", r.LabelDigits)
      .add("IsGaugeReference", r.IsGaugeReference)
      .take();
}
}  // namespace

JsonValue readoutPanelJson(const ReadoutPanelDef& p) {
  return Obj()
      .add("Name", p.Name)
      .add("Columns", p.Columns)
      .add("EnableCondition", p.EnableCondition)
      .add("Readouts", arrayOf(p.Readouts, readoutJson))
      .take();
}

JsonValue liveGraphJson(const LiveGraphDef& g) {
  return Obj()
      .add("Name", g.Name)
      .add("Title", g.Title)
      .add("Position", g.Position)
      .add("Channels", strings(g.Channels))
      .take();
}

JsonValue portEditorJson(const PortEditorDef& p) {
  return Obj()
      .add("Name", p.Name)
      .add("Title", p.Title)
      .add("TopicHelp", p.TopicHelp)
      .add("EnabledPorts", strings(p.EnabledPorts))
      .add("EnabledFieldName", p.EnabledFieldName)
      .add("Operators", strings(p.Operators))
      .add("OperatorsFieldName", p.OperatorsFieldName)
      .add("ThresholdFieldName", p.ThresholdFieldName)
      .add("HysteresisFieldName", p.HysteresisFieldName)
      .add("PowerOnValueFieldName", p.PowerOnValueFieldName)
      .add("TriggerValueFieldName", p.TriggerValueFieldName)
      .add("OutputOffsetFieldName", p.OutputOffsetFieldName)
      .add("OutputSizeFieldName", p.OutputSizeFieldName)
      .add("OutputNameFieldName", p.OutputNameFieldName)
      .add("ActiveDelayFieldName", p.ActiveDelayFieldName)
      .add("InactiveDelayFieldName", p.InactiveDelayFieldName)
      .add("ConditionRelationships", strings(p.ConditionRelationships))
      .add("ConditionRelationshipFieldName", p.ConditionRelationshipFieldName)
      .add("ConditionsPerPort", p.ConditionsPerPort)
      .take();
}

JsonValue gaugeJson(const GaugeDef& g) {
  return Obj()
      .add("Name", g.Name)
      .add("Channel", g.Channel)
      .add("Title", g.Title)
      .add("Units", g.Units)
      .add("Min", num(g.Min))
      .add("Max", num(g.Max))
      .add("Category", g.Category)
      .add("MinExpression", opt(g.MinExpression))
      .add("MaxExpression", opt(g.MaxExpression))
      .add("LowDanger", num(g.LowDanger))
      .add("LowDangerExpression", opt(g.LowDangerExpression))
      .add("LowWarning", num(g.LowWarning))
      .add("LowWarningExpression", opt(g.LowWarningExpression))
      .add("HighWarning", num(g.HighWarning))
      .add("HighWarningExpression", opt(g.HighWarningExpression))
      .add("HighDanger", num(g.HighDanger))
      .add("HighDangerExpression", opt(g.HighDangerExpression))
      .add("ValueDigits", num(g.ValueDigits))
      .add("ValueDigitsExpression", opt(g.ValueDigitsExpression))
      .add("LabelDigits", num(g.LabelDigits))
      .add("LabelDigitsExpression", opt(g.LabelDigitsExpression))
      .add("ActiveCondition", g.ActiveCondition)
      .take();
}

JsonValue frontPageJson(const FrontPageDef& f) {
  return Obj()
      .add("GaugeRefs", strings(f.GaugeRefs))
      .add("Indicators", arrayOf(f.Indicators, indicatorJson))
      .add("IndicatorTemplates", arrayOf(f.IndicatorTemplates, indicatorJson))
      .take();
}

}  // namespace tk::detail
