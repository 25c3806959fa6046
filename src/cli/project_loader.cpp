#include "cli/project_loader.h"

#include <QDir>
#include <QFileInfo>

#include "cli/command_context.h"

namespace tk::cli {

QString absoluteNativePath(const QString& path) {
  return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

CliProjectLoader::CliProjectLoader() {
  manager_.setUpgradePromptCallback([](project::LegacyTuneUpgradePrompt& prompt) {
    prompt.accept = true;
    prompt.saveAfterUpgrade = true;
  });
}

void CliProjectLoader::load(const QString& path) {
  const QString absolute = absoluteNativePath(path);
  if (!QFileInfo(absolute).isFile()) {
    throw CommandError(QStringLiteral("Project file not found: ") + absolute);
  }
  manager_.openProject(absolute);
}

}  // namespace tk::cli
