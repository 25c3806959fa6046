#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "json/json_value.h"
#include "tune/tune_value.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::conformance {

/// The first of the folders, or of their parents, that holds tests/data/tunefields.ini.
std::optional<QString> findRepositoryRoot(const QStringList& startFolders);

/// The named trace vectors of command building and the tune transfer service against scripted
/// ECUs, for the definition and its page images, as {"vectors": [...]}.
JsonValue tuneCommsVectors(const EcuDefinition& definition, const PageImages& pages);

/// Reads tests/data/tunefields.ini and tests/data/tuneimg-synthetic.bin below the repository
/// root and writes tuneCommsVectors() to outPath; returns the exit code.
int dumpTuneComms(const QString& outPath);

}  // namespace tk::conformance
