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
double found(Tune& tune, const char* name) {
  const TuneValue* value = tune.find(QString::fromLatin1(name));
  return value != nullptr ? value->scalarValue.value_or(-2) : -1;
}

TEST(TuneTest, NewTuneHasEmptyTimestampsAndNoMetadata) {
  Tune tune;
  EXPECT_EQ(tune.lastSaved, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_EQ(tune.writeTimestamp, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_EQ(tune.nPages, 0);
  EXPECT_FALSE(tune.firmwareInfo.has_value());
  EXPECT_FALSE(tune.pages.has_value());
  EXPECT_EQ(found(tune, "x"), -1);
}

TEST(TuneTest, FindMatchesExactNamesAndPrefersTheFirstRecord) {
  Tune tune;
  tune.fields = {named("abc", 1), named("Abc", 2), named("abc", 3)};
  EXPECT_EQ(found(tune, "abc"), 1);
  EXPECT_EQ(found(tune, "Abc"), 2);
  EXPECT_EQ(found(tune, "ABC"), -1);
}

TEST(TuneTest, FindNoticesRecordsChangedDirectly) {
  Tune tune;
  tune.fields = {named("a", 1), named("b", 2)};
  EXPECT_EQ(found(tune, "b"), 2);
  tune.fields.append(named("c", 3));
  EXPECT_EQ(found(tune, "c"), 3);
  tune.fields.removeFirst();
  EXPECT_EQ(found(tune, "a"), -1);
  EXPECT_EQ(found(tune, "b"), 2);
  EXPECT_EQ(found(tune, "c"), 3);
  // Same length, other names: a stale hit is detected and looked up afresh.
  tune.fields[0] = named("x", 9);
  EXPECT_EQ(found(tune, "b"), -1);
  EXPECT_EQ(found(tune, "x"), 9);
  // A whole list of the same length replacing the records.
  tune.fields = {named("c", 4), named("d", 5)};
  EXPECT_EQ(found(tune, "d"), 5);
  EXPECT_EQ(found(tune, "c"), 4);
  EXPECT_EQ(found(tune, "x"), -1);
  // Renaming in place needs an index refresh.
  tune.fields[1].name = QStringLiteral("z");
  tune.invalidateIndex();
  EXPECT_EQ(found(tune, "z"), 5);
  EXPECT_EQ(found(tune, "d"), -1);
}

TEST(TuneTest, UpsertReplacesTheFirstRecordOrAppends) {
  Tune tune;
  tune.upsert(named("a", 1));
  tune.upsert(named("b", 2));
  TuneValue& replaced = tune.upsert(named("a", 5));
  EXPECT_EQ(replaced.scalarValue, 5);
  ASSERT_EQ(tune.fields.size(), 2);
  EXPECT_EQ(tune.fields.at(0).scalarValue, 5);
  TuneValue& added = tune.upsert(named("c", 7));
  EXPECT_EQ(&added, &tune.fields.last());
  EXPECT_EQ(found(tune, "c"), 7);
}

TEST(TuneTest, CopiesAreIndependentAndCompareByContent) {
  Tune tune;
  tune.upsert(named("a", 1));
  tune.signature = QStringLiteral("sig");
  Tune copy = tune;
  copy.find(QStringLiteral("a"))->scalarValue = 2;
  EXPECT_EQ(found(tune, "a"), 1);
  EXPECT_NE(copy, tune);
  copy.find(QStringLiteral("a"))->scalarValue = 1;
  EXPECT_EQ(copy, tune);
  Tune unindexed;
  unindexed.fields = tune.fields;
  unindexed.signature = tune.signature;
  EXPECT_EQ(unindexed, tune);  // the index is not part of the value
  unindexed.pages = PageImages{{1, QByteArray(2, '\0')}};
  EXPECT_NE(unindexed, tune);
}

}  // namespace
}  // namespace tk
