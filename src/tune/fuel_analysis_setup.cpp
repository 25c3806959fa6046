#include "tune/fuel_analysis_setup.h"

#include <QSet>
#include <cmath>

namespace tk {
namespace {

std::vector<double> arrayOf(const TuneEditor& editor, const QString& name, const QString& owner) {
  const Tune* tune = editor.tune();
  const std::optional<FieldRef> field = editor.findField(name);
  const TuneValue* value = tune && field ? tune->find(field->constant->Name) : nullptr;
  if (value == nullptr || !value->arrayValues) {
    throw AnalysisError(QStringLiteral("Array '%1' of '%2' not found in tune").arg(name, owner));
  }
  return {value->arrayValues->cbegin(), value->arrayValues->cend()};
}

/// A table's grid, its data constant and its axis channels.
struct GridOf {
  AnalysisGrid grid;
  QString constant;
  QString xChannel;
  QString yChannel;
};

GridOf tableGrid(const TuneEditor& editor, const QString& id, const char* role) {
  const EcuDefinition* definition = editor.definition();
  const TableDef* table = definition ? definition->Tables.find(id) : nullptr;
  if (table == nullptr) {
    throw AnalysisError(QStringLiteral("%1 table '%2' not found in INI")
                            .arg(QLatin1String(role), id.isEmpty() ? QStringLiteral("?") : id));
  }
  GridOf out;
  out.grid.xBins = arrayOf(editor, table->XBinVariable, id);
  out.grid.yBins = arrayOf(editor, table->YBinVariable, id);
  out.grid.values = arrayOf(editor, table->ZBinVariable, id);
  out.constant = table->ZBinVariable;
  out.xChannel = table->XBinSource;
  out.yChannel = table->YBinSource;
  if (out.grid.xBins.empty() || out.grid.yBins.empty() ||
      out.grid.values.size() != out.grid.xBins.size() * out.grid.yBins.size()) {
    throw AnalysisError(QStringLiteral("Table '%1' has %2 values for %3 x %4 bins")
                            .arg(id)
                            .arg(out.grid.values.size())
                            .arg(out.grid.xBins.size())
                            .arg(out.grid.yBins.size()));
  }
  return out;
}

QList<RecordFilter> filtersOf(const QList<AnalysisFilter>& defined,
                              const QHash<QString, double>& values) {
  QList<RecordFilter> out;
  QSet<QString> used;
  for (const AnalysisFilter& filter : defined) {
    // A flag filter ("engine & 16") carries its mask beside the comparison fields.
    const std::optional<double> flagBits =
        filter.Operator.isEmpty() ? filter.FlagBits : std::nullopt;
    const std::optional<FilterOperator> op =
        flagBits ? std::optional(FilterOperator::BitsSet) : parseFilterOperator(filter.Operator);
    RecordFilter record{filter.Name, filter.ChannelName, op.value_or(FilterOperator::Less),
                        flagBits.value_or(filter.DefaultValue)};
    if (const auto it = values.constFind(filter.Name); it != values.cend()) {
      if (!filter.UserAdjustable) {
        throw AnalysisError(QStringLiteral("Filter '%1' is not adjustable").arg(filter.Name));
      }
      record.value = it.value();
      used.insert(filter.Name);
    }
    // A filter line without a known operator has nothing to compare.
    if (op && !filter.ChannelName.isEmpty()) {
      out.append(record);
    }
  }
  for (auto it = values.cbegin(); it != values.cend(); ++it) {
    if (!used.contains(it.key())) {
      QStringList names;
      for (const AnalysisFilter& filter : defined) {
        names.append(filter.Name);
      }
      throw AnalysisError(QStringLiteral("Unknown filter '%1'; the definition's filters: %2")
                              .arg(it.key(), names.join(QStringLiteral(", "))));
    }
  }
  return out;
}

/// The constant holding the curve's values on the controller. An analysis curve may show the
/// analyser's recommendation (a PC variable) last; the controller's values are then those of
/// the first curve over the same bins whose constant has the recommendation's units.
QString controllerValuesOf(const TuneEditor& editor, const CurveDef& curve) {
  const std::optional<FieldRef> shown = editor.findField(curve.YBinVariable);
  if (!shown || !shown->constant->IsPcVariable) {
    return curve.YBinVariable;
  }
  for (const auto& [id, other] : editor.definition()->Curves) {
    const std::optional<FieldRef> field = editor.findField(other.YBinVariable);
    if (other.XBinVariable == curve.XBinVariable && field && !field->constant->IsPcVariable &&
        field->constant->Units == shown->constant->Units) {
      return field->constant->Name;
    }
  }
  return curve.YBinVariable;
}

}  // namespace

AnalysisSetup veAnalysisSetup(const TuneEditor& editor,
                              const QHash<QString, double>& filterValues) {
  const EcuDefinition* definition = editor.definition();
  if (definition == nullptr) {
    throw AnalysisError(QStringLiteral("Project has no definition"));
  }
  const VeAnalyzeDef& ve = definition->VeAnalyze;
  if (ve.VeTableName.isEmpty() || ve.LambdaChannelName.isEmpty()) {
    throw AnalysisError(QStringLiteral("The definition has no [VeAnalyze] map"));
  }
  AnalysisSetup setup;
  GridOf table = tableGrid(editor, ve.VeTableName, "VE");
  GridOf target = tableGrid(editor, ve.LambdaTargetTableName, "Target");
  setup.tableId = ve.VeTableName;
  setup.constantName = table.constant;
  setup.table = std::move(table.grid);
  setup.xChannel = table.xChannel;
  setup.yChannel = table.yChannel;
  setup.target = std::move(target.grid);
  setup.targetXChannel = target.xChannel;
  setup.targetYChannel = target.yChannel;
  setup.measuredChannel = ve.LambdaChannelName;
  setup.egoChannel = ve.EgoCorrectionChannelName;
  setup.filters = filtersOf(ve.Filters, filterValues);
  return setup;
}

AnalysisSetup wueAnalysisSetup(const TuneEditor& editor,
                               const QHash<QString, double>& filterValues) {
  const EcuDefinition* definition = editor.definition();
  if (definition == nullptr) {
    throw AnalysisError(QStringLiteral("Project has no definition"));
  }
  const WueAnalyzeDef& wue = definition->WueAnalyze;
  const CurveDef* curve = definition->Curves.find(wue.WueTableName);
  if (curve == nullptr) {
    throw AnalysisError(
        QStringLiteral("Warm-up curve '%1' not found in INI")
            .arg(wue.WueTableName.isEmpty() ? QStringLiteral("?") : wue.WueTableName));
  }
  // The long map form names a compensation curve second and the target table third, the
  // measured channel fourth; the short form names the target table and the channel directly.
  QString targetId = wue.TargetTableName;
  QString measured = wue.ChannelName;
  if (definition->Tables.contains(wue.ChannelName)) {
    targetId = wue.ChannelName;
    measured = wue.ActiveCondition;
  }
  if (!definition->Tables.contains(targetId)) {
    targetId = definition->VeAnalyze.LambdaTargetTableName;
  }
  if (measured.isEmpty() || !definition->OutputChannels.contains(measured)) {
    measured = definition->VeAnalyze.LambdaChannelName;
  }
  AnalysisSetup setup;
  setup.tableId = curve->Id;
  setup.constantName = controllerValuesOf(editor, *curve);
  setup.table.xBins = arrayOf(editor, curve->XBinVariable, curve->Id);
  setup.table.values = arrayOf(editor, setup.constantName, curve->Id);
  if (setup.table.xBins.empty() || setup.table.values.size() != setup.table.xBins.size()) {
    throw AnalysisError(QStringLiteral("Curve '%1' has %2 values for %3 bins")
                            .arg(curve->Id)
                            .arg(setup.table.values.size())
                            .arg(setup.table.xBins.size()));
  }
  setup.xChannel = curve->XBinChannel;
  GridOf target = tableGrid(editor, targetId, "Target");
  setup.target = std::move(target.grid);
  setup.targetXChannel = target.xChannel;
  setup.targetYChannel = target.yChannel;
  setup.measuredChannel = measured;
  setup.egoChannel = definition->VeAnalyze.EgoCorrectionChannelName;
  setup.filters = filtersOf(wue.Filters, filterValues);
  setup.activeChannel = QLatin1String(kWarmupEnrichChannel);
  setup.activeAbove = 100.0;
  return setup;
}

AnalysisGrid tableAnalysisGrid(const TuneEditor& editor, const QString& tableId) {
  return tableGrid(editor, tableId, "VE").grid;
}

ProposalLimits proposalLimits(const TuneEditor& editor, const AnalysisSetup& setup,
                              double minWeight, double maxChangePercent) {
  ProposalLimits limits;
  limits.minWeight = minWeight;
  limits.maxChangePercent = maxChangePercent;
  const std::optional<FieldRef> field = editor.findField(setup.constantName);
  if (!field) {
    throw AnalysisError(QStringLiteral("Constant '%1' not found in INI").arg(setup.constantName));
  }
  const ConstantDef* constant = field->constant;
  limits.minimum = editor.effectiveMin(*constant);
  limits.maximum = editor.effectiveMax(*constant);
  limits.quantum = std::abs(editor.effectiveScale(*constant));
  limits.quantize = [&editor, constant](double value) {
    return editor.quantizeValue(*constant, value);
  };
  return limits;
}

}  // namespace tk
