#pragma once

#include <QString>

#include "formats/msq_document.h"

namespace tk {

/// The temperature scale a units text names.
enum class TemperatureUnit { None, Celsius, Fahrenheit };

/// A units text without case, blanks and degree signs (the Latin-1 reading of a UTF-8 degree
/// sign, "Â°", included), for comparing spellings: "°C", "deg C" and "Â°c" all give "c".
QString normalizedUnits(const QString& units);
/// Celsius for "C", "°C", "degC", "deg C" and such spellings, Fahrenheit likewise for "F";
/// None for anything else.
TemperatureUnit temperatureUnit(const QString& units);
/// value, a temperature on scale from, on scale to (unchanged when either is None).
double convertTemperature(double value, TemperatureUnit from, TemperatureUnit to);

/// What bringing an entry's units to a constant's did.
enum class UnitsOutcome {
  /// Same units, or one side names none.
  Same,
  /// Both were temperatures on different scales; the entry's numbers were converted.
  Converted,
  /// The units differ and no conversion is known; the numbers were left as they are.
  Differ,
};

/// Brings entry's numbers (scalar and array values) to units, the units of the constant that
/// takes it. A constant whose units are a temperature scale but whose value is stored without an
/// offset (temperatureDifference) holds a difference of temperatures, not one, and is left as it
/// is (reported as Differ).
UnitsOutcome adaptMsqUnits(MsqConstant& entry, const QString& units, bool temperatureDifference);

}  // namespace tk
