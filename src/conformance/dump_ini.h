#pragma once

#include <QString>

namespace tk::conformance {

/// Reads the definition without settings source and writes its canonical JSON, or the preset
/// subset "constants" or "ui-defs" when preset is not empty. Returns the exit code: 2 with
/// "ERROR: no such file: <path>" for a missing INI file or "ERROR: cannot read <path>" for one
/// that cannot be opened, else the writer's code. The preset must be a known name.
int dumpIni(const QString& iniPath, const QString& outPath, const QString& preset);

/// True for "constants" and "ui-defs".
bool isKnownIniPreset(const QString& preset);

}  // namespace tk::conformance
