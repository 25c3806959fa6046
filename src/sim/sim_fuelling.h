#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

#include "sim/sim_engine.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::sim {

/// The fuelling the pages (the definition's pages in order) hold: the VE table the
/// definition's [VeAnalyze] names (else the table veTable1Tbl or veTable) and its target table
/// (else afrTable1Tbl; none when neither is found), closed loop when the constant egoType is
/// not 0. No value when there is no VE table.
std::optional<SimFuelling> fuellingOfPages(const EcuDefinition& definition,
                                           const std::vector<QByteArray>& pages);

}  // namespace tk::sim
