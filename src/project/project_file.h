#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

#include "definition/ini_parser.h"
#include "json/json_value.h"

namespace tk::project {

/// The empty timestamp of a project that was never created or saved.
inline constexpr char kEmptyProjectTimestamp[] = "0001-01-01T00:00:00";

/// How the tool reaches the controller.
struct ConnectionSettings {
  /// Serial port name.
  QString port;
  int baudRate = 115200;
  /// Connection type: "Serial", "TcpBridge", "Mock", ...
  QString protocol = QStringLiteral("Serial");
  /// TCP bridge host.
  QString host;
  int tcpPort = 29001;
  /// Realtime request rate; 0 means the default and is not written.
  int requestRateHz = 0;

  bool operator==(const ConnectionSettings&) const = default;
};

/// Table view preferences.
struct TableDisplay {
  bool flipXy = false;
  bool invertX = false;
  bool invertY = false;

  bool operator==(const TableDisplay&) const = default;
};

/// The preprocessor choices the definition is read with.
struct IniSettings {
  /// Flag name -> value.
  FlagOverrides flagOverrides;
  /// Setting group name -> selected option name.
  GroupSelections settingGroupSelections;

  bool operator==(const IniSettings&) const = default;
};

/// The view shown when the project was last closed.
struct LastOpenView {
  QString viewType;
  QString viewName;

  bool operator==(const LastOpenView&) const = default;
};

/// A changed binding of a built-in shortcut.
struct ShortcutOverride {
  QString id;
  std::optional<QString> key;
  std::optional<QString> modifiers;
  std::optional<bool> isToggle;
  bool isDisabled = false;

  bool operator==(const ShortcutOverride&) const = default;
};

/// A user-made shortcut.
struct CustomShortcut {
  QString id;
  QString name;
  QString key;
  QString modifiers;
  QString target;
  bool isToggle = false;

  bool operator==(const CustomShortcut&) const = default;
};

/// A channel computed on the PC from an expression over the controller's channels.
struct MathChannel {
  QString name;
  QString units;
  QString expression;
  int digits = 2;
  bool addGauge = false;
  QString gaugeTitle;
  QString gaugeCategory = QStringLiteral("Math Channels");
  double gaugeMin = 0;
  double gaugeMax = 100;
  double gaugeLowCritical = 0;
  double gaugeLowWarning = 0;
  double gaugeHighWarning = 100;
  double gaugeHighCritical = 100;
  int gaugeDecimalPlaces = 1;
  bool addDatalogField = true;
  QString logFieldName;
  QString logValueFormat = QStringLiteral("float");
  int logDecimalPlaces = 2;
  QString logEnabledExpression;
  QString logRecordLag;

  /// Compares every member; NaN limits compare unequal as numbers do.
  bool operator==(const MathChannel&) const = default;
};

/// The project file (.tkproj); members in file order, defaults as the reader applies them.
struct ProjectFile {
  QString name = QStringLiteral("New Project");
  QString description;
  QString iniFilePath;
  QString createdAt = QLatin1String(kEmptyProjectTimestamp);
  QString lastModified = QLatin1String(kEmptyProjectTimestamp);
  ConnectionSettings connection;
  bool workOffline = false;
  TableDisplay tableDisplay;
  IniSettings iniSettings;
  bool autoHideProjectExplorer = false;
  QString tuneComments;
  std::optional<LastOpenView> lastOpenView;
  QList<ShortcutOverride> shortcutOverrides;
  QList<CustomShortcut> customShortcuts;
  QList<MathChannel> mathChannels;

  bool operator==(const ProjectFile&) const = default;
};

/// Flag overrides and setting-group selections as the project file writes them.
JsonValue iniSettingsToJson(const IniSettings& settings);
/// One custom shortcut as the project file writes it.
JsonValue customShortcutToJson(const CustomShortcut& shortcut);
/// One math channel as the project file writes it (non-finite limits as strings).
JsonValue mathChannelToJson(const MathChannel& m);

/// The file's JSON tree: members in file order, optional ones only when set, non-finite
/// doubles as "NaN", "Infinity", "-Infinity".
JsonValue projectFileToJson(const ProjectFile& project);
/// The project held by a parsed file; missing members and members of another type take the
/// defaults. Qt's parser hands object members back sorted by key, so flag overrides and group
/// selections come back in key order.
ProjectFile projectFileFromJson(const QJsonObject& object);

/// Reads a project file; throws ProjectError ("Cannot open project file: <path>", "Failed to
/// parse project file: ...").
ProjectFile readProjectFile(const QString& path);
/// Replaces a project file atomically; throws ProjectError "Cannot write project file: <path>".
void writeProjectFile(const QString& path, const ProjectFile& project);

/// Now, UTC, ISO-8601 with milliseconds ("2026-01-02T03:04:05.678Z").
QString currentTimestamp();

}  // namespace tk::project
