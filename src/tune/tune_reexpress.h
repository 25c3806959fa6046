#pragma once

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk {

/// tune as definition reads the page images it was stored in: every constant of those pages is
/// decoded again (values, units and digits follow the definition, the bytes keep their meaning);
/// records of other constants (PC variables, pages absent from images) and the metadata stay as
/// they were, and records keep their order, new ones appended.
Tune reexpressTune(const Tune& tune, const PageImages& images, const EcuDefinition& definition);

}  // namespace tk
