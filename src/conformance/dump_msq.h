#pragma once

#include <QIODevice>
#include <QString>

#include "formats/msq_document.h"

namespace tk::conformance {

/// Writes the document as canonical JSON (serialize's layout) and a line feed to out, piece by
/// piece, without building a tree: a large tune's rendering is several times the file, a tree of
/// it many times more. One object: Signature, FileFormat, FirmwareInfo, PageCount, Author,
/// TuneComment, WriteDate, then Fields and PcVariables keyed by constant name in document order;
/// a name that occurs twice gives two members.
void writeMsqDocumentJson(const MsqDocument& document, QIODevice& out);

/// Reads the MSQ file and writes its rendering (writeMsqDocumentJson) to outPath; returns 0, or
/// prints an "ERROR: " line to standard error and returns 2 (missing, unreadable or malformed
/// input, unwritable output), writing no output file for input errors.
int dumpMsq(const QString& msqPath, const QString& outPath);

}  // namespace tk::conformance
