#pragma once

#include <QString>
#include <optional>

#include "tune/tune_value.h"

namespace tk {

struct EcuDefinition;
class FieldIndex;

/// Evaluates the expression-valued attributes of constants (scale, translate, limits, digits)
/// against a tune. The language is small and separate from the channel expression language:
/// an optional pair of braces, one conditional "c ? a : b" split at the top level, numbers,
/// names and arithmetic (+ - * / %, unary - and !, comparisons, && and ||, C precedence).
/// A name is the stored value of the constant of that name (ignoring case; element 0), else the
/// value of the computed output channel of that name (exact name first, then ignoring case;
/// evaluated the same way, nesting bounded, a cycle giving 0), else 0. The scope keeps references:
/// definition, index and tune must outlive it, and changes to the tune are seen by later
/// evaluations.
class AttributeScope {
 public:
  /// Nesting limit for computed channels named by other expressions.
  static constexpr int kMaxChannelNesting = 16;

  /// A scope over tune; index must have been built from definition (or a copy of it).
  AttributeScope(const EcuDefinition& definition, const FieldIndex& index, const Tune& tune);

  /// The value of expression: emptyValue when it is empty, failedValue when it does not parse.
  double evaluate(const QString& expression, double emptyValue, double failedValue) const;
  /// The value of a name as expressions see it; nullopt when it is neither a constant nor a
  /// computed channel, or when the channel's expression does not parse.
  std::optional<double> nameValue(const QString& name) const;

  /// The constant named name, ignoring case.
  std::optional<FieldRef> findField(const QString& name) const;
  const EcuDefinition& definition() const { return definition_; }
  const Tune& tune() const { return tune_; }

 private:
  const EcuDefinition& definition_;
  const FieldIndex& index_;
  const Tune& tune_;
};

}  // namespace tk
