#pragma once

#include <QByteArrayView>
#include <QString>

#include "formats/mlg_model.h"

namespace tk {

/// Decodes a whole MLG file held in memory. Throws MlgError "Unexpected end of MLG file" for
/// truncation and "Invalid MLG file format. Expected 'MLVLG', got '<text>'" for a wrong signature;
/// stray bytes between blocks are skipped and zero padding after the last record ends the log.
MlgLog parseMlg(QByteArrayView bytes);

/// Reads the file and decodes it with parseMlg; throws MlgError "Cannot open MLG file: <path>"
/// when it cannot be opened.
MlgLog readMlgFile(const QString& path);

}  // namespace tk
