#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// plot: draws a log's channels over time (--log, --channels, --from, --to) or a project's
/// table as a heat map (-p, --table) into the PNG or SVG file --output names, at --width by
/// --height pixels; reports the file, its format, size and what it shows.
JsonValue plot(CommandContext& context);

}  // namespace tk::cli
