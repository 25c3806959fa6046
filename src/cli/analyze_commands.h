#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

// The log analyses: the definition's VE and warm-up analyses over MLG logs (or a live
// recording), proposing corrections and, with --apply, storing them as checked batches.

/// ve-analyze: corrections of the VE table from the measured against the target mixture.
JsonValue veAnalyze(CommandContext& context);
/// wue-analyze: corrections of the warm-up enrichment curve, where warm-up enrichment is active.
JsonValue wueAnalyze(CommandContext& context);

}  // namespace tk::cli
