#pragma once

#include <QByteArray>
#include <QStringView>
#include <optional>

namespace tk {

/// The number rule of tune texts: surrounding white space ignored, an optional sign, then "nan"
/// or "infinity" (any case), or decimal digits with an optional fraction (at least one digit;
/// "5." and ".5" count) and an optional exponent with at least one digit. Nothing else may follow;
/// hexadecimal, grouping and decimal commas are not numbers. Out-of-range magnitudes give
/// infinity or zero with the sign written.
std::optional<double> parseMsqNumber(QStringView text);

/// x as C printf "%.*f" prints it in the C locale: a negative precision means 6; NaN and
/// infinities are "nan", "-nan", "inf", "-inf". Precisions above kMaxFixedPrecision are capped.
QByteArray formatFixed(double x, int precision);
/// Appends the formatFixed text of x to out.
void appendFixed(QByteArray& out, double x, int precision);

/// Beyond this many decimals every double prints only zeros; larger requests are capped so that a
/// hostile digits attribute cannot make a text grow without bound.
inline constexpr int kMaxFixedPrecision = 1100;

}  // namespace tk
