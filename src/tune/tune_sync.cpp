#include "tune/tune_sync.h"

#include <cmath>

namespace tk {
namespace {

constexpr double kScalarTolerance = 0.0001;

}  // namespace

bool syncValuesDiffer(const TuneValue& ecu, const TuneValue& local) {
  if (ecu.scalarValue && local.scalarValue) {
    return std::abs(*ecu.scalarValue - *local.scalarValue) > kScalarTolerance;
  }
  if (ecu.arrayValues && local.arrayValues) {
    return *ecu.arrayValues != *local.arrayValues;
  }
  return ecu.stringValue.has_value() != local.stringValue.has_value() ||
         (ecu.stringValue && *ecu.stringValue != *local.stringValue);
}

QList<SyncDifference> syncDifferences(const Tune& ecu, const Tune& local) {
  QList<SyncDifference> differences;
  for (const TuneValue& ecuValue : ecu.fields) {
    const TuneValue* localValue = local.find(ecuValue.name);
    if (localValue != nullptr && syncValuesDiffer(ecuValue, *localValue)) {
      differences.append(SyncDifference{&ecuValue, localValue});
    }
  }
  return differences;
}

}  // namespace tk
