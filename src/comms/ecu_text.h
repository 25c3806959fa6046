#pragma once

#include <QString>

#include "json/ascii_text.h"

namespace tk::comms {

/// The text without its trailing NUL, CR and LF characters.
QString withoutTrailingLineEnds(const QString& text);

}  // namespace tk::comms
