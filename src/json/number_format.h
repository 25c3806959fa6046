#pragma once

#include <QString>
#include <string>

namespace tk {

/// Threshold of the JSON writer and the agent commands' text output.
inline constexpr int kJsonThreshold = 17;
/// Threshold of expression and definition number texts.
inline constexpr int kExprThreshold = 15;

/// Shortest round-trip text of a finite double: plain form for exponents in [-4, threshold),
/// scientific "d.dddE+xx" otherwise; zero is "0" or "-0".
QString formatDouble(double x, int threshold = kJsonThreshold);
/// The same for a float with its own shortest digits and threshold 9.
QString formatFloat(float x);
/// formatDouble(x, 17), except NaN, +inf and -inf become "NaN", "Infinity", "-Infinity".
QString formatDoubleOrNonFinite(double x);
/// formatFloat(x), except NaN, +inf and -inf become "NaN", "Infinity", "-Infinity".
QString formatFloatOrNonFinite(float x);

/// Appends the formatDouble text as ASCII; the value must be finite.
void appendDouble(std::string& out, double x, int threshold);
/// Appends the formatFloat text as ASCII; the value must be finite.
void appendFloat(std::string& out, float x);

}  // namespace tk
