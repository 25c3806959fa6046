#include "tune/raw_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::bytesOf;
using test::hexOf;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------------------------------------
// Reading

struct ReadCase {
  const char* dataType;
  bool bigEndian;
  std::vector<int> page;
  int offset;
  double expected;
};

class ReadRawTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadRawTest, ReadsTheStoredNumber) {
  const ReadCase& c = GetParam();
  const double value =
      readRaw(bytesOf(c.page), c.offset, QString::fromLatin1(c.dataType), c.bigEndian);
  EXPECT_EQ(value, c.expected) << c.dataType << (c.bigEndian ? " big" : " little") << " at "
                               << c.offset;
}

INSTANTIATE_TEST_SUITE_P(
    EveryTypeAndOrder, ReadRawTest,
    ::testing::Values(
        ReadCase{"U08", false, {0xFF}, 0, 255}, ReadCase{"U08", true, {0x00, 0x80}, 1, 128},
        ReadCase{"S08", false, {0xFF}, 0, -1}, ReadCase{"S08", true, {0x80}, 0, -128},
        ReadCase{"S08", false, {0x7F}, 0, 127}, ReadCase{"U16", false, {0x34, 0x12}, 0, 0x1234},
        ReadCase{"U16", true, {0x12, 0x34}, 0, 0x1234},
        ReadCase{"U16", true, {0x00, 0xFF, 0xFE}, 1, 0xFFFE},
        ReadCase{"S16", true, {0xFF, 0xFF}, 0, -1}, ReadCase{"S16", false, {0x00, 0x80}, 0, -32768},
        ReadCase{"S16", true, {0x80, 0x00}, 0, -32768},
        ReadCase{"S16", false, {0xFF, 0x7F}, 0, 32767},
        ReadCase{"U32", false, {0x78, 0x56, 0x34, 0x12}, 0, 0x12345678},
        ReadCase{"U32", true, {0x12, 0x34, 0x56, 0x78}, 0, 0x12345678},
        ReadCase{"U32", true, {0xFF, 0xFF, 0xFF, 0xFF}, 0, 4294967295.0},
        ReadCase{"S32", false, {0xFF, 0xFF, 0xFF, 0xFF}, 0, -1},
        ReadCase{"S32", false, {0x00, 0x00, 0x00, 0x80}, 0, -2147483648.0},
        ReadCase{"S32", true, {0x7F, 0xFF, 0xFF, 0xFF}, 0, 2147483647.0},
        ReadCase{"F32", false, {0x00, 0x00, 0xC0, 0x3F}, 0, 1.5},
        ReadCase{"F32", true, {0x3F, 0xC0, 0x00, 0x00}, 0, 1.5},
        ReadCase{"F32", true, {0xC0, 0x20, 0x00, 0x00}, 0, -2.5},
        // 0x3DCCCCCD is the single nearest 0.1; it widens to a double that is not 0.1.
        ReadCase{"F32", true, {0x3D, 0xCC, 0xCC, 0xCD}, 0, static_cast<double>(0.1F)},
        // The type text is upper-cased before matching.
        ReadCase{"u16", true, {0x01, 0x02}, 0, 0x0102}, ReadCase{"s08", false, {0xFE}, 0, -2},
        // Unknown types read one unsigned byte, whatever their width suggests.
        ReadCase{"U64", true, {0xFE, 0x01, 0x02}, 0, 0xFE},
        ReadCase{"ASCII", false, {0x41}, 0, 0x41}, ReadCase{"S8", false, {0xFF}, 0, 255},
        // Elements that do not lie wholly inside the page read 0.
        ReadCase{"U16", false, {0x01, 0x02, 0x03}, 2, 0},
        ReadCase{"S32", true, {0xFF, 0xFF, 0xFF}, 0, 0},
        ReadCase{"F32", false, {0x00, 0x00, 0xC0, 0x3F}, 1, 0},
        ReadCase{"U08", false, {0x05}, 1, 0}, ReadCase{"U08", false, {0x05}, -1, 0}));

// ---------------------------------------------------------------------------------------------
// Writing

struct WriteCase {
  const char* dataType;
  bool bigEndian;
  int pageSize;
  int offset;
  double raw;
  std::vector<int> expected;  // the whole page, which starts filled with 0xAA
};

class WriteRawTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteRawTest, StoresTheRoundedClampedNumber) {
  const WriteCase& c = GetParam();
  QByteArray page(c.pageSize, static_cast<char>(0xAA));
  writeRaw(page, c.offset, QString::fromLatin1(c.dataType), c.bigEndian, c.raw);
  EXPECT_EQ(hexOf(page), hexOf(bytesOf(c.expected)))
      << c.dataType << (c.bigEndian ? " big" : " little") << " raw " << c.raw;
}

INSTANTIATE_TEST_SUITE_P(
    Integers, WriteRawTest,
    ::testing::Values(
        // Round half to even, then clamp.
        WriteCase{"U08", false, 1, 0, 12.5, {12}}, WriteCase{"U08", false, 1, 0, 13.5, {14}},
        WriteCase{"U08", false, 1, 0, 12.4999999, {12}},
        WriteCase{"U08", false, 1, 0, 12.5000001, {13}},
        WriteCase{"U08", false, 1, 0, 254.5, {254}}, WriteCase{"U08", false, 1, 0, 255.5, {255}},
        WriteCase{"U08", false, 1, 0, 256, {255}}, WriteCase{"U08", false, 1, 0, -0.5, {0}},
        WriteCase{"U08", false, 1, 0, -3, {0}}, WriteCase{"U08", false, 1, 0, kNaN, {0}},
        WriteCase{"U08", false, 1, 0, kInf, {255}}, WriteCase{"U08", false, 1, 0, -kInf, {0}},
        WriteCase{"S08", false, 1, 0, -1, {0xFF}}, WriteCase{"S08", false, 1, 0, -128.5, {0x80}},
        WriteCase{"S08", false, 1, 0, -129, {0x80}}, WriteCase{"S08", false, 1, 0, 126.5, {126}},
        WriteCase{"S08", false, 1, 0, 127.5, {127}}, WriteCase{"S08", true, 1, 0, kInf, {0x7F}},
        WriteCase{"S08", true, 1, 0, -kInf, {0x80}},
        WriteCase{"U16", true, 2, 0, 0x1234, {0x12, 0x34}},
        WriteCase{"U16", false, 2, 0, 0x1234, {0x34, 0x12}},
        WriteCase{"U16", false, 2, 0, 65534.5, {0xFE, 0xFF}},
        WriteCase{"U16", false, 2, 0, 65535.5, {0xFF, 0xFF}},
        WriteCase{"U16", true, 2, 0, -kInf, {0x00, 0x00}},
        WriteCase{"S16", true, 2, 0, -1, {0xFF, 0xFF}},
        WriteCase{"S16", true, 2, 0, -32768.5, {0x80, 0x00}},
        WriteCase{"S16", false, 2, 0, -40000, {0x00, 0x80}},
        WriteCase{"S16", false, 2, 0, 40000, {0xFF, 0x7F}},
        WriteCase{"S16", true, 2, 0, 2.5, {0x00, 0x02}},
        WriteCase{"S16", true, 2, 0, -2.5, {0xFF, 0xFE}},
        WriteCase{"U32", false, 4, 0, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        WriteCase{"U32", true, 4, 0, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
        WriteCase{"U32", true, 4, 0, 4294967295.5, {0xFF, 0xFF, 0xFF, 0xFF}},
        WriteCase{"U32", true, 4, 0, 4294967294.5, {0xFF, 0xFF, 0xFF, 0xFE}},
        WriteCase{"U32", true, 4, 0, -1, {0x00, 0x00, 0x00, 0x00}},
        WriteCase{"S32", false, 4, 0, -2147483648.5, {0x00, 0x00, 0x00, 0x80}},
        WriteCase{"S32", false, 4, 0, -2147483647.5, {0x00, 0x00, 0x00, 0x80}},
        WriteCase{"S32", true, 4, 0, kInf, {0x7F, 0xFF, 0xFF, 0xFF}},
        WriteCase{"S32", true, 4, 0, kNaN, {0x00, 0x00, 0x00, 0x00}},
        WriteCase{"S32", true, 4, 0, -1, {0xFF, 0xFF, 0xFF, 0xFF}},
        // Lower-case types match; only the element's bytes change.
        WriteCase{"s16", true, 4, 1, -2, {0xAA, 0xFF, 0xFE, 0xAA}},
        WriteCase{"U08", false, 3, 2, 7, {0xAA, 0xAA, 7}}));

INSTANTIATE_TEST_SUITE_P(
    Floats, WriteRawTest,
    ::testing::Values(WriteCase{"F32", false, 4, 0, 1.5, {0x00, 0x00, 0xC0, 0x3F}},
                      WriteCase{"F32", true, 4, 0, 1.5, {0x3F, 0xC0, 0x00, 0x00}},
                      WriteCase{"F32", true, 4, 0, 0.1, {0x3D, 0xCC, 0xCC, 0xCD}},
                      // 2^24 + 1 is halfway between two singles: ties to even gives 2^24.
                      WriteCase{"F32", true, 4, 0, 16777217.0, {0x4B, 0x80, 0x00, 0x00}},
                      WriteCase{"F32", true, 4, 0, 16777219.0, {0x4B, 0x80, 0x00, 0x02}},
                      WriteCase{"F32", true, 4, 0, kNaN, {0x00, 0x00, 0x00, 0x00}},
                      // Infinities clamp to the largest single; a finite value past its range
                      // overflows as the single-precision conversion does.
                      WriteCase{"F32", true, 4, 0, kInf, {0x7F, 0x7F, 0xFF, 0xFF}},
                      WriteCase{"F32", true, 4, 0, -kInf, {0xFF, 0x7F, 0xFF, 0xFF}},
                      WriteCase{"F32", true, 4, 0, 1e39, {0x7F, 0x80, 0x00, 0x00}},
                      WriteCase{"F32", true, 4, 0, -1e39, {0xFF, 0x80, 0x00, 0x00}},
                      WriteCase{"F32", true, 4, 0, 3.4028235e38, {0x7F, 0x7F, 0xFF, 0xFF}},
                      WriteCase{"F32", true, 4, 0, -0.0, {0x80, 0x00, 0x00, 0x00}}));

INSTANTIATE_TEST_SUITE_P(
    NothingWritten, WriteRawTest,
    ::testing::Values(WriteCase{"U16", false, 3, 2, 1, {0xAA, 0xAA, 0xAA}},
                      WriteCase{"U32", true, 3, 0, 1, {0xAA, 0xAA, 0xAA}},
                      WriteCase{"F32", true, 5, 2, 1, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
                      WriteCase{"U08", false, 2, 2, 1, {0xAA, 0xAA}},
                      WriteCase{"U08", false, 2, -1, 1, {0xAA, 0xAA}},
                      WriteCase{"U64", false, 2, 0, 1, {0xAA, 0xAA}},
                      WriteCase{"ASCII", false, 2, 0, 65, {0xAA, 0xAA}},
                      WriteCase{"", false, 2, 0, 1, {0xAA, 0xAA}}));

TEST(RawCodecTest, TypeTextsMapToStorageTypesAndWidths) {
  EXPECT_EQ(rawTypeOf(QStringLiteral("f32")), RawType::F32);
  EXPECT_EQ(rawTypeOf(QStringLiteral("U08")), RawType::U08);
  EXPECT_EQ(rawTypeOf(QStringLiteral(" U08")), RawType::Other);  // matched exactly, no trimming
  EXPECT_EQ(rawTypeOf(QStringLiteral("U8")), RawType::Other);
  EXPECT_EQ(rawWidth(RawType::U08), 1);
  EXPECT_EQ(rawWidth(RawType::S16), 2);
  EXPECT_EQ(rawWidth(RawType::F32), 4);
  EXPECT_EQ(rawWidth(RawType::S32), 4);
  EXPECT_EQ(rawWidth(RawType::Other), 1);
}

// ---------------------------------------------------------------------------------------------
// Rounding

TEST(RawCodecTest, RoundsHalfToEvenKeepingTheSignOfZero) {
  struct Case {
    double in;
    double out;
  };
  const Case cases[] = {{0.5, 0},
                        {1.5, 2},
                        {2.5, 2},
                        {3.5, 4},
                        {-1.5, -2},
                        {-2.5, -2},
                        {-3.5, -4},
                        {0.49999999999999994, 0},
                        {2.4999999999999996, 2},
                        {2.5000000000000004, 3},
                        {-2.5000000000000004, -3},
                        {4503599627370497.0, 4503599627370497.0},
                        {1e300, 1e300},
                        {7, 7}};
  for (const Case& c : cases) {
    EXPECT_EQ(roundHalfEven(c.in), c.out) << c.in;
  }
  EXPECT_TRUE(std::signbit(roundHalfEven(-0.5)));
  EXPECT_TRUE(std::signbit(roundHalfEven(-0.25)));
  EXPECT_FALSE(std::signbit(roundHalfEven(0.5)));
  EXPECT_TRUE(std::isinf(roundHalfEven(kInf)));
  EXPECT_TRUE(std::isnan(roundHalfEven(kNaN)));
}

TEST(RawCodecTest, StorableValuesFollowTheTypeRange) {
  EXPECT_EQ(toStorable(300.0, RawType::U08), 255.0);
  EXPECT_EQ(toStorable(-300.0, RawType::S08), -128.0);
  EXPECT_EQ(toStorable(kNaN, RawType::S16), 0.0);
  EXPECT_EQ(toStorable(-kInf, RawType::U32), 0.0);
  EXPECT_EQ(toStorable(kInf, RawType::S32), 2147483647.0);
  EXPECT_EQ(toStorable(0.1, RawType::F32), static_cast<double>(0.1F));
  EXPECT_TRUE(std::isinf(toStorable(1e39, RawType::F32)));
  EXPECT_EQ(toStorable(12.345, RawType::Other), 12.345);
}

}  // namespace
}  // namespace tk
