#pragma once

#include "cli/agent_runner.h"
#include "json/json_value.h"
#include "project/project_manager.h"

namespace tk::cli {

// Each edit's checks and stores on a loaded project; the command table wraps them with the
// loader and the save (withSavedEdit), which appends "saved": true to the data. All checks run
// before the first store, so an edit that throws has changed nothing.

/// set-scalar: stores one scalar value.
JsonValue setScalar(project::ProjectManager& manager, const CommandOptions& options);
/// set-field: stores one element of a constant.
JsonValue setField(project::ProjectManager& manager, const CommandOptions& options);
/// set-bits: stores a bit field's raw value.
JsonValue setBits(project::ProjectManager& manager, const CommandOptions& options);
/// set-table: stores a table's values from a JSON array of rows, row-major.
JsonValue setTable(project::ProjectManager& manager, const CommandOptions& options);
/// set-table-cell: stores one table cell.
JsonValue setTableCell(project::ProjectManager& manager, const CommandOptions& options);
/// set-curve: stores a curve's Y values from a JSON array.
JsonValue setCurve(project::ProjectManager& manager, const CommandOptions& options);
/// set-curve-point: stores one curve Y value.
JsonValue setCurvePoint(project::ProjectManager& manager, const CommandOptions& options);
/// save: names the project file; the wrapper's save writes the files again.
JsonValue save(project::ProjectManager& manager, const CommandOptions& options);

}  // namespace tk::cli
