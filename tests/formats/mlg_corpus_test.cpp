#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <bit>
#include <cmath>

#include "conformance/dump_mlg.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"
#include "json/ascii_text.h"
#include "support/test_support.h"

namespace tk {
namespace {

// Datalogs written by other programs: every one must read, dump and survive being written back.
class MlgCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString corpus = test::corpusDir();
    if (corpus.isEmpty() || !QDir(corpus + QStringLiteral("/mlg")).exists()) {
      GTEST_SKIP() << "corpus not found";
    }
    dir_ = corpus + QStringLiteral("/mlg");
    files_ = QDir(dir_).entryList({QStringLiteral("*.mlg")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(files_.isEmpty());
  }
  QString path(const QString& name) const { return dir_ + QLatin1Char('/') + name; }

  QString dir_;
  QStringList files_;
};

// What the writer makes of a text: at most maxChars characters, non-ASCII as "?".
QString asWritten(const QString& text, qsizetype maxChars = -1) {
  return QString::fromLatin1(
      asciiBytes(maxChars < 0 ? QStringView(text) : QStringView(text).left(maxChars)));
}

bool sameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

TEST_F(MlgCorpusTest, KnownFilesHaveTheirDocumentedShape) {
  struct Expected {
    const char* file;
    int version;
    int fields;
    int recordLength;  // -1 where not documented
    std::size_t records;
    std::size_t markers;
  };
  const Expected known[] = {
      {"mlgconv-blank.mlg", 1, 71, -1, 0, 0},
      {"mlgconv-short.mlg", 1, 71, 148, 66, 0},
      {"mlgconv-markers.mlg", 1, 69, -1, 43, 9},
      {"mlgconv-v2.mlg", 2, 75, -1, 5019, 0},
      {"ultralog-speeduino-v1.mlg", 1, 59, -1, 139, 0},
      {"ultralog-rusefi-uaefi-v2.mlg", 2, 782, 2232, 727, 0},
      {"miata-202008-v1.mlg", 1, 65, -1, 348, 0},
      {"miata-202012-v1-markers.mlg", 1, 65, -1, 5133, 4},
      {"impreza-202402-v2.mlg", 2, 59, -1, 315, 0},
      {"passat-202501-v2.mlg", 2, 74, -1, 189, 0},
      {"passat-202501-v2-markers.mlg", 2, -1, -1, 735, 3},
  };
  for (const Expected& e : known) {
    const QString name = QString::fromLatin1(e.file);
    if (!files_.contains(name)) {
      continue;
    }
    const MlgLog log = readMlgFile(path(name));
    EXPECT_EQ(log.formatVersion, e.version) << e.file;
    if (e.fields >= 0) {
      EXPECT_EQ(log.fields.size(), static_cast<std::size_t>(e.fields)) << e.file;
    }
    if (e.recordLength >= 0) {
      EXPECT_EQ(log.recordLength, e.recordLength) << e.file;
    }
    EXPECT_EQ(log.records.size(), e.records) << e.file;
    EXPECT_EQ(log.markers.size(), e.markers) << e.file;
    EXPECT_LE(log.infoData.size(), 1024) << e.file;
  }
}

TEST_F(MlgCorpusTest, UnknownBitFieldTypeReadsAsFourZeroBytes) {
  const QString name = QStringLiteral("mlgconv-v2.mlg");
  if (!files_.contains(name)) {
    GTEST_SKIP() << name.toStdString() << " not in the corpus";
  }
  const MlgLog log = readMlgFile(path(name));
  int unknown = 0;
  for (const MlgField& f : log.fields) {
    if (f.dataType == 16) {
      ++unknown;
      EXPECT_EQ(f.byteSize, 4);
      for (std::size_t r = 0; r < log.records.size(); ++r) {
        ASSERT_EQ(log.recordValues(r)[static_cast<std::size_t>(f.index)], 0.0);
      }
    }
  }
  EXPECT_EQ(unknown, 1);
}

TEST_F(MlgCorpusTest, EveryFileReadsDumpsAndSurvivesWritingBack) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  for (const QString& name : std::as_const(files_)) {
    SCOPED_TRACE(name.toStdString());
    const MlgLog log = readMlgFile(path(name));
    ASSERT_EQ(log.values.size(), log.records.size() * log.fields.size());

    const QString csvPath = tmp.filePath(name + QStringLiteral(".csv"));
    int code = -1;
    const test::Captured io =
        test::captureStdio([&] { code = conformance::dumpMlg(path(name), csvPath); });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(io.err.isEmpty()) << io.err.constData();
    const QByteArray csv = test::readFile(csvPath);
    EXPECT_TRUE(csv.startsWith("# formatVersion=" + QByteArray::number(log.formatVersion) + "\n"));
    const qsizetype recordsAt = csv.indexOf("\n[records]\n");
    const qsizetype markersAt = csv.indexOf("\n[markers]\n");
    ASSERT_GT(recordsAt, 0);
    ASSERT_GT(markersAt, recordsAt);
    // The column line plus one line per record (no field name here holds a line feed).
    EXPECT_EQ(csv.mid(recordsAt + 11, markersAt - recordsAt - 10).count('\n'),
              static_cast<qsizetype>(log.records.size()) + 1);
    EXPECT_TRUE(csv.endsWith("\n"));

    MlgWriter writer(log.fields, log.formatVersion);
    writer.writeHeader(log.timestamp, log.infoData);
    for (std::size_t r = 0; r < log.records.size(); ++r) {
      writer.writeRecord(log.records[r].timestampRaw, log.recordValues(r));
    }
    for (const MlgMarker& m : log.markers) {
      writer.writeMarker(m.timestampRaw, m.message);
    }
    const MlgLog back = parseMlg(writer.bytes());
    EXPECT_EQ(back.formatVersion, log.formatVersion);
    EXPECT_EQ(back.timestamp, log.timestamp);
    EXPECT_EQ(back.infoData, asWritten(log.infoData));
    ASSERT_EQ(back.fields.size(), log.fields.size());
    for (std::size_t i = 0; i < log.fields.size(); ++i) {
      const MlgField& a = log.fields[i];
      const MlgField& b = back.fields[i];
      EXPECT_EQ(b.dataType, a.dataType);
      EXPECT_EQ(b.name, asWritten(a.name, 33));
      EXPECT_EQ(b.units, asWritten(a.units, 9));
      EXPECT_EQ(b.category, asWritten(a.category, 33));
      EXPECT_EQ(b.displayStyle, a.displayStyle);
      EXPECT_EQ(std::bit_cast<std::uint32_t>(b.scale), std::bit_cast<std::uint32_t>(a.scale));
      EXPECT_EQ(std::bit_cast<std::uint32_t>(b.transform),
                std::bit_cast<std::uint32_t>(a.transform));
      EXPECT_EQ(b.digits, a.digits);
      EXPECT_EQ(b.recordOffset, a.recordOffset);
      EXPECT_EQ(b.bitFieldNamesIndex, a.bitFieldNamesIndex);
      EXPECT_EQ(b.bitCount, a.bitCount);
    }
    // The writer numbers the blocks afresh, so block 255, 510, ... carry counter 0: one of them
    // with time 0 would read as end-of-file padding. None of these logs has such a record.
    ASSERT_EQ(back.records.size(), log.records.size());
    for (std::size_t r = 0; r < log.records.size(); ++r) {
      EXPECT_EQ(back.records[r].timestampRaw, log.records[r].timestampRaw);
      EXPECT_EQ(back.records[r].absoluteTimestamp, log.records[r].absoluteTimestamp);
      for (std::size_t f = 0; f < log.fields.size(); ++f) {
        ASSERT_TRUE(sameValue(back.recordValues(r)[f], log.recordValues(r)[f]))
            << "record " << r << " field " << f << ": " << back.recordValues(r)[f]
            << " != " << log.recordValues(r)[f];
      }
    }
    ASSERT_EQ(back.markers.size(), log.markers.size());
    for (std::size_t m = 0; m < log.markers.size(); ++m) {
      EXPECT_EQ(back.markers[m].message, asWritten(log.markers[m].message, 49));
      EXPECT_EQ(back.markers[m].timestampRaw, log.markers[m].timestampRaw);
    }
  }
}

}  // namespace
}  // namespace tk
