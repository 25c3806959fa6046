#pragma once

#include "cli/command_context.h"
#include "json/json_value.h"

namespace tk::cli {

/// list-setting-groups: the definition's setting groups (built-in ones included) with their
/// options and the selected one.
JsonValue listSettingGroups(CommandContext& context);
/// set-setting-group: selects an option of a setting group; the tune is re-expressed so that its
/// bytes stay as they are. The runner saves it and pushes it only if a byte changed.
JsonValue setSettingGroup(CommandContext& context);

}  // namespace tk::cli
