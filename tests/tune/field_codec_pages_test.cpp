#include <gtest/gtest.h>

#include "tune/field_codec.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::bytesOf;
using test::hexOf;

// Page 1 holds overlapping constants and scales chosen by other constants; page 2 has size 0;
// page 3 exists; page 4 has a size but lies beyond nPages.
constexpr char kDefinition[] = R"(
[MegaTune]
signature = "pages test"

[Constants]
nPages = 3
pageSize = 10, 0, 6, 4

page = 1
  a     = scalar, U08, 0, "", 1, 0, 0, 255, 0
  over  = scalar, U16, 0, "", 1, 0, 0, 65535, 0
  speed = scalar, U08, 3, "km/h", { unit ? 0.5 : 2 }, 0, 0, 500, 0
  unit  = bits,   U08, 2, [0:0], "metric", "imperial"
  near  = scalar, U08, 4, "", { 1.00005 }, 0, 0, 500, 0
  far   = scalar, U08, 5, "", { 1.001 }, 0, 0, 500, 0
  base  = scalar, U08, 6, "", { 2 }, 0, 0, 500, 0
  dep   = scalar, U08, 7, "", { base == 6 ? 10 : 1 }, 0, 0, 5000, 0
  shift = scalar, U08, 8, "", 1, { unit ? 100 : 0 }, 0, 500, 0
  dup   = scalar, U08, 9, "", 1, 0, 0, 255, 0
page = 2
  ghost = scalar, U08, 0, "", 1, 0, 0, 255, 0
page = 3
  b     = scalar, U08, 1, "", 1, -40, 0, 255, 0
  dup   = scalar, U08, 2, "", 1, 0, 0, 255, 0
  tbl   = array,  U08, 3, [16x16], "%", 1, 5, 0, 255, 1
page = 4
  beyond = scalar, U08, 0, "", 1, 0, 0, 255, 0

[PcVariables]
  pcv    = scalar, U08, "", 1, 0, 0, 255, 0
  pcBits = bits,   U08, [0:1], "first", "second"
  pcText = string, ASCII, 6
)";

class PageCodecTest : public ::testing::Test {
 protected:
  PageCodecTest() : definition_(test::parseDefinition(kDefinition)) {}

  static TuneValue scalar(const char* name, double v) {
    TuneValue value;
    value.name = QString::fromLatin1(name);
    value.scalarValue = v;
    return value;
  }

  EcuDefinition definition_;
};

TEST_F(PageCodecTest, EncodeBuildsZeroFilledPagesForDeclaredSizesUpToNPages) {
  const PageImages images = encodeTune(Tune(), definition_);
  EXPECT_EQ(images.keys(), (QList<int>{1, 3}));
  EXPECT_EQ(images.value(1), QByteArray(10, '\0'));
  EXPECT_EQ(images.value(3), QByteArray(6, '\0'));
}

TEST_F(PageCodecTest, EncodeWritesConstantsInOrderLaterOnesWinningOverlaps) {
  Tune tune;
  tune.upsert(scalar("a", 5));
  tune.upsert(scalar("over", 0x0102));
  tune.upsert(scalar("b", -30));  // translate -40: raw 10
  tune.upsert(scalar("ghost", 9));
  tune.upsert(scalar("beyond", 9));
  const PageImages images = encodeTune(tune, definition_);
  EXPECT_EQ(hexOf(images.value(1)), QStringLiteral("02 01 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(hexOf(images.value(3)), QStringLiteral("00 0a 00 00 00 00"));

  // The same constants in the other order: the byte of "a" now wins.
  EcuDefinition swapped = definition_;
  QList<ConstantDef>& fields = swapped.Pages[0].Fields;
  fields.swapItemsAt(0, 1);
  EXPECT_EQ(hexOf(encodeTune(tune, swapped).value(1)),
            QStringLiteral("05 01 00 00 00 00 00 00 00 00"));
}

TEST_F(PageCodecTest, EncodeEvaluatesScaleAndTranslateExpressionsAgainstTheTune) {
  Tune tune;
  tune.upsert(scalar("speed", 100));
  tune.upsert(scalar("shift", 150));
  TuneValue unit;
  unit.name = QStringLiteral("unit");
  unit.bitsRawValue = 1;
  tune.upsert(unit);
  EXPECT_EQ(hexOf(encodeTune(tune, definition_).value(1)),
            QStringLiteral("00 00 01 c8 00 00 00 00 32 00"));  // 100 / 0.5; 150 - 100
  tune.find("unit")->bitsRawValue = 0;
  EXPECT_EQ(hexOf(encodeTune(tune, definition_).value(1)),
            QStringLiteral("00 00 00 32 00 00 00 00 96 00"));  // 100 / 2; 150 - 0
}

TEST_F(PageCodecTest, EncodeSkipsPcVariables) {
  EcuDefinition definition = definition_;
  ConstantDef pc = definition.Pages[0].Fields[0];
  pc.Name = QStringLiteral("pcOnPage");
  pc.IsPcVariable = true;
  definition.Pages[0].Fields.append(pc);
  Tune tune;
  tune.upsert(scalar("pcOnPage", 77));
  EXPECT_EQ(encodeTune(tune, definition).value(1), QByteArray(10, '\0'));
}

TEST_F(PageCodecTest, DecodeGivesMetadataAndSkipsPagesWithoutImages) {
  PageImages images;
  images.insert(1, QByteArray(10, '\0'));
  const Tune tune = decodePages(images, definition_);
  EXPECT_EQ(tune.signature, QStringLiteral("pages test"));
  EXPECT_EQ(tune.nPages, 3);
  EXPECT_EQ(tune.lastSaved, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_EQ(tune.writeTimestamp, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_FALSE(tune.firmwareInfo.has_value());
  EXPECT_FALSE(tune.pages.has_value());
  QStringList names;
  for (const TuneValue& v : tune.fields) {
    names.append(v.name);
  }
  EXPECT_EQ(names.join(u' '), QStringLiteral("a over speed unit near far base dep shift dup"));
}

TEST_F(PageCodecTest, DecodeReadsExpressionScaledConstantsWithTheValuesOfTheirPages) {
  PageImages images;
  // a/over, -, unit, speed, near, far, base, dep, shift, dup
  images.insert(1, bytesOf({7, 0, 1, 200, 100, 100, 3, 4, 50, 1}));
  const Tune tune = decodePages(images, definition_);
  // speed is declared before unit; the second pass sees unit = 1, so the scale is 0.5.
  EXPECT_EQ(tune.find("speed")->scalarValue, 100);
  EXPECT_EQ(tune.find("speed")->units, QStringLiteral("km/h"));
  // Within 0.0001 of the plain scale the first-pass value stands.
  EXPECT_EQ(tune.find("near")->scalarValue, 100);
  EXPECT_EQ(tune.find("far")->scalarValue, 100.1);
  // dep's expression sees base as already re-read in the second pass (6, not 3).
  EXPECT_EQ(tune.find("base")->scalarValue, 6);
  EXPECT_EQ(tune.find("dep")->scalarValue, 40);
  EXPECT_EQ(tune.find("shift")->scalarValue, 150);
  EXPECT_EQ(tune.find("over")->scalarValue, 7);
  EXPECT_EQ(tune.find("unit")->enumValue, QStringLiteral("imperial"));

  images[1][2] = 0;  // metric: speed scale 2, shift translate 0
  const Tune metric = decodePages(images, definition_);
  EXPECT_EQ(metric.find("speed")->scalarValue, 400);
  EXPECT_EQ(metric.find("shift")->scalarValue, 50);
}

TEST_F(PageCodecTest, DecodeReplacesARecordOfTheSameNameFromALaterPage) {
  PageImages images;
  images.insert(1, bytesOf({0, 0, 0, 0, 0, 0, 0, 0, 0, 11}));
  images.insert(3, bytesOf({0, 50, 22, 0, 0, 0}));
  const Tune tune = decodePages(images, definition_);
  int count = 0;
  for (const TuneValue& v : tune.fields) {
    count += v.name == QStringLiteral("dup") ? 1 : 0;
  }
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tune.find("dup")->scalarValue, 22);
  EXPECT_EQ(tune.find("b")->scalarValue, 10);
  // The 16 x 16 table starts at 3 of a 6-byte page: three elements fit, the rest stay 0.
  const TuneValue* table = tune.find("tbl");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->arrayValues->size(), 256);
  EXPECT_EQ(table->arrayValues->mid(0, 4), (QList<double>{5, 5, 5, 0}));
  EXPECT_EQ(table->cols, 16);
  EXPECT_EQ(table->rows, 16);
}

TEST_F(PageCodecTest, EncodeOfADecodedImageGivesTheSameBytes) {
  PageImages images;
  images.insert(1, bytesOf({7, 9, 1, 200, 100, 100, 3, 4, 50, 1}));
  images.insert(3, bytesOf({0x99, 50, 22, 1, 2, 3}));
  const PageImages rebuilt = encodeTune(decodePages(images, definition_), definition_);
  PageImages expected = images;
  // No constant covers byte 0 of page 3.
  expected[3][0] = 0;
  // The two constants named "dup" share one record, the one decoded last (page 3).
  expected[1][9] = 22;
  EXPECT_EQ(hexOf(rebuilt.value(1)), hexOf(expected.value(1)));
  EXPECT_EQ(hexOf(rebuilt.value(3)), hexOf(expected.value(3)));
}

TEST_F(PageCodecTest, NewTuneHoldsWhatAnAllZeroPageDecodesToForEveryConstant) {
  const Tune tune = newTune(definition_);
  EXPECT_EQ(tune.signature, QStringLiteral("pages test"));
  EXPECT_EQ(tune.nPages, 3);
  EXPECT_EQ(tune.lastSaved, QStringLiteral("0001-01-01T00:00:00"));
  // Every constant of every page group, PC variables included, in definition order; the
  // second "dup" has no record of its own.
  EXPECT_EQ(tune.fields.size(), 10 + 1 + 2 + 1 + 3);
  EXPECT_EQ(tune.fields.first().name, QStringLiteral("a"));
  EXPECT_EQ(tune.fields.last().name, QStringLiteral("pcText"));

  const TuneValue* b = tune.find("b");
  EXPECT_EQ(b->scalarValue, -40);
  EXPECT_EQ(b->units, QString());
  const TuneValue* table = tune.find("tbl");
  EXPECT_EQ(table->arrayValues, QList<double>(256, 5.0));
  EXPECT_EQ(table->cols, 16);
  EXPECT_EQ(table->rows, 16);
  EXPECT_EQ(table->units, QStringLiteral("%"));
  EXPECT_EQ(table->digits, 1);
  const TuneValue* unit = tune.find("unit");
  EXPECT_EQ(unit->bitsRawValue, 0);
  EXPECT_EQ(unit->enumValue, QStringLiteral("metric"));
  EXPECT_FALSE(unit->scalarValue.has_value());
  EXPECT_EQ(tune.find("pcBits")->enumValue, QStringLiteral("first"));
  EXPECT_EQ(tune.find("pcText")->stringValue, QString());
  // An expression-scaled constant starts at its plain translate.
  EXPECT_EQ(tune.find("shift")->scalarValue, 0);
}

TEST_F(PageCodecTest, CompleteTuneKeepsExistingRecords) {
  Tune tune;
  tune.upsert(scalar("b", 12));
  completeTune(tune, definition_);
  EXPECT_EQ(tune.fields.first().name, QStringLiteral("b"));
  EXPECT_EQ(tune.find("b")->scalarValue, 12);
  EXPECT_EQ(tune.fields.size(), 17);
  const qsizetype before = tune.fields.size();
  completeTune(tune, definition_);
  EXPECT_EQ(tune.fields.size(), before);
}

TEST(PageCodecLimitsTest, HostileSizesAndShapesStayBounded) {
  const EcuDefinition definition = test::parseDefinition(R"(
[Constants]
nPages = 2000000000
pageSize = 2000000000, 4
page = 2
  huge = array, U08, 0, [2000000000x2000000000], "", 1, 0, 0, 255, 0
  neg  = scalar, U16, -5, "", 1, 0, 0, 255, 0
  str  = string, ASCII, -7, 4
  bit  = bits, U08, 1, [70:90], "a"
)");
  const PageImages zeros = encodeTune(Tune(), definition);
  EXPECT_EQ(zeros.keys(), QList<int>{2});
  PageImages images;
  images.insert(2, bytesOf({1, 0xFF, 3, 4}));
  const Tune tune = decodePages(images, definition);
  EXPECT_EQ(tune.find("huge")->arrayValues->size(), kMaxElementCount);
  EXPECT_EQ(tune.find("neg")->scalarValue, 0);
  EXPECT_EQ(tune.find("str")->stringValue, QString());
  EXPECT_EQ(tune.find("bit")->bitsRawValue, 0);
  const PageImages rebuilt = encodeTune(tune, definition);
  EXPECT_EQ(hexOf(rebuilt.value(2)), QStringLiteral("01 ff 03 04"));
}

}  // namespace
}  // namespace tk
