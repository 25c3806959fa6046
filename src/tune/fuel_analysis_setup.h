#pragma once

#include <QHash>
#include <QString>

#include "tune/fuel_analysis.h"
#include "tune/tune_editor.h"

namespace tk {

/// The channel whose reading above 100 % marks warm-up enrichment as active.
inline constexpr char kWarmupEnrichChannel[] = "warmupEnrich";

/// The VE analysis the definition's [VeAnalyze] describes, over the editor's tune: the VE table
/// and its axes, the target table, the channels and the filters with the values of
/// filterValues (filter name -> value) in place of their defaults. Throws AnalysisError for a
/// missing table, an unknown filter name or a filter the user may not adjust.
AnalysisSetup veAnalysisSetup(const TuneEditor& editor, const QHash<QString, double>& filterValues);

/// The warm-up analysis of [WueAnalyze]: the warm-up curve over its coolant channel, the target
/// table and channels (from [WueAnalyze], else [VeAnalyze]), records counted only while warm-up
/// enrichment is active. Throws as veAnalysisSetup.
AnalysisSetup wueAnalysisSetup(const TuneEditor& editor,
                               const QHash<QString, double>& filterValues);

/// The grid of the definition's table tableId over the editor's tune. Throws AnalysisError for
/// a missing table or one whose values do not fill its bins.
AnalysisGrid tableAnalysisGrid(const TuneEditor& editor, const QString& tableId);

/// The proposal limits of the setup's data constant: its limits in force and its quantisation.
ProposalLimits proposalLimits(const TuneEditor& editor, const AnalysisSetup& setup,
                              double minWeight, double maxChangePercent);

}  // namespace tk
