#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <utility>

#include "json/json_value.h"

namespace tk::project {

/// A project's settings: (name, value) pairs in order.
using SettingsList = QList<std::pair<QString, QString>>;

/// The settings file's JSON tree: one member per pair, in list order.
JsonValue settingsToJson(const SettingsList& settings);
/// Every member of a parsed settings file whose value is a string (in the parser's key order).
SettingsList settingsFromJson(const QJsonObject& object);

/// Reads a settings file; throws ProjectError ("Cannot open settings file: <path>", "Failed to
/// parse settings file: ...").
SettingsList readSettingsFile(const QString& path);
/// Replaces a settings file atomically; throws ProjectError "Cannot write settings file: <path>".
void writeSettingsFile(const QString& path, const SettingsList& settings);

}  // namespace tk::project
