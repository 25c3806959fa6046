#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

#include "definition/ecu_definition.h"
#include "formats/mlg_model.h"

namespace tk {

/// The MLG format version a datalog is written in.
inline constexpr std::uint16_t kDatalogMlgVersion = 2;

/// One MLG field per datalog entry of definition, in entry order: the entry's label, its type's
/// code (F32 for the "time" channel and unknown types), the channel's units and the format's
/// digits when the definition declares the channel ("s" and 2 otherwise).
std::vector<MlgField> datalogFields(const EcuDefinition& definition);

/// One record's values, one per datalog entry of definition in entry order: a "time" entry (any
/// case) holds seconds, another its channel's value among channels, 0 when absent.
void datalogValues(const EcuDefinition& definition, double seconds,
                   const QList<std::pair<QString, double>>& channels, std::vector<double>& values);

/// A record's 16-bit timestamp for seconds since the start: units of 10 us, truncated, modulo
/// 65536.
std::uint16_t mlgTimestamp(double seconds);

}  // namespace tk
