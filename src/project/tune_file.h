#pragma once

#include <QJsonObject>
#include <QString>

#include "json/json_value.h"
#include "tune/tune_value.h"

namespace tk::project {

/// The tune file's JSON tree: fields, signature, firmwareInfo (when set), nPages, lastSaved,
/// writeTimestamp and pages (Base64 per decimal page number, only when the tune carries raw page
/// images); each field object holds only the members its value has.
JsonValue tuneToJson(const Tune& tune);
/// The tune held by a parsed tune file; missing members take their defaults. Throws
/// ProjectError "Failed to parse tune file: non-numeric page key".
Tune tuneFromJson(const QJsonObject& object);

/// Reads a tune file; throws ProjectError ("Cannot open tune file: <path>", "Failed to parse
/// tune file: ...").
Tune readTuneFile(const QString& path);
/// Replaces a tune file atomically; throws ProjectError "Cannot write tune file: <path>".
void writeTuneFile(const QString& path, const Tune& tune);

}  // namespace tk::project
