#pragma once

#include <QString>
#include <vector>

#include "definition/ini_read_state.h"

namespace tk::detail {

/// Section pass: reads the active lines in order, keeping the current section and page, and hands
/// each line to its section's handler.
void readSections(ReadState& state, const std::vector<const QString*>& lines);

}  // namespace tk::detail
