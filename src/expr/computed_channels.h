#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "definition/ecu_definition.h"

namespace tk::expr {

class ExpressionEvaluator;
class ExpressionState;

/// The computed output channels of a definition, evaluated over live snapshots: each channel's
/// expression sees the snapshot's declared channels, the computed channels evaluated before it
/// and the tune's constants (in that order of precedence; any other name is 0). Channels are
/// evaluated so that every channel comes after the computed channels it names; a channel on a
/// cycle of references cannot be computed and is 0, and so reads for the channels naming it.
/// The history functions (lastValue, smoothBasic, accumulate, ...) see one record per snapshot,
/// kept for the object's lifetime. The definition must outlive the object.
class ComputedChannels {
 public:
  /// A tune constant's value by exact name; no value when the tune has no such number.
  using ConstantLookup = std::function<std::optional<double>(const QString& name)>;
  /// One channel's name and physical value.
  using Values = QList<std::pair<QString, double>>;

  ComputedChannels(const EcuDefinition& definition, ConstantLookup constants);
  ~ComputedChannels();
  ComputedChannels(const ComputedChannels&) = delete;
  ComputedChannels& operator=(const ComputedChannels&) = delete;

  /// One snapshot made whole: every output channel of the definition that the declared values
  /// hold or that is computed, in definition order, with its value; the history functions then
  /// record them all.
  Values complete(const Values& declared);

  /// The computed channels in the order they are evaluated.
  const QStringList& evaluationOrder() const { return order_; }
  /// Whether the channel is computed but sits on a cycle of references (always 0).
  bool isCyclic(const QString& name) const { return cyclic_.contains(name); }

 private:
  class Host;
  class View;

  void sortByReferences();

  const EcuDefinition& definition_;
  ConstantLookup constants_;
  QStringList order_;
  QSet<QString> cyclic_;
  std::unique_ptr<View> view_;
  std::unique_ptr<ExpressionEvaluator> evaluator_;
  std::unique_ptr<ExpressionState> state_;
  QHash<QString, double> current_;
  std::optional<qint64> firstSnapshotMs_;
};

}  // namespace tk::expr
