#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "definition/ecu_definition.h"
#include "json/json_value.h"
#include "tune/tune_comparator.h"
#include "tune/tune_value.h"

namespace tk::conformance {

/// Fixed bibliography of dump-msq-export.
inline constexpr char kExportAuthor[] = "Torvik GOLDEN";
inline constexpr char kExportWriteDate[] = "Thu Jan 01 00:00:00 GMT+00:00 1970";
inline constexpr char kExportTuneComment[] = "Golden MSQ export & <check>\nsecond comment line";

/// The declared (not computed) output channels decoded from block as the realtime reader does:
/// channels with an empty data type or an offset outside the block are left out; a two- or
/// four-byte value that does not fit, and an unknown type, read the unsigned byte at the offset.
/// Values are (raw + Translate) x Scale, in definition order.
QList<std::pair<QString, double>> decodeOutputChannels(const EcuDefinition& definition,
                                                       const QByteArray& block);

/// The dump-tunefields document of a raw image already cut into pages: Signature, NPages, the
/// decoded Fields, the RebuiltPages encoded again from them, and the OutputChannels read from the
/// image head (OchBlockSize bytes when 0 < OchBlockSize < image length, else the whole image).
JsonValue tuneFieldsJson(const EcuDefinition& definition, const QByteArray& image,
                         const PageImages& pages);

/// The dump-tunediff document: count and the differences with every member of each entry.
JsonValue tuneDiffJson(const QList<TuneDiffEntry>& entries);

/// dump-tunefields: reads the definition and the raw image and writes tuneFieldsJson; returns 0,
/// or 2 after an "ERROR: " line (missing or unreadable input, image not matching the page sizes,
/// unwritable output).
int dumpTuneFields(const QString& iniPath, const QString& imagePath, const QString& outPath);

/// dump-msq-export: writes the MSQ document of the tune decoded from the raw image, with the
/// fixed bibliography above; exit codes as dumpTuneFields.
int dumpMsqExport(const QString& iniPath, const QString& imagePath, const QString& outPath);

/// dump-tunediff: compares the tunes decoded from image A (local) and image B (remote) and writes
/// tuneDiffJson; exit codes as dumpTuneFields.
int dumpTuneDiff(const QString& iniPath, const QString& imageAPath, const QString& imageBPath,
                 const QString& outPath);

}  // namespace tk::conformance
