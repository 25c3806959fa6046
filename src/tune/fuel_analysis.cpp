#include "tune/fuel_analysis.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace tk {
namespace {

// A wideband reads outside this lambda band only at the ends of its range (a cold sensor, a
// controller input at its rail, free air on overrun).
constexpr double kLeanestLambda = 1.5;
constexpr double kRichestLambda = 0.5;
constexpr double kStoichiometricAfr = 14.7;
constexpr double kNeutralEgo = 100.0;

/// The column of a channel: the label it is logged under, else its own name, ignoring case.
int columnOf(const AnalysisLog& log, const QString& channel) {
  if (channel.isEmpty()) {
    return -1;
  }
  const QString label = log.labelOf ? log.labelOf(channel) : QString();
  for (const QString& name : {label, channel}) {
    if (name.isEmpty()) {
      continue;
    }
    for (qsizetype i = 0; i < log.columns.size(); ++i) {
      if (log.columns.at(i).compare(name, Qt::CaseInsensitive) == 0) {
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

int requiredColumn(const AnalysisLog& log, const QString& channel) {
  const int column = columnOf(log, channel);
  if (column < 0) {
    throw AnalysisError(
        QStringLiteral("Log '%1' has no column for channel '%2'").arg(log.name, channel));
  }
  return column;
}

}  // namespace

std::optional<FilterOperator> parseFilterOperator(const QString& text) {
  static const std::pair<const char*, FilterOperator> kOperators[] = {
      {"<", FilterOperator::Less},         {">", FilterOperator::Greater},
      {"<=", FilterOperator::LessOrEqual}, {">=", FilterOperator::GreaterOrEqual},
      {"=", FilterOperator::Equal},        {"!=", FilterOperator::NotEqual},
      {"&", FilterOperator::BitsSet}};
  for (const auto& [name, op] : kOperators) {
    if (text.trimmed() == QLatin1String(name)) {
      return op;
    }
  }
  return std::nullopt;
}

bool filterExcludes(FilterOperator op, double channelValue, double value) {
  switch (op) {
    case FilterOperator::Less:
      return channelValue < value;
    case FilterOperator::Greater:
      return channelValue > value;
    case FilterOperator::LessOrEqual:
      return channelValue <= value;
    case FilterOperator::GreaterOrEqual:
      return channelValue >= value;
    case FilterOperator::Equal:
      return channelValue == value;
    case FilterOperator::NotEqual:
      return channelValue != value;
    case FilterOperator::BitsSet:
      if (!std::isfinite(channelValue) || !std::isfinite(value)) {
        return false;
      }
      return (static_cast<qint64>(channelValue) & static_cast<qint64>(value)) != 0;
  }
  return false;
}

AxisPosition axisPosition(std::span<const double> bins, double value) {
  const auto n = static_cast<int>(bins.size());
  if (n < 2 || !(value > bins.front())) {
    return {};
  }
  if (value >= bins.back()) {
    return {n - 1, 0.0};
  }
  // The last bin at or below the value; equal neighbouring bins give no interval to be in.
  const auto upper = std::upper_bound(bins.begin(), bins.end(), value);
  const int index = static_cast<int>(upper - bins.begin()) - 1;
  const double low = bins[static_cast<std::size_t>(index)];
  const double high = bins[static_cast<std::size_t>(index) + 1];
  return {index, high > low ? (value - low) / (high - low) : 0.0};
}

double AnalysisGrid::interpolate(double x, double y) const {
  const int cols = columns();
  if (cols == 0 || values.size() < static_cast<std::size_t>(cols) * rows()) {
    return 0.0;
  }
  const AxisPosition px = axisPosition(xBins, x);
  const AxisPosition py = axisPosition(yBins, y);
  const auto at = [&](int row, int col) {
    return values[static_cast<std::size_t>(std::min(row, rows() - 1)) * cols +
                  static_cast<std::size_t>(std::min(col, cols - 1))];
  };
  const double low =
      at(py.index, px.index) * (1.0 - px.fraction) + at(py.index, px.index + 1) * px.fraction;
  const double high = at(py.index + 1, px.index) * (1.0 - px.fraction) +
                      at(py.index + 1, px.index + 1) * px.fraction;
  return low * (1.0 - py.fraction) + high * py.fraction;
}

FuelAnalysis::FuelAnalysis(AnalysisSetup setup) : setup_(std::move(setup)) {
  const std::size_t cells = static_cast<std::size_t>(setup_.table.columns()) * setup_.table.rows();
  weight_.assign(cells, 0.0);
  sum_.assign(cells, 0.0);
  sumSquares_.assign(cells, 0.0);
  if (setup_.axisFilters) {
    counts_.filterNames << QStringLiteral("std_xAxisMin") << QStringLiteral("std_xAxisMax");
    if (!setup_.yChannel.isEmpty()) {
      counts_.filterNames << QStringLiteral("std_yAxisMin") << QStringLiteral("std_yAxisMax");
    }
  }
  for (const RecordFilter& filter : std::as_const(setup_.filters)) {
    counts_.filterNames << filter.name;
  }
  if (setup_.active) {
    counts_.filterNames << QStringLiteral("activeCondition");
  }
  if (!setup_.activeChannel.isEmpty()) {
    counts_.filterNames << QStringLiteral("notActive");
  }
  if (setup_.custom) {
    counts_.filterNames << QStringLiteral("std_Custom");
  }
  counts_.filterNames << QStringLiteral("noMeasurement") << QStringLiteral("std_DeadLambda");
  counts_.excluded.assign(static_cast<std::size_t>(counts_.filterNames.size()), 0);
}

void FuelAnalysis::exclude(int filter) { ++counts_.excluded[static_cast<std::size_t>(filter)]; }

void FuelAnalysis::addLog(const AnalysisLog& stored) {
  AnalysisLog log = stored;
  const std::size_t width = static_cast<std::size_t>(log.columns.size());
  std::vector<double> physical;
  if (log.scales.size() == width && log.transforms.size() == width &&
      !(std::all_of(log.scales.begin(), log.scales.end(), [](double s) { return s == 1.0; }) &&
        std::all_of(log.transforms.begin(), log.transforms.end(),
                    [](double t) { return t == 0.0; }))) {
    physical.assign(log.values.begin(), log.values.end());
    for (std::size_t i = 0; i < physical.size(); ++i) {
      physical[i] = (physical[i] + log.transforms[i % width]) * log.scales[i % width];
    }
    log.values = physical;
  }
  const std::size_t records =
      width == 0 ? 0 : std::min(log.values.size() / width, log.times.size());
  const AnalysisGrid& table = setup_.table;
  const bool curve = setup_.yChannel.isEmpty();
  const int xCol = requiredColumn(log, setup_.xChannel);
  const int yCol = curve ? -1 : requiredColumn(log, setup_.yChannel);
  const int txCol = requiredColumn(log, setup_.targetXChannel);
  const int tyCol =
      setup_.targetYChannel.isEmpty() ? -1 : requiredColumn(log, setup_.targetYChannel);
  const int measuredCol = requiredColumn(log, setup_.measuredChannel);
  const int egoCol = columnOf(log, setup_.egoChannel);
  const int activeCol = columnOf(log, setup_.activeChannel);
  std::vector<int> filterCols;
  for (const RecordFilter& filter : std::as_const(setup_.filters)) {
    // A filter over a channel the log lacks cannot exclude anything.
    filterCols.push_back(columnOf(log, filter.channel));
  }
  const RecordPredicate active = setup_.active ? setup_.active(log.columns) : RecordPredicate();
  const RecordPredicate custom = setup_.custom ? setup_.custom(log.columns) : RecordPredicate();

  // Lambda or AFR: the dead-sensor band follows the units of the target.
  const double meanTarget =
      table.values.empty() || setup_.target.values.empty()
          ? 1.0
          : std::accumulate(setup_.target.values.begin(), setup_.target.values.end(), 0.0) /
                static_cast<double>(setup_.target.values.size());
  const double lambdaUnit = meanTarget > 2.0 ? kStoichiometricAfr : 1.0;
  const double richest = kRichestLambda * lambdaUnit;
  const double leanest = kLeanestLambda * lambdaUnit;

  const int cols = table.columns();
  const int rows = table.rows();
  std::size_t paired = 0;
  for (std::size_t r = 0; r < records; ++r) {
    ++counts_.read;
    const double* v = log.values.data() + r * width;
    int filter = 0;
    const double x = v[xCol];
    const double y = curve ? 0.0 : v[yCol];
    if (setup_.axisFilters) {
      const double checks[][2] = {{x, table.xBins.front()},
                                  {table.xBins.back(), x},
                                  {y, curve ? 0.0 : table.yBins.front()},
                                  {curve ? 0.0 : table.yBins.back(), y}};
      const int n = curve ? 2 : 4;
      bool out = false;
      for (int i = 0; i < n && !out; ++i) {
        if (checks[i][0] < checks[i][1]) {
          exclude(filter + i);
          out = true;
        }
      }
      if (out) {
        continue;
      }
      filter += n;
    }
    bool out = false;
    for (std::size_t i = 0; i < filterCols.size() && !out; ++i) {
      const RecordFilter& f = setup_.filters.at(static_cast<qsizetype>(i));
      if (filterCols[i] >= 0 && filterExcludes(f.op, v[filterCols[i]], f.value)) {
        exclude(filter + static_cast<int>(i));
        out = true;
      }
    }
    if (out) {
      continue;
    }
    filter += static_cast<int>(filterCols.size());
    const std::span<const double> recordValues(v, width);
    if (active) {
      if (!active(recordValues)) {
        exclude(filter);
        continue;
      }
      ++filter;
    }
    if (!setup_.activeChannel.isEmpty()) {
      if (activeCol >= 0 && !(v[activeCol] > setup_.activeAbove)) {
        exclude(filter);
        continue;
      }
      ++filter;
    }
    if (custom) {
      if (!custom(recordValues)) {
        exclude(filter);
        continue;
      }
      ++filter;
    }
    // The mixture this record's fuel made reaches the sensor lagSeconds later.
    paired = std::max(paired, r);
    const double due = log.times[r] + setup_.lagSeconds;
    while (paired < records && log.times[paired] < due) {
      ++paired;
    }
    if (paired >= records) {
      exclude(filter);
      continue;
    }
    ++filter;
    const double measured = log.values[paired * width + static_cast<std::size_t>(measuredCol)];
    const double target = setup_.target.interpolate(v[txCol], tyCol < 0 ? 0.0 : v[tyCol]);
    // A negated range, so that a NaN reading counts as dead too.
    // NOLINTNEXTLINE(readability-simplify-boolean-expr)
    const bool dead = setup_.deadLambdaFilter && !(measured > richest && measured < leanest);
    if (dead || !(measured > 0.0) || !(target > 0.0) || !std::isfinite(measured)) {
      exclude(filter);
      continue;
    }
    const double ego = egoCol < 0 ? kNeutralEgo : v[egoCol];
    const double factor = measured / target * ego / kNeutralEgo;
    if (!std::isfinite(factor) || !(factor > 0.0)) {
      exclude(filter);
      continue;
    }
    ++counts_.kept;
    const AxisPosition px = axisPosition(table.xBins, x);
    const AxisPosition py = axisPosition(table.yBins, y);
    const std::pair<int, double> xs[] = {{px.index, 1.0 - px.fraction},
                                         {px.index + 1, px.fraction}};
    const std::pair<int, double> ys[] = {{py.index, 1.0 - py.fraction},
                                         {py.index + 1, py.fraction}};
    for (const auto& [row, wy] : ys) {
      for (const auto& [col, wx] : xs) {
        const double w = wx * wy;
        if (w <= 0.0 || row >= rows || col >= cols) {
          continue;
        }
        const std::size_t cell = static_cast<std::size_t>(row) * cols + col;
        weight_[cell] += w;
        sum_[cell] += w * factor;
        sumSquares_[cell] += w * factor * factor;
      }
    }
  }
}

std::vector<AnalysisCell> FuelAnalysis::cells() const {
  std::vector<AnalysisCell> out;
  const int cols = setup_.table.columns();
  for (std::size_t i = 0; i < weight_.size(); ++i) {
    const double w = weight_[i];
    if (!(w > 0.0)) {
      continue;
    }
    const double mean = sum_[i] / w;
    const double variance = std::max(0.0, sumSquares_[i] / w - mean * mean);
    out.push_back(
        {static_cast<int>(i) / cols, static_cast<int>(i) % cols, w, mean, std::sqrt(variance)});
  }
  return out;
}

std::vector<CellProposal> proposeCorrections(const FuelAnalysis& analysis,
                                             const ProposalLimits& limits) {
  std::vector<CellProposal> out;
  const AnalysisGrid& table = analysis.setup().table;
  const double maxChange = std::max(0.0, limits.maxChangePercent) / 100.0;
  for (const AnalysisCell& cell : analysis.cells()) {
    CellProposal proposal{cell, 0.0, std::nullopt};
    const std::size_t index = static_cast<std::size_t>(cell.row) * table.columns() + cell.column;
    proposal.current = index < table.values.size() ? table.values[index] : 0.0;
    if (cell.weight >= limits.minWeight) {
      const double current = proposal.current;
      const double low = std::min(current * (1.0 - maxChange), current * (1.0 + maxChange));
      const double high = std::max(current * (1.0 - maxChange), current * (1.0 + maxChange));
      double value = std::clamp(current * cell.meanFactor, low, high);
      if (limits.maximum > limits.minimum) {
        value = std::clamp(value, limits.minimum, limits.maximum);
      }
      if (limits.quantize) {
        // Rounding to the stored step must not carry the value past the change limit.
        const double stored = limits.quantize(value);
        const double slack = limits.quantum * 1e-6;
        if (stored < low - slack && limits.quantum > 0.0) {
          value = limits.quantize(stored + limits.quantum);
        } else if (stored > high + slack && limits.quantum > 0.0) {
          value = limits.quantize(stored - limits.quantum);
        } else {
          value = stored;
        }
      }
      proposal.proposed = value;
    }
    out.push_back(proposal);
  }
  return out;
}

}  // namespace tk
