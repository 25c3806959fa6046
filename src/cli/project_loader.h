#pragma once

#include <QString>
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

  /// Opens the project file at path (made absolute, native separators); for Change the
  /// project's lock is taken first. Throws "Project file not found: <absolute path>", the
  /// lock's errors or the project layer's errors.
  void load(const QString& path, ProjectAccess access = ProjectAccess::Read);

  /// The manager holding the loaded project.
  project::ProjectManager& manager() { return manager_; }
  /// The manager holding the loaded project.
  const project::ProjectManager& manager() const { return manager_; }

 private:
  bool maySaveUpgrade(const QString& tunePath);

  std::optional<ProjectLock> lock_;
  project::ProjectManager manager_;
};

/// path made absolute against the working directory, with native separators.
QString absoluteNativePath(const QString& path);

}  // namespace tk::cli
