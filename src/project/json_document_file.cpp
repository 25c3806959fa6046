#include "project/json_document_file.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "json/json_writer.h"
#include "project/project_error.h"

namespace tk::project {

QJsonObject readJsonDocumentFile(const QString& path, const QString& context) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw ProjectError(QStringLiteral("Cannot open %1: %2").arg(context, path));
  }
  const QByteArray bytes = file.readAll();
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError) {
    throw ProjectError(QStringLiteral("Failed to parse %1: %2").arg(context, error.errorString()));
  }
  if (!document.isObject()) {
    throw ProjectError(QStringLiteral("Failed to parse %1: not a JSON object").arg(context));
  }
  return document.object();
}

namespace {

// The temporary file of a replacement is named after the target: "<name>.part-" and six random
// letters or digits. A name this particular is never a user's own file, so one that a killed
// save left behind can be removed by the next save.
const QLatin1String kPartialTag(".part-");
constexpr qsizetype kRandomLength = 6;

bool isAsciiAlphanumeric(QChar c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

QString partialPath(const QString& path) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  QString result = path + kPartialTag;
  for (qsizetype i = 0; i < kRandomLength; ++i) {
    result +=
        QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(int{sizeof kAlphabet} - 1)]);
  }
  return result;
}

void removeLeftoverPartials(const QFileInfo& target) {
  const QString prefix = target.fileName() + kPartialTag;
  QDirIterator entries(target.absolutePath(), QDir::Files | QDir::Hidden | QDir::System);
  while (entries.hasNext()) {
    entries.next();
    const QString name = entries.fileName();
    if (name.size() == prefix.size() + kRandomLength && name.startsWith(prefix) &&
        std::all_of(name.begin() + prefix.size(), name.end(), isAsciiAlphanumeric)) {
      // One that another process is still writing is locked by it, and stays.
      QFile leftover(entries.filePath());
      if (leftover.open(QIODevice::ReadOnly) &&
          ::flock(leftover.handle(), LOCK_EX | LOCK_NB) == 0) {
        leftover.remove();
      }
    }
  }
}

}  // namespace

bool replaceFileAtomically(const QString& path, const QByteArray& bytes) {
  // A link is followed, so the file it names is replaced and the link stays.
  const QFileInfo link(path);
  const QFileInfo target(link.isSymLink() ? link.symLinkTarget() : path);
  // A file its owner made read-only stays as it is, although the folder would allow the rename.
  if (target.exists() && !target.isWritable()) {
    return false;
  }
  removeLeftoverPartials(target);

  // The bytes go to a new file beside the target, which is renamed over it only once complete
  // and on disk: any failure before the rename (no room, a write error, a kill) leaves the
  // previous file untouched. Unbuffered, so a short write (a full disk, a file-size limit) shows
  // in write()'s count.
  QFile partial;
  for (int attempt = 0; attempt < 16 && !partial.isOpen(); ++attempt) {
    partial.setFileName(partialPath(target.filePath()));
    if (!partial.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
      continue;
    }
    // Locked while it is written, so that another writer's cleanup leaves it alone; one removed
    // in the moment before the lock is given up for a new name.
    struct stat info {};
    if (::flock(partial.handle(), LOCK_EX) != 0 || ::fstat(partial.handle(), &info) != 0 ||
        info.st_nlink == 0) {
      partial.close();
    }
  }
  if (!partial.isOpen()) {
    return false;
  }
  bool ok = (!target.exists() || partial.setPermissions(target.permissions())) &&
            partial.write(bytes) == bytes.size() && ::fsync(partial.handle()) == 0;
  // Renamed while still open and locked.
  ok = ok && ::rename(QFile::encodeName(partial.fileName()).constData(),
                      QFile::encodeName(target.filePath()).constData()) == 0;
  partial.close();
  if (!ok) {
    partial.remove();
  }
  return ok;
}

void writeJsonDocumentFile(const QString& path, const QString& context, const JsonValue& value) {
  // Serialised first: a value that cannot be written leaves the file alone.
  const QByteArray text = serialize(value);
  if (!replaceFileAtomically(path, text)) {
    throw ProjectError(QStringLiteral("Cannot write %1: %2").arg(context, path));
  }
}

QString readString(const QJsonObject& object, const QString& key, const QString& fallback) {
  const QJsonValue value = object.value(key);
  return value.isString() ? value.toString() : fallback;
}

std::optional<QString> readOptionalString(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<int> readOptionalInt(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isDouble()) {
    return std::nullopt;
  }
  // toInt gives its fallback for fractions and out-of-range numbers; two fallbacks tell them
  // apart from a stored value.
  const int a = value.toInt(std::numeric_limits<int>::min());
  const int b = value.toInt(std::numeric_limits<int>::max());
  if (a != b) {
    return std::nullopt;
  }
  return a;
}

int readInt(const QJsonObject& object, const QString& key, int fallback) {
  return readOptionalInt(object, key).value_or(fallback);
}

std::optional<bool> readOptionalBool(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  return value.isBool() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

bool readBool(const QJsonObject& object, const QString& key, bool fallback) {
  return readOptionalBool(object, key).value_or(fallback);
}

std::optional<double> toDoubleOrNonFinite(const QJsonValue& value) {
  if (value.isDouble()) {
    return value.toDouble();
  }
  if (value.isString()) {
    const QString text = value.toString();
    if (text == QLatin1String("NaN")) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    if (text == QLatin1String("Infinity")) {
      return std::numeric_limits<double>::infinity();
    }
    if (text == QLatin1String("-Infinity")) {
      return -std::numeric_limits<double>::infinity();
    }
  }
  return std::nullopt;
}

double readDouble(const QJsonObject& object, const QString& key, double fallback) {
  return toDoubleOrNonFinite(object.value(key)).value_or(fallback);
}

}  // namespace tk::project
