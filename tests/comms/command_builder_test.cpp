// CRC-32 and command templates. The dump golden vectors pin frames and whole chunk-write commands
// (byte order, padding, CAN id, escapes, dropped fields); here are the rules one at a time.

#include "comms/command_builder.h"

#include <gtest/gtest.h>

#include "comms/crc32.h"

namespace tk::comms {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

TEST(Crc32Test, KnownVectorsAndIncrementalUpdates) {
  const QByteArray fox = QByteArrayLiteral("The quick brown fox jumps over the lazy dog");
  EXPECT_EQ(crc32(QByteArray()), 0u);
  EXPECT_EQ(crc32(QByteArrayLiteral("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc32(fox), 0x414FA339u);
  for (qsizetype split = 0; split <= fox.size(); ++split) {
    Crc32 crc;
    crc.update(fox.left(split));
    crc.update(fox.mid(split));
    EXPECT_EQ(crc.value(), 0x414FA339u) << split;
  }
}

TEST(CommandBuilderTest, NumbersAndIdentifiersHaveTheirWidth) {
  EXPECT_EQ(intToBytes(0x12345678, 3, true), hex("785634"));
  EXPECT_EQ(intToBytes(7, -2, true), QByteArray());
  // Beyond the fourth byte the sign repeats.
  EXPECT_EQ(intToBytes(0x01020304, 6, false), hex("000001020304"));
  EXPECT_EQ(intToBytes(-2, 6, true), hex("FEFFFFFFFFFF"));
  EXPECT_EQ(expandPageIdentifier(QStringLiteral("\\x01\\x02\\x03"), 2, 0), hex("010203"));
  EXPECT_EQ(expandPageIdentifier(QString(), 2, 0), hex("0000"));
}

TEST(CommandBuilderTest, BuildsTemplatesAndDecodesCommandTexts) {
  const struct {
    const char* tmpl;
    const char* endianness;
    int canId;
    const char* expected;
  } cases[] = {
      {"%2o", "LITTLE", 0, "0100"},
      {"%2o", "little ", 0, "0001"},
      {"A\\$tsCanId", "big", 7, "4107"},  // the escaped placeholder loses its backslash
      {"C%v!", "big", 0, "4321"},         // no value: nothing
      {"\\xg1\\x1", "big", 0, "5C7867315C7831"},
      {"ab%12", "big", 0, "6162"},  // cut off inside the digits: building stops
      {"%3o|%3o", "big", 0, "0000017C000001"},
      {"\xE9", "big", 0, "E9"},
      {"x%", "big", 0, "78"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(buildCommand(QString::fromLatin1(c.tmpl), QString(), 1, 0, std::nullopt,
                           QString::fromLatin1(c.endianness), c.canId),
              hex(c.expected))
        << c.tmpl;
  }
  // Field widths are bounded, not allocated without limit.
  EXPECT_EQ(buildCommand(QStringLiteral("%99999999999999c"), QString(), 0, 1, std::nullopt,
                         QStringLiteral("big"), 0)
                .size(),
            32768);
  EXPECT_EQ(decodeEscapes(QString(), 0), QByteArray());
  EXPECT_EQ(decodeEscapes(QStringLiteral("r\\x00\\x30%2o"), 0), hex("72003025326F"));
  EXPECT_EQ(decodeEscapes(QStringLiteral("$tsCanId\\X41\\xFFz"), 0), hex("005C583431FF7A"));
}

TEST(CommandBuilderTest, MatchReadsBackWhatWasBuiltAndNothingElse) {
  const QString id = QStringLiteral("\\$tsCanId\\x02");
  const QString write = QStringLiteral("M%2i%2o%2c%v");
  for (const QString& e : {QStringLiteral("little"), QStringLiteral("big")}) {
    const QByteArray bytes = buildCommand(write, id, 300, 5, hex("0102030405"), e, 0);
    EXPECT_EQ(matchCommand(write, id, e, 0, bytes), (CommandFields{300, 5, hex("0102030405")}));
  }
  const QString little = QStringLiteral("little");
  const QString read = QStringLiteral("p%2i%2o%2c");
  for (const char* other : {"70000300000100", "710002000001", "7000020000010000", "700002"}) {
    EXPECT_FALSE(matchCommand(read, id, little, 0, hex(other))) << other;
  }
  EXPECT_EQ(matchCommand(QStringLiteral("b%2i"), id, little, 0, hex("620002")),
            (CommandFields{-1, -1, {}}));
  // A value in the middle takes what the fixed parts after it leave over.
  EXPECT_EQ(matchCommand(QStringLiteral("w%v!%1c"), id, little, 0, hex("77AABB2103")),
            (CommandFields{-1, 3, hex("AABB")}));
  // Numbers too large for an int are no match.
  EXPECT_FALSE(matchCommand(QStringLiteral("%4o"), id, QStringLiteral("big"), 0, hex("80000000")));
}

}  // namespace
}  // namespace tk::comms
