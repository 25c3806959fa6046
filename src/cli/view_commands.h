#pragma once

#include <optional>

#include "cli/agent_runner.h"
#include "json/json_value.h"
#include "project/project_manager.h"

namespace tk::cli {

// Each command's work on a loaded project; the command table wraps them with the loader
// (withLoadedProject). Every one returns the envelope's data and throws CommandError.

/// open-project: the project's summary (name, signature, counts, connection).
JsonValue openProject(const project::ProjectManager& manager, const CommandOptions& options);
/// list-tables: the definition's tables sorted by title.
JsonValue listTables(const project::ProjectManager& manager, const CommandOptions& options);
/// list-curves: the definition's curves sorted by title.
JsonValue listCurves(const project::ProjectManager& manager, const CommandOptions& options);
/// list-scalars: the scalar constants sorted by title, with their tune values.
JsonValue listScalars(const project::ProjectManager& manager, const CommandOptions& options);
/// list-fields: every constant in definition order, or those of the page option's page group.
JsonValue listFields(const project::ProjectManager& manager, const CommandOptions& options);
/// list-channels: the output channels sorted by name.
JsonValue listChannels(const project::ProjectManager& manager, const CommandOptions& options);
/// list-commands: the controller commands sorted by name.
JsonValue listCommands(const project::ProjectManager& manager, const CommandOptions& options);
/// get-table: a table's axes and value grid in physical units.
JsonValue getTable(const project::ProjectManager& manager, const CommandOptions& options);
/// get-curve: a curve's X and Y values in physical units.
JsonValue getCurve(const project::ProjectManager& manager, const CommandOptions& options);
/// get-scalar: one tune value with its limits.
JsonValue getScalar(const project::ProjectManager& manager, const CommandOptions& options);
/// get-field: one tune value with every member it holds.
JsonValue getField(const project::ProjectManager& manager, const CommandOptions& options);

/// create-project: creates a project folder from a definition and reports the new project.
std::optional<JsonValue> createProjectCommand(const CommandOptions& options);

}  // namespace tk::cli
