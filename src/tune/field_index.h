#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <utility>

#include "tune/tune_value.h"

namespace tk {

struct EcuDefinition;

/// Case-insensitive lookup of the constants of a definition (every page group, PC variables
/// included). Stores positions, not pointers, so it stays valid when the definition it was built
/// from is copied or moved; it must be rebuilt when page groups or their constants change.
class FieldIndex {
 public:
  /// Indexes every constant of definition; of two names equal ignoring case the first declared
  /// wins.
  explicit FieldIndex(const EcuDefinition& definition);

  /// The constant named name (ignoring case) in definition, which must be the indexed one or a
  /// copy.
  std::optional<FieldRef> find(const EcuDefinition& definition, const QString& name) const;

 private:
  /// Lower-cased name -> (position of the page group, position of the constant in it).
  QHash<QString, std::pair<qsizetype, qsizetype>> positions_;
};

/// The stored physical value of constant in tune, as getValue reads it: Scalar -> scalarValue,
/// Array -> element index, Bits -> bitsRawValue, String -> 0; 0 when the record or the element
/// is missing.
double storedValue(const Tune& tune, const ConstantDef& constant, int index);

}  // namespace tk
