#pragma once

#include <QString>

namespace tk {

struct ConstantDef;
class AttributeScope;

/// ScaleExpression evaluated in scope when present (1.0 when empty or not parsing), else Scale.
double effectiveScale(const ConstantDef& constant, const AttributeScope& scope);
/// TranslateExpression evaluated when present (0.0 when empty or not parsing), else Translate.
double effectiveTranslate(const ConstantDef& constant, const AttributeScope& scope);
/// MinExpression evaluated when present (0.0 when empty, -infinity when not parsing), else Min.
double effectiveMin(const ConstantDef& constant, const AttributeScope& scope);
/// MaxExpression evaluated when present (0.0 when empty, +infinity when not parsing), else Max.
double effectiveMax(const ConstantDef& constant, const AttributeScope& scope);
/// DigitsExpression evaluated and truncated toward zero when present (0 when empty or not
/// parsing), else Digits.
int effectiveDigits(const ConstantDef& constant, const AttributeScope& scope);
/// UnitsExpression resolved when present, else Units. Resolved forms: stringValue(name),
/// bitStringValue(list, name), name ? "a" : "b" and !name ? "a" : "b"; any other text, or a
/// lookup that finds nothing, gives the expression text unchanged.
QString effectiveUnits(const ConstantDef& constant, const AttributeScope& scope);

/// value limited to the effective minimum (when HasMin or a MinExpression is given), then to
/// the effective maximum (likewise); with both active and min > max the result is max.
double clampValue(const ConstantDef& constant, double value, const AttributeScope& scope);
/// The physical value a store of value keeps: 0 for NaN and infinities; clamped; Bits give the
/// rounded raw value within the field's width; others are quantised through the effective scale
/// and translate and the storage type (0 when the result is not finite).
double quantizeValue(const ConstantDef& constant, double value, const AttributeScope& scope);

}  // namespace tk
