#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "cli/command_context.h"
#include "definition/ecu_definition.h"
#include "json/json_value.h"
#include "project/project_manager.h"

namespace tk::cli {

/// The loaded definition; throws "INI not loaded" when there is none.
const EcuDefinition& requireDefinition(const project::ProjectManager& manager);
/// The loaded tune; throws "Tune not loaded" when there is none.
const Tune& requireTune(const project::ProjectManager& manager);

/// The project's logs folder ("logs" beside the project file), where datalog and the analyses'
/// --live recordings go and the dashboard looks for logs.
QString projectLogsFolder(const project::ProjectManager& manager);

/// A JSON array of doubles.
JsonValue numberArray(const QList<double>& values);

/// A decimal number text (white space around it ignored, "." as decimal point, exponent
/// allowed) as a double; nothing when the text is not a finite number.
std::optional<double> parseDecimal(const QString& text);

/// The keys of a definition's map of tables or curves, in its order (for a name hint).
template <typename Map>
QStringList idsOf(const Map& map) {
  QStringList ids;
  for (const auto& entry : map) {
    ids.append(entry.first);
  }
  return ids;
}

}  // namespace tk::cli
