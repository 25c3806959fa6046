#include <gtest/gtest.h>

#include <tuple>

#include "definition/constant_parser.h"
#include "definition/ini_test_util.h"

namespace tk {
namespace {

using test::orNone;
using test::parseIni;
using test::strings;

const ConstantDef& field(const EcuDefinition& d, int page, qsizetype index) {
  return d.findPage(page)->Fields.at(index);
}

ConstantDef constant(const char* value) {
  const std::optional<ConstantDef> c = parseConstant(QStringLiteral("c"), QString::fromUtf8(value));
  if (!c) {
    ADD_FAILURE() << "not a constant: " << value;
    return ConstantDef();
  }
  return *c;
}

TEST(IniHeaderTest, SignatureRules) {
  EXPECT_EQ(
      parseIni("[TunerStudio]\nsignature = \"ts\"\n[MegaTune]\nsignature = \"mt \"\n").Signature,
      QStringLiteral("mt "));
  EXPECT_EQ(parseIni("[TunerStudio]\nsignature = \"one\"\nsignature = \"two\"\n").Signature,
            QStringLiteral("one"));
  EXPECT_EQ(parseIni("[MegaTune]\nsignature = 20\nsignature = \"later\"\n").Signature,
            QStringLiteral("later"));
  const EcuDefinition d = parseIni(
      "[TunerStudio]\nqueryCommand = \"Q\"\nversionInfo = \"S\"\n[MegaTune]\nEndianness = BIG\n");
  EXPECT_EQ((QStringList{d.QueryCommand, d.VersionInfo, d.Endianness}), strings({"Q", "S", "big"}));
}

TEST(IniHeaderTest, PageSettingsBeforeTheFirstPage) {
  const EcuDefinition d = parseIni(
      "#define id = \"\\$tsCanId\\x01\"\n"
      "[Constants]\nendianness = BIG\nnPages = 3\npageSize = 128, x, 64\n"
      "pageIdentifier = \"\\x00\\x01\", $id, \"\"\npageReadCommand = \"a\"\npageReadCommand = "
      "\"r%2i\", \"r2\"\n"
      "burnCommand = \"b\"\npageValueWrite = \"w\"\npageChunkWrite = \"c\"\ncrc32CheckCommand = "
      "\"k\"\n"
      "retrieveConfigError = \"E\"\nblockingFactor = 251 ; note\npageActivationDelay = x\n"
      "messageEnvelopeFormat = msEnvelope_1.0\ncmd_reset = \"Z\"\ntsCanId = $missing\n"
      "page = 1\nnPages = 9\n");
  EXPECT_EQ((QStringList{d.Endianness, d.RetrieveConfigErrorCommand}), strings({"BIG", "E"}));
  EXPECT_TRUE(d.isBigEndian());
  EXPECT_EQ(std::tuple(d.NPages, d.BlockingFactor, d.PageActivationDelay), std::tuple(3, 251, 0));
  EXPECT_EQ(d.PageSizes, (QList<int>{128, 0, 64}));
  EXPECT_EQ(d.PageIdentifiers, strings({"\\x00\\x01", "\\$tsCanId\\x01", ""}));
  EXPECT_EQ(d.PageReadCommands, strings({"r%2i", "r2"}));
  EXPECT_EQ(
      d.BurnCommands + d.PageValueWriteCommands + d.PageChunkWriteCommands + d.Crc32CheckCommands,
      strings({"b", "w", "c", "k"}));
  EXPECT_EQ(d.Commands.value(QStringLiteral("cmd_reset")), QStringLiteral("Z"));
  // Other keys land in the settings map as written; undefined placeholders stay literal.
  EXPECT_EQ(d.Constants.keys(), strings({"tsCanId"}));
  EXPECT_EQ(d.Constants.value(QStringLiteral("tsCanId")), QStringLiteral("$missing"));
  EXPECT_EQ(std::pair(d.pageSize(1), d.pageSize(4)), std::pair(128, 0));
}

TEST(IniHeaderTest, PageLines) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 2\na = scalar, U08, 0\npage=1\nb = scalar, U08, 1\npage = 1 ; c\n"
      "c = scalar, U08, 2\npage = 1\nd = scalar, U08, 3\npage = 2\ne = scalar, U08, 4\n"
      "[Other]\n[Constants]\nf = scalar, U08, 5\n");
  ASSERT_EQ(d.Pages.size(), 2);
  EXPECT_EQ(std::pair(d.Pages.at(0).PageNumber, d.Pages.at(1).PageNumber), std::pair(2, 1));
  // "page=1" and "page = 1 ; c" are not page switches, so b and c stay on page 2.
  QStringList page2;
  for (const ConstantDef& c : d.findPage(2)->Fields) {
    page2.append(c.Name);
  }
  EXPECT_EQ(page2, strings({"a", "b", "c", "e"}));
  EXPECT_EQ(d.findPage(1)->Fields.size(), 1);
  // A section change clears the page: f is a page setting of the settings map.
  EXPECT_EQ(d.Constants.value(QStringLiteral("f")), QStringLiteral("scalar, U08, 5"));
}

TEST(IniConstantTest, ScalarAttributesAndExpressionsInBraces) {
  const auto c = parseConstant(
      QStringLiteral("reqFuel"),
      QStringLiteral("scalar, U16, 24, \"ms\", 0.1, -5, 0, 25.5, 1, \"extra\", , \"two\""));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Type, ConstantType::Scalar);
  EXPECT_EQ((QStringList{c->DataType, c->Units}), strings({"U16", "ms"}));
  EXPECT_EQ(std::tuple(c->Offset, c->Scale, c->Translate, c->HasMin, c->Min, c->Max, c->Digits),
            std::tuple(24, 0.1, -5.0, true, 0.0, 25.5, 1));
  EXPECT_EQ(c->BitValues,
            (QList<BitValue>{{0, QStringLiteral("extra")}, {1, QStringLiteral("two")}}));
  const auto e = parseConstant(
      QStringLiteral("x"),
      QStringLiteral("scalar, S08, 0, {bitStringValue(u, sel)}, { 1/ 10 }, {t}, {lo}, {hi}, {d}"));
  ASSERT_TRUE(e);
  EXPECT_EQ((QStringList{orNone(e->UnitsExpression), e->Units, orNone(e->ScaleExpression),
                         orNone(e->TranslateExpression), orNone(e->MinExpression),
                         orNone(e->MaxExpression), orNone(e->DigitsExpression)}),
            strings({"{bitStringValue(u, sel)}", "", "1/ 10", "t", "lo", "hi", "d"}));
  EXPECT_EQ(std::tuple(e->Scale, e->HasMin, e->HasMax), std::tuple(1.0, true, true));
}

TEST(IniConstantTest, KindsAndOffsets) {
  for (const char* bad : {"scalar, U08", "4, U08, 0", "float, U08, 0"}) {
    EXPECT_FALSE(parseConstant(QStringLiteral("a"), QString::fromUtf8(bad))) << bad;
  }
  EXPECT_EQ(constant("3, ASCII, 0, 20").Type, ConstantType::String);
  EXPECT_EQ(constant("BITS, U08, 0").Type, ConstantType::Bits);
  EXPECT_EQ(constant("scalar, U08, NEXTOFFSET").Offset, kNextOffset);
  EXPECT_EQ(constant("scalar, U08, lastOffset").Offset, kLastOffset);
  EXPECT_EQ(constant("scalar, U08, junk").Offset, 0);
  // A string's attributes start at its length item.
  const ConstantDef s = constant("string, ASCII, 4, 20");
  EXPECT_EQ(std::tuple(s.Shape, s.Units, fieldSize(s)),
            std::tuple(QList<int>{20}, QStringLiteral("20"), 20));
}

TEST(IniConstantTest, ShapesAndBitRanges) {
  const ConstantDef table = constant("array, U16, 0, [16x12], \"%\"");
  EXPECT_EQ(std::tuple(table.Shape, table.Units, fieldSize(table)),
            std::tuple(QList<int>{16, 12}, QStringLiteral("%"), 384));
  const ConstantDef odd = constant("oddArray, U16, 0, [16x12]");
  EXPECT_EQ(std::tuple(odd.IsOddArray, odd.Type, fieldSize(odd)),
            std::tuple(true, ConstantType::Array, 768));
  const ConstantDef expr = constant("array, U08, 0, [{ nCols } x 8]");
  EXPECT_EQ(expr.Shape, (QList<int>{1, 8}));
  EXPECT_EQ(expr.ShapeColsExpression, QStringLiteral("nCols"));
  EXPECT_FALSE(expr.ShapeRowsExpression);
  const ConstantDef one = constant("array, F32, 0, [ 6]");
  EXPECT_EQ(std::pair(one.Shape, fieldSize(one)), std::pair(QList<int>{6}, 24));
  const ConstantDef bits = constant("bits, U08, 3, [2:5]");
  EXPECT_EQ(std::tuple(bits.BitStart, bits.BitEnd, bits.Shape.isEmpty(), fieldSize(bits)),
            std::tuple(2, 5, true, 1));
  EXPECT_EQ(constant("bits, U08, 0, [0:2], \"\", On, , 4=\"x\", c, 1 = y").BitValues,
            (QList<BitValue>{{0, QString()},
                             {1, QStringLiteral("y")},
                             {4, QStringLiteral("x")},
                             {2, QStringLiteral("c")}}));
}

TEST(IniConstantTest, OffsetsResolveAgainstTheRunningOffset) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 1\na = scalar, U08, nextOffset\nt = array, U16, 10, [16x12]\n"
      "n = scalar, U32, nextOffset\nl = scalar, U08, lastOffset\nm = bits, U08, nextOffset, [0:1]\n"
      "page = 2\nz = scalar, U08, nextOffset\n");
  EXPECT_EQ(std::tuple(field(d, 1, 0).Offset, field(d, 1, 2).Offset, field(d, 1, 3).Offset,
                       field(d, 1, 4).Offset, field(d, 2, 0).Offset),
            std::tuple(0, 394, 394, 395, 0));
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
  EXPECT_EQ(std::tuple(bits.Type, bits.BitEnd, bits.IsPcVariable),
            std::tuple(ConstantType::Bits, 3, true));
  EXPECT_EQ(bits.BitValues.at(1), (BitValue{1, QStringLiteral("CAN ID 1")}));
  const ConstantDef& warn = page->Fields.at(1);
  EXPECT_EQ((QStringList{warn.Units, orNone(warn.MaxExpression)}), strings({"rpm", "maxRpm"}));
  EXPECT_EQ(std::pair(warn.HasMin, warn.Offset), std::pair(true, 0));
  // Units in braces are plain text here; a translate in braces is not an expression.
  const ConstantDef& units = page->Fields.at(2);
  EXPECT_EQ(units.Units, QStringLiteral("{u}"));
  EXPECT_EQ(units.Scale, 2.0);
  EXPECT_FALSE(units.UnitsExpression || units.TranslateExpression);
  EXPECT_EQ(
      std::tuple(page->Fields.at(3).Shape, page->Fields.at(3).Units, page->Fields.at(4).Shape),
      std::tuple(QList<int>{4}, QStringLiteral("%"), QList<int>{12}));
  EXPECT_EQ(d.PcVariableExpressions.value(QStringLiteral("calc")), QStringLiteral("rpm * 2"));
  const ConstantDef& start = page->Fields.at(5);
  const ConstantDef& live = page->Fields.at(6);
  EXPECT_EQ(
      std::pair(start.PcVariableType, live.PcVariableType),
      std::pair(PcVariableType::ChannelValueOnConnect, PcVariableType::ContinuousChannelValue));
  EXPECT_EQ((QStringList{orNone(start.ReferencedChannel), start.DataType,
                         orNone(live.ReferencedChannel)}),
            strings({"rpm", "F32", "map"}));
}

TEST(IniConstantTest, ConstantExtensions) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 1\nrpmk = scalar, U16, 0\nrpmk = scalar, U16, 2\nflags = scalar, U08, "
      "4\n"
      "[ConstantsExtensions]\nrequiresPowerCycle = rpmk\nrequiresPowerCycle = rpmk\n"
      "requiresPowerCycle =\ndefaultValue = rpmk, 4000\ndefaultValue = arr, 1, x, 2.5\n"
      "defaultValue = lonely\nrawValue = flags, 3\nnoMsqSave = rpmk\ndisplayInHex = flags\n"
      "controllerPriority = missing\nreadOnly =\nunknownKind = rpmk\n");
  EXPECT_EQ(d.RequiresPowerCycleFields, strings({"rpmk"}));
  ASSERT_EQ(d.ConstantExtensions.size(), 7);
  const QList<ConstantExtension>& x = d.ConstantExtensions;
  EXPECT_EQ((QStringList{x.at(1).Value, x.at(2).Value, x.at(3).Value}), strings({"4000", "", "3"}));
  EXPECT_EQ(x.at(2).ArrayValues, (QList<double>{1.0, 2.5}));
  EXPECT_EQ(std::pair(x.at(3).ExtensionType, x.at(6).ExtensionType),
            std::pair(ExtensionType::RawValue, ExtensionType::ControllerPriority));
  // Flags go to the first constant of that name only.
  EXPECT_EQ(
      std::tuple(field(d, 1, 0).NoMsqSave, field(d, 1, 1).NoMsqSave, field(d, 1, 2).DisplayInHex),
      std::tuple(true, false, true));
}

TEST(IniConstantTest, ScalarsMapTakesTitlesFromDialogs) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 3\nreqFuel = scalar, U08, 1, \"ms\", 0.1, 0, 0, 25, 1\n"
      "reqFuel = scalar, U08, 9\nplain = scalar, U08, 2\ntbl = array, U08, 3, [2]\n"
      "[UserDefined]\ndialog = d1, \"D\"\nfield = \"\", reqFuel\nfield = \"Required fuel\", "
      "reqFuel\n");
  ASSERT_EQ(d.Scalars.size(), 2u);
  const ScalarDef& s = *d.Scalars.find(QStringLiteral("reqFuel"));
  EXPECT_EQ(s.Title, QStringLiteral("Required fuel"));
  EXPECT_EQ(std::tuple(s.Page, s.Offset, s.Scale, s.Max), std::tuple(3, 1, 0.1, 25.0));
  EXPECT_EQ(d.Scalars.find(QStringLiteral("plain"))->Title, QStringLiteral("plain"));
}

}  // namespace
}  // namespace tk
