#include "conformance/dump_msq.h"

#include <QBuffer>
#include <QRegularExpression>

#include "conformance/conformance_test_util.h"

namespace tk::conformance {
namespace {

class DumpMsqTest : public test::ConformanceTest {};

TEST_F(DumpMsqTest, WritesTheWorkedOutRenderings) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"dump-sample", "sample"}, {"edges", "edges"}, {"seed-doctype", "seed-doctype"},
      {"seed-mixed-namespaces", "seed-mixed-namespaces"}, {"seed-utf16le", "seed-utf16le"},
      {"seed-utf8-bom", "seed-utf8-bom"}};
  // clang-format on
  for (const auto& [in, golden] : cases) {
    const QString input = test::dataPath(QStringLiteral("msq/%1.msq").arg(QLatin1String(in)));
    ASSERT_EQ(run([&] { return dumpMsq(input, path("out.json")); }), 0) << in;
    EXPECT_TRUE(io_.out.isEmpty() && io_.err.isEmpty());
    EXPECT_TRUE(
        test::matchesGolden(test::readFile(path("out.json")),
                            QStringLiteral("golden/dump-msq-%1.json").arg(QLatin1String(golden))));
  }
}

// Real tunes repeat names: every occurrence is a member of its own, in document order.
TEST(MsqDocumentJsonTest, RepeatedNamesKeepEveryMemberInOrder) {
  MsqDocument doc;
  for (const char* name : {"a", "b", "a"}) {
    MsqConstant& c = doc.Fields.emplace_back();
    c.Name = QString::fromLatin1(name);
    c.Digits = static_cast<int>(doc.Fields.size()) - 1;
    doc.PcVariables.append(c);
  }
  QBuffer out;
  out.open(QIODevice::WriteOnly);
  writeMsqDocumentJson(doc, out);
  // Each member's key, then its Name and Digits; Fields first, then PcVariables.
  const QRegularExpression member(QStringLiteral(
      R"re(\n    "(\w)": \{\n      "Name": "\1",\n(?:.*\n){2}      "Digits": (\d),)re"));
  QStringList found;
  for (const QRegularExpressionMatch& m : member.globalMatch(QString::fromUtf8(out.data()))) {
    found.append(m.captured(1) + m.captured(2));
  }
  EXPECT_EQ(found, (QStringList{"a0", "b1", "a2", "a0", "b1", "a2"}));
  EXPECT_TRUE(out.data().startsWith("{\n  \"Signature\": \"\",\n") && out.data().endsWith("}\n"));
}

TEST_F(DumpMsqTest, ReadErrorsPrintOneLineAndWriteNothing) {
  EXPECT_EQ(run([&] { return dumpMsq(writeFile("in.msq", "<msq><page></msq>"), path("o.json")); }),
            2);
  EXPECT_EQ(io_.err, "ERROR: MSQ: XML parse error: Opening and ending tag mismatch.\n");
  EXPECT_FALSE(QFile::exists(path("o.json")));
}

}  // namespace
}  // namespace tk::conformance
