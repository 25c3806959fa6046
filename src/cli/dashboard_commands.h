#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// dashboard: serves the live dashboard of the project on 127.0.0.1 (--port, 0 or absent: a
/// free one) until SIGINT or SIGTERM, with the gauges of --layout or of the definition; prints
/// one ready line with the address on standard error and reports it when stopped.
JsonValue dashboard(CommandContext& context);

}  // namespace tk::cli
