#pragma once

#include <QByteArray>
#include <QString>

#include "formats/mlg_model.h"

namespace tk::conformance {

/// The CSV rendering of a log: header comment lines, then the [fields], [records] and [markers]
/// sections, every line ending in a line feed, text as UTF-8.
QByteArray mlgCsv(const MlgLog& log);

/// Reads the MLG file and writes mlgCsv of it to outPath in one piece; returns 0, or prints an
/// "ERROR: " line to standard error and returns 2 (missing, unreadable or malformed input,
/// unwritable output), leaving no output file behind for input errors.
int dumpMlg(const QString& mlgPath, const QString& outPath);

}  // namespace tk::conformance
