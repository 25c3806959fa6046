#include "tune/effective_attributes.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

#include "definition/ecu_definition.h"
#include "definition/scaling.h"
#include "tune/attribute_expression.h"
#include "tune/raw_codec.h"

namespace tk {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double attribute(const std::optional<QString>& expression, double plain, double emptyValue,
                 double failedValue, const AttributeScope& scope) {
  return expression ? scope.evaluate(*expression, emptyValue, failedValue) : plain;
}

// Truncation toward zero into the 32-bit range; NaN gives 0.
int toInt32(double v) {
  if (std::isnan(v)) {
    return 0;
  }
  const double t = std::trunc(v);
  if (t <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  if (t >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(t);
}

// The first PC variable of the string list named list (ignoring case) that has labels.
const ConstantDef* stringList(const EcuDefinition& definition, const QString& list) {
  const PageGroup* group = definition.findPage(0);
  if (group == nullptr) {
    return nullptr;
  }
  for (const ConstantDef& constant : group->Fields) {
    if (constant.IsPcVariable && !constant.BitValues.isEmpty() &&
        constant.Name.compare(list, Qt::CaseInsensitive) == 0) {
      return &constant;
    }
  }
  return nullptr;
}

std::optional<QString> resolveUnits(const QString& expression, const AttributeScope& scope) {
  static const QRegularExpression kStringValue(
      QStringLiteral("^stringValue\\s*\\(\\s*(\\w+)\\s*\\)$"));
  static const QRegularExpression kBitStringValue(
      QStringLiteral("^bitStringValue\\s*\\(\\s*(\\w+)\\s*,\\s*(\\w+)\\s*\\)$"));
  static const QRegularExpression kChoice(
      QStringLiteral("^(!?)\\s*(\\w+)\\s*\\?\\s*\"([^\"]*)\"\\s*:\\s*\"([^\"]*)\"$"));

  QString text = expression.trimmed();
  if (text.startsWith(u'{') && text.endsWith(u'}')) {
    text = text.mid(1, text.size() - 2).trimmed();
  }
  if (const QRegularExpressionMatch m = kStringValue.match(text); m.hasMatch()) {
    const std::optional<FieldRef> field = scope.findField(m.captured(1));
    if (!field) {
      return std::nullopt;
    }
    const TuneValue* value = scope.tune().find(field->constant->Name);
    return value != nullptr ? value->stringValue.value_or(QString()) : QString();
  }
  if (const QRegularExpressionMatch m = kBitStringValue.match(text); m.hasMatch()) {
    const ConstantDef* list = stringList(scope.definition(), m.captured(1));
    const std::optional<double> selector = scope.nameValue(m.captured(2));
    if (list == nullptr || !selector) {
      return std::nullopt;
    }
    const QString* label = list->bitValueLabel(toInt32(*selector));
    return label != nullptr ? std::optional<QString>(*label) : std::nullopt;
  }
  if (const QRegularExpressionMatch m = kChoice.match(text); m.hasMatch()) {
    const std::optional<double> condition = scope.nameValue(m.captured(2));
    if (!condition) {
      return std::nullopt;
    }
    const bool first = (*condition != 0.0) != !m.captured(1).isEmpty();
    return first ? m.captured(3) : m.captured(4);
  }
  return std::nullopt;
}

}  // namespace

// An expression that does not parse (a function this evaluator does not know, say) falls back
// to the neutral value: scale 1 and translate 0 keep the raw bytes' meaning through a decode and
// encode, and an unknown limit does not limit (a limit of 0 would zero every edit).
double effectiveScale(const ConstantDef& constant, const AttributeScope& scope) {
  return attribute(constant.ScaleExpression, constant.Scale, 1.0, 1.0, scope);
}

double effectiveTranslate(const ConstantDef& constant, const AttributeScope& scope) {
  return attribute(constant.TranslateExpression, constant.Translate, 0.0, 0.0, scope);
}

double effectiveMin(const ConstantDef& constant, const AttributeScope& scope) {
  return attribute(constant.MinExpression, constant.Min, 0.0, -kInfinity, scope);
}

double effectiveMax(const ConstantDef& constant, const AttributeScope& scope) {
  return attribute(constant.MaxExpression, constant.Max, 0.0, kInfinity, scope);
}

int effectiveDigits(const ConstantDef& constant, const AttributeScope& scope) {
  if (!constant.DigitsExpression) {
    return constant.Digits;
  }
  return toInt32(scope.evaluate(*constant.DigitsExpression, 0.0, 0.0));
}

QString effectiveUnits(const ConstantDef& constant, const AttributeScope& scope) {
  if (!constant.UnitsExpression) {
    return constant.Units;
  }
  // An expression that does not resolve stays as written, so the user sees what was meant.
  return resolveUnits(*constant.UnitsExpression, scope).value_or(*constant.UnitsExpression);
}

double clampValue(const ConstantDef& constant, double value, const AttributeScope& scope) {
  const bool lowActive =
      constant.HasMin || (constant.MinExpression && !constant.MinExpression->isEmpty());
  const bool highActive =
      constant.HasMax || (constant.MaxExpression && !constant.MaxExpression->isEmpty());
  // Comparisons rather than std::max/min: a NaN limit (an expression dividing by zero) is ignored.
  if (lowActive) {
    const double low = effectiveMin(constant, scope);
    if (value < low) {
      value = low;
    }
  }
  if (highActive) {
    const double high = effectiveMax(constant, scope);
    if (value > high) {
      value = high;
    }
  }
  return value;
}

double quantizeValue(const ConstantDef& constant, double value, const AttributeScope& scope) {
  if (!std::isfinite(value)) {
    return 0.0;
  }
  const double x = clampValue(constant, value, scope);
  if (constant.Type == ConstantType::Bits) {
    const int n = constant.BitEnd - constant.BitStart;
    const double limit = n < 30 ? std::ldexp(1.0, n + 1) - 1.0 : 2147483647.0;
    const double r = roundHalfEven(x);
    // Upper bound first, so a reversed bit range (limit below 0) still ends at 0.
    return std::max(0.0, std::min(limit, r)) + 0.0;
  }
  const double s = effectiveScale(constant, scope);
  const double t = effectiveTranslate(constant, scope);
  if (s == 0.0) {
    return x;
  }
  const double raw = toStorable(rawFromPhysical(x, s, t), rawTypeOf(constant.DataType));
  const double result = physicalFromRaw(raw, s, t);
  // + 0.0: a stored 0 is positive, also through a negative scale.
  return std::isfinite(result) ? result + 0.0 : 0.0;
}

}  // namespace tk
