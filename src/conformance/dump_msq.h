#pragma once

#include <QIODevice>
#include <QString>

#include "formats/msq_document.h"
#include "json/json_value.h"

namespace tk::conformance {

/// The document as an object: Signature, FileFormat, FirmwareInfo, PageCount, Author,
/// TuneComment, WriteDate, then Fields and PcVariables keyed by constant name in document order; a
/// name that occurs twice gives two members.
JsonValue msqDocumentJson(const MsqDocument& document);

/// Writes serialize(msqDocumentJson(document)) and a line feed to out piece by piece, without
/// the tree: a large tune's rendering is several times the file, its tree many times more.
void writeMsqDocumentJson(const MsqDocument& document, QIODevice& out);

/// Reads the MSQ file and writes msqDocumentJson of it to outPath; returns 0, or prints an
/// "ERROR: " line to standard error and returns 2 (missing, unreadable or malformed input,
/// unwritable output), writing no output file for input errors.
int dumpMsq(const QString& msqPath, const QString& outPath);

}  // namespace tk::conformance
