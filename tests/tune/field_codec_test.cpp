#include "tune/field_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "tune/raw_codec.h"
#include "tune/tune_test_helpers.h"
#include "tune/tune_value.h"

namespace tk {
namespace {

using test::fromHex;
using test::hexOf;

constexpr double kMaxDouble = std::numeric_limits<double>::max();

// tune/raw-values.txt: writing raw into a page of 0xAA bytes stores exactly bytes (integers
// rounded half to even and clamped to the type, singles converted), and reading them gives back.
TEST(RawCodecTest, NumbersAreStoredRoundedAndClampedInEveryTypeAndOrder) {
  for (const QString& line : test::caseLines(QStringLiteral("tune/raw-values.txt"))) {
    SCOPED_TRACE(line.toStdString());
    const QStringList fields = line.split(u'|');
    const QStringList written = fields.at(0).split(u' ', Qt::SkipEmptyParts);
    const QString bytes = fields.at(1).trimmed();
    const bool bigEndian = written.at(1) == u"big";
    QByteArray page = fromHex(bytes.toLatin1().constData());
    page.fill(static_cast<char>(0xAA));
    writeRaw(page, 0, written.at(0), bigEndian, test::caseNumber(written.at(2)));
    EXPECT_EQ(hexOf(page), bytes);
    EXPECT_EQ(readRaw(page, 0, written.at(0), bigEndian), test::caseNumber(fields.at(2)));
  }
}

TEST(RawCodecTest, ElementsOutsideThePageAreNeitherReadNorWritten) {
  struct Case {
    const char* dataType;
    int pageSize;
    int offset;
  };
  for (const Case& c : {Case{"U16", 3, 2}, Case{"U32", 3, 0}, Case{"F32", 5, 2}, Case{"U08", 2, 2},
                        Case{"U08", 2, -1}}) {
    QByteArray page(c.pageSize, static_cast<char>(0xAA));
    writeRaw(page, c.offset, QString::fromLatin1(c.dataType), false, 1);
    EXPECT_EQ(page, QByteArray(c.pageSize, static_cast<char>(0xAA))) << c.dataType;
    EXPECT_EQ(readRaw(page, c.offset, QString::fromLatin1(c.dataType), false), 0) << c.dataType;
  }
  // Unknown types read one unsigned byte and write nothing.
  QByteArray page = fromHex("fe 01");
  EXPECT_EQ(readRaw(page, 0, QStringLiteral("U64"), true), 0xFE);
  EXPECT_EQ(readRaw(page, 0, QStringLiteral("S8"), true), 0xFE);
  writeRaw(page, 0, QStringLiteral("ASCII"), false, 65);
  writeRaw(page, 0, QString(), false, 65);
  EXPECT_EQ(hexOf(page), "fe 01");
  EXPECT_EQ(rawTypeOf(QStringLiteral(" U08")), RawType::Other);  // matched exactly
}

ConstantDef constant(ConstantType type, const char* dataType, int offset, QList<int> shape = {}) {
  ConstantDef c;
  c.Name = QStringLiteral("c");
  c.Type = type;
  c.DataType = QString::fromLatin1(dataType);
  c.Offset = offset;
  c.Shape = std::move(shape);
  return c;
}

TEST(FieldCodecTest, ElementSizeFollowsTheTypeTextAndCountTheShape) {
  const std::pair<const char*, int> sizes[] = {{"U08", 1}, {"S08", 1},   {"U16", 2},  {"S32", 4},
                                               {"F32", 4}, {"F64", 8},   {"X128", 1}, {"ASCII", 1},
                                               {"", 1},    {"S1632", 2}, {"u16", 2}};
  for (const auto& [type, size] : sizes) {
    EXPECT_EQ(elementSize(constant(ConstantType::Array, type, 0, {12})), size) << type;
  }
  // Only strings take their size from the shape.
  EXPECT_EQ(elementSize(constant(ConstantType::String, "ASCII", 0, {12})), 12);
  EXPECT_EQ(elementSize(constant(ConstantType::String, "ASCII", 0)), 1);
  EXPECT_EQ(elementCount(constant(ConstantType::Array, "U08", 0, {16, 12})), 192);
  EXPECT_EQ(elementCount(constant(ConstantType::Array, "U08", 0, {-3, 4})), 0);
}

// Encoding value into a page of 0xAA bytes gives exactly bytes (the AA around it included), and
// decoding those gives value back.
void expectRoundTrip(const ConstantDef& c, const TuneValue& value, bool bigEndian, double scale,
                     double translate, const char* bytes) {
  QByteArray page = fromHex(bytes);
  page.fill(static_cast<char>(0xAA));
  encodeConstant(c, value, page, bigEndian, scale, translate);
  EXPECT_EQ(hexOf(page), QString::fromLatin1(bytes));
  EXPECT_EQ(decodeConstant(c, page, bigEndian, scale, translate), value) << bytes;
}

TEST(FieldCodecTest, ScalarsArraysAndStringsRoundTripThroughTheirBytes) {
  TuneValue blank;
  blank.name = QStringLiteral("c");
  blank.units = QString();
  TuneValue v = blank;
  v.scalarValue = 12.3;
  expectRoundTrip(constant(ConstantType::Scalar, "U08", 1), v, false, 0.1, 0, "aa 7b aa");
  v.scalarValue = -25;  // raw 20 through scale 0.5 and translate -70
  expectRoundTrip(constant(ConstantType::Scalar, "U08", 1), v, true, 0.5, -70, "aa 14 aa");
  v = blank;
  v.arrayValues = QList<double>{1, 1.5, 2, 2.5, 3, 5000.5};
  v.cols = 2;
  v.rows = 3;
  const ConstantDef u16 = constant(ConstantType::Array, "U16", 1, {2, 3});
  expectRoundTrip(u16, v, false, 0.5, 1, "aa 01 00 02 00 03 00 04 00 05 00 10 27 aa");
  expectRoundTrip(u16, v, true, 0.5, 1, "aa 00 01 00 02 00 03 00 04 00 05 27 10 aa");
  v = blank;
  v.stringValue = QStringLiteral("abc");
  expectRoundTrip(constant(ConstantType::String, "ASCII", 1, {8}), v, false, 1, 0,
                  "aa 61 62 63 00 00 00 00 00 aa");
}

// A degF coolant axis, "degF", 1.8, -22.23: physical = (raw + translate) x scale, so raw 0 is
// -40 degF and raw 100 (60 degC) is 140 degF; every raw value comes back from its physical value.
TEST(FieldCodecTest, EveryRawValueSurvivesADecodeAndEncodeThroughScaleAndTranslate) {
  for (const char* type : {"U08", "S16", "F32"}) {
    SCOPED_TRACE(type);
    const ConstantDef c = constant(ConstantType::Array, type, 0, {256});
    QByteArray page(256 * elementSize(c), '\0');
    for (int raw = 0; raw < 256; ++raw) {
      writeRaw(page, raw * elementSize(c), c.DataType, false, raw);
    }
    const std::optional<TuneValue> value = decodeConstant(c, page, false, 1.8, -22.23);
    ASSERT_TRUE(value && value->arrayValues);
    EXPECT_NEAR(value->arrayValues->at(0), -40.014, 1e-9);
    EXPECT_NEAR(value->arrayValues->at(100), 139.986, 1e-9);
    QByteArray back(page.size(), static_cast<char>(0xAA));
    encodeConstant(c, *value, back, false, 1.8, -22.23);
    EXPECT_EQ(hexOf(back), hexOf(page));
  }
}

TEST(FieldCodecTest, DecodingMakesValuesFiniteAndFillsWhatDoesNotFitWithZero) {
  const ConstantDef f32 = constant(ConstantType::Scalar, "F32", 0);
  EXPECT_EQ(decodeConstant(f32, fromHex("7f c0 00 00"), true, 1, 0)->scalarValue, 0.0);
  EXPECT_EQ(decodeConstant(f32, fromHex("7f 80 00 00"), true, 1, 0)->scalarValue, kMaxDouble);
  EXPECT_EQ(decodeConstant(f32, fromHex("ff 80 00 00"), true, 1, 0)->scalarValue, -kMaxDouble);
  // No record at or past the page end; an element that starts inside but does not fit reads 0.
  EXPECT_FALSE(
      decodeConstant(constant(ConstantType::Scalar, "U08", 3), fromHex("01 02 03"), false, 1, 0));
  const ConstantDef u16 = constant(ConstantType::Scalar, "U16", 2);
  EXPECT_EQ(decodeConstant(u16, fromHex("01 02 03"), false, 2, 7)->scalarValue, 14);
  // Raw 0 through a negative scale is a positive 0.
  EXPECT_FALSE(
      std::signbit(*decodeConstant(u16, fromHex("00 00 00 00"), false, -1, 0)->scalarValue));
  const TuneValue single =
      *decodeConstant(constant(ConstantType::Array, "U08", 0), fromHex("09"), false, 1, 0);
  EXPECT_EQ(single.arrayValues, QList<double>{9});
  EXPECT_FALSE(single.cols || single.rows);
}

TEST(FieldCodecTest, StringsAreCutPaddedAndKeepInnerNuls) {
  ConstantDef c = constant(ConstantType::String, "ASCII", 1, {8});
  // Each byte is a character code; trailing NULs go.
  EXPECT_EQ(decodeConstant(c, fromHex("00 61 00 e9 00"), false, 1, 0)->stringValue,
            QString::fromUtf16(u"a\0\u00e9", 3));
  // Low 8 bits of each code unit, cut at the page end; an empty text writes nothing.
  TuneValue v;
  v.stringValue = QString::fromUtf16(u"\u0100\u0142\u00e9abcdefgh");
  QByteArray page(5, 'x');
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), "78 00 42 e9 61");
  v.stringValue = QString();
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), "78 00 42 e9 61");
  // Without a shape a string is 20 bytes long.
  const ConstantDef loose = constant(ConstantType::String, "ASCII", 0);
  EXPECT_EQ(decodeConstant(loose, QByteArray(30, 'q'), false, 1, 0)->stringValue,
            QString(20, u'q'));
  v.stringValue = QStringLiteral("hi");
  QByteArray big(24, 'x');
  encodeConstant(loose, v, big, false, 1, 0);
  EXPECT_EQ(big, QByteArray("hi") + QByteArray(18, '\0') + QByteArray(4, 'x'));
}

// Arrays write the stored elements that fit, up to the shape's count.
TEST(FieldCodecTest, ArraysWriteTheStoredElementsThatFit) {
  const ConstantDef array = constant(ConstantType::Array, "U16", 1, {3});
  TuneValue v;
  v.arrayValues = QList<double>{2, 4, 6, 8, 10};
  QByteArray page(6, static_cast<char>(0xAA));  // the third element would need bytes 5..6
  encodeConstant(array, v, page, false, 2, 0);
  EXPECT_EQ(hexOf(page), "aa 01 00 02 00 aa");
  v.arrayValues = QList<double>{10};
  encodeConstant(array, v, page, true, 2, 0);
  EXPECT_EQ(hexOf(page), "aa 00 05 02 00 aa");
}

// tune/bit-fields.txt: encoding raw into the bytes before gives the bytes after (other bits
// kept); decoding those gives the value read back.
TEST(FieldCodecTest, BitFieldsReplaceOnlyTheirBits) {
  for (const QString& line : test::caseLines(QStringLiteral("tune/bit-fields.txt"))) {
    SCOPED_TRACE(line.toStdString());
    const QStringList field = line.section(u'|', 0, 0).split(u' ', Qt::SkipEmptyParts);
    const QString after = line.section(u'|', 3, 3).trimmed();
    const bool bigEndian = field.at(3) == u"big";
    ConstantDef bits = constant(ConstantType::Bits, field.at(0).toLatin1().constData(), 0);
    bits.BitStart = field.at(1).toInt();
    bits.BitEnd = field.at(2).toInt();
    TuneValue v;
    v.bitsRawValue = line.section(u'|', 2, 2).trimmed().toInt();
    QByteArray page = fromHex(line.section(u'|', 1, 1).trimmed().toLatin1().constData());
    encodeConstant(bits, v, page, bigEndian, 1, 0);
    EXPECT_EQ(hexOf(page), after);
    EXPECT_EQ(decodeConstant(bits, page, bigEndian, 1, 0)->bitsRawValue,
              line.section(u'|', 4, 4).trimmed().toInt());
  }
}

TEST(FieldCodecTest, BitFieldLabelsFollowTheRawValue) {
  ConstantDef c = constant(ConstantType::Bits, "U08", 0);
  c.BitStart = 1;
  c.BitEnd = 2;
  c.BitValues = {{0, QStringLiteral("off")}, {3, QStringLiteral("Both")}};
  EXPECT_EQ(decodeConstant(c, fromHex("f7"), false, 1, 0)->enumValue, "Both");
  EXPECT_FALSE(decodeConstant(c, fromHex("02"), false, 1, 0)->enumValue.has_value());
  // Without a raw value the label is looked up ignoring case; an unknown label is 0.
  TuneValue v;
  v.enumValue = QStringLiteral("BOTH");
  QByteArray page = fromHex("01");
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), "07");
  v.enumValue = QStringLiteral("nothing like it");
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), "01");
}

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
  copy.find("z")->scalarValue = 2;
  EXPECT_EQ(found(tune, "z"), 9);
  Tune unindexed;
  unindexed.fields = tune.fields;
  EXPECT_EQ(unindexed, tune);
  EXPECT_NE(copy, tune);
}

class PageCodecTest : public ::testing::Test {
 protected:
  PageCodecTest() : definition_(test::tuneDefinition("pages.ini")) {}

  const EcuDefinition definition_;
};

TEST_F(PageCodecTest, EncodeFillsDeclaredPagesInDefinitionOrder) {
  Tune tune = newTune(definition_);
  tune.find("a")->scalarValue = 5;
  tune.find("over")->scalarValue = 0x0102;
  tune.find("b")->scalarValue = -30;
  tune.find("ghost")->scalarValue = 9;
  tune.find("speed")->scalarValue = 100;
  tune.find("shift")->scalarValue = 150;
  tune.find("unit")->bitsRawValue = 1;
  // "over" is declared after "a" and wins their shared byte; speed is 100 / 0.5, shift 150 - 100;
  // b is -30 - (-40); pages without a size and past nPages have no image.
  PageImages images = encodeTune(tune, definition_);
  EXPECT_EQ(images.keys(), (QList<int>{1, 3}));
  EXPECT_EQ(hexOf(images.value(1)), "02 01 01 c8 00 00 00 00 32 00");
  EXPECT_EQ(hexOf(images.value(3)), "00 0a 00 00 00 00");
  tune.find("unit")->bitsRawValue = 0;
  EXPECT_EQ(hexOf(encodeTune(tune, definition_).value(1)), "02 01 00 32 00 00 00 00 96 00");

  EcuDefinition swapped = definition_;
  swapped.Pages[0].Fields.swapItemsAt(0, 1);
  swapped.Pages[0].Fields[1].IsPcVariable = true;  // PC variables are never encoded
  EXPECT_EQ(hexOf(encodeTune(tune, swapped).value(1).left(2)), "02 01");
  swapped.Pages[0].Fields[1].IsPcVariable = false;
  EXPECT_EQ(hexOf(encodeTune(tune, swapped).value(1).left(2)), "05 01");
}

TEST_F(PageCodecTest, DecodeReadsExpressionScaledConstantsInASecondPassAndEncodesBack) {
  // a/over, -, unit, speed, near, far, base, dep, shift, dup; page 3: -, b, dup, tbl
  const Tune tune = decodePages(
      {{1, fromHex("07 09 01 c8 64 64 03 04 32 01")}, {3, fromHex("99 32 16 01 02 03")}},
      definition_);
  EXPECT_EQ(tune.signature, "pages test");
  EXPECT_EQ(tune.nPages, 3);
  EXPECT_EQ(tune.lastSaved, QLatin1String(kEmptyTimestamp));
  // speed is declared before unit; the second pass sees unit = 1, so the scale is 0.5.
  EXPECT_EQ(tune.find("speed")->scalarValue, 100);
  // Within 0.0001 of the plain scale the first-pass value stands.
  EXPECT_EQ(tune.find("near")->scalarValue, 100);
  EXPECT_EQ(tune.find("far")->scalarValue, 100.1);
  // dep's expression sees base as already re-read in the second pass (6, not 3).
  EXPECT_EQ(tune.find("dep")->scalarValue, 40);
  EXPECT_EQ(tune.find("shift")->scalarValue, 150);
  EXPECT_EQ(tune.find("unit")->enumValue, "imperial");
  // The two constants named "dup" share one record, the one decoded last (page 3).
  EXPECT_EQ(tune.find("dup")->scalarValue, 22);
  // The 16 x 16 table starts at 3 of a 6-byte page: three elements fit, the rest stay 0.
  EXPECT_EQ(tune.find("tbl")->arrayValues->mid(0, 4), (QList<double>{6, 7, 8, 0}));
  const PageImages rebuilt = encodeTune(tune, definition_);
  EXPECT_EQ(hexOf(rebuilt.value(1)), "07 09 01 c8 64 64 03 04 32 16");
  EXPECT_EQ(hexOf(rebuilt.value(3)), "00 32 16 01 02 03");  // byte 0 unused
}

TEST_F(PageCodecTest, NewTuneHoldsWhatAnAllZeroPageDecodesTo) {
  Tune tune = newTune(definition_);
  // Every constant of every page group, PC variables included; the second "dup" has none.
  EXPECT_EQ(tune.fields.size(), 10 + 1 + 2 + 1 + 3);
  EXPECT_EQ(tune.find("b")->scalarValue, -40);
  EXPECT_EQ(tune.find("tbl")->arrayValues, QList<double>(256, 5.0));
  EXPECT_EQ(tune.find("tbl")->cols, 16);
  EXPECT_EQ(tune.find("unit")->enumValue, "metric");
  EXPECT_EQ(tune.find("shift")->scalarValue, 0);  // the plain translate
  // Completing keeps the records already there.
  tune.fields = {tune.fields.at(0)};
  tune.fields[0].scalarValue = 12;
  completeTune(tune, definition_);
  EXPECT_EQ(tune.fields.size(), 17);
  EXPECT_EQ(tune.fields.at(0).scalarValue, 12);
}

TEST(PageCodecLimitsTest, HostileSizesAndShapesStayBounded) {
  EcuDefinition definition = test::tuneDefinition("hostile.ini");
  // The reader leaves out the page sizes and the shape; put back, the codec stays bounded.
  EXPECT_EQ(definition.Refused.size(), 2);
  definition.PageSizes = {2000000000, 4};
  ConstantDef huge = *definition.findConstant(QStringLiteral("neg"));
  huge.Name = QStringLiteral("huge");
  huge.Type = ConstantType::Array;
  huge.DataType = QStringLiteral("U08");
  huge.Offset = 0;
  huge.Shape = {2000000000, 2000000000};
  definition.findPage(2)->Fields.prepend(huge);
  EXPECT_EQ(encodeTune(Tune(), definition).keys(), QList<int>{2});
  const Tune tune = decodePages({{2, fromHex("01 ff 03 04")}}, definition);
  EXPECT_EQ(tune.find("huge")->arrayValues->size(), kMaxElementCount);
  EXPECT_EQ(tune.find("neg")->scalarValue, 0);
  EXPECT_EQ(tune.find("str")->stringValue, QString());
  EXPECT_EQ(tune.find("bit")->bitsRawValue, 0);
  EXPECT_EQ(hexOf(encodeTune(tune, definition).value(2)), "01 ff 03 04");
}

}  // namespace
}  // namespace tk
