#pragma once

#include <QString>

#include "json/json_value.h"

namespace tk::conformance {

/// The CRC-32 vector document.
JsonValue crc32Vectors();
/// The number, string and layout formatting vector document.
JsonValue jsonFormatVectors();

/// Writes crc32Vectors() to the path; returns the exit code.
int dumpCrc32(const QString& outPath);
/// Writes jsonFormatVectors() to the path; returns the exit code.
int dumpJsonFmt(const QString& outPath);

}  // namespace tk::conformance
