#include "conformance/dump_project.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include "conformance/conformance_io.h"
#include "json/json_writer.h"
#include "project/project_file.h"
#include "project/settings_file.h"
#include "project/tune_file.h"

namespace tk::conformance {
namespace {

using project::ProjectFile;

template <typename T>
JsonValue orNull(const std::optional<T>& value) {
  return value ? JsonValue(*value) : JsonValue();
}

JsonValue projectJson(const ProjectFile& p) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("name"), p.name);
  o.insert(QStringLiteral("description"), p.description);
  // The file name only: the folder a project sits in is not part of its state.
  QString iniFile = p.iniFilePath;
  iniFile.replace(QLatin1Char('\\'), QLatin1Char('/'));
  o.insert(QStringLiteral("iniFileName"), iniFile.section(QLatin1Char('/'), -1));
  o.insert(QStringLiteral("createdAt"), p.createdAt);
  o.insert(QStringLiteral("lastModified"), p.lastModified);
  o.insert(QStringLiteral("workOffline"), p.workOffline);
  o.insert(QStringLiteral("autoHideProjectExplorer"), p.autoHideProjectExplorer);
  o.insert(QStringLiteral("tuneComments"), p.tuneComments);

  JsonValue connection = JsonValue::object();
  connection.insert(QStringLiteral("port"), p.connection.port);
  connection.insert(QStringLiteral("baudRate"), p.connection.baudRate);
  connection.insert(QStringLiteral("protocol"), p.connection.protocol);
  connection.insert(QStringLiteral("host"), p.connection.host);
  connection.insert(QStringLiteral("tcpPort"), p.connection.tcpPort);
  o.insert(QStringLiteral("connection"), std::move(connection));

  JsonValue display = JsonValue::object();
  display.insert(QStringLiteral("flipXy"), p.tableDisplay.flipXy);
  display.insert(QStringLiteral("invertX"), p.tableDisplay.invertX);
  display.insert(QStringLiteral("invertY"), p.tableDisplay.invertY);
  o.insert(QStringLiteral("tableDisplay"), std::move(display));

  o.insert(QStringLiteral("iniSettings"), project::iniSettingsToJson(p.iniSettings));

  if (p.lastOpenView) {
    JsonValue view = JsonValue::object();
    view.insert(QStringLiteral("viewType"), p.lastOpenView->viewType);
    view.insert(QStringLiteral("viewName"), p.lastOpenView->viewName);
    o.insert(QStringLiteral("lastOpenView"), std::move(view));
  } else {
    o.insert(QStringLiteral("lastOpenView"), JsonValue());
  }

  JsonValue overrides = JsonValue::array();
  for (const project::ShortcutOverride& s : p.shortcutOverrides) {
    JsonValue e = JsonValue::object();
    e.insert(QStringLiteral("id"), s.id);
    e.insert(QStringLiteral("key"), orNull(s.key));
    e.insert(QStringLiteral("modifiers"), orNull(s.modifiers));
    e.insert(QStringLiteral("isToggle"), orNull(s.isToggle));
    e.insert(QStringLiteral("isDisabled"), s.isDisabled);
    overrides.append(std::move(e));
  }
  o.insert(QStringLiteral("shortcutOverrides"), std::move(overrides));

  JsonValue custom = JsonValue::array();
  for (const project::CustomShortcut& s : p.customShortcuts) {
    custom.append(project::customShortcutToJson(s));
  }
  o.insert(QStringLiteral("customShortcuts"), std::move(custom));

  JsonValue math = JsonValue::array();
  for (const project::MathChannel& m : p.mathChannels) {
    math.append(project::mathChannelToJson(m));
  }
  o.insert(QStringLiteral("mathChannels"), std::move(math));
  return o;
}

JsonValue fieldJson(const TuneValue& v) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("name"), v.name);
  o.insert(QStringLiteral("units"), orNull(v.units));
  o.insert(QStringLiteral("digits"), v.digits);
  o.insert(QStringLiteral("scalarValue"),
           v.scalarValue ? numberOrNonFinite(*v.scalarValue) : JsonValue());
  if (v.arrayValues) {
    JsonValue values = JsonValue::array();
    for (const double x : *v.arrayValues) {
      values.append(numberOrNonFinite(x));
    }
    o.insert(QStringLiteral("arrayValues"), std::move(values));
  } else {
    o.insert(QStringLiteral("arrayValues"), JsonValue());
  }
  o.insert(QStringLiteral("rows"), orNull(v.rows));
  o.insert(QStringLiteral("cols"), orNull(v.cols));
  o.insert(QStringLiteral("stringValue"), orNull(v.stringValue));
  o.insert(QStringLiteral("enumValue"), orNull(v.enumValue));
  o.insert(QStringLiteral("bitsRawValue"), orNull(v.bitsRawValue));
  return o;
}

JsonValue tuneJson(const Tune& tune) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("signature"), tune.signature);
  o.insert(QStringLiteral("firmwareInfo"), orNull(tune.firmwareInfo));
  o.insert(QStringLiteral("nPages"), tune.nPages);
  o.insert(QStringLiteral("lastSaved"), tune.lastSaved);
  o.insert(QStringLiteral("writeTimestamp"), tune.writeTimestamp);
  o.insert(QStringLiteral("fieldCount"), static_cast<long long>(tune.fields.size()));
  JsonValue fields = JsonValue::object();
  for (const TuneValue& v : tune.fields) {
    fields.insert(v.name, fieldJson(v));
  }
  o.insert(QStringLiteral("fields"), std::move(fields));
  return o;
}

// Opens without asking and without writing anything back.
int openAndDump(const QString& projectPath, const QString& outPath) {
  project::ProjectManager manager;
  manager.setUpgradePromptCallback([](project::LegacyTuneUpgradePrompt& prompt) {
    prompt.accept = true;
    prompt.saveAfterUpgrade = false;
  });
  // A project that does not open fails in the command's guard: "ERROR: <reason>", exit 2.
  manager.openProject(projectPath);
  return writeJsonFile(projectStateJson(manager), outPath);
}

// The fixed legacy project: every member of the project file set to a recognisable value, a
// tune file holding only the raw pages, and two settings.
ProjectFile legacyFixtureProject(const QString& iniPath) {
  ProjectFile p;
  p.name = QStringLiteral("TestProject");
  p.description = QStringLiteral("WP-10 project fixture");
  p.iniFilePath = QFileInfo(iniPath).absoluteFilePath();
  p.createdAt = QStringLiteral("2026-01-01T00:00:00Z");
  p.lastModified = QStringLiteral("2026-01-02T00:00:00Z");
  p.connection.port = QStringLiteral("COM7");
  p.connection.baudRate = 230400;
  p.connection.protocol = QStringLiteral("Serial");
  p.connection.host = QStringLiteral("10.0.0.5");
  p.connection.tcpPort = 29002;
  p.connection.requestRateHz = 15;
  p.workOffline = true;
  p.tableDisplay = project::TableDisplay{true, false, true};
  p.autoHideProjectExplorer = true;
  p.tuneComments = QStringLiteral("Fixture comments & <specials>\nline two");
  p.lastOpenView = project::LastOpenView{QStringLiteral("Table"), QStringLiteral("veTable")};
  p.shortcutOverrides = {
      project::ShortcutOverride{QStringLiteral("toggleDashboard"), QStringLiteral("F5"),
                                QStringLiteral("Ctrl"), true, false},
      project::ShortcutOverride{QStringLiteral("burn"), std::nullopt, std::nullopt, std::nullopt,
                                true},
  };
  p.customShortcuts = {project::CustomShortcut{QStringLiteral("custom1"), QStringLiteral("Open VE"),
                                               QStringLiteral("V"), QStringLiteral("Alt"),
                                               QStringLiteral("veTable"), false}};
  project::MathChannel math;
  math.name = QStringLiteral("fixtureMath");
  math.units = QStringLiteral("kPa");
  math.expression = QStringLiteral("rpm / 100");
  math.digits = 1;
  math.addGauge = true;
  math.gaugeTitle = QStringLiteral("Fixture Gauge");
  math.gaugeMax = 200;
  math.gaugeLowCritical = 5;
  math.gaugeLowWarning = 10;
  math.gaugeHighWarning = 180;
  math.gaugeHighCritical = 190;
  math.logFieldName = QStringLiteral("Fixture Math");
  p.mathChannels = {math};
  return p;
}

}  // namespace

JsonValue projectStateJson(const project::ProjectManager& manager) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("project"),
           manager.project() ? projectJson(*manager.project()) : JsonValue());
  o.insert(QStringLiteral("projectSettings"), project::settingsToJson(manager.settings()));
  o.insert(QStringLiteral("tune"), manager.tune() ? tuneJson(*manager.tune()) : JsonValue());
  return o;
}

int dumpProject(const QString& projectPath, const QString& outPath) {
  if (const int code = requireInputFile(projectPath)) {
    return code;
  }
  return openAndDump(projectPath, outPath);
}

int dumpProjectLegacy(const QString& iniPath, const QString& imagePath, const QString& outPath) {
  if (const int code = requireInputFile(iniPath)) {
    return code;
  }
  QByteArray image;
  if (const int code = readInputFile(imagePath, image)) {
    return code;
  }
  const EcuDefinition definition = project::readProjectDefinition(iniPath, {});
  std::optional<PageImages> pages = sliceRawImage(definition, image);
  if (!pages) {
    return kFileErrorExit;
  }
  QTemporaryDir folder;
  if (!folder.isValid()) {
    printError(QStringLiteral("ERROR: cannot create temp dir"));
    return kFileErrorExit;
  }

  Tune legacy;
  legacy.signature = definition.Signature;
  legacy.nPages = definition.NPages;
  legacy.lastSaved = QStringLiteral("2026-01-02T00:00:00Z");
  legacy.writeTimestamp = QStringLiteral("2026-01-01T00:00:00Z");
  legacy.pages = std::move(*pages);
  const QString projectPath = folder.filePath(QStringLiteral("TestProject.tkproj"));
  // A write that fails ends in the command's guard: "ERROR: <reason>", exit 2.
  project::writeProjectFile(projectPath, legacyFixtureProject(iniPath));
  project::writeTuneFile(project::tunePathFor(projectPath), legacy);
  project::writeSettingsFile(project::settingsPathFor(projectPath),
                             {{QStringLiteral("lastTable"), QStringLiteral("veTable")},
                              {QStringLiteral("dashboardLayout"), QStringLiteral("default")}});
  return openAndDump(projectPath, outPath);
}

}  // namespace tk::conformance
