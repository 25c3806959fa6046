#include "comms/command_builder.h"

#include <gtest/gtest.h>

#include "definition/ecu_definition.h"

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
  EXPECT_EQ(decodeEscapes(QStringLiteral("r\\x00\\x30%2o%2c"), 0), hex("720030"
                                                                       "25326F"
                                                                       "253263"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("$tsCanId\\x0F"), 0), hex("000F"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\x4"), 0), hex("5C7834"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\X41"), 0), hex("5C583431"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("\\xFFz"), 0), hex("FF7A"));
}

}  // namespace
}  // namespace tk::comms

namespace tk::comms {
namespace {

TEST(TemplatePartsTest, SplitsLiteralsAndFields) {
  using K = TemplatePart::Kind;
  const QList<TemplatePart> parts =
      templateParts(QStringLiteral("M\\x25$tsCanId%2i%o%12c%q%v!%3"), 5);
  const QList<TemplatePart> expected = {
      {K::Literal, QByteArray::fromHex("4D2505"), 0},
      {K::Identifier, {}, 2},
      {K::Offset, {}, 0},
      {K::Count, {}, 12},
      {K::Value, {}, 0},
      {K::Literal, QByteArrayLiteral("!"), 0},
  };
  EXPECT_EQ(parts, expected);
  EXPECT_TRUE(templateParts(QString(), 0).isEmpty());
}

TEST(ChunkWriteFrameTest, FramesTheChunkWriteCommandOfThePage) {
  EcuDefinition d;
  d.Endianness = QStringLiteral("big");
  d.PageIdentifiers = {QStringLiteral("\\x00\\x01")};
  d.PageChunkWriteCommands = {QStringLiteral("C%2i%2o%2c%v"), QString()};
  const std::optional<QByteArray> frame =
      buildChunkWriteFrame(d, 0, 16, QByteArray::fromHex("AABB"));
  ASSERT_TRUE(frame.has_value());
  // Payload 43 0001 0010 0002 AABB, CRC-32 CC5E5D53.
  EXPECT_EQ(frame->toHex(' '), QByteArray("00 09 43 00 01 00 10 00 02 aa bb cc 5e 5d 53"));
  EXPECT_FALSE(buildChunkWriteFrame(d, 1, 0, QByteArray::fromHex("AA")).has_value());
  EXPECT_FALSE(buildChunkWriteFrame(d, 2, 0, QByteArray::fromHex("AA")).has_value());
  EXPECT_FALSE(buildChunkWriteFrame(d, -1, 0, QByteArray::fromHex("AA")).has_value());
  // Beyond the identifier list the identifier is empty, padded to its width.
  d.PageChunkWriteCommands.append(QStringLiteral("C%2i"));
  EXPECT_EQ(buildChunkWriteFrame(d, 2, 0, {})->mid(2, 3), QByteArray::fromHex("430000"));
}

}  // namespace
}  // namespace tk::comms

namespace tk::comms {
namespace {

TEST(MatchCommandTest, ReadsBackWhatBuildCommandWrote) {
  const QString id = QStringLiteral("\\$tsCanId\\x02");
  for (const char* endianness : {"little", "big"}) {
    const QString e = QString::fromLatin1(endianness);
    const QByteArray value = QByteArray::fromHex("0102030405");
    const QByteArray bytes = buildCommand(QStringLiteral("M%2i%2o%2c%v"), id, 300, 5, value, e, 0);
    EXPECT_EQ(matchCommand(QStringLiteral("M%2i%2o%2c%v"), id, e, 0, bytes),
              (CommandFields{300, 5, value}))
        << endianness;
    EXPECT_EQ(matchCommand(QStringLiteral("p%2i%2o%2c"), id, e, 0,
                           buildCommand(QStringLiteral("p%2i%2o%2c"), id, 7, 128, {}, e, 0)),
              (CommandFields{7, 128, {}}));
  }
}

TEST(MatchCommandTest, RejectsOtherPagesShapesAndLengths) {
  const QString id = QStringLiteral("\\x00\\x01");
  const QString little = QStringLiteral("little");
  const QString read = QStringLiteral("p%2i%2o%2c");
  EXPECT_FALSE(matchCommand(read, id, little, 0, QByteArray::fromHex("70000200000100")));
  EXPECT_FALSE(matchCommand(read, id, little, 0, QByteArray::fromHex("710001000001")));
  EXPECT_FALSE(matchCommand(read, id, little, 0, QByteArray::fromHex("7000010000010000")));
  EXPECT_FALSE(matchCommand(read, id, little, 0, QByteArray::fromHex("700001")));
  EXPECT_EQ(matchCommand(QStringLiteral("b%2i"), id, little, 0, QByteArray::fromHex("620001")),
            (CommandFields{-1, -1, {}}));
  // A value in the middle takes what the fixed parts after it leave over.
  EXPECT_EQ(
      matchCommand(QStringLiteral("w%v!%1c"), id, little, 0, QByteArray::fromHex("77AABB2103")),
      (CommandFields{-1, 3, QByteArray::fromHex("AABB")}));
  // Numbers too large for an int are not a match.
  EXPECT_FALSE(matchCommand(QStringLiteral("%4o"), id, QStringLiteral("big"), 0,
                            QByteArray::fromHex("80000000")));
  EXPECT_TRUE(matchCommand(QString(), id, little, 0, QByteArray()).has_value());
}

}  // namespace
}  // namespace tk::comms
