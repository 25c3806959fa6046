#include "definition/definition_json.h"

#include <functional>

#include "definition/definition_json_render.h"
#include "definition/ui_defs_json.h"

namespace tk {
namespace {

using namespace detail;

JsonValue helpJson(const HelpDefinition& h) {
  return Obj()
      .add("Name", h.Name)
      .add("Title", h.Title)
      .add("TextLines", strings(h.TextLines))
      .add("WebHelp", h.WebHelp)
      .take();
}

JsonValue pagesJson(const EcuDefinition& def) {
  JsonValue o = JsonValue::object();
  for (const PageGroup& page : def.Pages) {
    o.insert(QString::number(page.PageNumber),
             Obj()
                 .add("PageNumber", page.PageNumber)
                 .add("Fields", arrayOf(page.Fields, constantJson))
                 .add("Size", page.Size)
                 .take());
  }
  return o;
}

JsonValue datalogEntryJson(const DatalogEntry& e) {
  return Obj()
      .add("ChannelName", e.ChannelName)
      .add("Label", e.Label)
      .add("Type", e.Type)
      .add("Format", e.Format)
      .add("Category", e.Category)
      .add("EnabledCondition", e.EnabledCondition)
      .add("Lag", e.Lag)
      .add("IsBooleanFormat", e.isBooleanFormat())
      .add("IsHexFormat", e.isHexFormat())
      .take();
}

JsonValue filterJson(const AnalysisFilter& f) {
  return Obj()
      .add("Name", f.Name)
      .add("DisplayName", f.DisplayName)
      .add("ChannelName", f.ChannelName)
      .add("Operator", f.Operator)
      .add("DefaultValue", num(f.DefaultValue))
      .add("UserAdjustable", f.UserAdjustable)
      .take();
}

JsonValue loggerFieldJson(const LoggerField& f) {
  return Obj()
      .add("Name", f.Name)
      .add("HeaderName", f.HeaderName)
      .add("StartBit", f.StartBit)
      .add("BitCount", f.BitCount)
      .add("Scale", f.Scale)
      .add("Translate", f.Translate)
      .add("Units", f.Units)
      .add("UpdateCondition", f.UpdateCondition)
      .add("Hidden", f.Hidden)
      .take();
}

JsonValue loggerJson(const LoggerDef& l) {
  return Obj()
      .add("Name", l.Name)
      .add("DisplayName", l.DisplayName)
      .add("Type", l.Type)
      .add("StartCommand", l.StartCommand)
      .add("StopCommand", l.StopCommand)
      .add("DataReadCommand", l.DataReadCommand)
      .add("DataReadyCondition", l.DataReadyCondition)
      .add("DataReadTimeout", l.DataReadTimeout)
      .add("ContinuousRead", l.ContinuousRead)
      .add("DataLength", l.DataLength)
      .add("HeaderLength", l.HeaderLength)
      .add("FooterLength", l.FooterLength)
      .add("RecordLength", l.RecordLength)
      .add("DefaultXAxis", l.DefaultXAxis)
      .add("OverlaidDatasetCount", l.OverlaidDatasetCount)
      .add("LogProcessorType", l.LogProcessorType)
      .add("SlavePort", l.SlavePort)
      .add("StopOnExit", l.StopOnExit)
      .add("HeaderFields", arrayOf(l.HeaderFields, loggerFieldJson))
      .add("RecordFields", arrayOf(l.RecordFields, loggerFieldJson))
      .add("CalcFields", arrayOf(l.CalcFields,
                                 [](const LoggerCalcField& f) {
                                   return Obj()
                                       .add("Name", f.Name)
                                       .add("HeaderName", f.HeaderName)
                                       .add("Units", f.Units)
                                       .add("Expression", f.Expression)
                                       .add("Hidden", f.Hidden)
                                       .take();
                                 }))
      .add("YFieldName", l.YFieldName)
      .add("XFieldName", l.XFieldName)
      .add("Title", l.Title)
      .add("Position", l.Position)
      .add("VerticalMarkers", arrayOf(l.VerticalMarkers,
                                      [](const LoggerVerticalMarker& m) {
                                        return Obj()
                                            .add("FieldName", m.FieldName)
                                            .add("Condition", m.Condition)
                                            .add("Color", m.Color)
                                            .add("Label", m.Label)
                                            .take();
                                      }))
      .take();
}

JsonValue referenceTableJson(const ReferenceTableDef& r) {
  return Obj()
      .add("Name", r.Name)
      .add("Title", r.Title)
      .add("TopicHelp", r.TopicHelp)
      .add("TableIdentifiers", arrayOf(r.TableIdentifiers,
                                       [](const TableIdentifier& t) {
                                         return Obj().add("Id", t.Id).add("Label", t.Label).take();
                                       }))
      .add("TableLimits", arrayOf(r.TableLimits,
                                  [](const TableLimit& t) {
                                    return Obj()
                                        .add("Id", t.Id)
                                        .add("Min", num(t.Min))
                                        .add("Max", num(t.Max))
                                        .add("Default", num(t.Default))
                                        .take();
                                  }))
      .add("AdcCount", r.AdcCount)
      .add("BytesPerAdc", r.BytesPerAdc)
      .add("Scale", num(r.Scale))
      .add("TableStartOffset", r.TableStartOffset)
      .add("TableGenerators", arrayOf(r.TableGenerators,
                                      [](const TableGenerator& g) {
                                        return Obj()
                                            .add("Type", g.Type)
                                            .add("Label", g.Label)
                                            .add("XUnits", g.XUnits)
                                            .add("YUnits", g.YUnits)
                                            .add("XLow", num(g.XLow))
                                            .add("XHigh", num(g.XHigh))
                                            .add("YLow", num(g.YLow))
                                            .add("YHigh", num(g.YHigh))
                                            .take();
                                      }))
      .add("ThermOptions", arrayOf(r.ThermOptions,
                                   [](const ThermOption& t) {
                                     return Obj()
                                         .add("Name", t.Name)
                                         .add("ResistorBias", num(t.ResistorBias))
                                         .add("TempPoint1", num(t.TempPoint1))
                                         .add("ResPoint1", num(t.ResPoint1))
                                         .add("TempPoint2", num(t.TempPoint2))
                                         .add("ResPoint2", num(t.ResPoint2))
                                         .add("TempPoint3", num(t.TempPoint3))
                                         .add("ResPoint3", num(t.ResPoint3))
                                         .take();
                                   }))
      .add("Solutions", arrayOf(r.Solutions,
                                [](const ReferenceSolution& s) {
                                  return Obj()
                                      .add("Name", s.Name)
                                      .add("Expression", s.Expression)
                                      .add("IsGenerator", s.IsGenerator)
                                      .take();
                                }))
      .add("SolutionsLabel", r.SolutionsLabel)
      .take();
}

JsonValue extensionJson(const ConstantExtension& e) {
  JsonValue values = JsonValue::array();
  for (double d : e.ArrayValues) {
    values.append(num(d));
  }
  return Obj()
      .add("ConstantName", e.ConstantName)
      .add("ExtensionType", extensionTypeText(e.ExtensionType))
      .add("Value", e.Value)
      .add("ArrayValues", values)
      .take();
}

JsonValue settingGroupJson(const SettingGroup& g) {
  return Obj()
      .add("Name", g.Name)
      .add("DisplayName", g.DisplayName)
      .add("Options", arrayOf(g.Options,
                              [](const SettingOption& o) {
                                return Obj()
                                    .add("Name", o.Name)
                                    .add("DisplayName", o.DisplayName)
                                    .add("IsDefault", o.IsDefault)
                                    .take();
                              }))
      .add("SelectedOption", g.SelectedOption)
      .take();
}

JsonValue settingFlagJson(const SettingFlag& f) {
  return Obj()
      .add("Name", f.Name)
      .add("DefaultValue", f.DefaultValue)
      .add("IsActive", f.IsActive)
      .take();
}

JsonValue definesJson(const EcuDefinition& def) {
  return orderedOf(def.Defines, [](const QString& v) { return JsonValue(v); });
}

JsonValue channelsJson(const OrderedMap<ConstantDef>& map) { return orderedOf(map, constantJson); }

/// The header members shared by the full document and the "constants" preset.
void addIdentity(Obj& o, const EcuDefinition& def) {
  o.add("Signature", def.Signature)
      .add("Endianness", def.Endianness)
      .add("QueryCommand", def.QueryCommand)
      .add("VersionInfo", def.VersionInfo);
}

void addPageSettings(Obj& o, const EcuDefinition& def) {
  o.add("NPages", def.NPages)
      .add("PageSizes", ints(def.PageSizes))
      .add("PageIdentifiers", strings(def.PageIdentifiers))
      .add("PageReadCommands", strings(def.PageReadCommands))
      .add("BurnCommands", strings(def.BurnCommands))
      .add("PageValueWriteCommands", strings(def.PageValueWriteCommands))
      .add("PageChunkWriteCommands", strings(def.PageChunkWriteCommands))
      .add("Crc32CheckCommands", strings(def.Crc32CheckCommands))
      .add("RetrieveConfigErrorCommand", def.RetrieveConfigErrorCommand)
      .add("BlockingFactor", def.BlockingFactor)
      .add("PageActivationDelay", def.PageActivationDelay)
      .add("Pages", pagesJson(def));
}

JsonValue tablesJson(const EcuDefinition& def) { return orderedOf(def.Tables, tableJson); }
JsonValue curvesJson(const EcuDefinition& def) { return orderedOf(def.Curves, curveJson); }
JsonValue gaugesJson(const EcuDefinition& def) { return orderedOf(def.Gauges, gaugeJson); }
JsonValue indicatorPanelsJson(const EcuDefinition& def) {
  return keyedList(
      def.IndicatorPanels, [](const IndicatorPanelDef& p) { return p.Name; }, indicatorPanelJson);
}

}  // namespace

JsonValue constantJson(const ConstantDef& c) {
  JsonValue bitValues = JsonValue::object();
  for (const BitValue& bv : c.BitValues) {
    bitValues.insert(QString::number(bv.first), bv.second);
  }
  return Obj()
      .add("Name", c.Name)
      .add("Type", constantTypeText(c.Type))
      .add("DataType", c.DataType)
      .add("Offset", c.Offset)
      .add("Units", c.Units)
      .add("Scale", num(c.Scale))
      .add("Translate", num(c.Translate))
      .add("Min", num(c.Min))
      .add("Max", num(c.Max))
      .add("HasMin", c.HasMin)
      .add("HasMax", c.HasMax)
      .add("Digits", c.Digits)
      .add("UnitsExpression", opt(c.UnitsExpression))
      .add("ScaleExpression", opt(c.ScaleExpression))
      .add("TranslateExpression", opt(c.TranslateExpression))
      .add("MinExpression", opt(c.MinExpression))
      .add("MaxExpression", opt(c.MaxExpression))
      .add("DigitsExpression", opt(c.DigitsExpression))
      .add("BitStart", c.BitStart)
      .add("BitEnd", c.BitEnd)
      .add("BitValues", bitValues)
      .add("Shape", ints(c.Shape))
      .add("IsPcVariable", c.IsPcVariable)
      .add("IsOddArray", c.IsOddArray)
      .add("DisplayInHex", c.DisplayInHex)
      .add("NoMsqSave", c.NoMsqSave)
      .add("ControllerPriority", c.ControllerPriority)
      .add("ShapeColsExpression", opt(c.ShapeColsExpression))
      .add("ShapeRowsExpression", opt(c.ShapeRowsExpression))
      .add("PcVariableType", pcVariableTypeText(c.PcVariableType))
      .add("ReferencedChannel", opt(c.ReferencedChannel))
      .add("Expression", opt(c.Expression))
      .add("CachedElementSize", c.CachedElementSize)
      .add("CachedDataTypeCode", c.CachedDataTypeCode)
      .take();
}

JsonValue definitionJson(const EcuDefinition& def) {
  Obj o;
  addIdentity(o, def);
  o.add("HelpGeneral", def.HelpGeneral).add("WebHelp", def.WebHelp).add("HelpText", def.HelpText);
  JsonValue help = JsonValue::object();
  for (auto it = def.HelpDefinitions.cbegin(); it != def.HelpDefinitions.cend(); ++it) {
    help.insert(it.key(), helpJson(it.value()));
  }
  o.add("HelpDefinitions", help);
  addPageSettings(o, def);
  o.add("ContextHelp", stringMap(def.ContextHelp))
      .add("BitValueLists", JsonValue::object())
      .add("Constants", stringMap(def.Constants))
      .add("Defines", definesJson(def))
      .add("PcVariableExpressions", stringMap(def.PcVariableExpressions))
      .add("Lists", JsonValue::object())
      .add("Menus", arrayOf(def.Menus, menuJson))
      .add("Dialogs", keyedList(
                          def.Dialogs, [](const DialogDef& d) { return d.Name; }, dialogJson))
      .add("Tables", tablesJson(def))
      .add("Curves", curvesJson(def))
      .add("Scalars", orderedOf(def.Scalars, scalarJson))
      .add("IndicatorPanels", indicatorPanelsJson(def))
      .add("ReadoutPanels", keyedList(
                                def.ReadoutPanels, [](const ReadoutPanelDef& p) { return p.Name; },
                                readoutPanelJson))
      .add("LiveGraphs",
           keyedList(
               def.LiveGraphs, [](const LiveGraphDef& g) { return g.Name; }, liveGraphJson))
      .add("GaugeDialogs", JsonValue::object())
      .add("PortEditor", portEditorJson(def.PortEditor))
      .add("DisplayOnlyFields", arrayOf(def.DisplayOnlyFields,
                                        [](const DisplayOnlyFieldDef& f) {
                                          return Obj()
                                              .add("Label", f.Label)
                                              .add("FieldName", f.FieldName)
                                              .add("Condition", f.Condition)
                                              .take();
                                        }))
      .add("Gauges", gaugesJson(def))
      .add("FrontPage", frontPageJson(def.FrontPage))
      .add("Commands", stringMap(def.Commands))
      .add("DisplayCommands", strings(def.DisplayCommands))
      .add("ExpressionDefinitions", stringMap(def.ExpressionDefinitions))
      .add("OchGetCommand", def.OchGetCommand)
      .add("OchBlockSize", def.OchBlockSize)
      .add("ScatteredOffsetArray", opt(def.ScatteredOffsetArray))
      .add("ScatteredOchGetCommand", opt(def.ScatteredOchGetCommand))
      .add("ScatteredGetEnabled", opt(def.ScatteredGetEnabled))
      .add("OutputChannels", channelsJson(def.OutputChannels))
      .add("ReplayChannels", def.ReplayChannels ? channelsJson(*def.ReplayChannels) : JsonValue())
      .add("OutputChannelsCommand", QString::fromLatin1(ochCommandBytes(def).toBase64()))
      .add("DatalogEntries", arrayOf(def.DatalogEntries, datalogEntryJson))
      .add("TriggeredPageRefreshes",
           arrayOf(
               def.TriggeredPageRefreshes,
               [](const TriggeredPageRefresh& t) {
                 return Obj().add("PageNumber", t.PageNumber).add("Condition", t.Condition).take();
               }))
      .add("RequiresPowerCycleFields", strings(def.RequiresPowerCycleFields))
      .add("UserShortcuts", orderedOf(def.UserShortcuts,
                                      [](const ShortcutDef& s) {
                                        return Obj()
                                            .add("Id", s.Id)
                                            .add("Name", s.Name)
                                            .add("Key", s.Key)
                                            .add("Modifiers", s.Modifiers)
                                            .add("Target", s.Target)
                                            .add("TargetType", s.TargetType)
                                            .add("IsToggle", s.IsToggle)
                                            .add("Condition", s.Condition)
                                            .take();
                                      }))
      .add("VeAnalyze", Obj()
                            .add("VeTableName", def.VeAnalyze.VeTableName)
                            .add("LambdaTargetTableName", def.VeAnalyze.LambdaTargetTableName)
                            .add("LambdaChannelName", def.VeAnalyze.LambdaChannelName)
                            .add("EgoCorrectionChannelName", def.VeAnalyze.EgoCorrectionChannelName)
                            .add("ActiveCondition", def.VeAnalyze.ActiveCondition)
                            .add("LambdaTargetTables", strings(def.VeAnalyze.LambdaTargetTables))
                            .add("Filters", arrayOf(def.VeAnalyze.Filters, filterJson))
                            .take())
      .add("WueAnalyze", Obj()
                             .add("WueTableName", def.WueAnalyze.WueTableName)
                             .add("TargetTableName", def.WueAnalyze.TargetTableName)
                             .add("ChannelName", def.WueAnalyze.ChannelName)
                             .add("ActiveCondition", def.WueAnalyze.ActiveCondition)
                             .add("Filters", arrayOf(def.WueAnalyze.Filters, filterJson))
                             .take())
      .add("LoggerDefinitions", orderedOf(def.LoggerDefinitions, loggerJson))
      .add("ReferenceTables", orderedOf(def.ReferenceTables, referenceTableJson))
      .add("KeyActions", arrayOf(def.KeyActions,
                                 [](const KeyAction& k) {
                                   return Obj()
                                       .add("ActionType", k.ActionType)
                                       .add("KeyCombination", k.KeyCombination)
                                       .add("TargetDialog", k.TargetDialog)
                                       .take();
                                 }))
      .add("DatalogViews",
           arrayOf(
               def.DatalogViews,
               [](const DatalogView& v) {
                 return Obj().add("Name", v.Name).add("GraphTraces", strings(v.GraphTraces)).take();
               }))
      .add("ConstantExtensions", arrayOf(def.ConstantExtensions, extensionJson))
      .add("SettingGroups", orderedOf(def.SettingGroups, settingGroupJson))
      .add("SettingFlags", orderedOf(def.SettingFlags, settingFlagJson));
  return o.take();
}

JsonValue constantsJson(const EcuDefinition& def) {
  Obj o;
  addIdentity(o, def);
  addPageSettings(o, def);
  o.add("Constants", stringMap(def.Constants))
      .add("Defines", definesJson(def))
      .add("PcVariableExpressions", stringMap(def.PcVariableExpressions))
      .add("ConstantExtensions", arrayOf(def.ConstantExtensions, extensionJson))
      .add("SettingGroups", orderedOf(def.SettingGroups, settingGroupJson))
      .add("SettingFlags", orderedOf(def.SettingFlags, settingFlagJson));
  return o.take();
}

JsonValue uiDefsJson(const EcuDefinition& def) {
  return Obj()
      .add("Tables", tablesJson(def))
      .add("Curves", curvesJson(def))
      .add("IndicatorPanels", indicatorPanelsJson(def))
      .add("Gauges", gaugesJson(def))
      .add("FrontPage", frontPageJson(def.FrontPage))
      .take();
}

}  // namespace tk
