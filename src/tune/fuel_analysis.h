#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace tk {

/// Raised when the analysis cannot run (no such table, a log without a needed channel); the
/// message is the user-facing text.
class AnalysisError : public std::runtime_error {
 public:
  explicit AnalysisError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// How a filter compares a channel with its value; BitsSet is "channel & value is not 0".
enum class FilterOperator { Less, Greater, LessOrEqual, GreaterOrEqual, Equal, NotEqual, BitsSet };

/// The operator a definition's filter line names ("<", ">", "<=", ">=", "=", "!=", "&").
std::optional<FilterOperator> parseFilterOperator(const QString& text);
/// Whether a record whose channel reads channelValue is excluded by "channel op value".
bool filterExcludes(FilterOperator op, double channelValue, double value);

/// A rectangular grid over one or two axes: x columns, y rows (one row and no y bins for a
/// curve); values row after row.
struct AnalysisGrid {
  std::vector<double> xBins;
  std::vector<double> yBins;
  std::vector<double> values;

  int columns() const { return static_cast<int>(xBins.size()); }
  int rows() const { return yBins.empty() ? 1 : static_cast<int>(yBins.size()); }
  /// The value at (x, y) by bilinear interpolation, clamped to the axes' ends.
  double interpolate(double x, double y) const;
};

/// Position of a value on an axis: the bin at or below it and the fraction towards the next one
/// (clamped to the axis' ends; 0 on a one-bin axis).
struct AxisPosition {
  int index = 0;
  double fraction = 0.0;
};
/// Where value lies on bins (ascending).
AxisPosition axisPosition(std::span<const double> bins, double value);

/// A filter with its channel; the channel is matched against the log's columns.
struct RecordFilter {
  QString name;
  QString channel;
  FilterOperator op = FilterOperator::Less;
  double value = 0.0;
};

/// A condition over one record's column values (the custom filter, an active condition).
using RecordPredicate = std::function<bool(std::span<const double> values)>;
/// Makes the predicate for a log of the given column names.
using PredicateFactory = std::function<RecordPredicate(const QStringList& columns)>;

/// Everything one analysis needs: the grid being corrected with its axis channels, the target
/// grid with its own, the measured and EGO-correction channels, and the filters.
struct AnalysisSetup {
  /// The table or curve id being corrected, and its data constant.
  QString tableId;
  QString constantName;
  AnalysisGrid table;
  QString xChannel;
  QString yChannel;  // empty for a curve
  AnalysisGrid target;
  QString targetXChannel;
  QString targetYChannel;
  QString measuredChannel;
  QString egoChannel;  // empty: no EGO correction (100 %)
  /// The definition's filters (values as adjusted by the user), in definition order.
  QList<RecordFilter> filters;
  /// Exclude records outside the table's axes (std_xAxisMin/Max, std_yAxisMin/Max).
  bool axisFilters = true;
  /// Exclude measurements at the ends of a wideband sensor's range (std_DeadLambda).
  bool deadLambdaFilter = true;
  /// Records for which this is false are excluded ("std_Custom"); empty: none.
  PredicateFactory custom;
  /// Records for which this is false are excluded ("activeCondition"); empty: none.
  PredicateFactory active;
  /// A channel that must read above activeAbove for a record to count ("wueActive"); empty: none.
  QString activeChannel;
  double activeAbove = 0.0;
  /// Sensor transport delay: each record is paired with the measurement this much later.
  double lagSeconds = 0.0;
};

/// One log as columns: names, values record after record, one time in seconds per record.
struct AnalysisLog {
  QString name;
  QStringList columns;
  std::span<const double> values;
  std::span<const double> times;
  /// Per column: physical = (stored + transform) x scale; empty: stored values are physical.
  std::vector<double> scales;
  std::vector<double> transforms;
  /// Channel name -> the label it is logged under (a definition's [Datalog] entries).
  std::function<QString(const QString& channel)> labelOf;
};

/// Per-cell statistics and what the filters did.
struct AnalysisCell {
  int row = 0;
  int column = 0;
  double weight = 0.0;
  double meanFactor = 1.0;
  double spread = 0.0;
};

/// Records read and kept, and how many records each filter excluded (each counted once, at the
/// first filter that excludes it, in the order of filterNames).
struct AnalysisCounts {
  qint64 read = 0;
  qint64 kept = 0;
  QStringList filterNames;
  std::vector<qint64> excluded;
};

/// Accumulates records of one or more logs for one setup.
class FuelAnalysis {
 public:
  explicit FuelAnalysis(AnalysisSetup setup);

  /// Adds every record of the log; throws AnalysisError when a channel the analysis needs is not
  /// among its columns.
  void addLog(const AnalysisLog& stored);
  /// The setup in use.
  const AnalysisSetup& setup() const { return setup_; }
  /// The counts so far.
  const AnalysisCounts& counts() const { return counts_; }
  /// Every cell with a weight above 0, row by row.
  std::vector<AnalysisCell> cells() const;
  /// Total weight of every cell, row by row.
  const std::vector<double>& weights() const { return weight_; }

 private:
  void exclude(int filter);

  AnalysisSetup setup_;
  AnalysisCounts counts_;
  std::vector<double> weight_;
  std::vector<double> sum_;
  std::vector<double> sumSquares_;
};

/// How proposals are limited.
struct ProposalLimits {
  double minWeight = 5.0;
  double maxChangePercent = 15.0;
  /// The lowest and highest value the constant may hold.
  double minimum = 0.0;
  double maximum = 0.0;
  /// The value a store of a value would keep (the controller's quantisation), and its step.
  std::function<double(double)> quantize;
  double quantum = 0.0;
};

/// One cell's outcome.
struct CellProposal {
  AnalysisCell cell;
  double current = 0.0;
  /// No value when the weight is below the minimum.
  std::optional<double> proposed;
};

/// current x mean factor, limited to +- maxChangePercent and to the limits, quantised, for
/// every cell with a weight; proposed only where weight >= minWeight.
std::vector<CellProposal> proposeCorrections(const FuelAnalysis& analysis,
                                             const ProposalLimits& limits);

}  // namespace tk
