#include "project/project_file.h"

#include <QDateTime>
#include <QJsonArray>

#include "json/json_writer.h"
#include "project/json_document_file.h"

namespace tk::project {
namespace {

constexpr QLatin1String kContext("project file");

JsonValue connectionToJson(const ConnectionSettings& c) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("port"), c.port);
  o.insert(QStringLiteral("baudRate"), c.baudRate);
  o.insert(QStringLiteral("protocol"), c.protocol);
  o.insert(QStringLiteral("host"), c.host);
  o.insert(QStringLiteral("tcpPort"), c.tcpPort);
  if (c.requestRateHz != 0) {
    o.insert(QStringLiteral("requestRateHz"), c.requestRateHz);
  }
  return o;
}

JsonValue shortcutOverrideToJson(const ShortcutOverride& s) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("id"), s.id);
  if (s.key) {
    o.insert(QStringLiteral("key"), *s.key);
  }
  if (s.modifiers) {
    o.insert(QStringLiteral("modifiers"), *s.modifiers);
  }
  if (s.isToggle) {
    o.insert(QStringLiteral("isToggle"), *s.isToggle);
  }
  o.insert(QStringLiteral("isDisabled"), s.isDisabled);
  return o;
}

ConnectionSettings connectionFromJson(const QJsonObject& o) {
  ConnectionSettings c;
  c.port = readString(o, QStringLiteral("port"), c.port);
  c.baudRate = readInt(o, QStringLiteral("baudRate"), c.baudRate);
  c.protocol = readString(o, QStringLiteral("protocol"), c.protocol);
  c.host = readString(o, QStringLiteral("host"), c.host);
  c.tcpPort = readInt(o, QStringLiteral("tcpPort"), c.tcpPort);
  c.requestRateHz = readInt(o, QStringLiteral("requestRateHz"), c.requestRateHz);
  return c;
}

IniSettings iniSettingsFromJson(const QJsonObject& o) {
  IniSettings s;
  const QJsonObject flags = o.value(QStringLiteral("flagOverrides")).toObject();
  for (auto it = flags.begin(); it != flags.end(); ++it) {
    if (it.value().isBool()) {
      s.flagOverrides.append({it.key(), it.value().toBool()});
    }
  }
  const QJsonObject groups = o.value(QStringLiteral("settingGroupSelections")).toObject();
  for (auto it = groups.begin(); it != groups.end(); ++it) {
    if (it.value().isString()) {
      s.settingGroupSelections.append({it.key(), it.value().toString()});
    }
  }
  return s;
}

ShortcutOverride shortcutOverrideFromJson(const QJsonObject& o) {
  ShortcutOverride s;
  s.id = readString(o, QStringLiteral("id"));
  s.key = readOptionalString(o, QStringLiteral("key"));
  s.modifiers = readOptionalString(o, QStringLiteral("modifiers"));
  s.isToggle = readOptionalBool(o, QStringLiteral("isToggle"));
  s.isDisabled = readBool(o, QStringLiteral("isDisabled"), false);
  return s;
}

CustomShortcut customShortcutFromJson(const QJsonObject& o) {
  CustomShortcut s;
  s.id = readString(o, QStringLiteral("id"));
  s.name = readString(o, QStringLiteral("name"));
  s.key = readString(o, QStringLiteral("key"));
  s.modifiers = readString(o, QStringLiteral("modifiers"));
  s.target = readString(o, QStringLiteral("target"));
  s.isToggle = readBool(o, QStringLiteral("isToggle"), false);
  return s;
}

MathChannel mathChannelFromJson(const QJsonObject& o) {
  MathChannel m;
  m.name = readString(o, QStringLiteral("name"));
  m.units = readString(o, QStringLiteral("units"));
  m.expression = readString(o, QStringLiteral("expression"));
  m.digits = readInt(o, QStringLiteral("digits"), m.digits);
  m.addGauge = readBool(o, QStringLiteral("addGauge"), m.addGauge);
  m.gaugeTitle = readString(o, QStringLiteral("gaugeTitle"));
  m.gaugeCategory = readString(o, QStringLiteral("gaugeCategory"), m.gaugeCategory);
  m.gaugeMin = readDouble(o, QStringLiteral("gaugeMin"), m.gaugeMin);
  m.gaugeMax = readDouble(o, QStringLiteral("gaugeMax"), m.gaugeMax);
  m.gaugeLowCritical = readDouble(o, QStringLiteral("gaugeLowCritical"), m.gaugeLowCritical);
  m.gaugeLowWarning = readDouble(o, QStringLiteral("gaugeLowWarning"), m.gaugeLowWarning);
  m.gaugeHighWarning = readDouble(o, QStringLiteral("gaugeHighWarning"), m.gaugeHighWarning);
  m.gaugeHighCritical = readDouble(o, QStringLiteral("gaugeHighCritical"), m.gaugeHighCritical);
  m.gaugeDecimalPlaces = readInt(o, QStringLiteral("gaugeDecimalPlaces"), m.gaugeDecimalPlaces);
  m.addDatalogField = readBool(o, QStringLiteral("addDatalogField"), m.addDatalogField);
  m.logFieldName = readString(o, QStringLiteral("logFieldName"));
  m.logValueFormat = readString(o, QStringLiteral("logValueFormat"), m.logValueFormat);
  m.logDecimalPlaces = readInt(o, QStringLiteral("logDecimalPlaces"), m.logDecimalPlaces);
  m.logEnabledExpression = readString(o, QStringLiteral("logEnabledExpression"));
  m.logRecordLag = readString(o, QStringLiteral("logRecordLag"));
  return m;
}

// Elements of an array member that are objects, in order; anything else is skipped.
template <typename T, typename F>
QList<T> objectList(const QJsonObject& o, const QString& key, F fromJson) {
  QList<T> list;
  const QJsonArray array = o.value(key).toArray();
  for (const QJsonValue& element : array) {
    if (element.isObject()) {
      list.append(fromJson(element.toObject()));
    }
  }
  return list;
}

}  // namespace

JsonValue iniSettingsToJson(const IniSettings& s) {
  JsonValue flags = JsonValue::object();
  for (const auto& [name, value] : s.flagOverrides) {
    flags.insert(name, value);
  }
  JsonValue groups = JsonValue::object();
  for (const auto& [group, option] : s.settingGroupSelections) {
    groups.insert(group, option);
  }
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("flagOverrides"), std::move(flags));
  o.insert(QStringLiteral("settingGroupSelections"), std::move(groups));
  return o;
}

JsonValue customShortcutToJson(const CustomShortcut& s) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("id"), s.id);
  o.insert(QStringLiteral("name"), s.name);
  o.insert(QStringLiteral("key"), s.key);
  o.insert(QStringLiteral("modifiers"), s.modifiers);
  o.insert(QStringLiteral("target"), s.target);
  o.insert(QStringLiteral("isToggle"), s.isToggle);
  return o;
}

JsonValue mathChannelToJson(const MathChannel& m) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("name"), m.name);
  o.insert(QStringLiteral("units"), m.units);
  o.insert(QStringLiteral("expression"), m.expression);
  o.insert(QStringLiteral("digits"), m.digits);
  o.insert(QStringLiteral("addGauge"), m.addGauge);
  o.insert(QStringLiteral("gaugeTitle"), m.gaugeTitle);
  o.insert(QStringLiteral("gaugeCategory"), m.gaugeCategory);
  o.insert(QStringLiteral("gaugeMin"), numberOrNonFinite(m.gaugeMin));
  o.insert(QStringLiteral("gaugeMax"), numberOrNonFinite(m.gaugeMax));
  o.insert(QStringLiteral("gaugeLowCritical"), numberOrNonFinite(m.gaugeLowCritical));
  o.insert(QStringLiteral("gaugeLowWarning"), numberOrNonFinite(m.gaugeLowWarning));
  o.insert(QStringLiteral("gaugeHighWarning"), numberOrNonFinite(m.gaugeHighWarning));
  o.insert(QStringLiteral("gaugeHighCritical"), numberOrNonFinite(m.gaugeHighCritical));
  o.insert(QStringLiteral("gaugeDecimalPlaces"), m.gaugeDecimalPlaces);
  o.insert(QStringLiteral("addDatalogField"), m.addDatalogField);
  o.insert(QStringLiteral("logFieldName"), m.logFieldName);
  o.insert(QStringLiteral("logValueFormat"), m.logValueFormat);
  o.insert(QStringLiteral("logDecimalPlaces"), m.logDecimalPlaces);
  o.insert(QStringLiteral("logEnabledExpression"), m.logEnabledExpression);
  o.insert(QStringLiteral("logRecordLag"), m.logRecordLag);
  return o;
}

JsonValue projectFileToJson(const ProjectFile& p) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("name"), p.name);
  o.insert(QStringLiteral("description"), p.description);
  o.insert(QStringLiteral("iniFilePath"), p.iniFilePath);
  o.insert(QStringLiteral("createdAt"), p.createdAt);
  o.insert(QStringLiteral("lastModified"), p.lastModified);
  o.insert(QStringLiteral("connection"), connectionToJson(p.connection));
  o.insert(QStringLiteral("workOffline"), p.workOffline);
  JsonValue display = JsonValue::object();
  display.insert(QStringLiteral("flipXy"), p.tableDisplay.flipXy);
  display.insert(QStringLiteral("invertX"), p.tableDisplay.invertX);
  display.insert(QStringLiteral("invertY"), p.tableDisplay.invertY);
  o.insert(QStringLiteral("tableDisplay"), std::move(display));
  o.insert(QStringLiteral("iniSettings"), iniSettingsToJson(p.iniSettings));
  o.insert(QStringLiteral("autoHideProjectExplorer"), p.autoHideProjectExplorer);
  o.insert(QStringLiteral("tuneComments"), p.tuneComments);
  if (p.lastOpenView) {
    JsonValue view = JsonValue::object();
    view.insert(QStringLiteral("viewType"), p.lastOpenView->viewType);
    view.insert(QStringLiteral("viewName"), p.lastOpenView->viewName);
    o.insert(QStringLiteral("lastOpenView"), std::move(view));
  }
  JsonValue overrides = JsonValue::array();
  for (const ShortcutOverride& s : p.shortcutOverrides) {
    overrides.append(shortcutOverrideToJson(s));
  }
  o.insert(QStringLiteral("shortcutOverrides"), std::move(overrides));
  JsonValue custom = JsonValue::array();
  for (const CustomShortcut& s : p.customShortcuts) {
    custom.append(customShortcutToJson(s));
  }
  o.insert(QStringLiteral("customShortcuts"), std::move(custom));
  JsonValue math = JsonValue::array();
  for (const MathChannel& m : p.mathChannels) {
    math.append(mathChannelToJson(m));
  }
  o.insert(QStringLiteral("mathChannels"), std::move(math));
  return o;
}

ProjectFile projectFileFromJson(const QJsonObject& o) {
  ProjectFile p;
  p.name = readString(o, QStringLiteral("name"), p.name);
  p.description = readString(o, QStringLiteral("description"));
  p.iniFilePath = readString(o, QStringLiteral("iniFilePath"));
  p.createdAt = readString(o, QStringLiteral("createdAt"), p.createdAt);
  p.lastModified = readString(o, QStringLiteral("lastModified"), p.lastModified);
  p.connection = connectionFromJson(o.value(QStringLiteral("connection")).toObject());
  p.workOffline = readBool(o, QStringLiteral("workOffline"), false);
  const QJsonObject display = o.value(QStringLiteral("tableDisplay")).toObject();
  p.tableDisplay.flipXy = readBool(display, QStringLiteral("flipXy"), false);
  p.tableDisplay.invertX = readBool(display, QStringLiteral("invertX"), false);
  p.tableDisplay.invertY = readBool(display, QStringLiteral("invertY"), false);
  p.iniSettings = iniSettingsFromJson(o.value(QStringLiteral("iniSettings")).toObject());
  p.autoHideProjectExplorer = readBool(o, QStringLiteral("autoHideProjectExplorer"), false);
  p.tuneComments = readString(o, QStringLiteral("tuneComments"));
  const QJsonValue view = o.value(QStringLiteral("lastOpenView"));
  if (view.isObject()) {
    const QJsonObject v = view.toObject();
    p.lastOpenView = LastOpenView{readString(v, QStringLiteral("viewType")),
                                  readString(v, QStringLiteral("viewName"))};
  }
  p.shortcutOverrides = objectList<ShortcutOverride>(o, QStringLiteral("shortcutOverrides"),
                                                     shortcutOverrideFromJson);
  p.customShortcuts =
      objectList<CustomShortcut>(o, QStringLiteral("customShortcuts"), customShortcutFromJson);
  p.mathChannels = objectList<MathChannel>(o, QStringLiteral("mathChannels"), mathChannelFromJson);
  return p;
}

ProjectFile readProjectFile(const QString& path) {
  return projectFileFromJson(readJsonDocumentFile(path, kContext));
}

void writeProjectFile(const QString& path, const ProjectFile& project) {
  writeJsonDocumentFile(path, kContext, projectFileToJson(project));
}

QString currentTimestamp() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

}  // namespace tk::project
