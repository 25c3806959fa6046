#pragma once

#include <QByteArrayView>
#include <QString>

#include "formats/mlg_model.h"

namespace tk {

/// Decodes a whole MLG file held in memory. Throws MlgError "Unexpected end of MLG file" for
/// truncation, "Invalid MLG file format. Expected 'MLVLG', got '<text>'" for a wrong signature and
/// "Invalid MLG file format. <n> fields do not fit a record length of <m> bytes" for a header
/// whose fields cannot describe a record; stray bytes between blocks are skipped and zero padding
/// after the last record ends the log. The log needs at most a small multiple of the file's size.
MlgLog parseMlg(QByteArrayView bytes);

/// Reads the file and decodes it with parseMlg; throws MlgError "Cannot open MLG file: <path>"
/// when it cannot be opened.
MlgLog readMlgFile(const QString& path);

}  // namespace tk
