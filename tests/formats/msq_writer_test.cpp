#include "formats/msq_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "formats/msq_test_helpers.h"
#include "support/test_support.h"

namespace tk {
namespace {

// The dump-msq-export golden file pins a whole document; these tests pin single rules.

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
    definition_.NPages = 2;
    definition_.PageSizes = {16, 8};
    // "Count" differs from "count" only by case; "metric" serves units expressions.
    definition_.Pages = {
        pageGroup(0, {rpmWarn}),
        pageGroup(2, {msqConstant("bins", ConstantType::Array, "U16", 2, "rpm", {4})}),
        pageGroup(1, {msqConstant("count", ConstantType::Scalar, "U08"),
                      msqConstant("grid", ConstantType::Array, "U08", 0, "%", {3, 2}), mode,
                      msqConstant("name", ConstantType::String, "ASCII", 0, "8", {8}),
                      msqConstant("Count", ConstantType::Scalar, "U08", 1),
                      msqConstant("metric", ConstantType::Bits, "U08")})};
    tune_.fields = {tuneValue("rpmWarn"), tuneValue("count"), tuneValue("grid"),  tuneValue("mode"),
                    tuneValue("name"),    tuneValue("Count"), tuneValue("metric")};
    tune_.fields[0].scalarValue = 7000;
    tune_.fields[1].scalarValue = 12;
    tune_.fields[2].arrayValues = QList<double>{1, 2, 3, 4, 5, 6};
    tune_.fields[3].bitsRawValue = 1;
    tune_.fields[3].enumValue = QStringLiteral("On");
    tune_.fields[4].stringValue = QStringLiteral("abc");
    tune_.fields[5].scalarValue = 99;
    tune_.fields[6].bitsRawValue = 1;
  }

  QByteArray write(const QString& author = QStringLiteral("me")) const {
    return writeMsq(definition_, tune_, author, QStringLiteral("c"), QStringLiteral("d"));
  }

  // The written element of the constant named name ("\r\n<" up to the next "\r\n").
  static QByteArray element(const QByteArray& doc, const char* name) {
    const qsizetype at = doc.indexOf(QByteArray("name=\"") + name + '"');
    const qsizetype start = doc.lastIndexOf("\r\n<", at) + 2;
    return at < 0 ? QByteArray() : doc.mid(start, doc.indexOf("\r\n", at) - start);
  }

  ConstantDef& constant(int group, int index) { return definition_.Pages[group].Fields[index]; }
  TuneValue& value(const char* name) { return *tune_.find(QString::fromLatin1(name)); }
  TuneValue& mode() { return value("mode"); }

  EcuDefinition definition_;
  Tune tune_;
};

TEST_F(MsqWriterTest, PagesInNumberOrderWithTheDefinitionsSizesAndOnePcVariablePage) {
  ConstantDef late = msqConstant("late", ConstantType::Scalar, "U08", 2);
  late.IsPcVariable = true;
  definition_.Pages[1].Fields.append(late);
  definition_.PageSizes = {300};
  const QByteArray doc = write();
  EXPECT_TRUE(
      doc.contains("nPages=\"2\" signature=\"\" />\r\n<page>\r\n<pcVariable "
                   "name=\"rpmWarn\" digits=\"0\" units=\"rpm\">7000.0</pcVariable>\r\n"
                   "<pcVariable name=\"late\" digits=\"2\">0.00</pcVariable>\r\n</page>"
                   "\r\n<page number=\"0\" size=\"300\">\r\n<constant name=\"count\""));
  EXPECT_TRUE(
      doc.contains("</page>\r\n<page number=\"1\" size=\"0\">\r\n<constant name=\"bins\" "
                   "cols=\"1\" rows=\"4\" digits=\"2\" units=\"rpm\">\n         0.00 \n"));
  EXPECT_TRUE(doc.endsWith("</constant>\r\n</page>\r\n</msq>"));
  definition_.Pages.removeFirst();
  definition_.Pages[0].Fields.removeLast();
  EXPECT_FALSE(write().contains("<page>"));
}

// formats/msq-writer-elements.txt: each case's name, then the element its change makes.
TEST_F(MsqWriterTest, ElementsFollowTheirConstantsRules) {
  const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
      {"array without shape", [&] { constant(2, 1).Shape.clear(); }, "grid"},
      {"precision at least 1", [&] { constant(2, 0).Digits = -2; }, "count"},
      // The name index holds the first of two names equal ignoring case.
      {"lookup ignoring case", [] {}, "Count"},
      {"bits digits from 1", [&] { constant(2, 2).Digits = 2; }, "mode"},
      {"label first", [&] { mode().stringValue = QStringLiteral("text"); }, "mode"},
      {"then string", [&] { mode().enumValue = mode().stringValue = QString(); }, "mode"},
      {"then option of raw", [&] { mode().enumValue.reset(); }, "mode"},
      {"no option",
       [&] {
         mode().enumValue.reset();
         mode().bitsRawValue = 7;
       },
       "mode"},
      {"no value", [&] { tune_.fields.clear(); }, "mode"},
      {"units expression",
       [&] { constant(2, 0).Units = QStringLiteral("{ metric ? \"a\" : \"b\" }"); }, "count"},
      // A braced units item leaves Units empty; only a units text is written.
      {"braced units item", [&] { constant(2, 0).UnitsExpression = QStringLiteral("{ \"x\" }"); },
       "count"}};
  QByteArray elements;
  for (const auto& [what, change, name] : cases) {
    const EcuDefinition definition = definition_;
    const Tune tune = tune_;
    change();
    elements += QByteArray(what) + ": " + element(write(), name) + '\n';
    definition_ = definition;
    tune_ = tune;
  }
  EXPECT_TRUE(test::matchesGolden(elements, QStringLiteral("formats/msq-writer-elements.txt")));
}

TEST_F(MsqWriterTest, EscapesAttributesAndContentAndDropsCharactersXmlForbids) {
  // Ampersand, line break, less-than; a euro sign, e-acute as one byte, TAB/CR, a quote and
  // greater-than, a character beyond the BMP as one reference, a lone surrogate, a control byte.
  const QString author =
      QStringLiteral("A & B\nC < D \u20AC\u00E9\t\r\">\U0001F600") + QChar(0xD800) + QChar(0x01);
  value("mode").enumValue = QStringLiteral("say \"a<b\" & c>d\t\x01\u00E9\u20AC\U0001F600") +
                            QChar(0xFFFE) + QChar(0xFFFD);
  value("name").stringValue = QStringLiteral("x\r\ny\x1F");
  const QByteArray doc = write(author);
  EXPECT_TRUE(
      doc.contains(QByteArray("<bibliography author=\"A &amp; B&#xA;C &lt; D &#x20AC;\xE9"
                              "&#x9;&#xD;&quot;&gt;&#x1F600;&#xD800;\x01\" tuneComment")));
  EXPECT_EQ(element(doc, "mode"),
            QByteArray("<constant name=\"mode\">\"say \"a&lt;b\" &amp; c&gt;d\t\xE9&#x20AC;"
                       "&#xFFFD;\"</constant>"));
  EXPECT_TRUE(doc.contains("<constant name=\"name\">\nx\r\ny\n</constant>"));
}

TEST_F(MsqWriterTest, HostileShapeIsBoundedByTheArrayLimit) {
  constant(2, 1).Shape = {1, 2000000000};
  const QByteArray doc = write();
  EXPECT_TRUE(doc.contains("cols=\"1\" rows=\"2000000000\""));
  EXPECT_EQ(doc.count("\n         "), 1000000 + 4);  // the grid's rows and the four of "bins"
}

}  // namespace
}  // namespace tk
