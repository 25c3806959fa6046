#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "cli/project_lock.h"
#include "project/project_manager.h"

namespace tk::cli {

/// What a command does with the project it loads.
enum class ProjectAccess {
  /// Reads only: no lock is waited for, since saves replace files whole.
  Read,
  /// May save: the project's lock is held from loading until the loader is released.
  Change,
};

/// Holds the project of one agent command. Commands run unattended, so a legacy tune found on
/// the way is upgraded and the upgraded files are saved without asking.
class CliProjectLoader {
 public:
  /// A loader whose manager answers the legacy-upgrade prompt with yes and save.
  CliProjectLoader();
  CliProjectLoader(const CliProjectLoader&) = delete;
  CliProjectLoader& operator=(const CliProjectLoader&) = delete;

  /// Opens the project file at path (made absolute, native separators; a symbolic link is
  /// followed to its target, beside which the tune, definition and lock are); for Change the
  /// project's lock is taken first. The tune file's entries are brought to the definition's
  /// terms (see reconcileTuneWithDefinition; warnings() says what changed). Throws "Project file
  /// not found: <absolute path>", the lock's errors or the project layer's errors.
  void load(const QString& path, ProjectAccess access = ProjectAccess::Read);

  /// Whether the project had no tune file when it was loaded (its tune is a new one).
  bool tuneFileMissing() const { return tuneFileMissing_; }
  /// What loading changed to bring the tune file's entries to the definition's terms, one text
  /// per field.
  const QStringList& warnings() const { return warnings_; }

  /// The manager holding the loaded project.
  project::ProjectManager& manager() { return manager_; }
  /// The manager holding the loaded project.
  const project::ProjectManager& manager() const { return manager_; }

 private:
  bool maySaveUpgrade(const QString& tunePath);

  std::optional<ProjectLock> lock_;
  bool tuneFileMissing_ = false;
  QStringList warnings_;
  project::ProjectManager manager_;
};

/// path made absolute against the working directory, with native separators.
QString absoluteNativePath(const QString& path);

}  // namespace tk::cli
