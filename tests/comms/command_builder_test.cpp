#include "comms/command_builder.h"

#include <gtest/gtest.h>

namespace tk::comms {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

TEST(IntToBytesTest, WidthAndOrder) {
  EXPECT_EQ(intToBytes(0x1234, 2, false), hex("1234"));
  EXPECT_EQ(intToBytes(0x1234, 2, true), hex("3412"));
  EXPECT_EQ(intToBytes(0x12345678, 4, false), hex("12345678"));
  EXPECT_EQ(intToBytes(0x12345678, 3, true), hex("785634"));
  EXPECT_EQ(intToBytes(0x1234, 1, false), hex("34"));
  EXPECT_EQ(intToBytes(7, 0, false), QByteArray());
  EXPECT_EQ(intToBytes(7, -2, true), QByteArray());
  // Beyond the fourth byte the sign repeats.
  EXPECT_EQ(intToBytes(0x01020304, 6, false), hex("000001020304"));
  EXPECT_EQ(intToBytes(-2, 6, false), hex("FFFFFFFFFFFE"));
  EXPECT_EQ(intToBytes(-2, 6, true), hex("FEFFFFFFFFFF"));
  EXPECT_EQ(intToBytes(-1, 2, false), hex("FFFF"));
}

TEST(ExpandPageIdentifierTest, DecodesAndLeftPadsButNeverShortens) {
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("\\x05"), 2, 0), hex("0005"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("\\x00\\x01"), 2, 0), hex("0001"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("\\x01\\x02\\x03"), 2, 0), hex("010203"));
  EXPECT_EQ(expandPageIdentifier(QString(), 2, 0), hex("0000"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("$tsCanId\\x04"), 3, 9), hex("000904"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("\\$tsCanId\\x04"), 0, 0), hex("0004"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("A"), 0, 0), hex("41"));
}

struct BuildCase {
  const char* name;
  const char* tmpl;
  const char* id;
  int offset;
  int count;
  const char* endianness;
  const char* value;  // hex, or nullptr for none
  int canId;
  const char* expected;
};

class BuildCommandTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildCommandTest, ProducesTheBytes) {
  const BuildCase c = GetParam();
  std::optional<QByteArray> value;
  if (c.value != nullptr) {
    value = hex(c.value);
  }
  EXPECT_EQ(buildCommand(QString::fromLatin1(c.tmpl), QString::fromLatin1(c.id), c.offset, c.count,
                         value, QString::fromLatin1(c.endianness), c.canId)
                .toHex(' '),
            hex(c.expected).toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Templates, BuildCommandTest,
    ::testing::Values(
        BuildCase{"ReadBigEndian", "R%2i%2o%2c", "\\x00\\x01", 16, 32, "big", nullptr, 0,
                  "52000100100020"},
        BuildCase{"ReadLittleEndianKeepsIdentifierOrder", "R%2i%2o%2c", "\\x00\\x01", 16, 32,
                  "little", nullptr, 0, "52000110002000"},
        BuildCase{"CapitalLittleIsLittle", "%2o", "", 1, 0, "LITTLE", nullptr, 0, "0100"},
        BuildCase{"LittleWithSpaceIsBig", "%2o", "", 1, 0, "little ", nullptr, 0, "0001"},
        BuildCase{"EmptyEndiannessIsBig", "%2o", "", 1, 0, "", nullptr, 0, "0001"},
        BuildCase{"ZeroWidthFieldsAndDroppedFields", "w%o%c%v%z%", "", 5, 6, "big", "0102", 0,
                  "770102"},
        BuildCase{"EmptyTemplate", "", "\\x01", 1, 1, "big", "01", 0, ""},
        BuildCase{"CanIdAndEscapesUpFront", "W\\x80$tsCanId%2i%2o%2c%v", "\\x03", 4, 2, "big",
                  "ABCD", 0, "578000000300040002ABCD"},
        BuildCase{"EscapedCanIdPlaceholderLosesItsBackslash", "A\\$tsCanId", "", 0, 0, "big",
                  nullptr, 7, "4107"},
        BuildCase{"ValueFieldWithoutValueIsEmpty", "C%v!", "", 0, 0, "big", nullptr, 0, "4321"},
        BuildCase{"NotHexIsNotAnEscape", "\\xg1\\x1", "", 0, 0, "big", nullptr, 0,
                  "5C7867315C7831"},
        BuildCase{"FieldCutOffInsideDigitsStopsBuilding", "ab%12", "", 0, 0, "big", nullptr, 0,
                  "6162"},
        BuildCase{"WideIdentifierPadding", "%4i", "\\x05", 0, 0, "big", nullptr, 0, "00000005"},
        BuildCase{"ThreeByteOffsetTwice", "%3o|%3o", "", 0x010203, 0, "big", nullptr, 0,
                  "0102037C010203"},
        BuildCase{"LowByteOfWideCharacters", "\xE9", "", 0, 0, "big", nullptr, 0, "E9"},
        BuildCase{"PercentAsLastCharacter", "x%", "", 0, 0, "big", nullptr, 0, "78"}),
    [](const ::testing::TestParamInfo<BuildCase>& p) { return std::string(p.param.name); });

TEST(BuildCommandLimitsTest, HugeFieldWidthIsBoundedNotAllocatedWithoutLimit) {
  const QByteArray bytes = buildCommand(QStringLiteral("%99999999999999c"), QString(), 0, 1,
                                        std::nullopt, QStringLiteral("big"), 0);
  EXPECT_EQ(bytes.size(), 32768);
  EXPECT_EQ(bytes.back(), '\x01');
}

TEST(DecodeEscapesTest, WholeCommandTexts) {
  EXPECT_EQ(decodeEscapes(QString(), 0), QByteArray());
  EXPECT_EQ(decodeEscapes(QStringLiteral("V"), 0), hex("56"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("r\\x00\\x30%2o%2c"), 0), hex("720030" "25326F" "253263"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("$tsCanId\\x0F"), 0), hex("000F"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\x4"), 0), hex("5C7834"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\X41"), 0), hex("5C583431"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\xFFz"), 0), hex("FF7A"));
}

}  // namespace
}  // namespace tk::comms
