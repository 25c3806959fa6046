#include "project/settings_file.h"

#include "project/json_document_file.h"

namespace tk::project {
namespace {

constexpr QLatin1String kContext("settings file");

}  // namespace

JsonValue settingsToJson(const SettingsList& settings) {
  JsonValue o = JsonValue::object();
  for (const auto& [name, value] : settings) {
    o.insert(name, value);
  }
  return o;
}

SettingsList settingsFromJson(const QJsonObject& object) {
  SettingsList settings;
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (it.value().isString()) {
      settings.append({it.key(), it.value().toString()});
    }
  }
  return settings;
}

SettingsList readSettingsFile(const QString& path) {
  return settingsFromJson(readJsonDocumentFile(path, kContext));
}

void writeSettingsFile(const QString& path, const SettingsList& settings) {
  writeJsonDocumentFile(path, kContext, settingsToJson(settings));
}

}  // namespace tk::project
