#include "cli/project_loader.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include "cli/command_error.h"
#include "project/json_document_file.h"
#include "project/tune_file.h"
#include "project/tune_reconcile.h"

namespace tk::cli {

QString absoluteNativePath(const QString& path) {
  return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

CliProjectLoader::CliProjectLoader() {
  manager_.setUpgradePromptCallback([this](project::LegacyTuneUpgradePrompt& prompt) {
    prompt.accept = true;
    prompt.saveAfterUpgrade = maySaveUpgrade(prompt.tunePath);
  });
}

void CliProjectLoader::load(const QString& path, ProjectAccess access) {
  QString absolute = absoluteNativePath(path);
  const QFileInfo info(absolute);
  if (!info.isFile()) {
    throw CommandError(QStringLiteral("Project file not found: ") + absolute);
  }
  // The files of a project lie beside its project file, not beside a link to it.
  if (info.isSymLink()) {
    absolute = QDir::toNativeSeparators(info.canonicalFilePath());
  }
  lock_.emplace(absolute);
  if (access == ProjectAccess::Change) {
    lock_->acquire();
  }
  // Looked at under the lock: no command of this project makes the file meanwhile.
  const QString tunePath = project::tunePathFor(absolute);
  tuneFileMissing_ = !QFileInfo::exists(tunePath);
  manager_.openProject(absolute);
  // A legacy tune upgraded on the way has been saved by now: a reading command holds the lock no
  // longer, or a long datalog would keep every edit of the project waiting.
  if (access == ProjectAccess::Read) {
    lock_.reset();
  }
  if (!tuneFileMissing_) {
    // The definition decides what each value is; the file's own account is only checked.
    const QJsonObject file = project::readJsonDocumentFile(tunePath, QStringLiteral("tune file"));
    warnings_ = project::reconcileTuneWithDefinition(
        manager_.editor(), file.value(QStringLiteral("fields")).toArray());
  }
}

// A reading command saves the upgrade only under the lock, and only when the tune file is still
// the legacy one it read: otherwise a command that saved in between would lose its edits. When
// the lock is busy (or cannot be made, in a read-only folder) the upgrade stays in memory; the
// next command that changes the project saves it.
bool CliProjectLoader::maySaveUpgrade(const QString& tunePath) {
  if (!lock_) {
    return false;
  }
  if (lock_->held()) {
    return true;
  }
  if (!lock_->tryAcquire()) {
    return false;
  }
  const Tune onDisk = project::readTuneFile(tunePath);
  return onDisk.pages.has_value() && onDisk.fields.isEmpty();
}

}  // namespace tk::cli
