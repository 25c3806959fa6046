#include "formats/msq_units.h"

#include <gtest/gtest.h>

#include "definition/name_hint.h"

namespace tk {
namespace {

// The spellings tunes use for the two scales, a Latin-1 reading of UTF-8 included.
TEST(MsqUnitsTest, TemperatureSpellingsAndConversion) {
  for (const char16_t* c : {u"C", u"°C", u"degC", u"deg c", u"Â°C", u" c "}) {
    EXPECT_EQ(temperatureUnit(QString::fromUtf16(c)), TemperatureUnit::Celsius);
  }
  for (const char16_t* f : {u"F", u"°F", u"deg F", u"Â°f"}) {
    EXPECT_EQ(temperatureUnit(QString::fromUtf16(f)), TemperatureUnit::Fahrenheit);
  }
  for (const char* other : {"", "kPa", "CC", "%"}) {
    EXPECT_EQ(temperatureUnit(QString::fromLatin1(other)), TemperatureUnit::None);
  }

  MsqConstant bins;
  bins.Units = QStringLiteral("C");
  bins.ArrayValues = {-40, 90};
  EXPECT_EQ(adaptMsqUnits(bins, QStringLiteral("°F"), false), UnitsOutcome::Converted);
  EXPECT_EQ(bins.ArrayValues, (QList<double>{-40, 194}));
  MsqConstant hysteresis;
  hysteresis.Units = QStringLiteral("C");
  hysteresis.NumericValue = 5;
  EXPECT_EQ(adaptMsqUnits(hysteresis, QStringLiteral("F"), true), UnitsOutcome::Differ);
  EXPECT_EQ(hysteresis.NumericValue, 5);
  MsqConstant pressure;
  pressure.Units = QStringLiteral("kPa");
  EXPECT_EQ(adaptMsqUnits(pressure, QStringLiteral("psi"), false), UnitsOutcome::Differ);
  EXPECT_EQ(adaptMsqUnits(pressure, QStringLiteral(" KPA"), false), UnitsOutcome::Same);
  EXPECT_EQ(adaptMsqUnits(pressure, QString(), false), UnitsOutcome::Same);
}

TEST(NameHintTest, CaseOrOneEditAway) {
  const QStringList names = {"reqFuel", "veTable1Tbl", "RPM"};
  EXPECT_EQ(similarName("reqfuel", names), "reqFuel");
  EXPECT_EQ(similarName("reqFuell", names), "reqFuel");
  EXPECT_EQ(similarName("veTabl1Tbl", names), "veTable1Tbl");
  EXPECT_EQ(similarName("rpn", names), "RPM");
  EXPECT_EQ(similarName("reqFuel", names), std::nullopt);
  EXPECT_EQ(similarName("reqFu", names), std::nullopt);
  EXPECT_EQ(similarName("", names), std::nullopt);
}

}  // namespace
}  // namespace tk
