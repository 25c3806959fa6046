#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tk {

/// One [Tools] addTool line.
struct ToolDef {
  QString ToolType;
  QString Label;
  QString Target;

  bool operator==(const ToolDef&) const = default;
};

/// One [EventTriggers] page refresh: a condition, or "timer:<ms>" for a timed refresh.
struct TriggeredPageRefresh {
  int PageNumber = 0;
  QString Condition;
};

/// One [UserShortcuts] shortcut; TargetType is resolved when the line is read.
struct ShortcutDef {
  QString Id;
  QString Name;
  QString Key;
  QString Modifiers;
  QString Target;
  QString TargetType;
  bool IsToggle = false;
  QString Condition;
};

/// A data filter of the VE or warm-up analysis.
struct AnalysisFilter {
  QString Name;
  QString DisplayName;
  QString ChannelName;
  QString Operator;
  double DefaultValue = 0.0;
  bool UserAdjustable = false;
  /// The mask of a flag filter ("engine & 16"), whose line has no comparison operator; not part
  /// of the canonical definition document.
  std::optional<double> FlagBits;
};

/// The [VeAnalyze] section.
struct VeAnalyzeDef {
  QString VeTableName;
  QString LambdaTargetTableName;
  QString LambdaChannelName;
  QString EgoCorrectionChannelName;
  QString ActiveCondition;
  QStringList LambdaTargetTables;
  QList<AnalysisFilter> Filters;
};

/// The [WueAnalyze] section.
struct WueAnalyzeDef {
  QString WueTableName;
  QString TargetTableName;
  QString ChannelName;
  QString ActiveCondition;
  QList<AnalysisFilter> Filters;
};

/// A header or record field of a logger.
struct LoggerField {
  QString Name;
  QString HeaderName;
  int StartBit = 0;
  int BitCount = 0;
  QString Scale = QStringLiteral("1.0");
  QString Translate = QStringLiteral("0");
  QString Units;
  QString UpdateCondition;
  bool Hidden = false;
};

/// A calculated field of a logger.
struct LoggerCalcField {
  QString Name;
  QString HeaderName;
  QString Units;
  QString Expression;
  bool Hidden = false;
};

/// A vertical marker of a logger graph.
struct LoggerVerticalMarker {
  QString FieldName;
  QString Condition;
  QString Color;
  QString Label;
};

/// One [LoggerDefinition] logger; fields in canonical order.
struct LoggerDef {
  QString Name;
  QString DisplayName;
  QString Type = QStringLiteral("csv");
  QString StartCommand;
  QString StopCommand;
  QString DataReadCommand;
  QString DataReadyCondition;
  int DataReadTimeout = 0;
  bool ContinuousRead = false;
  int DataLength = 0;
  int HeaderLength = 0;
  int FooterLength = 0;
  int RecordLength = 0;
  QString DefaultXAxis;
  int OverlaidDatasetCount = 0;
  QString LogProcessorType;
  int SlavePort = 0;
  bool StopOnExit = false;
  QList<LoggerField> HeaderFields;
  QList<LoggerField> RecordFields;
  QList<LoggerCalcField> CalcFields;
  QString YFieldName;
  QString XFieldName;
  QString Title;
  QString Position;
  QList<LoggerVerticalMarker> VerticalMarkers;
};

/// An (identifier, label) pair of a reference table.
struct TableIdentifier {
  int Id = 0;
  QString Label;
};

/// The limits of one reference table identifier.
struct TableLimit {
  int Id = 0;
  double Min = 0.0;
  double Max = 0.0;
  double Default = 0.0;
};

/// A generator of a reference table.
struct TableGenerator {
  QString Type;
  QString Label;
  QString XUnits;
  QString YUnits;
  double XLow = 0.0;
  double XHigh = 0.0;
  double YLow = 0.0;
  double YHigh = 0.0;
};

/// A thermistor option of a reference table.
struct ThermOption {
  QString Name;
  double ResistorBias = 0.0;
  double TempPoint1 = 0.0;
  double ResPoint1 = 0.0;
  double TempPoint2 = 0.0;
  double ResPoint2 = 0.0;
  double TempPoint3 = 0.0;
  double ResPoint3 = 0.0;
};

/// A solution of a reference table.
struct ReferenceSolution {
  QString Name;
  QString Expression;
  bool IsGenerator = false;
};

/// One [ReferenceTables] table; fields in canonical order.
struct ReferenceTableDef {
  QString Name;
  QString Title;
  QString TopicHelp;
  QList<TableIdentifier> TableIdentifiers;
  QList<TableLimit> TableLimits;
  int AdcCount = 0;
  int BytesPerAdc = 0;
  double Scale = 1.0;
  int TableStartOffset = 0;
  QList<TableGenerator> TableGenerators;
  QList<ThermOption> ThermOptions;
  QList<ReferenceSolution> Solutions;
  QString SolutionsLabel;
};

/// One [KeyActions] action.
struct KeyAction {
  QString ActionType;
  QString KeyCombination;
  QString TargetDialog;
};

/// One [DatalogViews] view with its graph trace lines.
struct DatalogView {
  QString Name;
  QStringList GraphTraces;
};

/// The [PortEditor] section; the ...FieldName fields name the constants holding per-port settings.
struct PortEditorDef {
  QString Name;
  QString Title;
  QString TopicHelp;
  QStringList EnabledPorts;
  QString EnabledFieldName;
  QStringList Operators;
  QString OperatorsFieldName;
  QString ThresholdFieldName;
  QString HysteresisFieldName;
  QString PowerOnValueFieldName;
  QString TriggerValueFieldName;
  QString OutputOffsetFieldName;
  QString OutputSizeFieldName;
  QString OutputNameFieldName;
  QString ActiveDelayFieldName;
  QString InactiveDelayFieldName;
  QStringList ConditionRelationships;
  QString ConditionRelationshipFieldName;
  int ConditionsPerPort = 0;
};

}  // namespace tk
