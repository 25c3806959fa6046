#pragma once

#include <QByteArray>
#include <QString>

#include "formats/msq_document.h"

namespace tk {

/// Reads a whole MSQ file. Throws MsqError "MSQ: cannot open file: <path>" when it cannot be
/// read, and the errors of parseMsq.
MsqDocument readMsq(const QString& path);

/// Reads MSQ bytes (encoding as decodeMsqBytes decides). Version info and bibliography come from
/// the first elements of those local names; constants and PC variables from the direct children
/// of the page elements in the MSQ namespace, or of those without a namespace when there are
/// none. Throws MsqError for an unsupported encoding and "MSQ: XML parse error: <text>" for
/// malformed XML, entity expansion beyond the parser's limit included, and for a document whose
/// entity references or attribute defaults make it stand for more than twice its length plus
/// 64 Ki characters.
MsqDocument parseMsq(const QByteArray& bytes);
/// parseMsq that lets the bytes go once they are decoded (a large file is then never held as
/// bytes, text and parsed values at once).
MsqDocument parseMsq(QByteArray&& bytes);

}  // namespace tk
