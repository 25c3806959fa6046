#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace tk {

/// One menu entry; group items hold their children in SubItems.
struct MenuItemDef {
  QString Label;
  QString Action;
  QString Type = QStringLiteral("Dialog");
  std::vector<MenuItemDef> SubItems;
  QString Condition;
  QString VisibilityCondition;
};

/// One top-level menu.
struct MenuDef {
  QString Name;
  QList<MenuItemDef> Items;
};

/// One component of a dialog; fields in canonical order.
struct DialogItemDef {
  QString Type = QStringLiteral("Field");
  QString Label;
  QString FieldName;
  QString Action;
  QString Condition;
  QString VisibilityCondition;
  QString Tooltip;
  QString Orientation = QStringLiteral("horizontal");
  QString LayoutPlacement;
  QStringList Values;
  QStringList SettingOptions;
  QString SelectorName;
  QString OffsetConstant;
  QString LenConstant;
  QString MaxBytesExpression;
  QString SizeConstant;
  QString CanIdConstant;
  QString DeviceCanIdConstant;
  std::vector<DialogItemDef> Items;
};

/// One [UserDefined] dialog with its components in file order.
struct DialogDef {
  QString Name;
  QString Label;
  QString LayoutType;
  QString TopicHelp;
  QString WebHelp;
  QList<DialogItemDef> Items;
};

/// One [TableEditor] table; fields in canonical order.
struct TableDef {
  QString Id;
  QString Map3dId;
  QString Title;
  int Page = 0;
  QStringList XyLabels;
  QString XBinVariable;
  QString XBinSource;
  QString YBinVariable;
  QString YBinSource;
  QString ZBinVariable;
  QString UpDownLabel;
  QString GridOrient;
  QString TopicHelp;
  double GridHeight = 2.0;
  bool XBinReadOnly = false;
  bool YBinReadOnly = false;
  QString UserPassword;
};

/// An extra Y series of a curve.
struct CurveYBin {
  QString Variable;
  QString Channel;
  QString Condition;
};

/// One [CurveEditor] curve; fields in canonical order.
struct CurveDef {
  QString Id;
  QString Title;
  QStringList ColumnLabels;
  QString XAxis;
  QString YAxis;
  QString XBinVariable;
  QString YBinVariable;
  QString Gauge;
  QString TopicHelp;
  bool ShowTextValues = false;
  QStringList LineLabels;
  std::optional<std::pair<int, int>> Size;
  bool XYDataPlot = false;
  bool SuppressGraph = false;
  bool XBinReadOnly = false;
  QString XBinChannel;
  QList<CurveYBin> AdditionalYBins;
};

/// A scalar constant as the user interface presents it (derived after the read).
struct ScalarDef {
  QString Name;
  QString Title;
  int Page = 0;
  int Offset = 0;
  QString DataType;
  QString Units;
  double Scale = 1.0;
  double Translate = 0.0;
  double Min = 0.0;
  double Max = 0.0;
  int Digits = 0;
};

/// One on/off indicator; the last six fields are set only for bitStringValue labels.
struct IndicatorDef {
  QString Name;
  QString Condition;
  QString OffLabel;
  QString OnLabel;
  QString OffBackground = QStringLiteral("white");
  QString OffForeground = QStringLiteral("black");
  QString OnBackground = QStringLiteral("green");
  QString OnForeground = QStringLiteral("black");
  QString Category;
  std::optional<QString> OnLabelPrefix;
  std::optional<QString> OnBitStringList;
  std::optional<QString> OnBitStringChannel;
  std::optional<QString> OffLabelPrefix;
  std::optional<QString> OffBitStringList;
  std::optional<QString> OffBitStringChannel;
};

/// A [UserDefined] indicatorPanel with its indicators.
struct IndicatorPanelDef {
  QString Name;
  int Columns = 1;
  QString EnableCondition;
  QList<IndicatorDef> Indicators;
};

/// One readout of a readout panel.
struct ReadoutDef {
  QString Channel;
  QString Title;
  QString Units;
  double Min = 0.0;
  double Max = 0.0;
  double LowDanger = 0.0;
  double LowWarn = 0.0;
  double HighWarn = 0.0;
  double HighDanger = 0.0;
  int ValueDigits = 0;
  int LabelDigits = 0;
  bool IsGaugeReference = false;
};

/// A [UserDefined] readoutPanel with its readouts.
struct ReadoutPanelDef {
  QString Name;
  int Columns = 1;
  QString EnableCondition;
  QList<ReadoutDef> Readouts;
};

/// A [UserDefined] liveGraph with the channels of its graphLine lines.
struct LiveGraphDef {
  QString Name;
  QString Title;
  QString Position;
  QStringList Channels;
};

/// A [UserDefined] displayOnlyField line.
struct DisplayOnlyFieldDef {
  QString Label;
  QString FieldName;
  QString Condition;
};

/// One [GaugeConfigurations] gauge; a limit written in braces fills its Expression field.
struct GaugeDef {
  QString Name;
  QString Channel;
  QString Title;
  QString Units;
  double Min = 0.0;
  double Max = 0.0;
  QString Category;
  std::optional<QString> MinExpression;
  std::optional<QString> MaxExpression;
  double LowDanger = 0.0;
  std::optional<QString> LowDangerExpression;
  double LowWarning = 0.0;
  std::optional<QString> LowWarningExpression;
  double HighWarning = 0.0;
  std::optional<QString> HighWarningExpression;
  double HighDanger = 0.0;
  std::optional<QString> HighDangerExpression;
  double ValueDigits = 0.0;
  std::optional<QString> ValueDigitsExpression;
  double LabelDigits = 0.0;
  std::optional<QString> LabelDigitsExpression;
  QString ActiveCondition;
};

/// The [FrontPage] section.
struct FrontPageDef {
  QStringList GaugeRefs;
  QList<IndicatorDef> Indicators;
  QList<IndicatorDef> IndicatorTemplates;
};

}  // namespace tk
