#pragma once

#include <QFlags>
#include <QStringList>
#include <optional>
#include <span>

#include "cli/command_context.h"
#include "cli/console.h"
#include "json/json_value.h"

namespace tk::cli {

/// What the runner provides around a command's handler, one flag each.
enum class Need {
  /// The project named by the project option, loaded before the handler runs.
  Project = 0x1,
  /// With Project and ProjectLock: the tune saved after the handler, the data then ending with
  /// "saved": true (unless the handler asked for no save).
  SavedTune = 0x2,
  /// With Project: the project's lock held from loading to the end of the command, so that
  /// commands changing one project run one after another and none loses another's edits.
  ProjectLock = 0x4,
  /// With Project: the ECU link opened after loading, closed when the command ends.
  EcuLink = 0x8,
  /// With SavedTune: after the save, the edit the handler labelled is pushed to the project's
  /// ECU unless --offline is given; the push's lines go to standard error before the envelope.
  PushToEcu = 0x10,
  /// With Project: the project's tune file must exist. Without it the project opens with a new,
  /// all-default tune, which a save or a push would make the project's (and the controller's)
  /// tune; the command fails before its handler runs instead.
  TuneFile = 0x20,
  /// The handler writes its own output (a session serving many requests): the runner writes no
  /// envelope after it returns, and the exit code is 0.
  OwnOutput = 0x40,
};
Q_DECLARE_FLAGS(Needs, Need)
Q_DECLARE_OPERATORS_FOR_FLAGS(Needs)

/// A command's work: returns the envelope's data and throws on failure.
using CommandHandler = JsonValue (*)(CommandContext& context);

/// One row of the command table.
struct AgentCommand {
  /// The name on the command line, matched exactly.
  const char* name;
  /// What the runner provides around the handler.
  Needs needs;
  /// Names of the options that must be given, separated by blanks, checked in this order
  /// before anything else runs.
  const char* requiredOptions;
  CommandHandler handler;
  /// What the command does, in one line.
  const char* summary;
  /// Names of the options this command takes without a value, separated by blanks; a given one
  /// is stored with an empty text. Every other option but offline takes the next argument.
  const char* flags = "";
  /// The option that the long form --project fills: "project", as -p does, unless the command
  /// names a second project with it.
  const char* longProject = "project";
};

/// The tool's command table, in table order.
std::span<const AgentCommand> agentCommands();

/// What an agent command leaves for the process: its warning lines for standard error, then one
/// write to one stream, and the exit code.
struct CommandResult {
  Output output;
  int exitCode = 1;
  /// Lines for standard error, written before the output.
  QByteArray diagnostics;

  bool operator==(const CommandResult&) const = default;
};

/// Runs the command of table named by arguments[1] (arguments[0] is the program path) and
/// returns its envelope or argument error unwritten; no result when there is no such command.
/// Progress lines go to progressSink as the command gives them (see CommandContext), or without
/// one into the result's diagnostics.
std::optional<CommandResult> runCommand(const QStringList& arguments,
                                        std::span<const AgentCommand> table,
                                        const CommandContext::ProgressSink& progressSink = {});
/// Runs the tool's command named by arguments[1], writes its result and returns the exit code;
/// no result when there is no such command.
std::optional<int> runAgentCommand(const QStringList& arguments);

}  // namespace tk::cli
