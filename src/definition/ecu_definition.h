#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "definition/constant_def.h"
#include "definition/controller_defs.h"
#include "definition/ordered_map.h"
#include "definition/ui_defs.h"

namespace tk {

/// A preprocessor symbol of the definition.
struct SettingFlag {
  QString Name;
  bool DefaultValue = false;
  bool IsActive = false;
};

/// One option of a setting group; IsDefault when its name is "DEFAULT" (ignoring case).
struct SettingOption {
  QString Name;
  QString DisplayName;
  bool IsDefault = false;

  bool operator==(const SettingOption&) const = default;
};

/// A named choice among options; SelectedOption is the option in force.
struct SettingGroup {
  QString Name;
  QString DisplayName;
  QList<SettingOption> Options;
  QString SelectedOption;

  /// True when an option has exactly this name.
  bool hasOption(const QString& name) const;
};

/// A help topic of [SettingGroups] or [UserDefined].
struct HelpDefinition {
  QString Name;
  QString Title;
  QStringList TextLines;
  QString WebHelp;
};

/// One [Datalog] entry.
struct DatalogEntry {
  QString ChannelName;
  QString Label;
  QString Type;
  QString Format;
  QString Category;
  QString EnabledCondition;
  QString Lag;

  /// Format is one of yesNo, onOff, highLow, activeInactive (ignoring case).
  bool isBooleanFormat() const;
  /// Format is "hex" (ignoring case).
  bool isHexFormat() const;
};

/// What one definition may declare, so that no small file stands for gigabytes: the bytes of
/// all page images, the elements of all constants, the realtime block's bytes and the characters
/// of all included files.
inline constexpr qint64 kMaxPageBytes = qint64{64} << 20;
inline constexpr qint64 kMaxDefinitionElements = 1000000;
inline constexpr int kMaxOchBlockSize = 65536;
inline constexpr qint64 kMaxIncludedCharacters = qint64{16} << 20;

/// Everything an ECU definition file declares. Independent of the parser that built it; fields
/// follow the canonical JSON order. Maps typed QMap render in ascending key order, OrderedMap in
/// order of first insertion.
struct EcuDefinition {
  // Header and page settings.
  QString Signature;
  QString Endianness = QStringLiteral("little");
  QString QueryCommand;
  QString VersionInfo;
  /// [MegaTune] versionInfo: used when VersionInfo is empty (see versionInfoCommand()); not
  /// rendered, so the canonical JSON keeps the [TunerStudio] value alone.
  QString MegaTuneVersionInfo;
  QString HelpGeneral;
  QString WebHelp;
  QString HelpText;
  QMap<QString, HelpDefinition> HelpDefinitions;
  int NPages = 0;
  QList<int> PageSizes;
  QStringList PageIdentifiers;
  QStringList PageReadCommands;
  QStringList BurnCommands;
  QStringList PageValueWriteCommands;
  QStringList PageChunkWriteCommands;
  QStringList Crc32CheckCommands;
  QString RetrieveConfigErrorCommand = QStringLiteral("e");
  int BlockingFactor = 3000;
  int PageActivationDelay = 0;
  /// Page groups in order of first appearance; the PC-variable group has PageNumber 0.
  QList<PageGroup> Pages;
  QMap<QString, QString> ContextHelp;
  /// [Constants] keys written before the first page line that are not page settings.
  QMap<QString, QString> Constants;
  OrderedMap<QString> Defines;
  QMap<QString, QString> PcVariableExpressions;

  // User-interface definitions.
  QList<MenuDef> Menus;
  QList<DialogDef> Dialogs;
  OrderedMap<TableDef> Tables;
  OrderedMap<CurveDef> Curves;
  OrderedMap<ScalarDef> Scalars;
  QList<IndicatorPanelDef> IndicatorPanels;
  QList<ReadoutPanelDef> ReadoutPanels;
  QList<LiveGraphDef> LiveGraphs;
  QStringList GaugeDialogs;
  PortEditorDef PortEditor;
  QList<DisplayOnlyFieldDef> DisplayOnlyFields;
  OrderedMap<GaugeDef> Gauges;
  FrontPageDef FrontPage;

  // Controller commands.
  QMap<QString, QString> Commands;
  /// [ControllerCommands] keys without the "cmd_" prefix (displayCommand aside), such as
  /// Speeduino's "cmdtestinj1on": commands the agent can send, kept apart from Commands so that
  /// the canonical JSON stays the literal map. Not rendered.
  QMap<QString, QString> OtherCommands;
  QStringList DisplayCommands;

  // Output channels.
  QMap<QString, QString> ExpressionDefinitions;
  QString OchGetCommand;
  int OchBlockSize = 0;
  std::optional<QString> ScatteredOffsetArray;
  std::optional<QString> ScatteredOchGetCommand;
  std::optional<QString> ScatteredGetEnabled;
  OrderedMap<ConstantDef> OutputChannels;
  std::optional<OrderedMap<ConstantDef>> ReplayChannels;
  QList<DatalogEntry> DatalogEntries;

  // Loggers, tools and the remaining controller records.
  QList<TriggeredPageRefresh> TriggeredPageRefreshes;
  QStringList RequiresPowerCycleFields;
  OrderedMap<ShortcutDef> UserShortcuts;
  VeAnalyzeDef VeAnalyze;
  WueAnalyzeDef WueAnalyze;
  OrderedMap<LoggerDef> LoggerDefinitions;
  OrderedMap<ReferenceTableDef> ReferenceTables;
  QList<KeyAction> KeyActions;
  QList<DatalogView> DatalogViews;
  QList<ConstantExtension> ConstantExtensions;
  QList<ToolDef> Tools;

  // Preprocessor symbols.
  OrderedMap<SettingGroup> SettingGroups;
  OrderedMap<SettingFlag> SettingFlags;

  /// Lines the reader left out because what they declare would take more memory than a
  /// definition may (see kMaxPageBytes and the limits beside it); one message per line, naming
  /// it. Not part of the canonical JSON.
  QStringList Refused;

  /// The page group with this number, or nullptr.
  const PageGroup* findPage(int pageNumber) const;
  /// The page group with this number, or nullptr.
  PageGroup* findPage(int pageNumber);
  /// PageSizes[pageNumber - 1], or 0 when the list has no such entry.
  int pageSize(int pageNumber) const;
  /// Records that line was left out for reason (see Refused).
  void refuse(const QString& line, const QString& reason);
  /// True when Endianness is "big" (ignoring case).
  bool isBigEndian() const;
  /// The first constant or PC variable of exactly this name (pages in order), or nullptr.
  const ConstantDef* findConstant(const QString& name) const;
  /// The page number holding the first constant of exactly this name, or -1.
  int pageOfConstant(const QString& name) const;
  /// The firmware-version request: VersionInfo, or the [MegaTune] versionInfo when that is empty.
  const QString& versionInfoCommand() const;
  /// The controller command of exactly this name: Commands first, then OtherCommands; nullptr
  /// when neither has it.
  const QString* findCommand(const QString& name) const;
  /// Every controller command the agent can send: OtherCommands overlaid with Commands.
  QMap<QString, QString> agentCommands() const;
};

/// The realtime-data command as bytes: a single "\xHH" byte, else one byte per character
/// ("?" for characters from 128 up); empty for an empty command.
QByteArray ochCommandBytes(const EcuDefinition& definition);

}  // namespace tk
