#include "project/project_manager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>
#include <utility>

#include "definition/default_setting_groups.h"
#include "definition/ini_parser.h"
#include "project/json_document_file.h"
#include "project/math_channels.h"
#include "project/tune_file.h"
#include "tune/field_codec.h"

namespace tk::project {
namespace {

bool isFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

QString joinPath(const QString& folder, const QString& fileName) {
  return QDir::toNativeSeparators(QDir(folder).filePath(fileName));
}

int constantCount(const EcuDefinition& definition) {
  qsizetype count = 0;
  for (const PageGroup& group : definition.Pages) {
    count += group.Fields.size();
  }
  return static_cast<int>(count);
}

// The definition a project file names: the copy beside the project file first, so a project
// folder that was moved still opens; then the recorded path; then a file of the recorded name
// beside the project file. A folder of that name is not a definition.
QString chooseDefinition(ProjectFile& project, const QString& projectPath) {
  const QString folder = QFileInfo(projectPath).absolutePath();
  const QString copy = joinPath(folder, QLatin1String(kProjectIniFileName));
  if (isFile(copy)) {
    project.iniFilePath = copy;
    return copy;
  }
  if (isFile(project.iniFilePath)) {
    return project.iniFilePath;
  }
  // The recorded path may come from another platform: take its last part after either separator.
  QString fileName = project.iniFilePath;
  fileName.replace(QLatin1Char('\\'), QLatin1Char('/'));
  fileName = fileName.section(QLatin1Char('/'), -1);
  const QString beside = joinPath(folder, fileName);
  if (!fileName.isEmpty() && isFile(beside)) {
    return beside;
  }
  throw ProjectError(QStringLiteral("Referenced INI file not found: ") + project.iniFilePath);
}

// Copies the definition into the project folder through a temporary file, so an existing copy
// is either replaced whole or kept.
void copyDefinition(const QString& iniPath, const QString& destination) {
  const QFileInfo source(iniPath);
  const QFileInfo target(destination);
  if (target.exists() && source.canonicalFilePath() == target.canonicalFilePath()) {
    return;
  }
  QFile in(iniPath);
  if (!in.open(QIODevice::ReadOnly) || !replaceFileAtomically(destination, in.readAll())) {
    throw ProjectError(QStringLiteral("Cannot copy INI into project folder: ") + iniPath);
  }
}

// Removes, unless kept, those of the files that did not exist when it was made.
class NewFilesGuard {
 public:
  explicit NewFilesGuard(const QStringList& paths) {
    for (const QString& path : paths) {
      if (!QFileInfo::exists(path)) {
        fresh_.append(path);
      }
    }
  }
  ~NewFilesGuard() {
    for (const QString& path : std::as_const(fresh_)) {
      QFile::remove(path);
    }
  }
  NewFilesGuard(const NewFilesGuard&) = delete;
  NewFilesGuard& operator=(const NewFilesGuard&) = delete;
  void keep() { fresh_.clear(); }

 private:
  QStringList fresh_;
};

void writeProjectAndTune(const QString& projectPath, const ProjectFile& project, const Tune& tune) {
  writeProjectFile(projectPath, project);
  writeTuneFile(tunePathFor(projectPath), tune);
}

}  // namespace

QString replaceExtension(const QString& path, const QString& extension) {
  const qsizetype separator =
      std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot > separator ? path.left(dot) : path;
  return stem + QLatin1Char('.') + extension;
}

QString tunePathFor(const QString& projectPath) {
  return replaceExtension(projectPath, QStringLiteral("tktune"));
}

QString settingsPathFor(const QString& projectPath) {
  return replaceExtension(projectPath, QStringLiteral("tksettings"));
}

namespace {

struct KeptDefinition {
  QString path;
  qint64 size = 0;
  QDateTime modified;
  IniSettings settings;
  std::optional<EcuDefinition> definition;
};

std::optional<KeptDefinition>& keptDefinition() {
  static std::optional<KeptDefinition> kept;
  return kept;
}

EcuDefinition parseProjectDefinition(const QString& iniPath, const IniSettings& settings) {
  IniParser parser;
  parser.setSettingsSource(defaultSettingGroups());
  parser.setFlagOverrides(settings.flagOverrides);
  parser.setGroupSelections(settings.settingGroupSelections);
  return parser.parse(iniPath);
}

}  // namespace

void keepReadDefinitions(bool keep) {
  keptDefinition() = keep ? std::optional<KeptDefinition>(KeptDefinition{}) : std::nullopt;
}

EcuDefinition readProjectDefinition(const QString& iniPath, const IniSettings& settings) {
  std::optional<KeptDefinition>& kept = keptDefinition();
  if (!kept) {
    return parseProjectDefinition(iniPath, settings);
  }
  const QFileInfo file(iniPath);
  const qint64 size = file.size();
  const QDateTime modified = file.lastModified();
  if (kept->definition && kept->path == iniPath && kept->size == size &&
      kept->modified == modified && kept->settings == settings) {
    return *kept->definition;
  }
  EcuDefinition definition = parseProjectDefinition(iniPath, settings);
  *kept = {iniPath, size, modified, settings, definition};
  return definition;
}

void ProjectManager::createProject(const QString& name, const QString& iniPath,
                                   const QString& folder) {
  if (!isFile(iniPath)) {
    throw ProjectError(QStringLiteral("INI file not found: ") + iniPath);
  }
  QDir().mkpath(folder);
  const QString iniCopy = joinPath(folder, QLatin1String(kProjectIniFileName));
  const QString projectPath = joinPath(folder, name + QStringLiteral(".tkproj"));
  // A whole project or nothing: whatever this call made is removed again when it cannot finish
  // (no room, no memory), so that a new attempt does not find a project without a tune.
  NewFilesGuard made({projectPath, tunePathFor(projectPath), iniCopy});
  copyDefinition(iniPath, iniCopy);

  ProjectFile project;
  project.name = name;
  project.iniFilePath = iniCopy;
  EcuDefinition definition = readProjectDefinition(iniCopy, project.iniSettings);
  Tune tune = newTune(definition);
  registerMathChannels(definition, project.mathChannels);

  const QString now = currentTimestamp();
  project.createdAt = now;
  project.lastModified = now;
  tune.lastSaved = now;
  // Written before the new project replaces the loaded one, so a failed write changes nothing.
  writeProjectAndTune(projectPath, project, tune);
  made.keep();

  install(std::move(project), projectPath, std::move(definition), std::move(tune));
  settings_.clear();
  if (saved_) {
    saved_();
  }
  if (projectOpened_) {
    projectOpened_();
  }
}

void ProjectManager::openProject(const QString& projectPath) {
  if (!isFile(projectPath)) {
    throw ProjectError(QStringLiteral("Project file not found: ") + projectPath);
  }
  ProjectFile project = readProjectFile(projectPath);
  const QString iniPath = chooseDefinition(project, projectPath);
  EcuDefinition definition = readProjectDefinition(iniPath, project.iniSettings);

  const QString tunePath = tunePathFor(projectPath);
  Tune tune = QFileInfo::exists(tunePath) ? readTuneFile(tunePath) : newTune(definition);

  bool upgraded = false;
  bool saveAfterUpgrade = false;
  if (tune.pages && tune.fields.isEmpty()) {
    LegacyTuneUpgradePrompt prompt;
    prompt.pageCount = static_cast<int>(tune.pages->size());
    prompt.constantCount = constantCount(definition);
    prompt.tunePath = tunePath;
    if (upgradePrompt_) {
      upgradePrompt_(prompt);
    }
    if (!prompt.accept) {
      throw UpgradeCancelledError();
    }
    Tune decoded = decodePages(*tune.pages, definition);
    decoded.signature = tune.signature;
    decoded.firmwareInfo = tune.firmwareInfo;
    decoded.lastSaved = tune.lastSaved;
    decoded.writeTimestamp = tune.writeTimestamp;
    decoded.pages = std::move(tune.pages);
    tune = std::move(decoded);
    upgraded = true;
    saveAfterUpgrade = prompt.saveAfterUpgrade;
  }

  registerMathChannels(definition, project.mathChannels);
  const QString settingsPath = settingsPathFor(projectPath);
  SettingsList settings = isFile(settingsPath) ? readSettingsFile(settingsPath) : SettingsList();

  install(std::move(project), projectPath, std::move(definition), std::move(tune));
  settings_ = std::move(settings);
  if (projectOpened_) {
    projectOpened_();
  }
  if (upgraded && saveAfterUpgrade) {
    saveProject();
  }
}

void ProjectManager::saveProject() {
  if (!project_ || editor_.tune() == nullptr || projectPath_.isEmpty()) {
    return;
  }
  const QString now = currentTimestamp();
  project_->lastModified = now;
  // A copy carries the new save time to the file; the loaded tune (and its name index) is only
  // touched once both files are written.
  Tune saved = *editor_.tune();
  saved.lastSaved = now;
  writeProjectAndTune(projectPath_, *project_, saved);
  editor_.mutableTune()->lastSaved = now;
  editor_.clearModified();
  if (saved_) {
    saved_();
  }
}

void ProjectManager::setConnection(const QString& port, int baudRate, const QString& protocol,
                                   const QString& host, int tcpPort) {
  if (!project_) {
    return;
  }
  ConnectionSettings& c = project_->connection;
  c.port = port;
  c.baudRate = baudRate;
  c.protocol = protocol;
  c.host = host;
  c.tcpPort = tcpPort;
  saveProject();
}

void ProjectManager::setWorkOffline(bool offline) {
  if (!project_) {
    return;
  }
  project_->workOffline = offline;
  saveProject();
}

void ProjectManager::saveSettings() {
  if (projectPath_.isEmpty()) {
    return;
  }
  try {
    writeSettingsFile(settingsPath(), settings_);
  } catch (const ProjectError&) {  // NOLINT(bugprone-empty-catch): ignored on purpose
    // Settings are preferences: losing a write of them must not fail the operation that asked.
  }
}

void ProjectManager::loadSettings() {
  const QString path = settingsPath();
  if (isFile(path)) {
    settings_ = readSettingsFile(path);
  }
}

QString ProjectManager::tunePath() const {
  return projectPath_.isEmpty() ? QString() : tunePathFor(projectPath_);
}

QString ProjectManager::settingsPath() const {
  return projectPath_.isEmpty() ? QString() : settingsPathFor(projectPath_);
}

void ProjectManager::setProjectOpenedObserver(ProjectObserver observer) {
  projectOpened_ = std::move(observer);
}

void ProjectManager::setSavedObserver(ProjectObserver observer) { saved_ = std::move(observer); }

void ProjectManager::setUpgradePromptCallback(UpgradePromptCallback callback) {
  upgradePrompt_ = std::move(callback);
}

void ProjectManager::install(ProjectFile project, QString projectPath, EcuDefinition definition,
                             Tune tune) {
  project_ = std::move(project);
  projectPath_ = std::move(projectPath);
  editor_.load(std::move(definition), std::move(tune));
  editor_.clearModified();
}

}  // namespace tk::project
