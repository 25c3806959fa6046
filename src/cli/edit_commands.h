#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

// The edit commands' handlers: checks and stores on the context's loaded project, then label
// the edit. The runner saves the tune afterwards, ends the data with "saved": true and pushes
// the labelled edit to the project's ECU unless --offline is given. All checks run before the
// first store, so an edit that throws has changed nothing and nothing is saved.

/// set-scalar: stores one scalar value.
JsonValue setScalar(CommandContext& context);
/// set-field: stores one element of a constant.
JsonValue setField(CommandContext& context);
/// set-bits: stores a bit field's raw value.
JsonValue setBits(CommandContext& context);
/// set-table: stores a table's values from a JSON array of rows, row-major.
JsonValue setTable(CommandContext& context);
/// set-table-cell: stores one table cell.
JsonValue setTableCell(CommandContext& context);
/// set-curve: stores a curve's Y values from a JSON array.
JsonValue setCurve(CommandContext& context);
/// set-curve-point: stores one curve Y value.
JsonValue setCurvePoint(CommandContext& context);
/// save: names the project file; the runner's save writes the files again.
JsonValue save(CommandContext& context);

}  // namespace tk::cli
