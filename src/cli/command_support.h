#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "cli/agent_runner.h"
#include "cli/project_loader.h"
#include "definition/ecu_definition.h"
#include "json/json_value.h"
#include "project/project_manager.h"

namespace tk::cli {

/// The loaded definition; throws "INI not loaded" when there is none.
const EcuDefinition& requireDefinition(const project::ProjectManager& manager);
/// The loaded tune; throws "Tune not loaded" when there is none.
const Tune& requireTune(const project::ProjectManager& manager);

/// A JSON array of doubles.
JsonValue numberArray(const QList<double>& values);

/// A decimal number text (white space around it ignored, "." as decimal point, exponent
/// allowed) as a double; 0 when the text is not a finite number.
double parseDecimal(const QString& text);

/// A command handler that loads the project option's project and runs Work on it.
template <JsonValue (*Work)(const project::ProjectManager&, const CommandOptions&)>
std::optional<JsonValue> withLoadedProject(const CommandOptions& options) {
  CliProjectLoader loader;
  loader.load(options.value(QStringLiteral("project")));
  return Work(loader.manager(), options);
}

/// A command handler that loads the project, runs the edit Work, saves the tune at once and
/// ends the data with "saved": true. A Work that throws stores nothing, and nothing is saved.
template <JsonValue (*Work)(project::ProjectManager&, const CommandOptions&)>
std::optional<JsonValue> withSavedEdit(const CommandOptions& options) {
  CliProjectLoader loader;
  loader.load(options.value(QStringLiteral("project")));
  JsonValue data = Work(loader.manager(), options);
  loader.manager().saveProject();
  data.insert(QStringLiteral("saved"), true);
  return data;
}

}  // namespace tk::cli
