#include "definition/constant_parser.h"
#include "definition/ini_test_util.h"

#include <gtest/gtest.h>

namespace tk {
namespace {

using test::parseIni;

const ConstantDef& field(const EcuDefinition& d, int page, qsizetype index) {
  return d.findPage(page)->Fields.at(index);
}

TEST(IniHeaderTest, DefaultsWithoutAnySetting) {
  const EcuDefinition d = parseIni("[Constants]\n");
  EXPECT_EQ(d.Endianness, QStringLiteral("little"));
  EXPECT_EQ(d.RetrieveConfigErrorCommand, QStringLiteral("e"));
  EXPECT_EQ(d.BlockingFactor, 3000);
  EXPECT_EQ(d.PageActivationDelay, 0);
  EXPECT_EQ(d.NPages, 0);
}

TEST(IniHeaderTest, SignatureRules) {
  EXPECT_EQ(parseIni("[TunerStudio]\nsignature = \"ts\"\n[MegaTune]\nsignature = \"mt \"\n").Signature,
            QStringLiteral("mt "));
  EXPECT_EQ(parseIni("[TunerStudio]\nsignature = \"one\"\nsignature = \"two\"\n").Signature,
            QStringLiteral("one"));
  EXPECT_EQ(parseIni("[MegaTune]\nsignature = 20\nsignature = \"later\"\n").Signature,
            QStringLiteral("later"));
  const EcuDefinition d = parseIni(
      "[TunerStudio]\nqueryCommand = \"Q\"\nversionInfo = \"S\"\n[MegaTune]\nEndianness = BIG\n");
  EXPECT_EQ(d.QueryCommand, QStringLiteral("Q"));
  EXPECT_EQ(d.VersionInfo, QStringLiteral("S"));
  EXPECT_EQ(d.Endianness, QStringLiteral("big"));
}

TEST(IniHeaderTest, PageSettingsBeforeTheFirstPage) {
  const EcuDefinition d = parseIni(
      "#define id = \"\\$tsCanId\\x01\"\n"
      "[Constants]\nendianness = BIG\nnPages = 3\npageSize = 128, x, 64\n"
      "pageIdentifier = \"\\x00\\x01\", $id, \"\"\npageReadCommand = \"a\"\npageReadCommand = \"r%2i\", \"r2\"\n"
      "burnCommand = \"b\"\npageValueWrite = \"w\"\npageChunkWrite = \"c\"\ncrc32CheckCommand = \"k\"\n"
      "retrieveConfigError = \"E\"\nblockingFactor = 251 ; note\npageActivationDelay = x\n"
      "messageEnvelopeFormat = msEnvelope_1.0\ncmd_reset = \"Z\"\ntsCanId = $missing\n"
      "page = 1\nnPages = 9\n");
  EXPECT_EQ(d.Endianness, QStringLiteral("BIG"));
  EXPECT_TRUE(d.isBigEndian());
  EXPECT_EQ(d.NPages, 3);
  EXPECT_EQ(d.PageSizes, (QList<int>{128, 0, 64}));
  EXPECT_EQ(d.PageIdentifiers, (QStringList{QStringLiteral("\\x00\\x01"),
                                            QStringLiteral("\\$tsCanId\\x01"), QString()}));
  EXPECT_EQ(d.PageReadCommands, (QStringList{QStringLiteral("r%2i"), QStringLiteral("r2")}));
  EXPECT_EQ(d.BurnCommands, QStringList{QStringLiteral("b")});
  EXPECT_EQ(d.PageValueWriteCommands, QStringList{QStringLiteral("w")});
  EXPECT_EQ(d.PageChunkWriteCommands, QStringList{QStringLiteral("c")});
  EXPECT_EQ(d.Crc32CheckCommands, QStringList{QStringLiteral("k")});
  EXPECT_EQ(d.RetrieveConfigErrorCommand, QStringLiteral("E"));
  EXPECT_EQ(d.BlockingFactor, 251);
  EXPECT_EQ(d.PageActivationDelay, 0);
  EXPECT_EQ(d.Commands.value(QStringLiteral("cmd_reset")), QStringLiteral("Z"));
  // Other keys land in the settings map as written; undefined placeholders stay literal.
  EXPECT_EQ(d.Constants.keys(), QStringList{QStringLiteral("tsCanId")});
  EXPECT_EQ(d.Constants.value(QStringLiteral("tsCanId")), QStringLiteral("$missing"));
  EXPECT_EQ(d.pageSize(1), 128);
  EXPECT_EQ(d.pageSize(4), 0);
}

TEST(IniHeaderTest, PageLines) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 2\na = scalar, U08, 0\npage=1\nb = scalar, U08, 1\npage = 1 ; c\n"
      "c = scalar, U08, 2\npage = 1\nd = scalar, U08, 3\npage = 2\ne = scalar, U08, 4\n"
      "[Other]\n[Constants]\nf = scalar, U08, 5\n");
  ASSERT_EQ(d.Pages.size(), 2);
  EXPECT_EQ(d.Pages.at(0).PageNumber, 2);
  EXPECT_EQ(d.Pages.at(1).PageNumber, 1);
  // "page=1" and "page = 1 ; c" are not page switches, so b and c stay on page 2.
  QStringList page2;
  for (const ConstantDef& c : d.findPage(2)->Fields) {
    page2.append(c.Name);
  }
  EXPECT_EQ(page2, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                QStringLiteral("e")}));
  EXPECT_EQ(d.findPage(1)->Fields.size(), 1);
  // A section change clears the page: f is a page setting of the settings map.
  EXPECT_EQ(d.Constants.value(QStringLiteral("f")), QStringLiteral("scalar, U08, 5"));
}

TEST(IniConstantTest, ScalarAttributes) {
  const auto c = parseConstant(
      QStringLiteral("reqFuel"),
      QStringLiteral("scalar, U16, 24, \"ms\", 0.1, -5, 0, 25.5, 1, \"extra\", , \"two\""));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Type, ConstantType::Scalar);
  EXPECT_EQ(c->DataType, QStringLiteral("U16"));
  EXPECT_EQ(c->Offset, 24);
  EXPECT_EQ(c->Units, QStringLiteral("ms"));
  EXPECT_EQ(c->Scale, 0.1);
  EXPECT_EQ(c->Translate, -5.0);
  EXPECT_TRUE(c->HasMin);
  EXPECT_EQ(c->Min, 0.0);
  EXPECT_EQ(c->Max, 25.5);
  EXPECT_EQ(c->Digits, 1);
  EXPECT_EQ(c->BitValues,
            (QList<BitValue>{{0, QStringLiteral("extra")}, {1, QStringLiteral("two")}}));
}

TEST(IniConstantTest, ExpressionsInBraces) {
  const auto c = parseConstant(
      QStringLiteral("x"),
      QStringLiteral("scalar, S08, 0, {bitStringValue(u, sel)}, { 1/ 10 }, {t}, {lo}, {hi}, {d}"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->UnitsExpression, QStringLiteral("{bitStringValue(u, sel)}"));
  EXPECT_EQ(c->Units, QString());
  EXPECT_EQ(c->ScaleExpression, QStringLiteral("1/ 10"));
  EXPECT_EQ(c->Scale, 1.0);
  EXPECT_EQ(c->TranslateExpression, QStringLiteral("t"));
  EXPECT_EQ(c->MinExpression, QStringLiteral("lo"));
  EXPECT_TRUE(c->HasMin);
  EXPECT_EQ(c->MaxExpression, QStringLiteral("hi"));
  EXPECT_TRUE(c->HasMax);
  EXPECT_EQ(c->DigitsExpression, QStringLiteral("d"));
}

TEST(IniConstantTest, KindsAndOffsets) {
  EXPECT_FALSE(parseConstant(QStringLiteral("a"), QStringLiteral("scalar, U08")));
  EXPECT_FALSE(parseConstant(QStringLiteral("a"), QStringLiteral("4, U08, 0")));
  EXPECT_FALSE(parseConstant(QStringLiteral("a"), QStringLiteral("float, U08, 0")));
  EXPECT_EQ(parseConstant(QStringLiteral("a"), QStringLiteral("3, ASCII, 0, 20"))->Type,
            ConstantType::String);
  EXPECT_EQ(parseConstant(QStringLiteral("a"), QStringLiteral("BITS, U08, 0"))->Type,
            ConstantType::Bits);
  EXPECT_EQ(parseConstant(QStringLiteral("a"), QStringLiteral("scalar, U08, NEXTOFFSET"))->Offset,
            kNextOffset);
  EXPECT_EQ(parseConstant(QStringLiteral("a"), QStringLiteral("scalar, U08, lastOffset"))->Offset,
            kLastOffset);
  EXPECT_EQ(parseConstant(QStringLiteral("a"), QStringLiteral("scalar, U08, junk"))->Offset, 0);
  const auto s = parseConstant(QStringLiteral("s"), QStringLiteral("string, ASCII, 4, 20"));
  EXPECT_EQ(s->Shape, QList<int>{20});
  // A string's attributes start at its length item.
  EXPECT_EQ(s->Units, QStringLiteral("20"));
  EXPECT_EQ(fieldSize(*s), 20);
}

TEST(IniConstantTest, ShapesAndBitRanges) {
  const auto table = parseConstant(QStringLiteral("t"), QStringLiteral("array, U16, 0, [16x12], \"%\""));
  EXPECT_EQ(table->Shape, (QList<int>{16, 12}));
  EXPECT_EQ(table->Units, QStringLiteral("%"));
  EXPECT_EQ(fieldSize(*table), 384);
  const auto odd = parseConstant(QStringLiteral("o"), QStringLiteral("oddArray, U16, 0, [16x12]"));
  EXPECT_TRUE(odd->IsOddArray);
  EXPECT_EQ(odd->Type, ConstantType::Array);
  EXPECT_EQ(fieldSize(*odd), 768);
  const auto expr = parseConstant(QStringLiteral("e"),
                                  QStringLiteral("array, U08, 0, [{ nCols } x 8]"));
  EXPECT_EQ(expr->Shape, (QList<int>{1, 8}));
  EXPECT_EQ(expr->ShapeColsExpression, QStringLiteral("nCols"));
  EXPECT_FALSE(expr->ShapeRowsExpression);
  const auto one = parseConstant(QStringLiteral("v"), QStringLiteral("array, F32, 0, [ 6]"));
  EXPECT_EQ(one->Shape, QList<int>{6});
  EXPECT_EQ(fieldSize(*one), 24);
  const auto bits = parseConstant(QStringLiteral("b"), QStringLiteral("bits, U08, 3, [2:5]"));
  EXPECT_EQ(bits->BitStart, 2);
  EXPECT_EQ(bits->BitEnd, 5);
  EXPECT_TRUE(bits->Shape.isEmpty());
  EXPECT_EQ(fieldSize(*bits), 1);
}

TEST(IniConstantTest, BitLabels) {
  const auto c = parseConstant(QStringLiteral("b"),
                               QStringLiteral("bits, U08, 0, [0:2], \"\", On, , 4=\"x\", c, 1 = y"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->BitValues, (QList<BitValue>{{0, QString()},
                                           {1, QStringLiteral("y")},
                                           {4, QStringLiteral("x")},
                                           {2, QStringLiteral("c")}}));
}

TEST(IniConstantTest, OffsetsResolveAgainstTheRunningOffset) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 1\na = scalar, U08, nextOffset\nt = array, U16, 10, [16x12]\n"
      "n = scalar, U32, nextOffset\nl = scalar, U08, lastOffset\nm = bits, U08, nextOffset, [0:1]\n"
      "page = 2\nz = scalar, U08, nextOffset\n");
  EXPECT_EQ(field(d, 1, 0).Offset, 0);
  EXPECT_EQ(field(d, 1, 2).Offset, 394);
  EXPECT_EQ(field(d, 1, 3).Offset, 394);
  EXPECT_EQ(field(d, 1, 4).Offset, 395);
  EXPECT_EQ(field(d, 2, 0).Offset, 0);
}

TEST(IniConstantTest, PcVariables) {
  const EcuDefinition d = parseIni(
      "[PcVariables]\n"
      "tsCanId = bits, U08, [0:3], \"CAN ID 0\", \"CAN ID 1\"\n"
      "rpmwarn = scalar, U16, \"rpm\", 1, 0, 0, {maxRpm}, 0\n"
      "units = scalar, U08, {u}, 2, {t}\n"
      "arr = array, U08, [4], \"%\", 1\n"
      "name = string, ASCII, 12\n"
      "calc = { rpm * 2 }\n"
      "startRpm = channelValueOnConnect, rpm\n"
      "liveMap = ContinuousChannelValue , map ,\n");
  const PageGroup* page = d.findPage(0);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->Fields.size(), 7);
  const ConstantDef& bits = page->Fields.at(0);
  EXPECT_EQ(bits.Type, ConstantType::Bits);
  EXPECT_EQ(bits.BitEnd, 3);
  EXPECT_EQ(bits.BitValues.at(1), (BitValue{1, QStringLiteral("CAN ID 1")}));
  EXPECT_TRUE(bits.IsPcVariable);
  const ConstantDef& warn = page->Fields.at(1);
  EXPECT_EQ(warn.Units, QStringLiteral("rpm"));
  EXPECT_EQ(warn.MaxExpression, QStringLiteral("maxRpm"));
  EXPECT_TRUE(warn.HasMin);
  EXPECT_EQ(warn.Offset, 0);
  const ConstantDef& units = page->Fields.at(2);
  // Units in braces are plain text here; a translate in braces is not an expression.
  EXPECT_EQ(units.Units, QStringLiteral("{u}"));
  EXPECT_FALSE(units.UnitsExpression);
  EXPECT_EQ(units.Scale, 2.0);
  EXPECT_FALSE(units.TranslateExpression);
  EXPECT_EQ(page->Fields.at(3).Shape, QList<int>{4});
  EXPECT_EQ(page->Fields.at(3).Units, QStringLiteral("%"));
  EXPECT_EQ(page->Fields.at(4).Shape, QList<int>{12});
  EXPECT_EQ(d.PcVariableExpressions.value(QStringLiteral("calc")), QStringLiteral("rpm * 2"));
  const ConstantDef& start = page->Fields.at(5);
  EXPECT_EQ(start.PcVariableType, PcVariableType::ChannelValueOnConnect);
  EXPECT_EQ(start.ReferencedChannel, QStringLiteral("rpm"));
  EXPECT_EQ(start.DataType, QStringLiteral("F32"));
  EXPECT_EQ(page->Fields.at(6).PcVariableType, PcVariableType::ContinuousChannelValue);
  EXPECT_EQ(page->Fields.at(6).ReferencedChannel, QStringLiteral("map"));
}

TEST(IniConstantTest, ConstantExtensions) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 1\nrpmk = scalar, U16, 0\nrpmk = scalar, U16, 2\nflags = scalar, U08, 4\n"
      "[ConstantsExtensions]\nrequiresPowerCycle = rpmk\nrequiresPowerCycle = rpmk\n"
      "requiresPowerCycle =\ndefaultValue = rpmk, 4000\ndefaultValue = arr, 1, x, 2.5\n"
      "defaultValue = lonely\nrawValue = flags, 3\nnoMsqSave = rpmk\ndisplayInHex = flags\n"
      "controllerPriority = missing\nreadOnly =\nunknownKind = rpmk\n");
  EXPECT_EQ(d.RequiresPowerCycleFields, QStringList{QStringLiteral("rpmk")});
  ASSERT_EQ(d.ConstantExtensions.size(), 7);
  EXPECT_EQ(d.ConstantExtensions.at(1).Value, QStringLiteral("4000"));
  EXPECT_EQ(d.ConstantExtensions.at(2).ArrayValues, (QList<double>{1.0, 2.5}));
  EXPECT_EQ(d.ConstantExtensions.at(2).Value, QString());
  EXPECT_EQ(d.ConstantExtensions.at(3).ExtensionType, ExtensionType::RawValue);
  EXPECT_EQ(d.ConstantExtensions.at(3).Value, QStringLiteral("3"));
  // Flags go to the first constant of that name only.
  EXPECT_TRUE(field(d, 1, 0).NoMsqSave);
  EXPECT_FALSE(field(d, 1, 1).NoMsqSave);
  EXPECT_TRUE(field(d, 1, 2).DisplayInHex);
  EXPECT_EQ(d.ConstantExtensions.at(6).ExtensionType, ExtensionType::ControllerPriority);
}

TEST(IniConstantTest, ScalarsMapTakesTitlesFromDialogs) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 3\nreqFuel = scalar, U08, 1, \"ms\", 0.1, 0, 0, 25, 1\n"
      "reqFuel = scalar, U08, 9\nplain = scalar, U08, 2\ntbl = array, U08, 3, [2]\n"
      "[UserDefined]\ndialog = d1, \"D\"\nfield = \"\", reqFuel\nfield = \"Required fuel\", reqFuel\n");
  ASSERT_EQ(d.Scalars.size(), 2u);
  const ScalarDef& s = *d.Scalars.find(QStringLiteral("reqFuel"));
  EXPECT_EQ(s.Title, QStringLiteral("Required fuel"));
  EXPECT_EQ(s.Page, 3);
  EXPECT_EQ(s.Offset, 1);
  EXPECT_EQ(s.Scale, 0.1);
  EXPECT_EQ(s.Max, 25.0);
  EXPECT_EQ(d.Scalars.find(QStringLiteral("plain"))->Title, QStringLiteral("plain"));
}

}  // namespace
}  // namespace tk
