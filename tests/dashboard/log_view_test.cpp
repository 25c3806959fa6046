#include "dashboard/log_view.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "formats/mlg_reader.h"
#include "support/test_support.h"

namespace tk {
namespace {

TEST(LogViewTest, ShelfOpensOnlyTheLogsItListsAndReportsADamagedOne) {
  QTemporaryDir dir;
  const QDir root(dir.path());
  root.mkpath(QStringLiteral("p/logs"));
  const QString seed = test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg"));
  QFile::copy(seed, root.filePath(QStringLiteral("p/logs/b.mlg")));
  QFile::copy(seed, root.filePath(QStringLiteral("outside.mlg")));
  QFile broken(root.filePath(QStringLiteral("p/logs/a.mlg")));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("MLVLG\0\0\1 not a log");
  broken.close();

  LogShelf shelf(root.filePath(QStringLiteral("p/logs")), seed);
  EXPECT_EQ(shelf.names(), (QStringList{QStringLiteral("seed-v1-markers.mlg"),
                                        QStringLiteral("a.mlg"), QStringLiteral("b.mlg")}));
  EXPECT_EQ(&shelf.open(QStringLiteral("b.mlg")), &shelf.open(QStringLiteral("b.mlg")));
  EXPECT_EQ(shelf.open(QStringLiteral("seed-v1-markers.mlg")).records.size(),
            readMlgFile(seed).records.size());
  for (const QString& name : {QStringLiteral("../../outside.mlg"), root.filePath("outside.mlg"),
                              QStringLiteral("logs/b.mlg"), QString()}) {
    try {
      shelf.open(name);
      ADD_FAILURE() << "opened " << name.toStdString();
    } catch (const LogViewError& e) {
      EXPECT_TRUE(e.notFound()) << e.what();
    }
  }
  try {
    shelf.open(QStringLiteral("a.mlg"));
    ADD_FAILURE() << "read a damaged log";
  } catch (const LogViewError& e) {
    EXPECT_FALSE(e.notFound());
    EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(u"Cannot read log 'a.mlg': ")) << e.what();
  }
}

TEST(LogViewTest, ColumnsAreTimesThenScaledFloatsAndFieldsCarryTheMarkers) {
  MlgLog log = readMlgFile(test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg")));
  log.fields[1].scale = 0.5f;
  log.fields[1].transform = 2.0f;
  const QByteArray body = logColumns(log, {log.fields[1].name.toLower(), log.fields[0].name});
  const std::size_t n = log.records.size();
  ASSERT_EQ(static_cast<std::size_t>(body.size()), 8 + 8 * n + 8 * n);  // two channels of 4 bytes
  EXPECT_EQ(qFromLittleEndian<quint32>(body.constData()), n);
  EXPECT_EQ(qFromLittleEndian<quint32>(body.constData() + 4), 2u);
  const std::size_t last = n - 1;
  EXPECT_EQ(qFromLittleEndian<double>(body.constData() + 8 + 8 * last),
            log.records[last].absoluteTimestamp);
  EXPECT_EQ(qFromLittleEndian<float>(body.constData() + 8 + 8 * n + 4 * last),
            static_cast<float>((log.recordValues(last)[1] + 2.0) * 0.5));
  EXPECT_EQ(qFromLittleEndian<float>(body.constData() + 8 + 12 * n),
            static_cast<float>(log.recordValues(0)[0]));
  EXPECT_THROW(logColumns(log, {QStringLiteral("nothing")}), LogViewError);

  const JsonValue fields = logFieldsJson(log);
  EXPECT_EQ(fields.members()[0].second.toInt(), static_cast<std::int64_t>(n));
  const JsonValue::Array& markers = fields.members()[4].second.elements();
  ASSERT_EQ(markers.size(), log.markers.size());
  ASSERT_FALSE(markers.empty());
  EXPECT_EQ(markers[0].members()[1].second.toString(), log.markers[0].message);
}

}  // namespace
}  // namespace tk
