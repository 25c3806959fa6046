#include "formats/mlg_writer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <stdexcept>

#include "formats/mlg_reader.h"
#include "support/test_support.h"

namespace tk {
namespace {

// The reader round trip covers the descriptor layout; these tests pin what it cannot see.

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }

MlgField field(int type, const QString& name = QString()) {
  MlgField f;
  f.dataType = static_cast<std::uint8_t>(type);
  f.name = name;
  return f;
}

// U08, S16 and F32: record length 7.
std::vector<MlgField> threeFields() { return {field(0), field(3), field(7)}; }

TEST(MlgWriterTest, HeaderPlacesTheInfoTextAfterTheDescriptorsByVersion) {
  // Version 2: info at 24 + 3 * 89 = 291 = 0x123, data at 291 + 18 + 1 = 310 = 0x136.
  MlgWriter v2(threeFields(), 2);
  v2.writeHeader(0x5F5E1000, QStringLiteral("Torvik CLI Datalog"));
  EXPECT_EQ(v2.bytes().left(24),
            QByteArray("MLVLG", 6) + hex("0002 5F5E1000 00000123 00000136 0007 0003"));
  EXPECT_EQ(v2.bytes().mid(291), QByteArray("Torvik CLI Datalog", 19));
  // Version 1 stores the info offset in 16 bits: 22 + 3 * 55 = 0xBB, data at 0xBE.
  MlgWriter v1(threeFields(), 1);
  v1.writeHeader(1, QStringLiteral("hi"));
  EXPECT_EQ(v1.bytes(), QByteArray("MLVLG", 6) + hex("0001 00000001 00BB 000000BE 0007 0003") +
                            v1.bytes().mid(22, 165) + QByteArray("hi", 3));
  // Without an info text the offset is 0 and the data start at the descriptors' end.
  MlgWriter none(threeFields(), 2);
  none.writeHeader(0, QString());
  EXPECT_EQ(none.bytes().mid(12, 8), hex("00000000 00000123"));
  EXPECT_EQ(none.bytes().size(), 0x123);
}

TEST(MlgWriterTest, TextsAreCutAndNonAsciiBecomesQuestionMark) {
  MlgField f = field(0, QString(40, QLatin1Char('n')));
  f.units = QStringLiteral("\u00B0Celsius!!");
  f.category = QString(35, QLatin1Char('c'));
  MlgWriter writer({f}, 2);
  writer.writeHeader(0, QStringLiteral("caf\u00E9"));
  const double value[] = {1};
  writer.writeRecord(1, value);
  writer.writeMarker(2, QString(60, QLatin1Char('m')));
  const MlgLog log = parseMlg(writer.bytes());
  EXPECT_EQ(log.fields[0].name, QString(33, QLatin1Char('n')));
  EXPECT_EQ(log.fields[0].units, QStringLiteral("?Celsius!"));
  EXPECT_EQ(log.fields[0].category, QString(33, QLatin1Char('c')));
  EXPECT_EQ(log.infoData, QStringLiteral("caf?"));
  EXPECT_EQ(log.markers.at(0).message, QString(49, QLatin1Char('m')));
}

TEST(MlgWriterTest, RecordBytesEndInTheirChecksum) {
  MlgWriter writer(threeFields(), 2);
  writer.writeHeader(0, QString());
  const double values[] = {300, -2, 1.5};
  writer.writeRecord(0x1234, values);
  // FF + FF + FE + 3F + C0 = 1019, which is FB modulo 256.
  EXPECT_EQ(writer.bytes().mid(291), hex("00 00 1234 FF FFFE 3FC00000 FB"));
  writer.writeMarker(1, QString());
  EXPECT_EQ(std::make_pair(writer.recordCount(), writer.markerCount()),
            std::make_pair(qsizetype{1}, qsizetype{1}));
}

// formats/mlg-stored-values.txt: the data type and value | the bytes stored.
TEST(MlgWriterTest, StoresValuesTruncatedAndSaturated) {
  for (const QString& line : test::caseLines(QStringLiteral("formats/mlg-stored-values.txt"))) {
    const QStringList stored = line.section(u'|', 0, 0).split(u' ', Qt::SkipEmptyParts);
    const double value = test::caseNumber(stored.at(1));
    MlgWriter writer({field(stored.at(0).toInt())}, 1);
    writer.writeHeader(0, QString());
    writer.writeRecord(0, std::span<const double>(&value, 1));
    EXPECT_EQ(writer.bytes().mid(22 + 55 + 4).chopped(1).toHex().toUpper(),
              line.section(u'|', 1).trimmed().toLatin1())
        << line.toStdString();
  }
}

using test::thrownMessage;

TEST(MlgWriterTest, MisuseRaisesLogicAndArgumentErrors) {
  MlgWriter writer(threeFields(), 2);
  const double three[] = {1, 2, 3};
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { writer.writeRecord(0, three); }),
            "Header must be written before data records");
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { writer.writeMarker(0, QStringLiteral("x")); }),
            "Header must be written before markers");
  writer.writeHeader(0, QString());
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { writer.writeHeader(0, QString()); }),
            "Header has already been written");
  EXPECT_EQ(thrownMessage<std::invalid_argument>([&] {
              writer.writeRecord(0, {three, 2});
            }),
            "Values array length must match field count");
  EXPECT_EQ(writer.bytes().size(), 24 + 3 * 89);  // nothing of the refused calls was written
}

TEST(MlgWriterTest, RefusesLayoutsTheHeaderCannotHold) {
  EXPECT_THROW(MlgWriter(std::vector<MlgField>(65536), 2), std::invalid_argument);
  EXPECT_THROW(MlgWriter(std::vector<MlgField>(16384), 2), std::invalid_argument);  // 65536 bytes
  EXPECT_NO_THROW(MlgWriter(std::vector<MlgField>(16383), 2));
  // Version 1 stores the info offset in 16 bits: 22 + 55 * 1191 fits, 22 + 55 * 1192 does not.
  MlgWriter fits(std::vector<MlgField>(1191), 1);
  EXPECT_NO_THROW(fits.writeHeader(0, QStringLiteral("info")));
  MlgWriter tooFar(std::vector<MlgField>(1192), 1);
  EXPECT_THROW(tooFar.writeHeader(0, QStringLiteral("info")), std::invalid_argument);
  MlgWriter noInfo(std::vector<MlgField>(1192), 1);
  EXPECT_NO_THROW(noInfo.writeHeader(0, QString()));
}

TEST(MlgWriterTest, SaveToReplacesTheFileOrNamesIt) {
  QTemporaryDir dir;
  MlgWriter writer(threeFields(), 1);
  writer.writeHeader(3, QStringLiteral("x"));
  const QString path = dir.filePath(QStringLiteral("log.mlg"));
  QFile old(path);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(5000, 'z'));  // longer than the log: must be truncated
  old.close();
  writer.saveTo(path);
  EXPECT_EQ(test::readFile(path), writer.bytes());
  const QString bad = dir.filePath(QStringLiteral("missing/log.mlg"));
  EXPECT_EQ(thrownMessage<MlgError>([&] { writer.saveTo(bad); }), "Cannot write MLG file: " + bad);
}

}  // namespace
}  // namespace tk
