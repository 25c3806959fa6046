#include "tune/tune_comparator.h"

#include <gtest/gtest.h>

#include <limits>

#include "formats/msq_test_helpers.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::msqConstant;

// The reference comparison of two synthetic images (tests/conformance) covers the common
// entries; these are the rules it does not reach.
class TuneComparatorTest : public ::testing::Test {
 protected:
  TuneComparatorTest() : definition_(test::tuneDefinition("compare.ini")) {}

  // A fresh record named name in tune, replacing any earlier one.
  static TuneValue& put(Tune& tune, const char* name) { return tune.upsert(test::tuneValue(name)); }

  QList<TuneDiffEntry> compare() const {
    return TuneComparator().compare(definition_, local_, remote_);
  }

  // The single entry of the comparison; fails the test when there is not exactly one.
  TuneDiffEntry only() const {
    const QList<TuneDiffEntry> entries = compare();
    EXPECT_EQ(entries.size(), 1);
    return entries.isEmpty() ? TuneDiffEntry() : entries.first();
  }

  const EcuDefinition definition_;
  Tune local_;
  Tune remote_;
};

TEST_F(TuneComparatorTest, DifferencesBelowStorageResolutionOrToleranceDisappear) {
  put(local_, "fuel").scalarValue = 12.34;  // both store raw 123 on a 0.1 scale
  put(remote_, "fuel").scalarValue = 12.3;
  EXPECT_TRUE(compare().isEmpty());
  put(remote_, "fuel").scalarValue = 12.46;  // raw 125
  EXPECT_EQ(only().scalarDifference, (NumericDifference{12.3 - 12.5, QStringLiteral("-0.20"), -1}));
  std::swap(local_, remote_);
  EXPECT_EQ(only().diffSummary, "local 12.5, remote 12.3 (+0.20)");

  // The tolerance is half the last display digit: 0.05 with Digits 1, 0.0005 with 3, and 0.0001
  // with 0, where texts that round alike give an entry without a difference.
  put(local_, "fuel").scalarValue = 12.3;
  put(local_, "afr").scalarValue = 10.02;
  put(remote_, "afr").scalarValue = 10.06;
  EXPECT_TRUE(compare().isEmpty());
  put(local_, "afr").scalarValue = 10.06;
  put(local_, "afr3").scalarValue = 10.02;
  put(remote_, "afr3").scalarValue = 10.06;
  EXPECT_EQ(only().scalarDifference->text, "-0.04");
  put(local_, "afr3").scalarValue = 10.06;
  put(local_, "afr0").scalarValue = 12.25;
  put(remote_, "afr0").scalarValue = 12.0;
  EXPECT_EQ(only().diffSummary, "local 12, remote 12");
}

TEST_F(TuneComparatorTest, BitFieldsCompareTheirLabels) {
  // Raw values 0 and 7 differ but carry the same word: no entry.
  put(local_, "mode").bitsRawValue = 0;
  put(remote_, "mode").bitsRawValue = 7;
  EXPECT_TRUE(compare().isEmpty());
  // Without a definition label the record's label is shown, else the number.
  TuneValue& two = put(local_, "mode");
  two.bitsRawValue = 2;
  two.enumValue = QStringLiteral("Two");
  put(remote_, "mode").bitsRawValue = 5;
  EXPECT_EQ(only().diffSummary, "local Two, remote 5");
  // Bit fields without labels get a numeric difference; an absent raw value counts as 0.
  put(local_, "mode").bitsRawValue = 5;
  put(local_, "teeth").bitsRawValue = 36;
  put(remote_, "teeth").bitsRawValue = 60;
  EXPECT_EQ(only().scalarDifference, (NumericDifference{-24, QStringLiteral("-24.00"), -1}));
  put(local_, "teeth").enumValue = QStringLiteral("x");
  put(remote_, "teeth").bitsRawValue = 0;
  EXPECT_TRUE(compare().isEmpty());
}

TEST_F(TuneComparatorTest, OneSidedValuesDifferUnlessEmptyAndEntriesFollowTheDefinition) {
  put(local_, "fuel").scalarValue = 4;
  EXPECT_EQ(only().diffSummary, "local 4.0, remote 0 (+4.00)");
  local_.find("fuel")->scalarValue.reset();  // a record without a value
  // An empty text against an absent one, and an empty array, are not differences.
  put(local_, "note").stringValue = QString();
  put(remote_, "bins").arrayValues = QList<double>{};
  EXPECT_TRUE(compare().isEmpty());
  // Texts that are numbers get a numeric difference.
  put(local_, "note").stringValue = QStringLiteral("12");
  put(remote_, "note").stringValue = QStringLiteral("10.5");
  EXPECT_EQ(only().scalarDifference, (NumericDifference{1.5, QStringLiteral("+1.50"), 1}));
  // Entries follow the definition's order and leave PC variables out.
  put(local_, "late").scalarValue = 1;
  put(local_, "pcOnly").scalarValue = 9;
  put(local_, "mode").bitsRawValue = 1;
  put(local_, "fuel").scalarValue = 1;
  QStringList names;
  for (const TuneDiffEntry& e : compare()) {
    names.append(e.category + u':' + e.fieldName);
  }
  EXPECT_EQ(names.join(u' '), "Page 1:fuel Page 1:mode Page 1:note Page 2:late");
}

TEST_F(TuneComparatorTest, ArraysCompareCellByCellWithinTolerance) {
  // F32 with Digits 0: within 0.0001 is the same.
  put(local_, "bins").arrayValues = QList<double>{1.00005, 2, 3, 4};
  put(remote_, "bins").arrayValues = QList<double>{1, 2, 3, 4};
  EXPECT_TRUE(compare().isEmpty());
  // A side without the array: its cells read 0.
  remote_.fields.clear();
  TuneDiffEntry e = only();
  EXPECT_EQ(e.remoteValue, "[4]");
  EXPECT_EQ(e.differentCellCount, 4);
  EXPECT_EQ(e.remoteTableRows.at(0).cells.at(3),
            (TuneDiffCell{0.0, true, NumericDifference{-4, QStringLiteral("-4.00"), -1}}));
  EXPECT_EQ(e.remoteTablePreview, "*0.0* *0.0* *0.0* *0.0*\r\n");
  // Element counts that differ: the shorter side reads 0 past its end.
  put(remote_, "bins").arrayValues = QList<double>{1.00005, 2, 3};
  e = only();
  EXPECT_EQ(e.differentCellCount, 1);
  EXPECT_EQ(e.localTablePreview, "   1.0    2.0    3.0 *4.0*\r\n");
  // Nine columns: the ninth is cut and the row marked.
  EXPECT_EQ(tablePreview({1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 0}, 9),
            "   1.0    2.0    3.0    4.0    5.0    6.0    7.0    8.0 ...\r\n");
  EXPECT_EQ(tablePreview({-1.25, 12345.0}, {-1.25, 12345.0}, 2), "  -1.2 12345.0\r\n");
}

TEST(NormalizeTest, StoresAsTheControllerWould) {
  ConstantDef c = msqConstant("x", ConstantType::Scalar, "u08");
  c.Scale = 1.8;  // degF: 140 is raw 140 / 1.8 + 22.23 = 100.006, stored as 100
  c.Translate = -22.23;
  EXPECT_EQ(normalizeForComparison(c, 140), (100 - 22.23) * 1.8);
  EXPECT_EQ(normalizeForComparison(c, std::numeric_limits<double>::infinity()), 0);
  c.Scale = 0;  // no scale: the value is kept
  EXPECT_EQ(normalizeForComparison(c, 300.7), 300.7);
  c.Type = ConstantType::Bits;
  EXPECT_EQ(normalizeForComparison(c, 3.5), 4);
}

}  // namespace
}  // namespace tk
