#include <gtest/gtest.h>

#include <tuple>

#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::mapKeys;
using test::orNone;
using test::parseIni;
using test::strings;

TEST(IniOutputChannelsTest, BlockSettingsAndDeclaredChannels) {
  const EcuDefinition d = parseIni(
      "[OutputChannels]\nochGetCommand = \"r\\$tsCanId\\x30\"\nochBlockSize = 130\n"
      "scatteredOffsetArray = ofs, 1\nscatteredOchGetCommand = \"G\"\nscatteredGetEnabled = { a }\n"
      "map = scalar, U16, 10, \"kPa\", 1, 0\nrpm = scalar, U16, nextOffset, \"rpm\"\n"
      "tps = scalar, U32, nextOffset\nsame = scalar, U08, lastOffset\n"
      "status = bits, U08, 3, [1:2], \"a\", \"b\"\n"
      "[Constants]\npage = 1\nc = scalar, U08, nextOffset\n"
      "[OutputChannels]\nafter = scalar, U08, nextOffset\nmap = scalar, U08, 0\n");
  EXPECT_EQ((QStringList{d.OchGetCommand, orNone(d.ScatteredOffsetArray),
                         orNone(d.ScatteredOchGetCommand), orNone(d.ScatteredGetEnabled)}),
            strings({"r\\$tsCanId\\x30", "ofs, 1", "G", "{ a }"}));
  EXPECT_EQ(d.OchBlockSize, 130);
  const auto offset = [&d](const char* name) {
    return d.OutputChannels.find(QString::fromUtf8(name))->Offset;
  };
  EXPECT_EQ(std::tuple(offset("rpm"), offset("tps"), offset("same")), std::tuple(12, 14, 14));
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("status"))->BitEnd, 2);
  // Page lines do not reset the channel counters; the constant page keeps its own.
  EXPECT_EQ(std::pair(d.findPage(1)->Fields.at(0).Offset, offset("after")), std::pair(0, 4));
  // A re-declared channel keeps its first position with the new record.
  EXPECT_EQ(d.OutputChannels.entries().front().first, QStringLiteral("map"));
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("map"))->DataType, QStringLiteral("U08"));
}

TEST(IniOutputChannelsTest, ComputedChannels) {
  const EcuDefinition d = parseIni(
      "[OutputChannels]\nboost = { map - baro }, \"kPa\"\nplain = { rpm / 2 }\n"
      "reversed = } x {\nempty = { }\n= { 1 }\n");
  const ConstantDef& boost = *d.OutputChannels.find(QStringLiteral("boost"));
  EXPECT_EQ((QStringList{orNone(boost.Expression), boost.Units, boost.DataType,
                         d.ExpressionDefinitions.value(QStringLiteral("boost"))}),
            strings({"map - baro", "kPa", "F32", "map - baro"}));
  // Only a value that ends with its closing brace also counts as a PC-variable expression.
  EXPECT_FALSE(d.PcVariableExpressions.contains(QStringLiteral("boost")));
  EXPECT_EQ(d.PcVariableExpressions.value(QStringLiteral("plain")), QStringLiteral("rpm / 2"));
  EXPECT_EQ(mapKeys(d.OutputChannels), strings({"boost", "plain"}));
}

TEST(IniOutputChannelsTest, ReplayChannelsKeepWordOffsets) {
  EXPECT_FALSE(parseIni("[OutputChannels]\n").ReplayChannels.has_value());
  const EcuDefinition d = parseIni("[Replay]\nrpm = scalar, U16, nextOffset\nbad = scalar\n");
  ASSERT_TRUE(d.ReplayChannels.has_value());
  EXPECT_EQ(d.ReplayChannels->size(), 1u);
  EXPECT_EQ(d.ReplayChannels->find(QStringLiteral("rpm"))->Offset, -1);
}

TEST(IniOutputChannelsTest, DatalogEntries) {
  const EcuDefinition d = parseIni(
      "#define fmt = \"%d\"\n[Datalog]\nentry = time, \"Time\", float, \"%.3f\"\n"
      "category = \"Engine\"\n"
      "entry = rpm, \"RPM\", int, $fmt, { rpm > 0 }, 2 ; comment\n"
      "entry = x, \"a \\\"q\\\"; b\", int, hex,  cond \n"
      "entry = y, \"Y\", int\n[Other]\n[Datalog]\nentry = z, \"Z\", int, yesno\n");
  ASSERT_EQ(d.DatalogEntries.size(), 4);
  const DatalogEntry& time = d.DatalogEntries.at(0);
  EXPECT_EQ((QStringList{time.Category, time.Format}), strings({"", "%.3f"}));
  const DatalogEntry& rpm = d.DatalogEntries.at(1);
  EXPECT_EQ(
      (QStringList{rpm.Label, rpm.Type, rpm.Format, rpm.Category, rpm.EnabledCondition, rpm.Lag}),
      strings({"RPM", "int", "%d", "Engine", "rpm > 0", " 2"}));
  // The escaped quote keeps the semicolon inside the label; a bare condition stays as written.
  const DatalogEntry& x = d.DatalogEntries.at(2);
  EXPECT_EQ((QStringList{x.Label, x.EnabledCondition}), strings({"a \\\"q\\\"; b", "  cond"}));
  EXPECT_TRUE(x.isHexFormat());
  EXPECT_TRUE(d.DatalogEntries.at(3).isBooleanFormat());
  EXPECT_EQ(d.DatalogEntries.at(3).Category, QStringLiteral("Engine"));
}

TEST(IniOutputChannelsTest, OchCommandBytes) {
  const auto bytes = [](const char* command) {
    EcuDefinition d;
    d.OchGetCommand = QString::fromUtf8(command);
    return ochCommandBytes(d);
  };
  EXPECT_EQ(bytes(""), QByteArray());
  EXPECT_EQ(bytes("\\x41"), QByteArray("A"));
  EXPECT_EQ(bytes("\\x 0f"), QByteArray("\x0f"));
  EXPECT_EQ(bytes("\\x100"), QByteArray("\\x100"));
  EXPECT_EQ(bytes("\\xzz"), QByteArray("\\xzz"));
  EXPECT_EQ(bytes("A\xC3\xA9"), QByteArray("A?"));
  EXPECT_EQ(bytes("r\\x00"), QByteArray("r\\x00"));
}

}  // namespace
}  // namespace tk
