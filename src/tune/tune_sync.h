#pragma once

#include <QList>

#include "tune/tune_value.h"

namespace tk {

/// Whether a value read from the controller differs from the local one, compared as the
/// controller stores them and loosely: scalars by more than 0.0001, arrays exactly, texts exactly.
/// Any other pairing (bit fields, which hold only a raw value and a label, or a scalar against an
/// array) counts as equal.
bool syncValuesDiffer(const TuneValue& ecu, const TuneValue& local);

/// A constant whose value on the controller differs from the local tune's.
struct SyncDifference {
  const TuneValue* ecu = nullptr;
  const TuneValue* local = nullptr;
};

/// The controller tune's values that differ from local's of the same name, in the controller
/// tune's order; values the local tune lacks are not compared. Both tunes must outlive the result.
QList<SyncDifference> syncDifferences(const Tune& ecu, const Tune& local);

}  // namespace tk
