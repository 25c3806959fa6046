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

TEST(TuneTest, FindMatchesExactNamesAndPrefersTheFirstRecord) {
  Tune tune;
  EXPECT_EQ(found(tune, "abc"), -1);
  tune.fields = {named("abc", 1), named("Abc", 2), named("abc", 3)};
  EXPECT_EQ(found(tune, "abc"), 1);
  EXPECT_EQ(found(tune, "Abc"), 2);
  EXPECT_EQ(found(tune, "ABC"), -1);
  EXPECT_EQ(tune.upsert(named("abc", 5)).scalarValue, 5);
  EXPECT_EQ(tune.fields.at(0).scalarValue, 5);
  const TuneValue* added = &tune.upsert(named("new", 7));
  EXPECT_EQ(added, &tune.fields.last());
}

// The index sits beside a list that callers change directly.
TEST(TuneTest, FindNoticesRecordsChangedDirectly) {
  Tune tune;
  tune.fields = {named("a", 1), named("b", 2)};
  EXPECT_EQ(found(tune, "b"), 2);
  tune.fields.append(named("c", 3));
  EXPECT_EQ(found(tune, "c"), 3);
  tune.fields.removeFirst();
  EXPECT_EQ(found(tune, "a"), -1);
  EXPECT_EQ(found(tune, "c"), 3);
  // Same length, other names: a stale hit is detected and looked up afresh.
  tune.fields[0] = named("x", 9);
  EXPECT_EQ(found(tune, "b"), -1);
  EXPECT_EQ(found(tune, "x"), 9);
  tune.fields = {named("c", 4), named("d", 5)};
  EXPECT_EQ(found(tune, "d"), 5);
  // Renaming in place needs an index refresh.
  tune.fields[1].name = QStringLiteral("z");
  tune.invalidateIndex();
  EXPECT_EQ(found(tune, "z"), 5);
  EXPECT_EQ(found(tune, "d"), -1);
}

TEST(TuneTest, CopiesAreIndependentAndCompareByContent) {
  Tune tune;
  tune.upsert(named("a", 1));
  Tune copy = tune;
  copy.find(QStringLiteral("a"))->scalarValue = 2;
  EXPECT_EQ(found(tune, "a"), 1);
  EXPECT_NE(copy, tune);
  Tune unindexed;
  unindexed.fields = tune.fields;
  EXPECT_EQ(unindexed, tune);  // the index is not part of the value
  unindexed.pages = PageImages{{1, QByteArray(2, '\0')}};
  EXPECT_NE(unindexed, tune);
}

}  // namespace
}  // namespace tk
