#pragma once

#include "definition/ecu_definition.h"
#include "formats/msq_document.h"
#include "tune/tune_value.h"

namespace tk {

/// base with the values of document put in as the file holds them, for comparing: each entry
/// replaces the record of the constant it names (ignoring case) that base holds, with no clamping
/// and no quantising; temperatures are brought to the record's units as an import brings them
/// (see adaptMsqUnits); an array keeps the file's number count, whatever the constant's; a bit
/// field takes the raw value of its label, or the number. Entries naming no constant of base,
/// and numbers where text belongs or text where numbers belong, leave base's record.
Tune overlayMsq(const Tune& base, const MsqDocument& document, const EcuDefinition& definition);

/// Whether a store of constant holds a difference of temperatures rather than one: its values
/// carry no offset (a hysteresis in degrees).
bool holdsTemperatureDifference(const ConstantDef& constant);

}  // namespace tk
