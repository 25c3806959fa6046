#include "tune/field_codec.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::bytesOf;
using test::hexOf;

constexpr double kMaxDouble = std::numeric_limits<double>::max();

ConstantDef constant(const char* name, ConstantType type, const char* dataType, int offset) {
  ConstantDef c;
  c.Name = QString::fromLatin1(name);
  c.Type = type;
  c.DataType = QString::fromLatin1(dataType);
  c.Offset = offset;
  return c;
}

TuneValue scalarValue(const QString& name, double v) {
  TuneValue value;
  value.name = name;
  value.scalarValue = v;
  return value;
}

// ---------------------------------------------------------------------------------------------
// Sizes

TEST(FieldCodecSizeTest, ElementSizeFollowsTheDataTypeText) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"U08", 1}, {"S08", 1}, {"U16", 2},  {"S16", 2},   {"U32", 4}, {"S32", 4},   {"F32", 4},
      {"U64", 8}, {"F64", 8}, {"X128", 1}, {"ASCII", 1}, {"", 1},    {"S1632", 2}, {"u16", 2}};
  for (const auto& [type, size] : cases) {
    EXPECT_EQ(elementSize(constant("c", ConstantType::Array, type, 0)), size) << type;
  }
  ConstantDef text = constant("s", ConstantType::String, "ASCII", 0);
  EXPECT_EQ(elementSize(text), 1);
  text.Shape = {12};
  EXPECT_EQ(elementSize(text), 12);
  // Only strings take their size from the shape.
  ConstantDef array = constant("a", ConstantType::Array, "U16", 0);
  array.Shape = {12};
  EXPECT_EQ(elementSize(array), 2);
}

TEST(FieldCodecSizeTest, ElementCountIsTheProductOfTheShapeWithinBounds) {
  ConstantDef c = constant("a", ConstantType::Array, "U08", 0);
  EXPECT_EQ(elementCount(c), 1);
  c.Shape = {12};
  EXPECT_EQ(elementCount(c), 12);
  c.Shape = {16, 12};
  EXPECT_EQ(elementCount(c), 192);
  c.Shape = {0};
  EXPECT_EQ(elementCount(c), 0);
  c.Shape = {-3, 4};
  EXPECT_EQ(elementCount(c), 0);
  c.Shape = {100000, 100000};
  EXPECT_EQ(elementCount(c), kMaxElementCount);
}

// ---------------------------------------------------------------------------------------------
// Decoding single constants

TEST(FieldCodecDecodeTest, ScalarIsRawTimesScalePlusTranslateWithPlainUnitsAndDigits) {
  ConstantDef c = constant("s", ConstantType::Scalar, "U08", 2);
  c.Units = QStringLiteral("ms");
  c.Digits = 1;
  const std::optional<TuneValue> v = decodeConstant(c, bytesOf({0, 0, 123}), false, 0.1, 0.0);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->name, QStringLiteral("s"));
  EXPECT_EQ(v->units, QStringLiteral("ms"));
  EXPECT_EQ(v->digits, 1);
  EXPECT_EQ(v->scalarValue, 12.3);
  EXPECT_FALSE(v->arrayValues || v->rows || v->cols || v->stringValue || v->enumValue ||
               v->bitsRawValue);

  ConstantDef s16 = constant("t", ConstantType::Scalar, "S16", 0);
  EXPECT_EQ(decodeConstant(s16, bytesOf({0xFF, 0x9C}), true, 0.5, -10)->scalarValue, -60);
  EXPECT_EQ(decodeConstant(s16, bytesOf({0xFF, 0x9C}), false, 0.5, -10)->scalarValue,
            0x9CFF / 2.0 - 10 - 0x10000 / 2.0);
}

TEST(FieldCodecDecodeTest, ScalarValuesAreMadeFinite) {
  const ConstantDef f = constant("f", ConstantType::Scalar, "F32", 0);
  EXPECT_EQ(decodeConstant(f, bytesOf({0x7F, 0xC0, 0, 0}), true, 1, 0)->scalarValue, 0.0);
  EXPECT_EQ(decodeConstant(f, bytesOf({0x7F, 0x80, 0, 0}), true, 1, 0)->scalarValue, kMaxDouble);
  EXPECT_EQ(decodeConstant(f, bytesOf({0xFF, 0x80, 0, 0}), true, 1, 0)->scalarValue, -kMaxDouble);
  // The largest single times a huge scale overflows the double range.
  EXPECT_EQ(decodeConstant(f, bytesOf({0x7F, 0x7F, 0xFF, 0xFF}), true, 1e300, 0)->scalarValue,
            kMaxDouble);
}

TEST(FieldCodecDecodeTest, OffsetAtOrPastThePageEndGivesNoRecord) {
  const ConstantDef c = constant("s", ConstantType::Scalar, "U08", 3);
  EXPECT_FALSE(decodeConstant(c, bytesOf({1, 2, 3}), false, 1, 0).has_value());
  EXPECT_FALSE(decodeConstant(c, QByteArray(), false, 1, 0).has_value());
  // An element that starts inside but does not fit reads 0, so it decodes to the translate.
  const ConstantDef wide = constant("w", ConstantType::Scalar, "U16", 2);
  EXPECT_EQ(decodeConstant(wide, bytesOf({1, 2, 3}), false, 1, 0)->scalarValue, 0);
  EXPECT_EQ(decodeConstant(wide, bytesOf({1, 2, 3}), false, 2, 7)->scalarValue, 7);
}

TEST(FieldCodecDecodeTest, UnknownDataTypeReadsOneUnsignedByte) {
  const ConstantDef c = constant("u", ConstantType::Scalar, "U64", 0);
  EXPECT_EQ(decodeConstant(c, bytesOf({0xF1, 2, 3, 4, 5, 6, 7, 8}), false, 1, 0)->scalarValue,
            0xF1);
}

TEST(FieldCodecDecodeTest, ArrayHoldsEveryElementInStorageOrderWithItsShape) {
  ConstantDef c = constant("t", ConstantType::Array, "U16", 1);
  c.Shape = {2, 3};
  const QByteArray page = bytesOf({0xEE, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0x10, 0x27});
  const TuneValue v = *decodeConstant(c, page, false, 0.5, 1);
  EXPECT_EQ(v.arrayValues, (QList<double>{1.5, 2, 2.5, 3, 3.5, 5001}));
  EXPECT_EQ(v.cols, 2);
  EXPECT_EQ(v.rows, 3);
  const TuneValue be = *decodeConstant(c, page, true, 1, 0);
  EXPECT_EQ(be.arrayValues, (QList<double>{0x100, 0x200, 0x300, 0x400, 0x500, 0x1027}));
}

TEST(FieldCodecDecodeTest, ArrayShapesGiveColsAndRows) {
  ConstantDef table = constant("t", ConstantType::Array, "U08", 0);
  table.Shape = {16, 12};
  const TuneValue t = *decodeConstant(table, QByteArray(192, '\0'), false, 1, 0);
  EXPECT_EQ(t.arrayValues->size(), 192);
  EXPECT_EQ(t.cols, 16);
  EXPECT_EQ(t.rows, 12);

  ConstantDef curve = constant("c", ConstantType::Array, "U08", 0);
  curve.Shape = {12};
  const TuneValue c = *decodeConstant(curve, QByteArray(12, '\0'), false, 1, 0);
  EXPECT_EQ(c.arrayValues->size(), 12);
  EXPECT_EQ(c.cols, 12);
  EXPECT_EQ(c.rows, 1);

  const ConstantDef single = constant("s", ConstantType::Array, "U08", 0);
  const TuneValue s = *decodeConstant(single, bytesOf({9}), false, 1, 0);
  EXPECT_EQ(s.arrayValues, QList<double>{9});
  EXPECT_FALSE(s.cols.has_value());
  EXPECT_FALSE(s.rows.has_value());
}

TEST(FieldCodecDecodeTest, ArrayElementsOutsideThePageStayZeroNotTranslate) {
  ConstantDef c = constant("a", ConstantType::Array, "U16", 4);
  c.Shape = {4};
  // Elements at 4, 6, 8 fit in 10 bytes; the one at 10 does not.
  const QByteArray page = bytesOf({0, 0, 0, 0, 1, 0, 2, 0, 3, 0});
  EXPECT_EQ(decodeConstant(c, page, false, 1, 5)->arrayValues, (QList<double>{6, 7, 8, 0}));
  // Offset of page length - 1 for a U16 element: a record whose element is 0.
  ConstantDef edge = constant("e", ConstantType::Array, "U16", 9);
  EXPECT_EQ(decodeConstant(edge, page, false, 1, 5)->arrayValues, QList<double>{0});
}

struct BitsDecodeCase {
  const char* dataType;
  int bitStart;
  int bitEnd;
  bool bigEndian;
  std::vector<int> page;
  int expected;
};

class BitsDecodeTest : public ::testing::TestWithParam<BitsDecodeCase> {};

TEST_P(BitsDecodeTest, ShiftsAndMasksTheStoredWord) {
  const BitsDecodeCase& p = GetParam();
  ConstantDef c = constant("b", ConstantType::Bits, p.dataType, 1);
  c.BitStart = p.bitStart;
  c.BitEnd = p.bitEnd;
  const TuneValue v = *decodeConstant(c, bytesOf(p.page), p.bigEndian, 1, 0);
  EXPECT_EQ(v.bitsRawValue, p.expected);
  EXPECT_FALSE(v.scalarValue.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BitsDecodeTest,
    ::testing::Values(BitsDecodeCase{"U08", 4, 6, false, {0, 0xFF}, 7},
                      BitsDecodeCase{"U08", 4, 6, false, {0, 0x20}, 2},
                      BitsDecodeCase{"U08", 0, 0, false, {0, 0xFE}, 0},
                      BitsDecodeCase{"U08", 7, 7, false, {0, 0x80}, 1},
                      // Across the byte edge: the word is 0x03C0 in either order.
                      BitsDecodeCase{"U16", 6, 9, false, {0, 0xC0, 0x03}, 15},
                      BitsDecodeCase{"U16", 6, 9, true, {0, 0x03, 0xC0}, 15},
                      BitsDecodeCase{"U16", 6, 9, false, {0, 0x7F, 0xFD}, 5},
                      BitsDecodeCase{"U16", 6, 9, true, {0, 0xFD, 0x7F}, 5},
                      BitsDecodeCase{"U16", 8, 15, false, {0, 0x12, 0x34}, 0x34},
                      // All 32 bits kept as a signed 32-bit value.
                      BitsDecodeCase{"U32", 0, 31, false, {0, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
                      BitsDecodeCase{"U32", 31, 31, true, {0, 0x80, 0, 0, 0}, 1},
                      BitsDecodeCase{"S32", 28, 31, true, {0, 0xA0, 0, 0, 1}, 10},
                      // A word that does not fit reads as 0.
                      BitsDecodeCase{"U16", 0, 3, false, {0, 0xFF}, 0},
                      // A reversed range has no bits.
                      BitsDecodeCase{"U08", 5, 2, false, {0, 0xFF}, 0}));

TEST(FieldCodecDecodeTest, BitsLabelIsThatOfTheRawValueOrAbsent) {
  ConstantDef c = constant("b", ConstantType::Bits, "U08", 0);
  c.BitStart = 0;
  c.BitEnd = 2;
  c.BitValues = {{0, QStringLiteral("off")}, {1, QStringLiteral("on")}, {4, QStringLiteral("x")}};
  EXPECT_EQ(decodeConstant(c, bytesOf({4}), false, 1, 0)->enumValue, QStringLiteral("x"));
  EXPECT_EQ(decodeConstant(c, bytesOf({0xF9}), false, 1, 0)->enumValue, QStringLiteral("on"));
  const TuneValue none = *decodeConstant(c, bytesOf({2}), false, 1, 0);
  EXPECT_EQ(none.bitsRawValue, 2);
  EXPECT_FALSE(none.enumValue.has_value());
}

TEST(FieldCodecDecodeTest, StringsDropTrailingNulsOnly) {
  ConstantDef c = constant("s", ConstantType::String, "ASCII", 1);
  c.Shape = {8};
  EXPECT_EQ(decodeConstant(c, bytesOf({0x41, 0x61, 0x62, 0x63, 0, 0, 0, 0, 0, 0x5A}), false, 1, 0)
                ->stringValue,
            QStringLiteral("abc"));
  EXPECT_EQ(decodeConstant(c, bytesOf({0, 0x61, 0, 0x62, 0}), false, 1, 0)->stringValue,
            QString::fromUtf16(u"a\0b", 3));
  // Bytes are character codes: 0xE9 is e with an acute accent.
  EXPECT_EQ(decodeConstant(c, bytesOf({0, 0xE9, 0x20}), false, 1, 0)->stringValue,
            QString::fromUtf16(u"\u00e9 "));
  // Without a shape a string is 20 bytes long.
  ConstantDef loose = constant("l", ConstantType::String, "ASCII", 0);
  EXPECT_EQ(decodeConstant(loose, QByteArray(30, 'q'), false, 1, 0)->stringValue,
            QString(20, u'q'));
  EXPECT_EQ(decodeConstant(loose, QByteArray(5, '\0'), false, 1, 0)->stringValue, QString());
}

// ---------------------------------------------------------------------------------------------
// Encoding single constants

TEST(FieldCodecEncodeTest, ScalarIsPhysicalMinusTranslateOverScaleRoundedHalfToEven) {
  const ConstantDef c = constant("s", ConstantType::Scalar, "U08", 1);
  QByteArray page(3, '\0');
  encodeConstant(c, scalarValue(c.Name, 12.3), page, false, 0.1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("00 7b 00"));
  encodeConstant(c, scalarValue(c.Name, 1.25), page, false, 0.5, 0);  // raw 2.5 -> 2
  EXPECT_EQ(hexOf(page), QStringLiteral("00 02 00"));
  encodeConstant(c, scalarValue(c.Name, 1.75), page, false, 0.5, 0);  // raw 3.5 -> 4
  EXPECT_EQ(hexOf(page), QStringLiteral("00 04 00"));
  encodeConstant(c, scalarValue(c.Name, -60), page, false, 0.5, -70);  // raw 20
  EXPECT_EQ(hexOf(page), QStringLiteral("00 14 00"));

  const ConstantDef s16 = constant("t", ConstantType::Scalar, "S16", 0);
  QByteArray wide(2, '\0');
  encodeConstant(s16, scalarValue(s16.Name, -1), wide, true, 1, 0);
  EXPECT_EQ(hexOf(wide), QStringLiteral("ff ff"));
}

TEST(FieldCodecEncodeTest, NothingIsWrittenWithoutAValueOrRoom) {
  const ConstantDef c = constant("s", ConstantType::Scalar, "U08", 0);
  QByteArray page = bytesOf({0xAA, 0xAA});
  TuneValue empty;
  empty.name = c.Name;
  encodeConstant(c, empty, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa aa"));
  const ConstantDef edge = constant("e", ConstantType::Scalar, "U16", 1);
  encodeConstant(edge, scalarValue(edge.Name, 1), page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa aa"));
  const ConstantDef past = constant("p", ConstantType::Scalar, "U08", 2);
  encodeConstant(past, scalarValue(past.Name, 1), page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa aa"));
  const ConstantDef unknown = constant("u", ConstantType::Scalar, "U64", 0);
  encodeConstant(unknown, scalarValue(unknown.Name, 1), page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa aa"));
}

TEST(FieldCodecEncodeTest, ArrayWritesTheStoredElementsThatFit) {
  ConstantDef c = constant("a", ConstantType::Array, "U16", 1);
  c.Shape = {3};
  TuneValue v;
  v.name = c.Name;
  v.arrayValues = QList<double>{10, 20};  // fewer than the shape: only these are written
  QByteArray page(8, static_cast<char>(0xAA));
  encodeConstant(c, v, page, true, 2, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa 00 05 00 0a aa aa aa"));

  v.arrayValues = QList<double>{2, 4, 6, 8, 10};  // more than the shape: the rest is ignored
  page.fill(static_cast<char>(0xAA));
  encodeConstant(c, v, page, false, 2, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("aa 01 00 02 00 03 00 aa"));

  QByteArray shortPage(6, static_cast<char>(0xAA));  // the third element would need bytes 5..6
  encodeConstant(c, v, shortPage, false, 2, 0);
  EXPECT_EQ(hexOf(shortPage), QStringLiteral("aa 01 00 02 00 aa"));
}

TEST(FieldCodecEncodeTest, StringsArePaddedWithNulsToTheirLength) {
  ConstantDef c = constant("s", ConstantType::String, "ASCII", 1);
  c.Shape = {8};
  TuneValue v;
  v.name = c.Name;
  v.stringValue = QStringLiteral("abc");
  QByteArray page(10, 'x');
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("78 61 62 63 00 00 00 00 00 78"));
  EXPECT_EQ(decodeConstant(c, page, false, 1, 0)->stringValue, QStringLiteral("abc"));

  // Low 8 bits of each code unit; cut at the page end.
  v.stringValue = QString::fromUtf16(u"\u0100\u0142\u00e9abcdefgh");
  QByteArray shortPage(5, 'x');
  encodeConstant(c, v, shortPage, false, 1, 0);
  EXPECT_EQ(hexOf(shortPage), QStringLiteral("78 00 42 e9 61"));

  // An empty text writes nothing.
  v.stringValue = QString();
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("78 61 62 63 00 00 00 00 00 78"));

  // Without a shape, 20 bytes.
  ConstantDef loose = constant("l", ConstantType::String, "ASCII", 0);
  v.stringValue = QStringLiteral("hi");
  QByteArray big(24, 'x');
  encodeConstant(loose, v, big, false, 1, 0);
  EXPECT_EQ(big, QByteArray("hi") + QByteArray(18, '\0') + QByteArray(4, 'x'));
}

struct BitsEncodeCase {
  const char* dataType;
  int bitStart;
  int bitEnd;
  bool bigEndian;
  std::vector<int> before;
  int raw;
  std::vector<int> after;
};

class BitsEncodeTest : public ::testing::TestWithParam<BitsEncodeCase> {};

TEST_P(BitsEncodeTest, ReplacesOnlyTheFieldsBits) {
  const BitsEncodeCase& p = GetParam();
  ConstantDef c = constant("b", ConstantType::Bits, p.dataType, 0);
  c.BitStart = p.bitStart;
  c.BitEnd = p.bitEnd;
  TuneValue v;
  v.name = c.Name;
  v.bitsRawValue = p.raw;
  QByteArray page = bytesOf(p.before);
  encodeConstant(c, v, page, p.bigEndian, 1, 0);
  EXPECT_EQ(hexOf(page), hexOf(bytesOf(p.after)));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BitsEncodeTest,
    ::testing::Values(
        BitsEncodeCase{"U08", 4, 6, false, {0xFF}, 2, {0xAF}},
        BitsEncodeCase{"U08", 4, 6, false, {0x00}, 7, {0x70}},
        BitsEncodeCase{"U08", 4, 6, false, {0x00}, 9, {0x10}},  // masked to the field width
        BitsEncodeCase{"U08", 0, 0, true, {0xFF}, 0, {0xFE}},
        BitsEncodeCase{"U08", 7, 7, true, {0x00}, 1, {0x80}},
        BitsEncodeCase{"U16", 6, 9, false, {0xFF, 0xFF}, 5, {0x7F, 0xFD}},
        BitsEncodeCase{"U16", 6, 9, true, {0xFF, 0xFF}, 5, {0xFD, 0x7F}},
        BitsEncodeCase{"U16", 6, 9, false, {0x00, 0x00}, 15, {0xC0, 0x03}},
        BitsEncodeCase{"U32", 0, 31, true, {0, 0, 0, 0}, -1, {0xFF, 0xFF, 0xFF, 0xFF}},
        BitsEncodeCase{"U32", 31, 31, false, {0, 0, 0, 0}, 1, {0, 0, 0, 0x80}},
        // The word must fit: a U16 in one byte is left alone.
        BitsEncodeCase{"U16", 0, 3, false, {0x55}, 3, {0x55}}));

TEST(FieldCodecEncodeTest, BitsWithoutARawValueUseTheLabel) {
  ConstantDef c = constant("b", ConstantType::Bits, "U08", 0);
  c.BitStart = 1;
  c.BitEnd = 2;
  c.BitValues = {{0, QStringLiteral("off")}, {3, QStringLiteral("Both")}};
  TuneValue v;
  v.name = c.Name;
  v.enumValue = QStringLiteral("BOTH");
  QByteArray page = bytesOf({0x01});
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("07"));
  v.enumValue = QStringLiteral("nothing like it");
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("01"));
  page = bytesOf({0x07});
  v.enumValue.reset();
  encodeConstant(c, v, page, false, 1, 0);
  EXPECT_EQ(hexOf(page), QStringLiteral("01"));
}

struct RoundTripCase {
  const char* dataType;
  bool bigEndian;
  double scale = 0.1;
  double translate = -3;
};

class FieldRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(FieldRoundTripTest, DecodeThenEncodeKeepsTheBytes) {
  ConstantDef c = constant("a", ConstantType::Array, GetParam().dataType, 1);
  c.Shape = {3, 2};
  const int size = 1 + 6 * elementSize(c);
  QByteArray page(size, '\0');
  for (int i = 0; i < size; ++i) {
    page[i] = static_cast<char>((i * 37 + 11) & 0x7F);  // no NaN patterns for F32
  }
  const RoundTripCase& p = GetParam();
  const TuneValue v = *decodeConstant(c, page, p.bigEndian, p.scale, p.translate);
  QByteArray rebuilt(size, '\0');
  rebuilt[0] = page[0];
  encodeConstant(c, v, rebuilt, p.bigEndian, p.scale, p.translate);
  EXPECT_EQ(hexOf(rebuilt), hexOf(page));
}

INSTANTIATE_TEST_SUITE_P(EveryTypeAndOrder, FieldRoundTripTest,
                         ::testing::Values(RoundTripCase{"U08", false}, RoundTripCase{"S08", true},
                                           RoundTripCase{"U16", false}, RoundTripCase{"U16", true},
                                           RoundTripCase{"S16", false}, RoundTripCase{"S16", true},
                                           RoundTripCase{"U32", false}, RoundTripCase{"U32", true},
                                           RoundTripCase{"S32", false}, RoundTripCase{"S32", true},
                                           // Singles keep every bit only through an exact scale.
                                           RoundTripCase{"F32", false, 1, 0},
                                           RoundTripCase{"F32", true, 1, 0}));

}  // namespace
}  // namespace tk
