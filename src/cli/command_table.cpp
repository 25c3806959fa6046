#include "cli/agent_runner.h"
#include "cli/command_support.h"
#include "cli/edit_commands.h"
#include "cli/view_commands.h"

namespace tk::cli {

// One row per working command, in the documented table order. A command appears here only once
// its handler is complete.
std::span<const AgentCommand> agentCommands() {
  static const std::vector<AgentCommand> kCommands = {
      {"open-project", withLoadedProject<openProject>, {"project"}},
      {"create-project", createProjectCommand, {"name", "ini", "folder"}},
      {"list-tables", withLoadedProject<listTables>, {"project"}},
      {"list-curves", withLoadedProject<listCurves>, {"project"}},
      {"list-scalars", withLoadedProject<listScalars>, {"project"}},
      {"list-fields", withLoadedProject<listFields>, {"project"}},
      {"list-channels", withLoadedProject<listChannels>, {"project"}},
      {"list-commands", withLoadedProject<listCommands>, {"project"}},
      {"get-table", withLoadedProject<getTable>, {"project", "id"}},
      {"get-curve", withLoadedProject<getCurve>, {"project", "id"}},
      {"get-scalar", withLoadedProject<getScalar>, {"project", "name"}},
      {"get-field", withLoadedProject<getField>, {"project", "name"}},
      {"set-scalar", withSavedEdit<setScalar>, {"project", "name", "value"}},
      {"set-field", withSavedEdit<setField>, {"project", "name", "value"}},
      {"set-table", withSavedEdit<setTable>, {"project", "id", "values"}},
      {"set-table-cell", withSavedEdit<setTableCell>, {"project", "id", "row", "col", "value"}},
      {"set-curve", withSavedEdit<setCurve>, {"project", "id", "values"}},
      {"set-curve-point", withSavedEdit<setCurvePoint>, {"project", "id", "index", "value"}},
      {"set-bits", withSavedEdit<setBits>, {"project", "name", "value"}},
      {"save", withSavedEdit<save>, {"project"}},
  };
  return kCommands;
}

}  // namespace tk::cli
