#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "definition/ecu_definition.h"

namespace tk {

/// Caller-supplied values for setting flags: (flag name, value).
using FlagOverrides = QList<std::pair<QString, bool>>;
/// Caller-supplied selected options: (group name, option name).
using GroupSelections = QList<std::pair<QString, QString>>;

/// Reads ECU definition files. Lenient: it never fails or reports; bad input leaves defaults.
/// One parser may read many files; every read starts from a clean state.
class IniParser {
 public:
  /// Groups merged into the definition after the symbol pass; absent by default.
  void setSettingsSource(std::optional<QList<SettingGroup>> groups);
  /// Flag values that replace IsActive of existing flags.
  void setFlagOverrides(std::optional<FlagOverrides> overrides);
  /// Options that become SelectedOption of existing groups that have them.
  void setGroupSelections(std::optional<GroupSelections> selections);

  /// Reads the file and its includes; an unreadable file gives the default definition.
  EcuDefinition parse(const QString& path) const;
  /// Reads definition text given as bytes; includes resolve against baseDirectory (none when
  /// empty).
  EcuDefinition parseBytes(const QByteArray& bytes, const QString& baseDirectory) const;

 private:
  /// The three passes and the closing steps over the decoded lines of the top-level file.
  EcuDefinition read(const QStringList& lines, const QString& baseDirectory,
                     const QString& topKey) const;

  std::optional<QList<SettingGroup>> settingsSource_;
  std::optional<FlagOverrides> flagOverrides_;
  std::optional<GroupSelections> groupSelections_;
};

/// Options of parseIniFile.
struct IniParseOptions {
  /// Merge the built-in default setting groups (as the project layer does).
  bool useDefaultSettingGroups = false;
  std::optional<FlagOverrides> flagOverrides;
  std::optional<GroupSelections> groupSelections;
};

/// Reads a definition file with the given options.
EcuDefinition parseIniFile(const QString& path, const IniParseOptions& options = {});

}  // namespace tk
