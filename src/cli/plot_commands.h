#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// plot: draws a log's channels over time (--log, --channels, --from, --to) or a project's
/// table as a heat map (-p, --table) into the PNG or SVG file --output names, at --width by
/// --height pixels; reports the file, its format, size and what it shows.
JsonValue plot(CommandContext& context);

/// Readies the process for plot's offscreen drawing before its GUI application is made: the
/// offscreen platform, and Qt's note that XDG_RUNTIME_DIR is not set (a picture file needs no
/// runtime folder) kept off standard error, where plot's own output goes. Every other message
/// is written as before.
void prepareOffscreenDrawing();

}  // namespace tk::cli
