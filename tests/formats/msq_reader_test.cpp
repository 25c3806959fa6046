#include "formats/msq_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "formats/msq_test_helpers.h"
#include "formats/msq_text.h"
#include "formats/msq_writer.h"

namespace tk {
namespace {

// A document in the MSQ namespace with the given content after the header elements.
QByteArray msqText(const char* pages, const char* encoding = "ISO-8859-1") {
  return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding +
         "\"?>\n<msq xmlns=\"http://www.msefi.com/:msq\">\n"
         "<bibliography author=\"TS\" tuneComment=\"c\" writeDate=\"today\"/>\n"
         "<versionInfo fileFormat=\"5.0\" firmwareInfo=\"fw\" nPages=\"3\" signature=\"sig\"/>\n" +
         pages + "\n</msq>\n";
}

std::string errorOf(const QByteArray& bytes) {
  try {
    parseMsq(bytes);
  } catch (const MsqError& e) {
    return e.what();
  }
  return "no error";
}

TEST(MsqReaderTest, ReadsHeaderScalarsArraysAndPcVariables) {
  const MsqDocument doc = parseMsq(msqText(
      "<page>\n<pcVariable name=\"tsCanId\">\"CAN ID 0\"</pcVariable>\n"
      "<pcVariable digits=\"0\" name=\"rpmwarn\" units=\"rpm\">3000.0</pcVariable>\n</page>\n"
      "<page number=\"2\" size=\"16\">\n"
      "<constant digits=\"1\" name=\"reqFuel\" units=\"ms\">15.7</constant>\n"
      "<constant name=\"mode\">\"On\"</constant>\n"
      "<constant cols=\"3\" digits=\"0\" name=\"grid\" rows=\"2\" units=\"%\">\n"
      "         1.0 2.0 3.0 \n         4.0 5.0 6.0 \n      </constant>\n"
      "</page>"));
  MsqDocument expected;
  expected.Signature = QStringLiteral("sig");
  expected.FileFormat = QStringLiteral("5.0");
  expected.FirmwareInfo = QStringLiteral("fw");
  expected.PageCount = 3;
  expected.Author = QStringLiteral("TS");
  expected.TuneComment = QStringLiteral("c");
  expected.WriteDate = QStringLiteral("today");
  const auto constant = [](const char* name, int page, const char* text, const char* units = "") {
    MsqConstant c;
    c.Name = QString::fromUtf8(name);
    c.PageNumber = page;
    c.StringValue = QString::fromUtf8(text);
    c.Units = QString::fromUtf8(units);
    return c;
  };
  MsqConstant canId = constant("tsCanId", 0, "CAN ID 0");
  MsqConstant rpmWarn = constant("rpmwarn", 0, "3000.0", "rpm");
  canId.IsPcVariable = rpmWarn.IsPcVariable = rpmWarn.IsNumeric = true;
  rpmWarn.NumericValue = 3000.0;
  expected.PcVariables = {canId, rpmWarn};
  MsqConstant reqFuel = constant("reqFuel", 2, "15.7", "ms");
  reqFuel.Digits = 1;
  reqFuel.NumericValue = 15.7;
  reqFuel.IsNumeric = true;
  // The value text of an array is its trimmed character data; an array is not numeric.
  MsqConstant grid = constant("grid", 2, "1.0 2.0 3.0 \n         4.0 5.0 6.0", "%");
  grid.Rows = 2;
  grid.Cols = 3;
  grid.IsArray = true;
  grid.ArrayValues = {1, 2, 3, 4, 5, 6};
  // A quoted word is a text, not a number.
  expected.Fields = {reqFuel, constant("mode", 2, "On"), grid};
  EXPECT_EQ(doc, expected);
}

TEST(MsqReaderTest, ArrayTokensThatAreNotNumbersAreSkipped) {
  const MsqDocument doc = parseMsq(
      msqText("<page><constant name=\"a\" rows=\"4\">1\t2\r\nx  3 0x4 nan -Infinity</constant>"
              "<constant name=\"b\" cols=\"1\"></constant></page>"));
  ASSERT_EQ(doc.Fields.size(), 2);
  const QList<double>& a = doc.Fields.at(0).ArrayValues;
  ASSERT_EQ(a.size(), 5);
  EXPECT_EQ(a.at(0), 1.0);
  EXPECT_EQ(a.at(1), 2.0);
  EXPECT_EQ(a.at(2), 3.0);
  EXPECT_TRUE(std::isnan(a.at(3)));
  EXPECT_EQ(a.at(4), -INFINITY);
  EXPECT_TRUE(doc.Fields.at(1).IsArray);
  EXPECT_TRUE(doc.Fields.at(1).ArrayValues.isEmpty());
}

TEST(MsqReaderTest, IntegerAttributesReadZeroWhenMalformed) {
  const MsqDocument doc = parseMsq(msqText(
      "<page number=\"x\"><constant name=\"a\" digits=\"1.5\" rows=\"-2\" cols=\"0\">"
      "\"\"5\"\"</constant><constant name=\"b\" digits=\" 3 \" rows=\"two\">7</constant></page>"));
  ASSERT_EQ(doc.Fields.size(), 2);
  const MsqConstant& a = doc.Fields.at(0);
  EXPECT_EQ(a.PageNumber, 0);
  EXPECT_EQ(a.Digits, 0);
  EXPECT_EQ(a.Rows, -2);
  EXPECT_FALSE(a.IsArray);                        // neither rows nor cols is positive
  EXPECT_EQ(a.StringValue, QStringLiteral("5"));  // every surrounding quote is removed
  EXPECT_EQ(a.NumericValue, 5.0);
  EXPECT_EQ(doc.Fields.at(1).Digits, 3);
  EXPECT_EQ(doc.Fields.at(1).Rows, 0);
  EXPECT_EQ(doc.Fields.at(1).NumericValue, 7.0);
}

TEST(MsqReaderTest, ValueTextIncludesNestedElementsButPagesInsideAValueAreNotPages) {
  const MsqDocument doc = parseMsq(
      msqText("<page number=\"1\"><constant name=\"a\"> 1<b>2<!-- gone --><![CDATA[3]]></b>4"
              "<page number=\"9\"><constant name=\"inner\">5</constant></page></constant></page>"));
  ASSERT_EQ(doc.Fields.size(), 1);
  EXPECT_EQ(doc.Fields.at(0).StringValue, QStringLiteral("12345"));
  EXPECT_EQ(doc.Fields.at(0).NumericValue, 12345.0);
}

TEST(MsqReaderTest, OnlyDirectChildrenOfPagesAreRead) {
  const MsqDocument doc =
      parseMsq(msqText("<constant name=\"outside\">1</constant>"
                       "<page><group><constant name=\"nested\">2</constant></group>"
                       "<constant name=\"direct\">3</constant></page>"));
  ASSERT_EQ(doc.Fields.size(), 1);
  EXPECT_EQ(doc.Fields.at(0).Name, QStringLiteral("direct"));
}

TEST(MsqReaderTest, PagesWithoutNamespaceCountOnlyWhenNoNamespacedPageExists) {
  const QByteArray mixed =
      "<?xml version=\"1.0\"?><root>"
      "<page number=\"1\"><constant name=\"plain\">1</constant></page>"
      "<m:page xmlns:m=\"http://www.msefi.com/:msq\" number=\"2\">"
      "<m:constant name=\"namespaced\">2</m:constant></m:page>"
      "<o:page xmlns:o=\"urn:other\" number=\"3\"><constant name=\"other\">3</constant></o:page>"
      "</root>";
  const MsqDocument doc = parseMsq(mixed);
  ASSERT_EQ(doc.Fields.size(), 1);
  EXPECT_EQ(doc.Fields.at(0).Name, QStringLiteral("namespaced"));
  EXPECT_EQ(doc.Fields.at(0).PageNumber, 2);

  const MsqDocument plain = parseMsq(
      "<msq><versionInfo signature=\"s\"/><page number=\"4\"><constant name=\"p\">1</constant>"
      "</page></msq>");
  ASSERT_EQ(plain.Fields.size(), 1);
  EXPECT_EQ(plain.Fields.at(0).PageNumber, 4);
  EXPECT_EQ(plain.Signature, QStringLiteral("s"));
}

TEST(MsqReaderTest, FirstVersionInfoAndBibliographyWinAndMissingOnesLeaveDefaults) {
  const MsqDocument doc = parseMsq(
      "<msq xmlns=\"http://www.msefi.com/:msq\"><x:versionInfo xmlns:x=\"urn:x\" signature=\"a\"/>"
      "<versionInfo signature=\"b\" nPages=\"2\"/></msq>");
  EXPECT_EQ(doc.Signature, QStringLiteral("a"));  // matched by local name
  EXPECT_EQ(doc.PageCount, 0);
  EXPECT_TRUE(doc.Author.isEmpty());
  EXPECT_TRUE(doc.Fields.isEmpty());
}

TEST(MsqReaderTest, LineBreaksAndTabsInDoubleQuotedAttributesSurvive) {
  const MsqDocument doc = parseMsq(
      "<msq><bibliography author=\"a\r\nb\tc\nd\" tuneComment='e\nf' "
      "writeDate=\"x&#10;y\"/><!-- \"p\nq\" --><?pi \"r\ns\"?></msq>");
  EXPECT_EQ(doc.Author, QStringLiteral("a\r\nb\tc\nd"));
  // Single-quoted values are left to the parser's normalisation.
  EXPECT_EQ(doc.TuneComment, QStringLiteral("e f"));
  EXPECT_EQ(doc.WriteDate, QStringLiteral("x\ny"));
}

TEST(MsqTextTest, PrePassRewritesOnlyDoubleQuotedValuesInTags) {
  EXPECT_EQ(protectAttributeWhitespace(
                QStringLiteral("<a x=\"1\n2\" y='3\n4'>t\nu</a><!--\"c\n\"--><![CDATA[\"d\n\"]]>"
                               "<?p \"e\n\"?><!DOCTYPE a [<!ENTITY e \"f\ng\">]><b z=\"\t\r\">")),
            QStringLiteral("<a x=\"1&#xA;2\" y='3\n4'>t\nu</a><!--\"c\n\"--><![CDATA[\"d\n\"]]>"
                           "<?p \"e\n\"?><!DOCTYPE a [<!ENTITY e \"f\ng\">]><b z=\"&#x9;&#xD;\">"));
  // Unterminated constructs are copied to the end.
  EXPECT_EQ(protectAttributeWhitespace(QStringLiteral("<a b=\"\n")),
            QStringLiteral("<a b=\"&#xA;"));
  EXPECT_EQ(protectAttributeWhitespace(QStringLiteral("x<!-- \"\n")), QStringLiteral("x<!-- \"\n"));
}

struct EncodingCase {
  const char* name;
  QByteArray bytes;
  const char* expectedAuthor;
};

class MsqEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(MsqEncodingTest, DecodesByByteOrderMarkThenDeclaration) {
  const EncodingCase& c = GetParam();
  EXPECT_EQ(parseMsq(c.bytes).Author, QString::fromUtf8(c.expectedAuthor)) << c.name;
}

QByteArray utf16(const QString& text, bool bigEndian) {
  QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
  for (const QChar c : text) {
    const char hi = static_cast<char>(c.unicode() >> 8);
    const char lo = static_cast<char>(c.unicode() & 0xFF);
    out.append(bigEndian ? hi : lo);
    out.append(bigEndian ? lo : hi);
  }
  return out;
}

const QString kUtf16Doc = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?><msq><bibliography author=\"\u00E9\u20AC\"/>"
    "</msq>");

INSTANTIATE_TEST_SUITE_P(
    Encodings, MsqEncodingTest,
    ::testing::Values(
        EncodingCase{"latin1 declared",
                     "<?xml version='1.0' encoding='ISO-8859-1'?>"
                     "<msq><bibliography author=\"\xB0"
                     "C\xE9\"/></msq>",
                     "\xC2\xB0"
                     "C\xC3\xA9"},
        EncodingCase{"latin-1 alias, blanks around =",
                     "<?xml version=\"1.0\" encoding = \"Latin-1\" ?><msq><bibliography "
                     "author=\"\xE9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"utf-8 declared",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><msq>"
                     "<bibliography author=\"\xC3\xA9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"us-ascii declared",
                     "<?xml version=\"1.0\" encoding=\"us-ascii\"?><msq>"
                     "<bibliography author=\"\xC3\xA9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"no declaration is utf-8", "<msq><bibliography author=\"\xC3\xA9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"declaration without encoding",
                     "<?xml version=\"1.0\"?><msq><bibliography author=\"\xC3\xA9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"utf-8 byte-order mark overrides a latin-1 declaration",
                     "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><msq>"
                     "<bibliography author=\"\xC3\xA9\"/></msq>",
                     "\xC3\xA9"},
        EncodingCase{"utf-16le byte-order mark, unsupported name declared", utf16(kUtf16Doc, false),
                     "\xC3\xA9\xE2\x82\xAC"},
        EncodingCase{"utf-16be byte-order mark", utf16(kUtf16Doc, true), "\xC3\xA9\xE2\x82\xAC"},
        EncodingCase{"invalid utf-8 becomes replacement characters",
                     "<msq><bibliography author=\"a\xFF\xC3(b\"/></msq>",
                     "a\xEF\xBF\xBD\xEF\xBF\xBD(b"}));

TEST(MsqReaderErrorTest, RefusesOtherDeclaredEncodings) {
  EXPECT_EQ(errorOf("<?xml version=\"1.0\" encoding=\"windows-1252\"?><msq/>"),
            "MSQ: unsupported XML encoding 'windows-1252'");
  EXPECT_EQ(errorOf("<?xml version=\"1.0\" encoding='UTF-16'?><msq/>"),
            "MSQ: unsupported XML encoding 'UTF-16'");
  // A declaration that does not close within the first 256 bytes is not looked at.
  EXPECT_EQ(
      errorOf("<?xml version=\"1.0\" encoding=\"cp1252\"" + QByteArray(260, ' ') + "?><msq/>"),
      "no error");
}

TEST(MsqReaderErrorTest, MalformedXmlNamesTheParserError) {
  EXPECT_EQ(errorOf("<msq><page></msq>"), "MSQ: XML parse error: Opening and ending tag mismatch.");
  EXPECT_EQ(errorOf(""), "MSQ: XML parse error: Premature end of document.");
  EXPECT_EQ(errorOf("<msq a=\"1\" a=\"2\"/>"), "MSQ: XML parse error: Attribute 'a' redefined.");
}

TEST(MsqReaderErrorTest, UnreadableFileIsReportedWithItsPath) {
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("none.msq"));
  try {
    readMsq(missing);
    FAIL() << "no error";
  } catch (const MsqError& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("MSQ: cannot open file: ") + missing);
  }
}

// What the writer escapes (markup, line breaks, Latin-1 bytes) the reader gives back.
TEST(MsqRoundTripTest, WrittenDocumentReadsBack) {
  using test::msqConstant;
  EcuDefinition definition;
  definition.Signature = QStringLiteral("speeduino 202501");
  definition.VersionInfo = QStringLiteral("Speeduino \u00B0 fw");
  definition.NPages = 1;
  definition.PageSizes = {64};
  ConstantDef warn = msqConstant("rpmWarn", ConstantType::Scalar, "U16", 0, "rpm");
  warn.IsPcVariable = true;
  ConstantDef mode = msqConstant("mode", ConstantType::Bits, "U08");
  mode.BitValues = {{0, QStringLiteral("Off")}, {1, QStringLiteral("On & <on>")}};
  definition.Pages = {
      test::pageGroup(0, {warn}),
      test::pageGroup(1, {msqConstant("afr", ConstantType::Array, "F32", 2, "AFR", {2, 2}), mode,
                          msqConstant("note", ConstantType::String, "ASCII", 0, "", {8}),
                          msqConstant("temp", ConstantType::Scalar, "S16", 1, "\u00B0C")})};
  Tune tune;
  tune.fields = {test::tuneValue("afr"), test::tuneValue("mode"), test::tuneValue("note"),
                 test::tuneValue("temp")};
  tune.fields[0].arrayValues = QList<double>{14.7, 13.25, -1.5, 0};
  tune.fields[1].bitsRawValue = 1;
  tune.fields[2].stringValue = QStringLiteral("  padded \"x\"  ");
  tune.fields[3].scalarValue = -12.5;

  const QString comment = QStringLiteral("line one &\r\nline\ttwo \u20AC");
  const MsqDocument doc =
      parseMsq(writeMsq(definition, tune, QStringLiteral("me"), comment, QStringLiteral("now")));
  EXPECT_EQ(doc.Signature, definition.Signature);
  EXPECT_EQ(doc.FirmwareInfo, definition.VersionInfo);
  EXPECT_EQ(doc.FileFormat, QStringLiteral("5.0"));
  EXPECT_EQ(doc.PageCount, 1);
  EXPECT_EQ(doc.TuneComment, comment);
  ASSERT_EQ(doc.PcVariables.size(), 1);
  ASSERT_EQ(doc.Fields.size(), 4);
  EXPECT_EQ(doc.Fields.at(0).Rows, 2);
  EXPECT_EQ(doc.Fields.at(0).Cols, 2);
  EXPECT_EQ(doc.Fields.at(0).ArrayValues, (QList<double>{14.7, 13.25, -1.5, 0}));
  EXPECT_EQ(doc.Fields.at(1).StringValue, QStringLiteral("On & <on>"));
  // Surrounding blanks of a string are lost to trimming, its inner quotes to quote stripping
  // only at the ends.
  EXPECT_EQ(doc.Fields.at(2).StringValue, QStringLiteral("padded \"x"));
  EXPECT_EQ(doc.Fields.at(3).Units, QStringLiteral("\u00B0C"));
  EXPECT_EQ(doc.Fields.at(3).NumericValue, -12.5);
  for (const MsqConstant& c : doc.Fields + doc.PcVariables) {
    EXPECT_EQ(c.PageNumber, 0) << c.Name.toStdString();
  }
}

}  // namespace
}  // namespace tk
