#include "formats/msq_writer.h"

#include <gtest/gtest.h>

#include "formats/msq_test_helpers.h"

namespace tk {
namespace {

using test::msqConstant;
using test::pageGroup;
using test::tuneValue;

class MsqWriterTest : public ::testing::Test {
 protected:
  // Two pages declared out of order (page 2 first) and a PC variable group.
  MsqWriterTest() {
    ConstantDef rpmWarn = msqConstant("rpmWarn", ConstantType::Scalar, "U16", 0, "rpm");
    rpmWarn.IsPcVariable = true;
    ConstantDef mode = msqConstant("mode", ConstantType::Bits, "U08");
    mode.BitValues = {{0, QStringLiteral("Off")}, {1, QStringLiteral("On")}};
    ConstantDef flag = msqConstant("flag", ConstantType::Bits, "U08");
    flag.BitValues = {{0, QStringLiteral("zero")}};
    definition_.Signature = QStringLiteral("sig 1");
    definition_.VersionInfo = QStringLiteral("fw & 1");
    definition_.NPages = 2;
    definition_.PageSizes = {16, 8};
    definition_.Pages = {
        pageGroup(0, {rpmWarn}),
        pageGroup(2, {msqConstant("bins", ConstantType::Array, "U16", 2, "rpm", {4}), flag}),
        pageGroup(1, {msqConstant("reqFuel", ConstantType::Scalar, "U08", 1, "ms"),
                      msqConstant("count", ConstantType::Scalar, "U08"),
                      msqConstant("grid", ConstantType::Array, "U08", 0, "%", {3, 2}), mode,
                      msqConstant("name", ConstantType::String, "ASCII", 0, "8", {8})}),
    };

    tune_.fields.append(scalar("rpmWarn", 7000));
    tune_.fields.append(scalar("reqFuel", 15.7));
    tune_.fields.append(scalar("count", 12));
    TuneValue grid = tuneValue("grid");
    grid.arrayValues = QList<double>{1, 2, 3, 4, 5, 6};
    tune_.fields.append(grid);
    TuneValue modeValue = tuneValue("mode");
    modeValue.bitsRawValue = 1;
    modeValue.enumValue = QStringLiteral("On");
    tune_.fields.append(modeValue);
    TuneValue name = tuneValue("name");
    name.stringValue = QStringLiteral("abc");
    tune_.fields.append(name);
    TuneValue bins = tuneValue("bins");
    bins.arrayValues = QList<double>{500, 1000, 1500, 2000};
    tune_.fields.append(bins);
    TuneValue flagValue = tuneValue("flag");
    flagValue.bitsRawValue = 3;  // no label for 3
    tune_.fields.append(flagValue);
  }

  static TuneValue scalar(const char* name, double value) {
    TuneValue v = tuneValue(name);
    v.scalarValue = value;
    return v;
  }

  QByteArray write(const QString& author = QStringLiteral("me")) const {
    return writeMsq(definition_, tune_, author, QStringLiteral("c"), QStringLiteral("d"));
  }

  // The written element of the constant named name ("\r\n<" up to the next "\r\n").
  QByteArray element(const QByteArray& doc, const char* name) const {
    const qsizetype at = doc.indexOf(QByteArray("name=\"") + name + '"');
    if (at < 0) {
      return QByteArray();
    }
    const qsizetype start = doc.lastIndexOf("\r\n<", at);
    const qsizetype end = doc.indexOf("\r\n", at);
    return doc.mid(start + 2, end - start - 2);
  }

  EcuDefinition definition_;
  Tune tune_;
};

TEST_F(MsqWriterTest, WritesTheWholeDocumentByteForByte) {
  EXPECT_EQ(write(),
            QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n"
                       "<msq xmlns=\"http://www.msefi.com/:msq\">"
                       "\r\n<bibliography author=\"me\" tuneComment=\"c\" writeDate=\"d\" />"
                       "\r\n<versionInfo fileFormat=\"5.0\" firmwareInfo=\"fw &amp; 1\" "
                       "nPages=\"2\" signature=\"sig 1\" />"
                       "\r\n<page>"
                       "\r\n<pcVariable name=\"rpmWarn\" digits=\"0\" units=\"rpm\">7000.0"
                       "</pcVariable>"
                       "\r\n</page>"
                       "\r\n<page number=\"0\" size=\"16\">"
                       "\r\n<constant name=\"reqFuel\" digits=\"1\" units=\"ms\">15.7</constant>"
                       "\r\n<constant name=\"count\" digits=\"0\">12.0</constant>"
                       "\r\n<constant name=\"grid\" cols=\"3\" rows=\"2\" digits=\"0\" units=\"%\">"
                       "\n         1.0 2.0 3.0 \n         4.0 5.0 6.0 \n      </constant>"
                       "\r\n<constant name=\"mode\">\"On\"</constant>"
                       "\r\n<constant name=\"name\">\nabc\n</constant>"
                       "\r\n</page>"
                       "\r\n<page number=\"1\" size=\"8\">"
                       "\r\n<constant name=\"bins\" cols=\"1\" rows=\"4\" digits=\"2\" "
                       "units=\"rpm\">\n         500.00 \n         1000.00 \n         1500.00 "
                       "\n         2000.00 \n      </constant>"
                       "\r\n<constant name=\"flag\">\"\"</constant>"
                       "\r\n</page>"
                       "\r\n</msq>"));
}

TEST_F(MsqWriterTest, WithoutPcVariablesThereIsNoUnnumberedPage) {
  definition_.Pages.removeFirst();
  const QByteArray doc = write();
  EXPECT_FALSE(doc.contains("<page>"));
  EXPECT_TRUE(doc.contains("nPages=\"2\" signature=\"sig 1\" />\r\n<page number=\"0\""));
}

TEST_F(MsqWriterTest, PcVariablesAreCollectedFromEveryGroup) {
  ConstantDef late = msqConstant("late", ConstantType::Scalar, "U08", 2);
  late.IsPcVariable = true;
  definition_.Pages[2].Fields.append(late);
  const QByteArray doc = write();
  EXPECT_TRUE(
      doc.contains("</pcVariable>\r\n<pcVariable name=\"late\" digits=\"2\">0.00"
                   "</pcVariable>\r\n</page>"));
  EXPECT_FALSE(doc.contains("<constant name=\"late\""));
}

TEST_F(MsqWriterTest, PageSizeComesFromTheDefinitionAndMissingSizesAreZero) {
  definition_.PageSizes = {300};
  const QByteArray doc = write();
  EXPECT_TRUE(doc.contains("<page number=\"0\" size=\"300\">"));
  EXPECT_TRUE(doc.contains("<page number=\"1\" size=\"0\">"));
}

TEST_F(MsqWriterTest, ScalarPrecisionIsAtLeastOneDigit) {
  definition_.Pages[2].Fields[0].Digits = 3;
  tune_.find(QStringLiteral("reqFuel"))->scalarValue = -1.25;
  const QByteArray doc = write();
  EXPECT_EQ(element(doc, "reqFuel"),
            "<constant name=\"reqFuel\" digits=\"3\" units=\"ms\">-1.250"
            "</constant>");
  definition_.Pages[2].Fields[0].Digits = -2;
  EXPECT_EQ(element(write(), "reqFuel"),
            "<constant name=\"reqFuel\" digits=\"-2\" units=\"ms\">-1.2</constant>");
}

TEST_F(MsqWriterTest, MissingValuesWriteZeros) {
  tune_.fields.clear();
  const QByteArray doc = write();
  EXPECT_EQ(element(doc, "count"), "<constant name=\"count\" digits=\"0\">0.0</constant>");
  EXPECT_TRUE(doc.contains("units=\"%\">\n         0.0 0.0 0.0 \n         0.0 0.0 0.0 \n      <"));
  // The bit field shows the label of raw value 0; the string is empty.
  EXPECT_EQ(element(doc, "mode"), "<constant name=\"mode\">\"Off\"</constant>");
  EXPECT_TRUE(doc.contains("<constant name=\"name\">\n\n</constant>"));
}

TEST_F(MsqWriterTest, ValuesAreLookedUpByNameIgnoringCase) {
  // "Count" is found through the name index, which holds the first declared of the two names
  // equal ignoring case: it shows the value of "count".
  definition_.Pages[2].Fields.append(msqConstant("Count", ConstantType::Scalar, "U08", 1));
  tune_.fields.append(scalar("Count", 99));
  EXPECT_EQ(element(write(), "Count"), "<constant name=\"Count\" digits=\"1\">12.0</constant>");
}

TEST_F(MsqWriterTest, ArrayWithoutShapeIsOneValueWithoutGridAttributes) {
  definition_.Pages[2].Fields[2].Shape.clear();
  EXPECT_EQ(element(write(), "grid"),
            "<constant name=\"grid\" digits=\"0\" units=\"%\">\n         1.0 \n      </constant>");
}

struct OptionTextCase {
  std::optional<QString> enumValue;
  std::optional<QString> stringValue;
  std::optional<int> raw;
  const char* expected;
};

class MsqOptionTextTest : public MsqWriterTest,
                          public ::testing::WithParamInterface<OptionTextCase> {};

TEST_P(MsqOptionTextTest, BitsTextPrefersLabelThenStringThenOptionOfRawValue) {
  const OptionTextCase& c = GetParam();
  TuneValue* mode = tune_.find(QStringLiteral("mode"));
  mode->enumValue = c.enumValue;
  mode->stringValue = c.stringValue;
  mode->bitsRawValue = c.raw;
  EXPECT_EQ(element(write(), "mode"),
            QByteArray("<constant name=\"mode\">\"") + c.expected + "\"</constant>");
}

INSTANTIATE_TEST_SUITE_P(
    Choices, MsqOptionTextTest,
    ::testing::Values(OptionTextCase{QStringLiteral("Label"), QStringLiteral("text"), 0, "Label"},
                      OptionTextCase{QString(), QStringLiteral("text"), 0, "text"},
                      OptionTextCase{QString(), QString(), 1, ""},
                      OptionTextCase{std::nullopt, std::nullopt, 1, "On"},
                      OptionTextCase{QString(), std::nullopt, std::nullopt, "Off"},
                      OptionTextCase{std::nullopt, std::nullopt, 7, ""}));

TEST_F(MsqWriterTest, BitsDigitsAttributeOnlyFromOneDigit) {
  definition_.Pages[2].Fields[3].Digits = 2;
  definition_.Pages[2].Fields[3].Units = QStringLiteral("state");
  EXPECT_EQ(element(write(), "mode"),
            "<constant name=\"mode\" digits=\"2\" units=\"state\">\"On\"</constant>");
}

TEST_F(MsqWriterTest, StringConstantsCarryOnlyTheirName) {
  definition_.Pages[2].Fields[4].Digits = 3;
  EXPECT_TRUE(write().contains("\r\n<constant name=\"name\">\nabc\n</constant>"));
}

TEST_F(MsqWriterTest, EscapesAttributesAndWritesLatin1Bytes) {
  // Ampersand, line break, less-than; a euro sign, e-acute as one byte, TAB/CR, a quote and
  // greater-than, a character beyond the BMP as one reference, a lone surrogate, a control byte.
  const QString author = QStringLiteral("A & B\nC < D ") + QChar(0x20AC) + QChar(0xE9) +
                         QStringLiteral("\t\r\">") + QString::fromUtf8("\xF0\x9F\x98\x80") +
                         QChar(0xD800) + QChar(0x01);
  const QByteArray doc = write(author);
  EXPECT_TRUE(
      doc.contains(QByteArray("<bibliography author=\"A &amp; B&#xA;C &lt; D &#x20AC;\xE9"
                              "&#x9;&#xD;&quot;&gt;&#x1F600;&#xD800;\x01\" tuneComment")));
}

TEST_F(MsqWriterTest, ContentEscapesMarkupAndDropsCharactersXmlForbids) {
  TuneValue* mode = tune_.find(QStringLiteral("mode"));
  mode->enumValue = QStringLiteral("say \"a<b\" & c>d\t") + QChar(0x01) + QChar(0xE9) +
                    QChar(0x20AC) + QString::fromUtf8("\xF0\x9F\x98\x80") + QChar(0xFFFE) +
                    QChar(0xFFFD);
  tune_.find(QStringLiteral("name"))->stringValue = QStringLiteral("x\r\ny") + QChar(0x1F);
  const QByteArray doc = write();
  EXPECT_EQ(element(doc, "mode"),
            QByteArray("<constant name=\"mode\">\"say \"a&lt;b\" &amp; c&gt;d\t\xE9&#x20AC;"
                       "&#xFFFD;\"</constant>"));
  EXPECT_TRUE(doc.contains("<constant name=\"name\">\nx\r\ny\n</constant>"));
}

TEST_F(MsqWriterTest, UnitsWithBracesAreResolvedAgainstTheTune) {
  ConstantDef metric = msqConstant("useMetric", ConstantType::Bits, "U08");
  definition_.Pages[1].Fields.append(metric);
  TuneValue metricValue = tuneValue("useMetric");
  metricValue.bitsRawValue = 1;
  tune_.fields.append(metricValue);
  definition_.Pages[2].Fields[1].Units = QStringLiteral("{ useMetric ? \"kPa\" : \"psi\" }");
  EXPECT_EQ(element(write(), "count"),
            "<constant name=\"count\" digits=\"0\" units=\"kPa\">12.0</constant>");
  tune_.find(QStringLiteral("useMetric"))->bitsRawValue = 0;
  EXPECT_EQ(element(write(), "count"),
            "<constant name=\"count\" digits=\"0\" units=\"psi\">12.0</constant>");
}

TEST_F(MsqWriterTest, UnitsExpressionWithoutUnitsTextWritesNoUnits) {
  // A braced units item leaves Units empty; only a units text is written.
  definition_.Pages[2].Fields[1].UnitsExpression = QStringLiteral("{ \"kPa\" }");
  EXPECT_EQ(element(write(), "count"), "<constant name=\"count\" digits=\"0\">12.0</constant>");
}

TEST_F(MsqWriterTest, HostileShapeIsBoundedByTheArrayLimit) {
  definition_.Pages[2].Fields[2].Shape = {1, 2000000000};
  const QByteArray doc = write();
  EXPECT_TRUE(doc.contains("cols=\"1\" rows=\"2000000000\""));
  EXPECT_EQ(doc.count("\n         "), 1000000 + 4);  // the grid's rows and the four of "bins"
}

}  // namespace
}  // namespace tk
