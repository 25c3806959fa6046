#include "definition/ini_test_util.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

using test::parseIni;

TEST(IniOutputChannelsTest, BlockSettingsAndDeclaredChannels) {
  const EcuDefinition d = parseIni(
      "[OutputChannels]\nochGetCommand = \"r\\$tsCanId\\x30\"\nochBlockSize = 130\n"
      "scatteredOffsetArray = ofs, 1\nscatteredOchGetCommand = \"G\"\nscatteredGetEnabled = { a }\n"
      "map = scalar, U16, 10, \"kPa\", 1, 0\nrpm = scalar, U16, nextOffset, \"rpm\"\n"
      "tps = scalar, U32, nextOffset\nsame = scalar, U08, lastOffset\n"
      "status = bits, U08, 3, [1:2], \"a\", \"b\"\n"
      "[Constants]\npage = 1\nc = scalar, U08, nextOffset\n"
      "[OutputChannels]\nafter = scalar, U08, nextOffset\nmap = scalar, U08, 0\n");
  EXPECT_EQ(d.OchGetCommand, QStringLiteral("r\\$tsCanId\\x30"));
  EXPECT_EQ(d.OchBlockSize, 130);
  EXPECT_EQ(d.ScatteredOffsetArray, QStringLiteral("ofs, 1"));
  EXPECT_EQ(d.ScatteredOchGetCommand, QStringLiteral("G"));
  EXPECT_EQ(d.ScatteredGetEnabled, QStringLiteral("{ a }"));
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("rpm"))->Offset, 12);
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("tps"))->Offset, 14);
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("same"))->Offset, 14);
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("status"))->BitEnd, 2);
  // Page lines do not reset the channel counters; the constant page keeps its own.
  EXPECT_EQ(d.findPage(1)->Fields.at(0).Offset, 0);
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("after"))->Offset, 4);
  // A re-declared channel keeps its first position with the new record.
  EXPECT_EQ(d.OutputChannels.entries().front().first, QStringLiteral("map"));
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("map"))->DataType, QStringLiteral("U08"));
}

TEST(IniOutputChannelsTest, ComputedChannels) {
  const EcuDefinition d = parseIni(
      "[OutputChannels]\nboost = { map - baro }, \"kPa\"\nplain = { rpm / 2 }\n"
      "reversed = } x {\nempty = { }\n= { 1 }\n");
  const ConstantDef& boost = *d.OutputChannels.find(QStringLiteral("boost"));
  EXPECT_EQ(boost.Expression, QStringLiteral("map - baro"));
  EXPECT_EQ(boost.Units, QStringLiteral("kPa"));
  EXPECT_EQ(boost.DataType, QStringLiteral("F32"));
  EXPECT_EQ(d.ExpressionDefinitions.value(QStringLiteral("boost")), QStringLiteral("map - baro"));
  // Only a value that ends with its closing brace also counts as a PC-variable expression.
  EXPECT_FALSE(d.PcVariableExpressions.contains(QStringLiteral("boost")));
  EXPECT_EQ(d.PcVariableExpressions.value(QStringLiteral("plain")), QStringLiteral("rpm / 2"));
  EXPECT_FALSE(d.OutputChannels.contains(QStringLiteral("reversed")));
  EXPECT_FALSE(d.OutputChannels.contains(QStringLiteral("empty")));
  EXPECT_EQ(d.OutputChannels.size(), 2u);
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
  EXPECT_EQ(time.Category, QString());
  EXPECT_EQ(time.Format, QStringLiteral("%.3f"));
  const DatalogEntry& rpm = d.DatalogEntries.at(1);
  EXPECT_EQ(rpm.Label, QStringLiteral("RPM"));
  EXPECT_EQ(rpm.Type, QStringLiteral("int"));
  EXPECT_EQ(rpm.Format, QStringLiteral("%d"));
  EXPECT_EQ(rpm.Category, QStringLiteral("Engine"));
  EXPECT_EQ(rpm.EnabledCondition, QStringLiteral("rpm > 0"));
  EXPECT_EQ(rpm.Lag, QStringLiteral(" 2"));
  const DatalogEntry& x = d.DatalogEntries.at(2);
  // The escaped quote keeps the semicolon inside the label; a bare condition stays as written.
  EXPECT_EQ(x.Label, QStringLiteral("a \\\"q\\\"; b"));
  EXPECT_EQ(x.EnabledCondition, QStringLiteral("  cond"));
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
