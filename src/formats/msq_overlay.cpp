#include "formats/msq_overlay.h"

#include <cmath>

#include "formats/msq_units.h"
#include "tune/field_index.h"

namespace tk {
namespace {

void putEntry(TuneValue& record, const ConstantDef& constant, MsqConstant entry) {
  if (constant.Type == ConstantType::String) {
    record.stringValue = entry.StringValue;
    return;
  }
  if (constant.Type == ConstantType::Bits) {
    if (std::optional<int> raw = constant.bitValueOf(entry.StringValue)) {
      record.bitsRawValue = raw;
    } else if (entry.IsNumeric && !entry.IsArray && std::abs(entry.NumericValue) < 2147483647.0) {
      record.bitsRawValue = static_cast<int>(std::trunc(entry.NumericValue));
    }
    return;
  }
  adaptMsqUnits(entry, record.units.value_or(constant.Units), holdsTemperatureDifference(constant));
  const QList<double> numbers =
      entry.IsArray ? entry.ArrayValues
                    : (entry.IsNumeric ? QList<double>{entry.NumericValue} : QList<double>{});
  if (numbers.isEmpty()) {
    return;
  }
  if (constant.Type == ConstantType::Scalar) {
    if (numbers.size() == 1) {
      record.scalarValue = numbers.first();
    } else {
      // A scalar given as several numbers cannot be put in; the lengths show the difference.
      record.scalarValue.reset();
      record.arrayValues = numbers;
    }
    return;
  }
  record.arrayValues = numbers;
}

}  // namespace

bool holdsTemperatureDifference(const ConstantDef& constant) {
  return constant.Translate == 0.0 && !constant.TranslateExpression;
}

Tune overlayMsq(const Tune& base, const MsqDocument& document, const EcuDefinition& definition) {
  Tune result = base;
  const FieldIndex index(definition);
  for (const QList<MsqConstant>* entries : {&document.Fields, &document.PcVariables}) {
    for (const MsqConstant& entry : *entries) {
      const std::optional<FieldRef> ref = index.find(definition, entry.Name);
      if (!ref) {
        continue;
      }
      if (TuneValue* record = result.find(ref->constant->Name)) {
        putEntry(*record, *ref->constant, entry);
      }
    }
  }
  return result;
}

}  // namespace tk
