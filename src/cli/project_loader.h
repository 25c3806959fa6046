#pragma once

#include <QString>

#include "project/project_manager.h"

namespace tk::cli {

/// Holds the project of one agent command. Commands run unattended, so a legacy tune found on
/// the way is upgraded and the upgraded files are saved without asking.
class CliProjectLoader {
 public:
  /// A loader whose manager answers the legacy-upgrade prompt with yes and save.
  CliProjectLoader();

  /// Opens the project file at path (made absolute, native separators). Throws
  /// "Project file not found: <absolute path>" or the project layer's errors.
  void load(const QString& path);

  /// The manager holding the loaded project.
  project::ProjectManager& manager() { return manager_; }
  /// The manager holding the loaded project.
  const project::ProjectManager& manager() const { return manager_; }

 private:
  project::ProjectManager manager_;
};

/// path made absolute against the working directory, with native separators.
QString absoluteNativePath(const QString& path);

}  // namespace tk::cli
