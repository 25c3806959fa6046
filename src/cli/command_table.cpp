#include <algorithm>
#include <string_view>

#include "cli/agent_runner.h"
#include "cli/analyze_commands.h"
#include "cli/batch_commands.h"
#include "cli/dashboard_commands.h"
#include "cli/diff_commands.h"
#include "cli/ecu_commands.h"
#include "cli/edit_commands.h"
#include "cli/live_commands.h"
#include "cli/mcp_session.h"
#include "cli/msq_commands.h"
#include "cli/plot_commands.h"
#include "cli/setting_commands.h"
#include "cli/view_commands.h"

namespace tk::cli {
namespace {

constexpr Needs kNothing;
constexpr Needs kProject = Need::Project;
// An edit: the project loaded and locked, the tune saved after the store and then pushed to the
// ECU.
// import-msq may make the tune file that is missing; every other edit needs it.
constexpr Needs kImport = Need::Project | Need::ProjectLock | Need::SavedTune | Need::PushToEcu;
constexpr Needs kEdit = kImport | Need::TuneFile;
// A save without a push.
constexpr Needs kSave = Need::Project | Need::ProjectLock | Need::SavedTune | Need::TuneFile;
// A command that talks to the ECU: the project loaded and its link opened.
constexpr Needs kEcu = Need::Project | Need::EcuLink;
// burn writes the local tune to the ECU, so that tune must be the project's.
constexpr Needs kBurn = kEcu | Need::TuneFile;
// A command that changes the project file: loaded and locked like an edit.
constexpr Needs kChange = Need::Project | Need::ProjectLock;
// read-tune replaces the tune with the ECU's and saves it, so it holds the lock too.
constexpr Needs kEcuChange = kEcu | Need::ProjectLock;

// A command that saves must hold the project's lock from loading on, or a command running at
// the same time could save over its edits.
constexpr bool locksWhatItSaves(std::span<const AgentCommand> rows) {
  return std::all_of(rows.begin(), rows.end(), [](const AgentCommand& row) {
    return !row.needs.testFlag(Need::SavedTune) || row.needs.testFlag(Need::ProjectLock);
  });
}

// A command that saves or pushes the tune needs its file, unless it is the one that makes it.
constexpr bool needsTheTuneItSaves(std::span<const AgentCommand> rows) {
  return std::all_of(rows.begin(), rows.end(), [](const AgentCommand& row) {
    return !row.needs.testFlag(Need::SavedTune) || row.needs.testFlag(Need::TuneFile) ||
           std::string_view(row.name) == "import-msq";
  });
}

}  // namespace

// One row per working command, in the documented table order. A command appears here only once
// its handler is complete.
std::span<const AgentCommand> agentCommands() {
  static constexpr AgentCommand kCommands[] = {
      {"open-project", kProject, "project", openProject, "summarise the project"},
      {"create-project", kNothing, "name ini folder", createProject, "make a project folder"},
      {"list-tables", kProject, "project", listTables, "list the tables by title"},
      {"list-curves", kProject, "project", listCurves, "list the curves by title"},
      {"list-scalars", kProject, "project", listScalars, "list the scalars with their values"},
      {"list-fields", kProject, "project", listFields, "list the constants, or one page's"},
      {"list-channels", kProject, "project", listChannels, "list the output channels"},
      {"list-commands", kProject, "project", listCommands, "list the controller commands"},
      {"get-table", kProject, "project id", getTable, "show a table's axes and value grid"},
      {"get-curve", kProject, "project id", getCurve, "show a curve's axis and values"},
      {"get-scalar", kProject, "project name", getScalar, "show a value and its limits"},
      {"get-field", kProject, "project name", getField, "show a value with all it holds"},
      {"set-scalar", kEdit, "project name value", setScalar, "store a scalar"},
      {"set-field", kEdit, "project name value", setField, "store one element of a constant"},
      {"set-table", kEdit, "project id values", setTable, "store a table's grid from JSON rows"},
      {"set-table-cell", kEdit, "project id row col value", setTableCell, "store one table cell"},
      {"set-curve", kEdit, "project id values", setCurve, "store a curve's values from JSON"},
      {"set-curve-point", kEdit, "project id index value", setCurvePoint, "store one curve value"},
      {"set-bits", kEdit, "project name value", setBits, "store a bit field"},
      {"save", kSave, "project", save, "save the tune as it is"},
      {"import-msq", kImport, "project file", importMsq, "store an MSQ tune's values", "force"},
      {"export-msq", kProject, "project output", exportMsq, "write the tune as an MSQ file",
       "force"},
      {"connect", kEcu, "project", connect, "check the link and the ECU's signature"},
      {"sync", kEcu, "project", sync, "compare the ECU's tune with the local one"},
      {"burn", kBurn, "project", burn, "write and burn the local tune"},
      {"read-tune", kEcuChange, "project", readTune, "copy the ECU's tune into the project"},
      // Opens its own link once the command is known to exist.
      {"send-command", kProject, "project name", sendCommand, "send a controller command"},
      {"get-signature", kEcu, "project", getSignature, "show the ECU's signature"},
      {"get-firmware", kEcu, "project", getFirmware, "show the ECU's firmware version"},
      {"get-config-error", kEcu, "project", getConfigError, "show the ECU's config error"},
      {"send-console", kEcu, "project text", sendConsole, "send a line of console text"},
      // Both open their own link once the definition is known to hold what they need.
      {"datalog", kProject, "project duration output", datalog, "record live channels to MLG"},
      {"read-channels", kProject, "project", readChannels, "show live output channel values"},
      {"set-connection", kChange, "project", setConnection, "point the project at an ECU"},
      // An edit like the others; a dry run asks the runner to skip the save and labels nothing
      // to push, so the generic save-then-push frame serves both.
      {"apply-edits", kEdit, "project", applyEdits, "store checked edits as one unit", "dry-run"},
      // Beyond the reference command set.
      {"list-setting-groups", kProject, "project", listSettingGroups,
       "list the setting groups and their options"},
      // Re-expresses the tune in the new choice's units; its bytes stay, so nothing is pushed.
      {"set-setting-group", kEdit, "project group option", setSettingGroup,
       "choose a setting group's option"},
      // --project names the project to compare with; -p names this one.
      {"diff", kProject, "project", diff, "compare the tune with another, element by element",
       "ecu", "other-project"},
      // Beyond the reference command set: without --apply nothing is saved or pushed.
      {"ve-analyze", kEdit, "project", veAnalyze, "propose VE table corrections from logs",
       "apply"},
      {"wue-analyze", kEdit, "project", wueAnalyze, "propose warm-up curve corrections from logs",
       "apply"},
      // Serves until stopped; reads the project and its controller, changes neither.
      {"dashboard", kProject, "project", dashboard, "serve live gauges on a local web page"},
      // Loads the project itself when it draws one of its tables; a log needs none.
      {"plot", kNothing, "output", plot, "draw a log's channels or a table into PNG or SVG"},
      // Serves the rows above as tools until its input ends; it writes its own output.
      {"mcp", Need::OwnOutput, "project", mcp::serveMcp,
       "serve every command as a tool to an agent (MCP over stdin/stdout)"},
  };
  static_assert(locksWhatItSaves(kCommands));
  static_assert(needsTheTuneItSaves(kCommands));
  return kCommands;
}

}  // namespace tk::cli
