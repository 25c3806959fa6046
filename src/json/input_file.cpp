#include "json/input_file.h"

#include <QFileInfo>

namespace tk {

std::optional<QString> inputFileProblem(const QString& path, qint64 maxBytes) {
  const QFileInfo info(path);
  if (!info.exists()) {
    return std::nullopt;
  }
  if (!info.isFile()) {
    return QStringLiteral("not a regular file");
  }
  if (info.size() > maxBytes) {
    return QStringLiteral("larger than %1 MiB").arg(maxBytes >> 20);
  }
  return std::nullopt;
}

}  // namespace tk
