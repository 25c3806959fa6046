#include "tune/field_index.h"

#include "definition/ecu_definition.h"

namespace tk {

FieldIndex::FieldIndex(const EcuDefinition& definition) {
  for (qsizetype p = 0; p < definition.Pages.size(); ++p) {
    const QList<ConstantDef>& fields = definition.Pages.at(p).Fields;
    for (qsizetype f = 0; f < fields.size(); ++f) {
      // The first constant of a name wins, as in the definition's own lookups.
      const QString key = fields.at(f).Name.toLower();
      if (!positions_.contains(key)) {
        positions_.insert(key, {p, f});
      }
    }
  }
}

std::optional<FieldRef> FieldIndex::find(const EcuDefinition& definition,
                                         const QString& name) const {
  const auto it = positions_.constFind(name.toLower());
  if (it == positions_.cend()) {
    return std::nullopt;
  }
  const auto [p, f] = *it;
  if (p >= definition.Pages.size() || f >= definition.Pages.at(p).Fields.size()) {
    return std::nullopt;  // the definition changed shape since the index was built
  }
  const PageGroup& group = definition.Pages.at(p);
  return FieldRef{&group.Fields.at(f), group.PageNumber};
}

double storedValue(const Tune& tune, const ConstantDef& constant, int index) {
  const TuneValue* value = tune.find(constant.Name);
  if (value == nullptr) {
    return 0.0;
  }
  switch (constant.Type) {
    case ConstantType::Scalar:
      return value->scalarValue.value_or(0.0);
    case ConstantType::Array:
      if (value->arrayValues && index >= 0 && index < value->arrayValues->size()) {
        return value->arrayValues->at(index);
      }
      return 0.0;
    case ConstantType::Bits:
      return value->bitsRawValue.value_or(0);
    case ConstantType::String:
      break;
  }
  return 0.0;
}

}  // namespace tk
