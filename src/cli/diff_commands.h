#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// diff: compares the project's tune with the ECU's (--ecu), an MSQ file's (--msq) or another
/// project's (--project), element by element in the project's units.
JsonValue diff(CommandContext& context);

}  // namespace tk::cli
