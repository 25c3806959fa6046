#pragma once

#include <QString>
#include <stdexcept>

namespace tk::project {

/// A failure of a project operation or of reading or writing a project, tune or settings file;
/// the message is the user-facing text.
class ProjectError : public std::runtime_error {
 public:
  /// An error carrying message.
  explicit ProjectError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// Raised when the legacy-tune upgrade of an opened project is refused.
class UpgradeCancelledError : public ProjectError {
 public:
  /// The error with its fixed message.
  UpgradeCancelledError()
      : ProjectError(QStringLiteral("Legacy tune upgrade was cancelled by user.")) {}
};

}  // namespace tk::project
