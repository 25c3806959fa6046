#pragma once

#include <QList>

#include "definition/ecu_definition.h"
#include "project/project_file.h"

namespace tk::project {

/// Category of the datalog fields math channels add.
inline constexpr char kMathChannelsGroup[] = "Math Channels";

/// Adds every math channel to definition: a computed F32 output channel evaluating its
/// expression; a gauge named "MathGauge" + name when addGauge is set; a datalog entry in the
/// "Math Channels" category when addDatalogField is set, formatted "%d" for the "int" value
/// format and "%.<logDecimalPlaces>f" otherwise. A channel without a name or expression, or
/// named like an existing output channel, adds nothing.
void registerMathChannels(EcuDefinition& definition, const QList<MathChannel>& channels);

}  // namespace tk::project
