#include "project/json_document_file.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
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

bool replaceFileAtomically(const QString& path, const QByteArray& bytes) {
  // QSaveFile writes beside the target and renames over it on commit; any failure before the
  // rename (no room, a write error, a kill) leaves the previous file untouched. Unbuffered, so
  // a short write (a full disk, a file-size limit) shows in write()'s count: through the write
  // buffer, Qt reports a flush that wrote only part of the bytes as success and commits the
  // truncated file.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    return false;
  }
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
  }
  return file.commit();
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
