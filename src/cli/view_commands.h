#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

// The inspection commands' handlers. All but create-project read the context's loaded project
// and change nothing; each returns the envelope's data and throws CommandError.

/// open-project: the project's summary (name, signature, counts, connection).
JsonValue openProject(CommandContext& context);
/// create-project: creates a project folder from a definition and reports the new project.
JsonValue createProject(CommandContext& context);
/// list-tables: the definition's tables sorted by title.
JsonValue listTables(CommandContext& context);
/// list-curves: the definition's curves sorted by title.
JsonValue listCurves(CommandContext& context);
/// list-scalars: the scalar constants sorted by title, with their tune values.
JsonValue listScalars(CommandContext& context);
/// list-fields: every constant in definition order, or those of the page option's page group.
JsonValue listFields(CommandContext& context);
/// list-channels: the output channels sorted by name.
JsonValue listChannels(CommandContext& context);
/// list-commands: the controller commands sorted by name.
JsonValue listCommands(CommandContext& context);
/// get-table: a table's axes and value grid in physical units.
JsonValue getTable(CommandContext& context);
/// get-curve: a curve's X and Y values in physical units.
JsonValue getCurve(CommandContext& context);
/// get-scalar: one tune value with its limits.
JsonValue getScalar(CommandContext& context);
/// get-field: one tune value with every member it holds.
JsonValue getField(CommandContext& context);

}  // namespace tk::cli
