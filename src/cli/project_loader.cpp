#include "cli/project_loader.h"

#include <QDir>
#include <QFileInfo>

#include "cli/command_context.h"
#include "project/tune_file.h"

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
  const QString absolute = absoluteNativePath(path);
  if (!QFileInfo(absolute).isFile()) {
    throw CommandError(QStringLiteral("Project file not found: ") + absolute);
  }
  lock_.emplace(absolute);
  if (access == ProjectAccess::Change) {
    lock_->acquire();
  }
  manager_.openProject(absolute);
}

// A reading command saves the upgrade only under the lock, and only when the tune file is still
// the legacy one it read: otherwise a command that saved in between would lose its edits. When
// the lock is busy (or cannot be made, in a read-only folder) the upgrade stays in memory; the
// next command that changes the project saves it.
bool CliProjectLoader::maySaveUpgrade(const QString& tunePath) {
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
