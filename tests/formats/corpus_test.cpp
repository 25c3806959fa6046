#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "definition/ini_parser.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"
#include "formats/msq_import_plan.h"
#include "formats/msq_reader.h"
#include "json/ascii_text.h"
#include "support/test_support.h"
#include "tune/tune_editor.h"

namespace tk {
namespace {

// Datalogs and tunes written by other programs: every one reads and survives being written back.
class FormatsCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corpus_ = test::corpusDir();
    if (corpus_.isEmpty()) {
      GTEST_SKIP() << "corpus not found beside the checkout";
    }
  }
  QFileInfoList files(const char* folder, const char* pattern) const {
    return QDir(corpus_ + QLatin1Char('/') + QLatin1String(folder))
        .entryInfoList({QString::fromLatin1(pattern)}, QDir::Files, QDir::Name);
  }
  QString corpus_;
};

// What the writer makes of a text: at most maxChars characters, non-ASCII as "?".
QString asWritten(const QString& text, qsizetype maxChars) {
  return QString::fromLatin1(asciiBytes(QStringView(text).left(maxChars)));
}

TEST_F(FormatsCorpusTest, KnownLogsHaveTheirDocumentedShape) {
  // clang-format off
  // File, format version, fields, records, markers.
  const std::tuple<const char*, int, std::size_t, std::size_t, std::size_t> known[] = {
      {"mlgconv-blank.mlg", 1, 71, 0, 0}, {"mlgconv-short.mlg", 1, 71, 66, 0},
      {"mlgconv-markers.mlg", 1, 69, 43, 9}, {"mlgconv-v2.mlg", 2, 75, 5019, 0},
      {"ultralog-speeduino-v1.mlg", 1, 59, 139, 0}, {"ultralog-rusefi-uaefi-v2.mlg", 2, 782, 727, 0},
      {"miata-202008-v1.mlg", 1, 65, 348, 0}, {"miata-202012-v1-markers.mlg", 1, 65, 5133, 4},
      {"impreza-202402-v2.mlg", 2, 59, 315, 0}, {"passat-202501-v2.mlg", 2, 74, 189, 0},
      {"passat-202501-v2-markers.mlg", 2, 74, 735, 3}};
  // clang-format on
  for (const auto& [file, version, fields, records, markers] : known) {
    const QString path = corpus_ + QStringLiteral("/mlg/") + QLatin1String(file);
    if (QFileInfo::exists(path)) {
      const MlgLog log = readMlgFile(path);
      EXPECT_EQ(std::make_tuple(int(log.formatVersion), log.fields.size(), log.records.size(),
                                log.markers.size()),
                std::make_tuple(version, fields, records, markers))
          << file;
    }
  }
}

TEST_F(FormatsCorpusTest, EveryLogSurvivesWritingBack) {
  for (const QFileInfo& file : files("mlg", "*.mlg")) {
    SCOPED_TRACE(file.fileName().toStdString());
    const MlgLog log = readMlgFile(file.filePath());
    MlgWriter writer(log.fields, log.formatVersion);
    writer.writeHeader(log.timestamp, log.infoData);
    for (std::size_t r = 0; r < log.records.size(); ++r) {
      writer.writeRecord(log.records[r].timestampRaw, log.recordValues(r));
    }
    for (const MlgMarker& m : log.markers) {
      writer.writeMarker(m.timestampRaw, m.message);
    }
    const MlgLog back = parseMlg(writer.bytes());
    EXPECT_EQ(back.infoData, asWritten(log.infoData, 1024));
    std::vector<MlgField> expected = log.fields;
    for (MlgField& f : expected) {
      f.name = asWritten(f.name, 33);
      f.units = asWritten(f.units, 9);
      f.category = asWritten(f.category, 33);
    }
    EXPECT_EQ(back.fields, expected);
    // The writer numbers the blocks afresh; none of these logs has a record that would then read
    // as end-of-file padding (counter 0 at time 0).
    ASSERT_EQ(back.records.size(), log.records.size());
    for (std::size_t r = 0; r < log.records.size(); ++r) {
      ASSERT_EQ(back.records[r].absoluteTimestamp, log.records[r].absoluteTimestamp) << r;
    }
    EXPECT_TRUE(
        std::equal(back.values.begin(), back.values.end(), log.values.begin(),
                   [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); }));
    ASSERT_EQ(back.markers.size(), log.markers.size());
    for (std::size_t m = 0; m < log.markers.size(); ++m) {
      EXPECT_EQ(back.markers[m].message, asWritten(log.markers[m].message, 49));
    }
  }
}

TEST_F(FormatsCorpusTest, EveryTuneReadsWithArraysOfRowsTimesCols) {
  const QFileInfoList tunes = files("msq", "*.msq");
  ASSERT_FALSE(tunes.isEmpty());
  for (const QFileInfo& file : tunes) {
    SCOPED_TRACE(file.fileName().toStdString());
    const MsqDocument doc = readMsq(file.filePath());
    EXPECT_FALSE(doc.Signature.isEmpty());
    EXPECT_GT(doc.PageCount, 0);
    EXPECT_FALSE(doc.Fields.isEmpty());
    for (const MsqConstant& c : doc.Fields + doc.PcVariables) {
      if (c.IsArray) {
        EXPECT_EQ(c.ArrayValues.size(), qsizetype{std::max(c.Rows, 1)} * std::max(c.Cols, 1))
            << c.Name.toStdString();
      }
    }
  }
}

// Every tune plans an import into the definition the corpus pairs it with, whose signature it
// carries, or else into speeduino-202501: some entries are taken, and those a firmware dropped
// are skipped.
TEST_F(FormatsCorpusTest, EveryTunePlansAnImportIntoItsDefinition) {
  const QHash<QString, QString> pairs = {
      {"basetune-v02-2015.msq", "speeduino-201503-sig20.ini"},
      {"basetune-v03-2015.msq", "speeduino-201503-sig20.ini"},
      {"usertune-passat-202501.msq", "speeduino-202501.ini"},
      {"usertune-passat-202501-sparse.msq", "speeduino-202501.ini"},
      {"usertune-ms3-0569-miata.msq", "ms3-0569-1.5.2.ini"},
      {"usertune-rusefi-mega100-e36.msq", "rusefi-mega100-20241027.ini"}};
  QHash<QString, EcuDefinition> definitions;
  for (const QFileInfo& file : files("msq", "*.msq")) {
    SCOPED_TRACE(file.fileName().toStdString());
    const QString ini = pairs.value(file.fileName(), QStringLiteral("speeduino-202501.ini"));
    if (!definitions.contains(ini)) {
      definitions.insert(ini, IniParser().parse(corpus_ + QStringLiteral("/ini/") + ini));
    }
    const MsqDocument doc = readMsq(file.filePath());
    if (pairs.contains(file.fileName())) {
      EXPECT_EQ(doc.Signature.trimmed(), definitions.value(ini).Signature.trimmed());
    }
    const MsqImportPlan plan = planMsqImport(doc, TuneEditor(definitions.value(ini), Tune()));
    EXPECT_FALSE(plan.stores.isEmpty());
    if (file.fileName() == QLatin1String("usertune-miata-202202.msq")) {
      // "display" left the firmware's settings after 2022.
      EXPECT_TRUE(
          plan.skipped.names().split(QStringLiteral(", ")).contains(QStringLiteral("display")));
    }
  }
}

}  // namespace
}  // namespace tk
