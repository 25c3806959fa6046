#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

#include "json/json_value.h"

namespace tk::project {

/// Reads the whole file at path and parses it as one JSON object. Throws ProjectError with
/// "Cannot open <context>: <path>", "Failed to parse <context>: <parser error>" or
/// "Failed to parse <context>: not a JSON object".
QJsonObject readJsonDocumentFile(const QString& path, const QString& context);

/// Replaces the file at path with the canonical text of value (no trailing line feed). The text
/// goes to a temporary file beside it that is renamed over it only once complete, so a failed
/// write leaves the old file as it was. Throws ProjectError "Cannot write <context>: <path>".
void writeJsonDocumentFile(const QString& path, const QString& context, const JsonValue& value);

/// Replaces the file at path (or the file a link there names) with bytes, atomically as above,
/// keeping its permissions; false when that failed. Temporary files that an interrupted earlier
/// replacement of the same file left beside it ("<name>.part-" and six letters or digits) are
/// removed first, so the caller must be the only one writing that file.
bool replaceFileAtomically(const QString& path, const QByteArray& bytes);

// Lenient member readers: a missing member or one of another JSON type gives the fallback.

/// The member's text, or fallback.
QString readString(const QJsonObject& object, const QString& key, const QString& fallback = {});
/// The member's text when it is a string, else nothing.
std::optional<QString> readOptionalString(const QJsonObject& object, const QString& key);
/// The member as a 32-bit integer when it is a whole number in range, else fallback.
int readInt(const QJsonObject& object, const QString& key, int fallback);
/// The member as a 32-bit integer when it is a whole number in range, else nothing.
std::optional<int> readOptionalInt(const QJsonObject& object, const QString& key);
/// The member's truth value, or fallback.
bool readBool(const QJsonObject& object, const QString& key, bool fallback);
/// The member's truth value when it is a boolean, else nothing.
std::optional<bool> readOptionalBool(const QJsonObject& object, const QString& key);
/// A number, or one of the strings "NaN", "Infinity", "-Infinity"; else nothing.
std::optional<double> toDoubleOrNonFinite(const QJsonValue& value);
/// The member as toDoubleOrNonFinite reads it, or fallback.
double readDouble(const QJsonObject& object, const QString& key, double fallback);

}  // namespace tk::project
