#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// apply-edits: reads a JSON list of edits ({"name", "index" (default 0), "expected", "value"})
/// from --edits or the file of --edits-file and applies them as one validated batch: all land or
/// none does. Malformed JSON, and any refusal of the batch with its message unchanged, throw and
/// change nothing. With --dry-run the batch is only checked: the handler asks the runner to skip
/// the save, and labels nothing to push. Data: applied (name, index, expected, stored value),
/// dryRun, saved.
JsonValue applyEdits(CommandContext& context);

}  // namespace tk::cli
