#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

// Tunes in and out of a project as MSQ files, the format other tuning tools exchange.

/// import-msq: stores every value of the MSQ file that the project's definition knows through
/// the tune editor in one deferred-edit run (the runner then saves the tune). The file is read
/// and every entry checked before the first store: an unreadable, malformed or empty file, or a
/// signature other than the definition's without the force flag, throws and changes nothing.
JsonValue importMsq(CommandContext& context);
/// export-msq: writes the project's tune as an MSQ file, replacing the output atomically; throws
/// "Cannot write MSQ file: <path>" and leaves the output as it was when that fails.
JsonValue exportMsq(CommandContext& context);

}  // namespace tk::cli
