#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk {

/// A numeric difference of at least 0.0001: the value, its text ("%.2f", "+" when positive) and
/// its direction (1 when positive, else -1).
struct NumericDifference {
  double value = 0.0;
  QString text;
  int direction = 0;

  bool operator==(const NumericDifference&) const = default;
};

/// One cell of a compared array, seen from one side.
struct TuneDiffCell {
  /// This side's normalised value (0 when this side has no value there).
  double value = 0.0;
  /// The two sides differ by more than 0.0001.
  bool isDifferent = false;
  /// This side minus the other side, when at least 0.0001 in magnitude.
  std::optional<NumericDifference> difference;

  bool operator==(const TuneDiffCell&) const = default;
};

/// One row of a compared array, seen from one side.
struct TuneDiffRow {
  int rowIndex = 0;
  QList<TuneDiffCell> cells;

  bool operator==(const TuneDiffRow&) const = default;
};

/// One constant whose stored values differ between the local and the remote tune.
struct TuneDiffEntry {
  /// The constant's name.
  QString fieldName;
  /// "Page " and the page number.
  QString category;
  /// Value text of the local side; for arrays the number of differing cells + " cells differ".
  QString localValue;
  /// Value text of the remote side; for arrays the shape in brackets, such as "[16x12]".
  QString remoteValue;
  /// Local minus remote, when both value texts are numbers that differ by at least 0.0001.
  std::optional<NumericDifference> scalarDifference;
  bool isArray = false;
  /// The constant's shape (arrays only).
  QList<int> shape;
  /// Normalised values of each side (arrays only; empty for a side without values).
  QList<double> localArrayValues;
  QList<double> remoteArrayValues;
  /// Cells that differ by more than 0.0001 (arrays only).
  int differentCellCount = 0;
  /// At most 6 rows of 8 cells of each side as text, differing cells between asterisks.
  QString localTablePreview;
  QString remoteTablePreview;
  /// One line for people: "local A, remote B" with the difference, or "N of M cells differ".
  QString diffSummary;
  /// Every row of each side (arrays only), laid out with the shape's first dimension as columns.
  QList<TuneDiffRow> localTableRows;
  QList<TuneDiffRow> remoteTableRows;

  bool operator==(const TuneDiffEntry&) const = default;
};

/// Compares two tunes made against one definition as the controller would store them.
class TuneComparator {
 public:
  /// One entry per differing constant (PC variables excepted), in definition order. Values are
  /// normalised through each constant's plain scale, translate and storage type first; scalars
  /// and arrays compare within half a unit of the last display digit (0.0001 without digits).
  QList<TuneDiffEntry> compare(const EcuDefinition& definition, const Tune& local,
                               const Tune& remote) const;
};

/// value as constant stores it: NaN and infinities become 0; Bits round half to even; otherwise,
/// with a non-zero Scale, the raw number (value / Scale - Translate) is rounded and clamped to the
/// storage type (single precision for F32) and converted back; with Scale 0 the value stays (single
/// precision for F32).
double normalizeForComparison(const ConstantDef& constant, double value);

/// The preview text of one side: at most 6 rows and 8 columns, "%.1f" right-justified to 6,
/// cells that differ from the other side by more than 0.0001 as "*text*", rows ending in CRLF,
/// " ..." after a row with more than 8 cells and a line counting the rows left out.
QString tablePreview(const QList<double>& values, const QList<double>& other, int columns);

}  // namespace tk
