#include "tune/tune_sync.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

TuneValue scalar(const char* name, double value) {
  TuneValue v;
  v.name = QString::fromLatin1(name);
  v.scalarValue = value;
  return v;
}

// Scalars differ beyond 0.0001, arrays and texts exactly; bit fields and mixed pairings never;
// a value the local tune lacks is not compared; the controller's order is kept.
TEST(TuneSyncTest, ComparesAsTheControllerStores) {
  Tune ecu;
  Tune local;
  ecu.fields = {scalar("a", 1.0), scalar("b", 1.0), scalar("onlyEcu", 1.0), scalar("mixed", 1.0)};
  local.fields = {scalar("b", 1.001), scalar("a", 1.00005)};
  TuneValue grid;
  grid.name = QStringLiteral("grid");
  grid.arrayValues = QList<double>{1, 2, 3};
  ecu.fields.append(grid);
  (*grid.arrayValues)[2] = 4;
  local.fields.append(grid);
  TuneValue text;
  text.name = QStringLiteral("text");
  text.stringValue = QStringLiteral("x");
  ecu.fields.append(text);
  text.stringValue.reset();
  local.fields.append(text);
  TuneValue mixed;
  mixed.name = QStringLiteral("mixed");
  mixed.arrayValues = QList<double>{1};
  local.fields.append(mixed);
  TuneValue bits;
  bits.name = QStringLiteral("bits");
  bits.bitsRawValue = 1;
  ecu.fields.append(bits);
  bits.bitsRawValue = 2;
  local.fields.append(bits);

  QStringList names;
  for (const SyncDifference& d : syncDifferences(ecu, local)) {
    names.append(d.ecu->name);
    EXPECT_EQ(d.local, local.find(d.ecu->name));
  }
  EXPECT_EQ(names, (QStringList{"b", "grid", "text"}));
}

}  // namespace
}  // namespace tk
