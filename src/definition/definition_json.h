#pragma once

#include "definition/ecu_definition.h"
#include "json/json_value.h"

namespace tk {

/// The canonical JSON document of a whole definition.
JsonValue definitionJson(const EcuDefinition& definition);
/// The "constants" subset: header, page settings, pages, constants, defines and symbols.
JsonValue constantsJson(const EcuDefinition& definition);
/// The "ui-defs" subset: tables, curves, indicator panels, gauges and the front page.
JsonValue uiDefsJson(const EcuDefinition& definition);

/// One constant with every field in canonical order.
JsonValue constantJson(const ConstantDef& constant);

}  // namespace tk
