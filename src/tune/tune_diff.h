#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk {

/// One side of a difference: a number, a text (a string constant, a bit field's label), or
/// nothing when that tune lacks the element.
struct DiffSide {
  std::optional<double> number;
  std::optional<QString> text;

  bool operator==(const DiffSide&) const = default;
};

/// Where a differing element sits in the user's terms.
struct DiffPlace {
  /// "table", "curve" or empty when no table or curve shows the constant.
  QString kind;
  /// The table's or curve's id.
  QString id;
  /// "x" or "y" for an axis of it; empty for its data.
  QString axis;
  /// Table data: the cell's row and column.
  std::optional<int> row;
  std::optional<int> col;
  /// Curve data and axes: the element's position.
  std::optional<int> point;

  bool operator==(const DiffPlace&) const = default;
};

/// One element that differs between two tunes.
struct TuneDifference {
  QString constant;
  /// The element of an array constant.
  std::optional<int> index;
  DiffPlace place;
  DiffSide local;
  DiffSide other;
  QString units;

  bool operator==(const TuneDifference&) const = default;
};

/// Every difference counted, the first ones listed.
struct TuneDiff {
  qint64 count = 0;
  QList<TuneDifference> listed;
};

/// Compares the values of the definition's constants (definition order) that both tunes hold,
/// element by element: numbers equal within the constant's resolution (half a storage step of an
/// integer field, half the last shown digit) count as equal; bit fields compare raw values and
/// show their labels; strings compare exactly; an element one side lacks differs. At most
/// maxListed differences are listed; all are counted.
TuneDiff diffTunes(const EcuDefinition& definition, const Tune& local, const Tune& other,
                   qsizetype maxListed);

/// One line for a difference: "veTable[35] (table veTbl row 2 col 3): 48 % here, 40 % there".
QString differenceLine(const TuneDifference& difference, const QString& otherName);

}  // namespace tk
