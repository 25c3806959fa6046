#include "cli/command_support.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace tk::cli {

const EcuDefinition& requireDefinition(const project::ProjectManager& manager) {
  const EcuDefinition* definition = manager.definition();
  if (definition == nullptr) {
    throw CommandError(QStringLiteral("INI not loaded"));
  }
  return *definition;
}

const Tune& requireTune(const project::ProjectManager& manager) {
  const Tune* tune = manager.tune();
  if (tune == nullptr) {
    throw CommandError(QStringLiteral("Tune not loaded"));
  }
  return *tune;
}

QString projectLogsFolder(const project::ProjectManager& manager) {
  const QFileInfo project(manager.projectPath());
  const QString folder = project.isDir() ? project.absoluteFilePath() : project.absolutePath();
  return QDir(folder).filePath(QStringLiteral("logs"));
}

JsonValue numberArray(const QList<double>& values) {
  JsonValue array = JsonValue::array();
  array.elements().reserve(static_cast<std::size_t>(values.size()));
  for (const double x : values) {
    array.append(x);
  }
  return array;
}

std::optional<double> parseDecimal(const QString& text) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  // "nan", "inf" and overflowing texts are not numbers a user means to store.
  if (!ok || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace tk::cli
