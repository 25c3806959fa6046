#pragma once

#include <QList>
#include <QStringList>
#include <vector>

#include "json/json_value.h"
#include "tune/batch_edits.h"
#include "tune/fuel_analysis.h"

namespace tk {

/// The analysis as data: table and constant, records read and kept, the records each filter
/// excluded, then either one entry per cell with a weight (row, column, current, proposed,
/// changePercent, weight, factor, spread; proposed and changePercent null below the minimum
/// weight) or, as grids, text lines of the current values, the proposals and the weights with
/// their axes.
JsonValue analysisReport(const FuelAnalysis& analysis, const std::vector<CellProposal>& proposals,
                         bool asGrids);

/// The edits that store every proposal differing from its cell's current value, the current
/// value as expected value, in row order.
QList<BatchEdit> proposalEdits(const FuelAnalysis& analysis,
                               const std::vector<CellProposal>& proposals);

/// Text lines of a grid: a header of x bins, then one line per row from the highest y bin down,
/// led by its y bin; cells without a value show "-".
QStringList gridLines(const AnalysisGrid& axes, const std::vector<std::optional<double>>& values,
                      int decimals);

}  // namespace tk
