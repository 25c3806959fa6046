#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

// The handlers of the commands that talk to the project's ECU. Except for send-command, whose
// checks come first, the runner opens the link after loading the project; it is closed when the
// command ends, on success and on failure alike.

/// connect: the link, the signature comparison and the firmware version.
JsonValue connect(CommandContext& context);
/// get-signature: the ECU's signature beside the definition's.
JsonValue getSignature(CommandContext& context);
/// get-firmware: the ECU's firmware version text.
JsonValue getFirmware(CommandContext& context);
/// get-config-error: the ECU's configuration-error text, if it reports one.
JsonValue getConfigError(CommandContext& context);
/// sync: the differences between the ECU's tune and the local one; refuses another signature.
JsonValue sync(CommandContext& context);
/// read-tune: the ECU's tune merged into the local one and saved.
JsonValue readTune(CommandContext& context);
/// burn: the local tune written and burned; refuses another signature.
JsonValue burn(CommandContext& context);
/// send-command: one of the definition's controller commands sent as a framed command.
JsonValue sendCommand(CommandContext& context);
/// send-console: a line of console text and the ECU's answer.
JsonValue sendConsole(CommandContext& context);
/// set-connection: changes the project's connection settings and saves the project.
JsonValue setConnection(CommandContext& context);

}  // namespace tk::cli
