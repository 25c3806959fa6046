#include "tune/tune_value.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

TuneValue named(const char* name, double v) {
  TuneValue value;
  value.name = QString::fromLatin1(name);
  value.scalarValue = v;
  return value;
}

// The scalar of the first record named name, or -1 when there is none.
double found(const Tune& tune, const char* name) {
  const TuneValue* value = tune.find(QString::fromLatin1(name));
  return value != nullptr ? value->scalarValue.value_or(-2) : -1;
}

// The name index sits beside a list that callers change directly.
TEST(TuneTest, FindMatchesExactNamesAndNoticesRecordsChangedDirectly) {
  Tune tune;
  tune.fields = {named("abc", 1), named("Abc", 2), named("abc", 3)};
  EXPECT_EQ(found(tune, "abc"), 1);
  EXPECT_EQ(found(tune, "ABC"), -1);
  EXPECT_EQ(tune.upsert(named("abc", 5)).scalarValue, 5);
  EXPECT_EQ(tune.fields.at(0).scalarValue, 5);
  tune.fields.append(named("c", 3));
  EXPECT_EQ(found(tune, "c"), 3);
  tune.fields.removeFirst();
  EXPECT_EQ(found(tune, "Abc"), 2);
  // Same length, other names: a stale hit is detected and looked up afresh.
  tune.fields[0] = named("x", 9);
  EXPECT_EQ(found(tune, "Abc"), -1);
  EXPECT_EQ(found(tune, "x"), 9);
  // Renaming in place needs an index refresh.
  tune.fields[0].name = QStringLiteral("z");
  tune.invalidateIndex();
  EXPECT_EQ(found(tune, "z"), 9);
  // Copies are independent and compare by content, not by their index.
  Tune copy = tune;
  copy.find(QStringLiteral("z"))->scalarValue = 2;
  EXPECT_EQ(found(tune, "z"), 9);
  Tune unindexed;
  unindexed.fields = tune.fields;
  EXPECT_EQ(unindexed, tune);
  EXPECT_NE(copy, tune);
}

}  // namespace
}  // namespace tk
