#include "cli/agent_runner.h"
#include "cli/ecu_commands.h"
#include "cli/edit_commands.h"
#include "cli/view_commands.h"

namespace tk::cli {
namespace {

constexpr Needs kNothing;
constexpr Needs kProject = Need::Project;
// An edit: the project loaded, the tune saved after the store and then pushed to the ECU.
constexpr Needs kEdit = Need::Project | Need::SavedTune | Need::PushToEcu;
constexpr Needs kSave = Need::Project | Need::SavedTune;
// A command that talks to the ECU: the project loaded and its link opened.
constexpr Needs kEcu = Need::Project | Need::EcuLink;

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
      {"connect", kEcu, "project", connect, "check the link and the ECU's signature"},
      {"sync", kEcu, "project", sync, "compare the ECU's tune with the local one"},
      {"burn", kEcu, "project", burn, "write and burn the local tune"},
      {"read-tune", kEcu, "project", readTune, "copy the ECU's tune into the project"},
      // Opens its own link once the command is known to exist.
      {"send-command", kProject, "project name", sendCommand, "send a controller command"},
      {"get-signature", kEcu, "project", getSignature, "show the ECU's signature"},
      {"get-firmware", kEcu, "project", getFirmware, "show the ECU's firmware version"},
      {"get-config-error", kEcu, "project", getConfigError, "show the ECU's config error"},
      {"send-console", kEcu, "project text", sendConsole, "send a line of console text"},
      {"set-connection", kProject, "project", setConnection, "point the project at an ECU"},
  };
  return kCommands;
}

}  // namespace tk::cli
