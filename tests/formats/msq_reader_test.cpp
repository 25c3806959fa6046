#include "formats/msq_reader.h"

#include <gtest/gtest.h>

#include <QStringEncoder>
#include <QTemporaryDir>

#include "formats/msq_test_helpers.h"
#include "formats/msq_text.h"
#include "formats/msq_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

// The dump-msq golden files of the documents in tests/data/msq cover the reading rules, the
// namespaces of pages included; these tests cover encodings, the writer round trip and hostile
// input.

std::string errorOf(const QByteArray& bytes) {
  return test::thrownMessage<MsqError>([&] { parseMsq(bytes); }).toStdString();
}

bool isParseError(const std::string& message) {
  return message.rfind("MSQ: XML parse error: ", 0) == 0;
}

// The pre-pass keeps line breaks and tabs of double-quoted attribute values from the parser's
// normalisation; nothing else changes.
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

QByteArray utf16(const QString& text, bool bigEndian) {
  return QStringEncoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                        QStringConverter::Flag::WriteBom)(text);
}

TEST(MsqReaderTest, DecodesByByteOrderMarkThenDeclaration) {
  const auto doc = [](const QByteArray& declaration, const QByteArray& author) {
    return declaration + "<msq><bibliography author=\"" + author + "\"/></msq>";
  };
  const QString utf16Doc = QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><msq><bibliography "
      "author=\"\u00E9\u20AC\"/>"
      "</msq>");
  const std::pair<QByteArray, const char*> cases[] = {
      {doc("<?xml version='1.0' encoding='ISO-8859-1'?>", "\xB0\xE9"), "\xC2\xB0\xC3\xA9"},
      {doc("<?xml version=\"1.0\" encoding = \"Latin-1\" ?>", "\xE9"), "\xC3\xA9"},
      {doc("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xC3\xA9"), "\xC3\xA9"},
      {doc("<?xml version=\"1.0\" encoding=\"us-ascii\"?>", "\xC3\xA9"), "\xC3\xA9"},
      {doc("", "\xC3\xA9"), "\xC3\xA9"},
      {doc("<?xml version=\"1.0\"?>", "\xC3\xA9"), "\xC3\xA9"},
      // A byte-order mark overrides the declaration.
      {doc("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>", "\xC3\xA9"), "\xC3\xA9"},
      {utf16(utf16Doc, false), "\xC3\xA9\xE2\x82\xAC"},
      {utf16(utf16Doc, true), "\xC3\xA9\xE2\x82\xAC"},
      {doc("", "a\xFF\xC3(b"), "a\xEF\xBF\xBD\xEF\xBF\xBD(b"}};
  for (const auto& [bytes, author] : cases) {
    EXPECT_EQ(parseMsq(bytes).Author, QString::fromUtf8(author)) << bytes.constData();
  }
}

TEST(MsqReaderTest, ErrorsNameTheEncodingTheParserErrorOrTheFile) {
  EXPECT_EQ(errorOf("<?xml version=\"1.0\" encoding='UTF-16'?><msq/>"),
            "MSQ: unsupported XML encoding 'UTF-16'");
  // A declaration that does not close within the first 256 bytes is not looked at.
  EXPECT_EQ(
      errorOf("<?xml version=\"1.0\" encoding=\"cp1252\"" + QByteArray(260, ' ') + "?><msq/>"),
      "no error");
  EXPECT_EQ(errorOf("<?xml version=\"1.0\" encoding=\"windows-1252\"?><msq/>"),
            "MSQ: unsupported XML encoding 'windows-1252'");
  EXPECT_EQ(errorOf("<msq a=\"1\" a=\"2\"/>"), "MSQ: XML parse error: Attribute 'a' redefined.");
  EXPECT_EQ(errorOf(""), "MSQ: XML parse error: Premature end of document.");
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("none.msq"));
  EXPECT_EQ(test::thrownMessage<MsqError>([&] { readMsq(missing); }),
            QStringLiteral("MSQ: cannot open file: ") + missing);
}

// A document using every kind of constant, markup in texts and a PC variable.
QByteArray sampleDocument(const QString& comment) {
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
  return writeMsq(definition, tune, QStringLiteral("me"), comment, QStringLiteral("now"));
}

// What the writer escapes (markup, line breaks, Latin-1 bytes) the reader gives back.
TEST(MsqReaderTest, WrittenDocumentReadsBack) {
  const QString comment = QStringLiteral("line one &\r\nline\ttwo \u20AC");
  const MsqDocument doc = parseMsq(sampleDocument(comment));
  EXPECT_EQ(std::tie(doc.Signature, doc.FirmwareInfo, doc.FileFormat, doc.TuneComment),
            std::make_tuple(QStringLiteral("speeduino 202501"),
                            QStringLiteral("Speeduino \u00B0 fw"), QStringLiteral("5.0"), comment));
  EXPECT_EQ(doc.PageCount, 1);
  ASSERT_EQ(doc.PcVariables.size(), 1);
  ASSERT_EQ(doc.Fields.size(), 4);
  EXPECT_EQ(std::tie(doc.Fields.at(0).Rows, doc.Fields.at(0).Cols), std::make_tuple(2, 2));
  EXPECT_EQ(doc.Fields.at(0).ArrayValues, (QList<double>{14.7, 13.25, -1.5, 0}));
  EXPECT_EQ(doc.Fields.at(1).StringValue, QStringLiteral("On & <on>"));
  // A string loses its surrounding blanks to trimming and its end quote to quote stripping.
  EXPECT_EQ(doc.Fields.at(2).StringValue, QStringLiteral("padded \"x"));
  EXPECT_EQ(doc.Fields.at(3).Units, QStringLiteral("\u00B0C"));
  EXPECT_EQ(doc.Fields.at(3).NumericValue, -12.5);
}

TEST(MsqBadInputTest, EveryTruncatedPrefixFailsCleanly) {
  const QByteArray doc = sampleDocument(QStringLiteral("<c>"));
  ASSERT_EQ(errorOf(doc), "no error");
  for (qsizetype n = 0; n < doc.size(); ++n) {
    EXPECT_TRUE(isParseError(errorOf(doc.first(n)))) << "prefix " << n;
  }
}

TEST(MsqBadInputTest, ExternalEntitiesAreNotFetched) {
  try {
    const MsqDocument doc = parseMsq(
        "<!DOCTYPE msq [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
        "<msq><page><constant name=\"c\">&x;</constant></page></msq>");
    EXPECT_TRUE(doc.Fields.at(0).StringValue.isEmpty());
  } catch (const MsqError& e) {
    EXPECT_TRUE(isParseError(e.what())) << e.what();
  }
}

// A declaration used many times can make a small file stand for gigabytes of text: up to twice
// the document's length plus 64 Ki characters, references and attribute defaults expand as usual.
TEST(MsqBadInputTest, DocumentsStandingForFarMoreTextAreRefused) {
  const QByteArray x = QByteArray(4000, 'x');
  const auto references = [&](int count) {
    return "<!DOCTYPE msq [<!ENTITY e \"" + x + "\">]><msq><bibliography author=\"" +
           QByteArray("&e;").repeated(count) + "\"/></msq>";
  };
  const auto defaults = [&](int count) {
    return "<!DOCTYPE msq [<!ATTLIST constant name CDATA \"" + x + "\">]><msq><page>" +
           QByteArray("<constant/>").repeated(count) + "</page></msq>";
  };
  const std::string tooMuch =
      "MSQ: XML parse error: Entity references or attribute defaults expand to more text than the "
      "document may hold.";
  EXPECT_EQ(errorOf(references(10000)), tooMuch);  // 34 KB standing for 40 million characters
  EXPECT_EQ(errorOf(references(18)), tooMuch);
  EXPECT_EQ(parseMsq(references(17)).Author, QString::fromLatin1(x.repeated(17)));
  EXPECT_EQ(errorOf(defaults(10000)), tooMuch);  // 118 KB standing for 40 million characters
  EXPECT_EQ(errorOf(defaults(19)), tooMuch);
  // Nested entities, ten levels of ten references each, and an entity that names itself.
  QByteArray bomb = "<!DOCTYPE msq [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 10; ++i) {
    const QByteArray previous = "&l" + QByteArray::number(i - 1) + ';';
    bomb += "<!ENTITY l" + QByteArray::number(i) + " \"" + previous.repeated(10) + "\">";
  }
  EXPECT_EQ(errorOf(bomb + "]><msq><bibliography author=\"&l10;\"/></msq>"), tooMuch);
  for (const char* doc :
       {"<!DOCTYPE m [<!ENTITY a \"&a;\">]><m>&a;</m>",
        "<!DOCTYPE m [<!ENTITY a \"x\">]><m>&amp;&#65;& &a;</m>", "<!DOCTYPE m [<!ENTITY a \"x"}) {
    EXPECT_TRUE(isParseError(errorOf(doc))) << doc;
  }
  EXPECT_EQ(parseMsq(defaults(18)).Fields.at(17).Name, QString::fromLatin1(x));
}

TEST(MsqBadInputTest, LongAttributesAndDeepNestingRead) {
  constexpr qsizetype kSize = 16 * 1024 * 1024;
  QByteArray doc = "<msq><bibliography author=\"" + QByteArray(kSize, 'A') + "\"/><page>";
  constexpr int kDepth = 100000;
  doc += "<constant name=\"deep\">" + QByteArray("<p>").repeated(kDepth) + '7' +
         QByteArray("</p>").repeated(kDepth) + "</constant>" +
         QByteArray("<page>").repeated(kDepth) + "<constant name=\"inner\">8</constant>" +
         QByteArray("</page>").repeated(kDepth) + "</page></msq>";
  const MsqDocument read = parseMsq(doc);
  EXPECT_EQ(read.Author.size(), kSize);
  ASSERT_EQ(read.Fields.size(), 2);
  EXPECT_EQ(read.Fields.at(0).NumericValue, 7.0);
  EXPECT_EQ(read.Fields.at(1).NumericValue, 8.0);
}

}  // namespace
}  // namespace tk
