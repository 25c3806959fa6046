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

  bool operator==(const MenuItemDef&) const = default;
};

/// One top-level menu.
struct MenuDef {
  QString Name;
  QList<MenuItemDef> Items;

  bool operator==(const MenuDef&) const = default;
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

  bool operator==(const DialogItemDef&) const = default;
};

/// One [UserDefined] dialog with its components in file order.
struct DialogDef {
  QString Name;
  QString Label;
  QString LayoutType;
  QString TopicHelp;
  QString WebHelp;
  QList<DialogItemDef> Items;

  bool operator==(const DialogDef&) const = default;
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

  bool operator==(const TableDef&) const = default;
};

/// An extra Y series of a curve.
struct CurveYBin {
  QString Variable;
  QString Channel;
  QString Condition;

  bool operator==(const CurveYBin&) const = default;
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

  bool operator==(const CurveDef&) const = default;
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

  bool operator==(const ScalarDef&) const = default;
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

  bool operator==(const IndicatorDef&) const = default;
};

/// A [UserDefined] indicatorPanel with its indicators.
struct IndicatorPanelDef {
  QString Name;
  int Columns = 1;
  QString EnableCondition;
  QList<IndicatorDef> Indicators;

  bool operator==(const IndicatorPanelDef&) const = default;
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

  bool operator==(const ReadoutDef&) const = default;
};

/// A [UserDefined] readoutPanel with its readouts.
struct ReadoutPanelDef {
  QString Name;
  int Columns = 1;
  QString EnableCondition;
  QList<ReadoutDef> Readouts;

  bool operator==(const ReadoutPanelDef&) const = default;
};

/// A [UserDefined] liveGraph with the channels of its graphLine lines.
struct LiveGraphDef {
  QString Name;
  QString Title;
  QString Position;
  QStringList Channels;

  bool operator==(const LiveGraphDef&) const = default;
};

/// A [UserDefined] displayOnlyField line.
struct DisplayOnlyFieldDef {
  QString Label;
  QString FieldName;
  QString Condition;

  bool operator==(const DisplayOnlyFieldDef&) const = default;
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

  bool operator==(const GaugeDef&) const = default;
};

/// The [FrontPage] section.
struct FrontPageDef {
  QStringList GaugeRefs;
  QList<IndicatorDef> Indicators;
  QList<IndicatorDef> IndicatorTemplates;

  bool operator==(const FrontPageDef&) const = default;
};

}  // namespace tk
