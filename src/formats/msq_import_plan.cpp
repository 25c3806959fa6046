#include "formats/msq_import_plan.h"

#include <cmath>
#include <limits>

#include "formats/msq_overlay.h"
#include "formats/msq_units.h"
#include "tune/effective_attributes.h"
#include "tune/field_codec.h"
#include "tune/tune_editor.h"

namespace tk {
namespace {

// A NaN means nothing to keep, so the entry is refused; an infinity (also a number too large for
// a double) is as far as a value goes that way, so it ends at the constant's limit.
std::optional<PlannedStore> withExtremes(PlannedStore store) {
  for (double& number : store.numbers) {
    if (std::isnan(number)) {
      return std::nullopt;
    }
    if (std::isinf(number)) {
      number = std::copysign(std::numeric_limits<double>::max(), number);
    }
  }
  return store;
}

// entry in the units of the constant that takes it: temperatures converted, other units that
// differ noted and left as they are.
MsqConstant inProjectUnits(const TuneEditor& editor, const ConstantDef& constant,
                           const MsqConstant& entry, MsqImportPlan& plan) {
  MsqConstant adapted = entry;
  if (constant.Type != ConstantType::Scalar && constant.Type != ConstantType::Array) {
    return adapted;
  }
  switch (adaptMsqUnits(adapted, editor.effectiveUnits(constant),
                        holdsTemperatureDifference(constant))) {
    case UnitsOutcome::Converted:
      plan.converted.add(constant.Name);
      break;
    case UnitsOutcome::Differ:
      plan.unitsDiffer.add(constant.Name);
      break;
    case UnitsOutcome::Same:
      break;
  }
  return adapted;
}

long long missingCount(const EcuDefinition& definition, const TuneEditor& editor,
                       const QSet<const ConstantDef*>& held) {
  QSet<const ConstantDef*> all;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (const std::optional<FieldRef> ref = editor.findField(constant.Name)) {
        all.insert(ref->constant);
      }
    }
  }
  const qsizetype total = all.size();
  return static_cast<long long>(total - all.intersect(held).size());
}

}  // namespace

void NameReport::add(const QString& name) {
  if (seen_.contains(name)) {
    return;
  }
  seen_.insert(name);
  if (listed_.size() < kMaxListed) {
    listed_.append(name);
  }
}

JsonValue NameReport::json() const {
  JsonValue names = JsonValue::array();
  for (const QString& name : listed_) {
    names.append(name);
  }
  JsonValue report = JsonValue::object();
  report.insert(QStringLiteral("count"), static_cast<long long>(seen_.size()));
  report.insert(QStringLiteral("names"), std::move(names));
  return report;
}

std::optional<PlannedStore> planStore(const ConstantDef& constant, const MsqConstant& entry) {
  PlannedStore store{&constant, {}, {}};
  switch (constant.Type) {
    case ConstantType::String:
      store.text = entry.StringValue;
      return store;
    case ConstantType::Bits:
      if (const std::optional<int> raw = constant.bitValueOf(entry.StringValue)) {
        store.numbers = {static_cast<double>(*raw)};
      } else if (!entry.IsArray && entry.IsNumeric) {
        store.numbers = {entry.NumericValue};
      } else {
        return std::nullopt;
      }
      return withExtremes(std::move(store));
    case ConstantType::Scalar:
    case ConstantType::Array:
      break;
  }
  // A one-element array without a shape is written without rows and cols, so it reads back as
  // a scalar: both sides are compared by their number count.
  const QList<double> numbers =
      entry.IsArray ? entry.ArrayValues
                    : (entry.IsNumeric ? QList<double>{entry.NumericValue} : QList<double>{});
  const int expected = constant.Type == ConstantType::Scalar ? 1 : elementCount(constant);
  // A token that is no number leaves the others where they stand only by accident: the whole
  // entry is refused rather than imported shifted by one.
  if (expected < 1 || numbers.size() != expected || entry.SkippedTokens > 0) {
    return std::nullopt;
  }
  store.numbers = numbers;
  return withExtremes(std::move(store));
}

bool outsideLimits(const ConstantDef& constant, double value, const AttributeScope& scope) {
  if (!std::isfinite(value) || clampValue(constant, value, scope) != value) {
    return true;
  }
  const double step =
      constant.Type == ConstantType::Bits ? 1.0 : std::abs(effectiveScale(constant, scope));
  const double kept = quantizeValue(constant, value, scope);
  // The margin absorbs the floating-point error of the quantising arithmetic.
  return std::abs(kept - value) > step / 2 * (1 + 1e-9) + std::abs(value) * 1e-12;
}

MsqImportPlan planMsqImport(const MsqDocument& document, const TuneEditor& editor) {
  MsqImportPlan plan;
  QSet<const ConstantDef*> held;
  for (const QList<MsqConstant>* entries : {&document.Fields, &document.PcVariables}) {
    for (const MsqConstant& entry : *entries) {
      const std::optional<FieldRef> ref = editor.findField(entry.Name);
      if (ref) {
        held.insert(ref->constant);
      }
      std::optional<PlannedStore> store =
          ref ? planStore(*ref->constant, inProjectUnits(editor, *ref->constant, entry, plan))
              : std::nullopt;
      if (store) {
        plan.stores.append(std::move(*store));
      } else {
        plan.skipped.add(entry.Name);
      }
    }
  }
  if (const EcuDefinition* definition = editor.definition()) {
    plan.missing = missingCount(*definition, editor, held);
  }
  return plan;
}

}  // namespace tk
