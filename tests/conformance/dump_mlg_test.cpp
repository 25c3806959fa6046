#include "conformance/dump_mlg.h"

#include "conformance/conformance_test_util.h"
#include "formats/mlg_writer.h"

namespace tk::conformance {
namespace {

class DumpMlgTest : public test::ConformanceTest {};

TEST_F(DumpMlgTest, LogsGiveTheirWorkedOutCsv) {
  MlgWriter empty({}, 1);
  empty.writeHeader(0, QString());
  writeFile("empty.mlg", empty.bytes());
  writeFile("out.csv", QByteArray(100000, 'x'));  // longer than any dump: replaced whole
  for (const char* name : {"seed-v1-markers", "seed-v2-types", "edges-v0", "edges-v3", "empty"}) {
    const QString log = qstrcmp(name, "empty") == 0
                            ? path("empty.mlg")
                            : test::dataPath(QStringLiteral("mlg/%1.mlg").arg(QLatin1String(name)));
    ASSERT_EQ(run([&] { return dumpMlg(log, path("out.csv")); }), 0) << name;
    EXPECT_TRUE(io_.out.isEmpty() && io_.err.isEmpty());
    EXPECT_TRUE(
        test::matchesGolden(test::readFile(path("out.csv")),
                            QStringLiteral("golden/dump-mlg-%1.csv").arg(QLatin1String(name))));
  }
}

// golden/mlg-csv-values.txt: a value | its text in the CSV. Whole numbers below 2^53 take a
// shortcut to their digits; the others the shortest form.
TEST(MlgCsvTest, ValuesUseTheCanonicalDoubleForm) {
  const QStringList cases = test::caseLines(QStringLiteral("golden/mlg-csv-values.txt"));
  MlgLog log;
  log.fields.emplace_back();
  for (const QString& line : cases) {
    log.records.emplace_back();
    log.values.push_back(test::caseNumber(line.section(u'|', 0, 0).trimmed()));
  }
  const QByteArray csv = mlgCsv(log);
  const QList<QByteArray> lines = csv.mid(csv.indexOf("absoluteTimestamp,\n") + 19).split('\n');
  for (qsizetype i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(lines.at(i), "0,0,0," + cases.at(i).section(u'|', 1).trimmed().toLatin1());
  }
}

TEST_F(DumpMlgTest, ReadErrorsPrintOneLineAndWriteNothing) {
  // Thousands of fields sharing records of no bytes (the record length patched to 0): 200 KB
  // standing for 320 MB of values.
  MlgWriter writer(std::vector<MlgField>(2000), 1);
  writer.writeHeader(0, QString());
  QByteArray hostile = QByteArray(writer.bytes()).replace(18, 2, QByteArray(2, '\0'));
  hostile += QByteArray::fromHex("00 01 0002 5A").repeated(20000);
  const std::pair<QByteArray, QByteArray> cases[] = {
      {hostile,
       "ERROR: Invalid MLG file format. 2000 fields do not fit a record length of 0 bytes"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ",
       "ERROR: Invalid MLG file format. Expected 'MLVLG', got 'ABCDE'"},
      {test::readFile(test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg"))).left(300),
       "ERROR: Unexpected end of MLG file"}};
  for (const auto& [content, message] : cases) {
    EXPECT_EQ(run([&] { return dumpMlg(writeFile("in.mlg", content), path("out.csv")); }), 2);
    EXPECT_EQ(io_.err, message + '\n');
    EXPECT_FALSE(QFile::exists(path("out.csv")));
  }
}

}  // namespace
}  // namespace tk::conformance
