#include "formats/msq_units.h"

namespace tk {

QString normalizedUnits(const QString& units) {
  QString text;
  for (const QChar c : units) {
    // U+00C2 is how the first byte of a UTF-8 degree sign reads as Latin-1.
    if (c.isSpace() || c == QChar(0x00B0) || c == QChar(0x00C2) || c == QChar(0x00BA)) {
      continue;
    }
    text.append(c.toLower());
  }
  return text;
}

TemperatureUnit temperatureUnit(const QString& units) {
  QString text = normalizedUnits(units);
  if (text.startsWith(QLatin1String("deg"))) {
    text = text.mid(3);
  }
  if (text == QLatin1String("c") || text == QLatin1String("celsius")) {
    return TemperatureUnit::Celsius;
  }
  if (text == QLatin1String("f") || text == QLatin1String("fahrenheit")) {
    return TemperatureUnit::Fahrenheit;
  }
  return TemperatureUnit::None;
}

double convertTemperature(double value, TemperatureUnit from, TemperatureUnit to) {
  if (from == TemperatureUnit::Celsius && to == TemperatureUnit::Fahrenheit) {
    return value * 9.0 / 5.0 + 32.0;
  }
  if (from == TemperatureUnit::Fahrenheit && to == TemperatureUnit::Celsius) {
    return (value - 32.0) * 5.0 / 9.0;
  }
  return value;
}

UnitsOutcome adaptMsqUnits(MsqConstant& entry, const QString& units, bool temperatureDifference) {
  if (entry.Units.trimmed().isEmpty() || units.trimmed().isEmpty() ||
      normalizedUnits(entry.Units) == normalizedUnits(units)) {
    return UnitsOutcome::Same;
  }
  const TemperatureUnit from = temperatureUnit(entry.Units);
  const TemperatureUnit to = temperatureUnit(units);
  if (from == TemperatureUnit::None || to == TemperatureUnit::None) {
    return UnitsOutcome::Differ;
  }
  if (from == to) {
    return UnitsOutcome::Same;
  }
  if (temperatureDifference) {
    return UnitsOutcome::Differ;
  }
  entry.NumericValue = convertTemperature(entry.NumericValue, from, to);
  for (double& value : entry.ArrayValues) {
    value = convertTemperature(value, from, to);
  }
  return UnitsOutcome::Converted;
}

}  // namespace tk
