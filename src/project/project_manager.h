#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "definition/ecu_definition.h"
#include "project/project_error.h"
#include "project/project_file.h"
#include "project/settings_file.h"
#include "tune/batch_edits.h"
#include "tune/tune_editor.h"

namespace tk::project {

/// File name of the definition copy inside a project folder.
inline constexpr char kProjectIniFileName[] = "mainController.ini";

/// The question asked before a tune file holding only raw page images is turned into values.
struct LegacyTuneUpgradePrompt {
  /// Pages in the tune file.
  int pageCount = 0;
  /// Constants the definition declares (every page group).
  int constantCount = 0;
  /// The tune file being upgraded.
  QString tunePath;
  /// Go ahead with the upgrade; false makes the open fail with UpgradeCancelledError.
  bool accept = true;
  /// Save the project once the upgraded tune is loaded.
  bool saveAfterUpgrade = true;
};

/// path with its extension (the text after the last dot that follows the last slash or
/// backslash) replaced by extension (given without the dot), or extension appended.
QString replaceExtension(const QString& path, const QString& extension);
/// The tune file path of a project file.
QString tunePathFor(const QString& projectPath);
/// The settings file path of a project file.
QString settingsPathFor(const QString& projectPath);

/// Reads a definition the way projects do: the built-in default setting groups merged in, and
/// the project's flag overrides and group selections applied.
EcuDefinition readProjectDefinition(const QString& iniPath, const IniSettings& settings);
/// While keep is true, readProjectDefinition keeps the definition it read last and hands out a
/// copy of it while the same file, unchanged on disk (size and modification time), is read with
/// the same settings; a process serving many commands reads a definition once so.
void keepReadDefinitions(bool keep);

/// A project and the tune editor over its definition and tune: creates, opens and saves project
/// folders (project file, definition copy, tune file, settings file). Every file it writes
/// replaces the old one atomically. Failures throw ProjectError (UpgradeCancelledError for a
/// refused upgrade) and leave the previously loaded project in place.
class ProjectManager {
 public:
  /// Called after a project was created or opened, and after every save.
  using ProjectObserver = std::function<void()>;
  /// Asked before a legacy tune is upgraded; may clear the prompt's flags.
  using UpgradePromptCallback = std::function<void(LegacyTuneUpgradePrompt&)>;

  /// Copies the definition into folder as mainController.ini, reads it, makes a completed tune
  /// and writes <folder>/<name>.tkproj and its tune file.
  void createProject(const QString& name, const QString& iniPath, const QString& folder);
  /// Opens the project file at projectPath with its definition, tune and settings; a legacy
  /// tune is upgraded after the prompt.
  void openProject(const QString& projectPath);
  /// Stamps lastModified (and the tune's lastSaved) and writes the project file, then the tune
  /// file; does nothing unless a project, a tune and a project path are loaded.
  void saveProject();
  /// Stores the connection settings and saves.
  void setConnection(const QString& port, int baudRate, const QString& protocol,
                     const QString& host, int tcpPort);
  /// Stores the work-offline flag and saves.
  void setWorkOffline(bool offline);
  /// Writes the settings list to the settings file; a failure is ignored.
  void saveSettings();
  /// Replaces the settings list with the settings file's content when that file exists (a
  /// folder of that name is not one).
  void loadSettings();

  /// The loaded project, or nullptr.
  const ProjectFile* project() const { return project_ ? &*project_ : nullptr; }
  /// The loaded project for changes (saved with the next saveProject), or nullptr.
  ProjectFile* mutableProject() { return project_ ? &*project_ : nullptr; }
  /// Path of the loaded project file; empty when none.
  const QString& projectPath() const { return projectPath_; }
  /// Path of the loaded project's tune file; empty when none.
  QString tunePath() const;
  /// Path of the loaded project's settings file; empty when none.
  QString settingsPath() const;
  /// The project's settings, in order.
  const SettingsList& settings() const { return settings_; }
  /// Replaces the project's settings (written by saveSettings).
  void setSettings(SettingsList settings) { settings_ = std::move(settings); }

  // The tune editor; the most used of its calls are forwarded here.

  /// The editor of the loaded definition and tune (observers, effective attributes, flags).
  TuneEditor& editor() { return editor_; }
  /// The editor of the loaded definition and tune.
  const TuneEditor& editor() const { return editor_; }
  /// The loaded definition, or nullptr.
  const EcuDefinition* definition() const { return editor_.definition(); }
  /// The loaded tune, or nullptr.
  const Tune* tune() const { return editor_.tune(); }
  /// The loaded tune for changes, or nullptr; drops the name index and makes images stale.
  Tune* mutableTune() { return editor_.mutableTune(); }
  /// The constant named name, ignoring case.
  std::optional<FieldRef> findField(const QString& name) const { return editor_.findField(name); }
  /// The stored physical value; 0 when unknown or out of range.
  double getValue(const QString& name, int index = 0) const {
    return editor_.getValue(name, index);
  }
  /// Quantises and stores element index of the named constant (see TuneEditor::setValue).
  void setValue(const QString& name, int index, double value) {
    editor_.setValue(name, index, value);
  }
  /// Opens a deferred-edit run.
  void beginDeferredEdits() { editor_.beginDeferredEdits(); }
  /// Closes the run and reports the queued writes coalesced per page.
  void endDeferredEdits() { editor_.endDeferredEdits(); }
  /// The page images of the tune, rebuilt first when stale.
  PageImages pageImages() { return editor_.pageImages(); }
  /// True after a stored edit until the next save.
  bool isModified() const { return editor_.isModified(); }
  /// Applies a validated batch of edits as one unit (see tk::applyBatchEdits); an empty text on
  /// success, else the failure's message with nothing changed.
  QString applyBatchEdits(const QList<BatchEdit>& edits, bool commit,
                          QList<AppliedEdit>* applied = nullptr) {
    return tk::applyBatchEdits(editor_, edits, commit, applied);
  }

  /// Observer of created and opened projects.
  void setProjectOpenedObserver(ProjectObserver observer);
  /// Observer of saves.
  void setSavedObserver(ProjectObserver observer);
  /// The legacy-upgrade question; without one the upgrade goes ahead and is saved.
  void setUpgradePromptCallback(UpgradePromptCallback callback);

 private:
  void install(ProjectFile project, QString projectPath, EcuDefinition definition, Tune tune);

  TuneEditor editor_;
  std::optional<ProjectFile> project_;
  QString projectPath_;
  SettingsList settings_;
  ProjectObserver projectOpened_;
  ProjectObserver saved_;
  UpgradePromptCallback upgradePrompt_;
};

}  // namespace tk::project
