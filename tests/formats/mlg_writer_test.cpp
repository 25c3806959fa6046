#include "formats/mlg_writer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tk {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }

// Text followed by zeros up to the given width.
QByteArray padded(const char* text, int width) {
  QByteArray bytes(text);
  bytes.append(width - bytes.size(), '\0');
  return bytes;
}

MlgField numeric(MlgDataType type, const char* name, const char* units = "") {
  MlgField f;
  f.dataType = static_cast<std::uint8_t>(type);
  f.name = QString::fromLatin1(name);
  f.units = QString::fromLatin1(units);
  return f;
}

// Bytes of the data blocks, after header, descriptors and info text.
QByteArray blocksOf(const MlgWriter& writer, qsizetype dataBegin) {
  return writer.bytes().mid(dataBegin);
}

class MlgWriterTest : public ::testing::Test {
 protected:
  // U08, S16 and F32: record length 7.
  std::vector<MlgField> threeFields() {
    return {numeric(MlgDataType::U08, "TPS", "%"), numeric(MlgDataType::S16, "CLT", "C"),
            numeric(MlgDataType::F32, "Time", "s")};
  }
};

TEST_F(MlgWriterTest, ComputesOffsetsAndRecordLength) {
  MlgWriter writer({numeric(MlgDataType::U08, "a"), numeric(MlgDataType::S64, "b"),
                    numeric(MlgDataType::U16, "c"), numeric(MlgDataType::Bits32, "d"),
                    numeric(static_cast<MlgDataType>(103), "e"),
                    numeric(static_cast<MlgDataType>(16), "f")});
  const int offsets[] = {0, 1, 9, 11, 15, 17};
  const int sizes[] = {1, 8, 2, 4, 2, 4};
  ASSERT_EQ(writer.fields().size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(writer.fields()[i].index, i);
    EXPECT_EQ(writer.fields()[i].recordOffset, offsets[i]) << i;
    EXPECT_EQ(writer.fields()[i].byteSize, sizes[i]) << i;
  }
  EXPECT_EQ(writer.recordLength(), 21);
}

TEST_F(MlgWriterTest, HeaderPlacesTheInfoTextAfterTheDescriptorsByVersion) {
  MlgWriter v2(threeFields(), 2);
  v2.writeHeader(0x5F5E1000, QStringLiteral("Torvik CLI Datalog"));
  ASSERT_EQ(v2.bytes().size(), 310);
  EXPECT_EQ(v2.bytes().left(24),
            QByteArray("MLVLG", 6) + hex("0002 5F5E1000 00000123 00000136 0007 0003"));
  EXPECT_EQ(v2.bytes().mid(291), QByteArray("Torvik CLI Datalog", 19));

  // Version 1 stores the info offset in 16 bits: 22 + 3 * 55 = 187 = 0xBB; data from
  // 187 + 2 + 1 = 190 = 0xBE.
  MlgWriter v1(threeFields(), 1);
  v1.writeHeader(1, QStringLiteral("hi"));
  ASSERT_EQ(v1.bytes().size(), 190);
  EXPECT_EQ(v1.bytes().left(22),
            QByteArray("MLVLG", 6) + hex("0001 00000001 00BB 000000BE 0007 0003"));
  EXPECT_EQ(v1.bytes().mid(187), QByteArray("hi", 3));

  // Without an info text the offset is 0 and the data start at the descriptors' end.
  MlgWriter none(threeFields(), 2);
  none.writeHeader(0, QString());
  ASSERT_EQ(none.bytes().size(), 24 + 3 * 89);
  EXPECT_EQ(none.bytes().mid(12, 8), hex("00000000 00000123"));
}

TEST_F(MlgWriterTest, NumericDescriptorLayout) {
  MlgField f = numeric(MlgDataType::U16, "RPM", "rpm");
  f.displayStyle = 3;
  f.scale = 0.5f;
  f.transform = -40.0f;
  f.digits = -1;
  f.category = QStringLiteral("Engine");
  for (const std::uint16_t version : {1, 2}) {
    MlgWriter writer({f}, version);
    writer.writeHeader(0, QString());
    QByteArray expected =
        hex("02") + padded("RPM", 34) + padded("rpm", 10) + hex("03 3F000000 C2200000 FF");
    if (version == 2) {
      expected += padded("Engine", 34);
    }
    EXPECT_EQ(writer.bytes().mid(version == 2 ? 24 : 22), expected) << version;
  }
}

TEST_F(MlgWriterTest, BitFieldDescriptorLayout) {
  MlgField f = numeric(MlgDataType::Bits16, "Status", "bits");
  f.displayStyle = 1;
  f.bitFieldStyle = 2;
  f.bitFieldNamesIndex = 0x01020304;
  f.bitCount = 5;
  f.scale = 7.0f;  // not part of a bit-field descriptor
  f.digits = 9;
  MlgWriter writer({f}, 1);
  writer.writeHeader(0, QString());
  EXPECT_EQ(writer.bytes().mid(22), hex("0B") + padded("Status", 34) + padded("bits", 10) +
                                        hex("01 02 01020304 05 000000"));
}

TEST_F(MlgWriterTest, TextsAreCutAndNonAsciiBecomesQuestionMark) {
  MlgField f = numeric(MlgDataType::U08, "", "");
  f.name = QString(40, QLatin1Char('n'));
  f.units = QStringLiteral("\u00B0Celsius!!");  // 10 characters
  f.category = QString(35, QLatin1Char('c'));
  MlgWriter writer({f}, 2);
  writer.writeHeader(0, QStringLiteral("caf\u00E9"));
  const QByteArray d = writer.bytes().mid(24, 89);
  EXPECT_EQ(d.mid(1, 34), QByteArray(33, 'n') + QByteArray(1, '\0'));
  EXPECT_EQ(d.mid(35, 10), QByteArray("?Celsius!", 9) + QByteArray(1, '\0'));
  EXPECT_EQ(d.mid(55, 34), QByteArray(33, 'c') + QByteArray(1, '\0'));
  EXPECT_EQ(writer.bytes().mid(24 + 89), QByteArray("caf?", 5));
}

TEST_F(MlgWriterTest, RecordBytesAndChecksum) {
  MlgWriter writer(threeFields(), 2);
  writer.writeHeader(0, QString());
  const double values[] = {300, -2, 1.5};
  writer.writeRecord(0x1234, values);
  // FF + FF + FE + 3F + C0 = 1019, which is FB modulo 256.
  EXPECT_EQ(blocksOf(writer, 291), hex("00 00 1234 FF FFFE 3FC00000 FB"));
  EXPECT_EQ(writer.recordCount(), 1);
}

TEST_F(MlgWriterTest, MarkerBytes) {
  MlgWriter writer(threeFields(), 2);
  writer.writeHeader(0, QString());
  const double values[] = {1, 2, 3};
  writer.writeRecord(5, values);
  writer.writeMarker(7, QStringLiteral("Lap 1"));
  writer.writeMarker(8, QString(60, QLatin1Char('m')));
  const QByteArray blocks = blocksOf(writer, 291);
  ASSERT_EQ(blocks.size(), 12 + 54 + 54);
  EXPECT_EQ(blocks.mid(12, 54), hex("01 01 0007") + padded("Lap 1", 50));
  EXPECT_EQ(blocks.mid(66, 54), hex("01 02 0008") + QByteArray(49, 'm') + QByteArray(1, '\0'));
  EXPECT_EQ(writer.markerCount(), 2);
}

TEST_F(MlgWriterTest, CounterCountsAllBlocksAndWrapsAfter254) {
  MlgWriter writer({numeric(MlgDataType::U08, "x")}, 1);
  writer.writeHeader(0, QString());
  const double value[] = {0};
  // Blocks 0..299; every tenth is a marker. Records take 6 bytes, markers 54.
  std::vector<std::pair<qsizetype, int>> starts;  // offset, expected counter
  qsizetype offset = 22 + 55;
  for (int k = 0; k < 300; ++k) {
    starts.emplace_back(offset, k % 255);
    if (k % 10 == 9) {
      writer.writeMarker(0, QStringLiteral("m"));
      offset += 54;
    } else {
      writer.writeRecord(0, value);
      offset += 6;
    }
  }
  ASSERT_EQ(writer.bytes().size(), offset);
  for (const auto& [at, counter] : starts) {
    EXPECT_EQ(static_cast<std::uint8_t>(writer.bytes().at(at + 1)), counter) << at;
  }
  EXPECT_EQ(static_cast<std::uint8_t>(writer.bytes().at(starts[254].first + 1)), 254);
  EXPECT_EQ(static_cast<std::uint8_t>(writer.bytes().at(starts[255].first + 1)), 0);
}

struct SaturationCase {
  int dataType;
  double value;
  const char* expected;
};

class MlgWriterSaturationTest : public ::testing::TestWithParam<SaturationCase> {};

TEST_P(MlgWriterSaturationTest, StoresValueTruncatedAndSaturated) {
  const SaturationCase& c = GetParam();
  MlgField f;
  f.dataType = static_cast<std::uint8_t>(c.dataType);
  MlgWriter writer({f}, 1);
  writer.writeHeader(0, QString());
  const double values[] = {c.value};
  writer.writeRecord(0, values);
  const QByteArray expected = hex(c.expected);
  EXPECT_EQ(writer.bytes().mid(22 + 55 + 4, expected.size()).toHex(), expected.toHex());
  EXPECT_EQ(writer.bytes().size(), 22 + 55 + 5 + expected.size());
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Types, MlgWriterSaturationTest,
    ::testing::Values(
        SaturationCase{0, 300, "FF"}, SaturationCase{0, 254.9, "FE"}, SaturationCase{0, -5, "00"},
        SaturationCase{0, kNaN, "00"}, SaturationCase{1, -200, "80"}, SaturationCase{1, 200, "7F"},
        SaturationCase{1, -1.9, "FF"}, SaturationCase{2, 70000, "FFFF"},
        SaturationCase{2, kNaN, "0000"}, SaturationCase{2, kInf, "FFFF"},
        SaturationCase{2, -kInf, "0000"}, SaturationCase{2, 4660.99, "1234"},
        SaturationCase{3, -3.9, "FFFD"}, SaturationCase{3, -40000, "8000"},
        SaturationCase{3, 40000, "7FFF"}, SaturationCase{4, 1e10, "FFFFFFFF"},
        SaturationCase{4, -0.5, "00000000"}, SaturationCase{4, 4294967295.0, "FFFFFFFF"},
        SaturationCase{5, -1e10, "80000000"}, SaturationCase{5, -2, "FFFFFFFE"},
        SaturationCase{6, 1e19, "7FFFFFFFFFFFFFFF"},
        SaturationCase{6, 9223372036854775808.0, "7FFFFFFFFFFFFFFF"},
        SaturationCase{6, -1e19, "8000000000000000"}, SaturationCase{6, -3.5, "FFFFFFFFFFFFFFFD"},
        SaturationCase{6, kNaN, "0000000000000000"}, SaturationCase{7, 1.5, "3FC00000"},
        SaturationCase{7, 0.1, "3DCCCCCD"}, SaturationCase{7, -kInf, "FF800000"},
        SaturationCase{7, kNaN, "7FC00000"}, SaturationCase{7, 1e39, "7F800000"},
        SaturationCase{10, 300, "FF"}, SaturationCase{11, -1, "0000"},
        SaturationCase{11, 65535.5, "FFFF"}, SaturationCase{12, 5e9, "FFFFFFFF"},
        SaturationCase{103, -2, "FFFE"}, SaturationCase{107, 2, "40000000"},
        SaturationCase{16, 77, "00000000"}, SaturationCase{200, 1, "00000000"}));

// The message of the E thrown by fn, "other" for another exception, "no error" without one.
template <typename E, typename F>
std::string thrown(F fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  } catch (...) {
    return "other";
  }
  return "no error";
}

TEST_F(MlgWriterTest, MisuseRaisesLogicAndArgumentErrors) {
  MlgWriter writer(threeFields(), 2);
  const double three[] = {1, 2, 3};
  const double two[] = {1, 2};
  EXPECT_EQ(thrown<std::logic_error>([&] { writer.writeRecord(0, three); }),
            "Header must be written before data records");
  EXPECT_EQ(thrown<std::logic_error>([&] { writer.writeMarker(0, QStringLiteral("x")); }),
            "Header must be written before markers");
  writer.writeHeader(0, QString());
  EXPECT_EQ(thrown<std::logic_error>([&] { writer.writeHeader(0, QString()); }),
            "Header has already been written");
  EXPECT_EQ(thrown<std::invalid_argument>([&] { writer.writeRecord(0, two); }),
            "Values array length must match field count");
  // Nothing of the refused calls reached the file.
  EXPECT_EQ(writer.bytes().size(), 24 + 3 * 89);
  EXPECT_EQ(writer.recordCount(), 0);
}

TEST_F(MlgWriterTest, RefusesLayoutsTheHeaderCannotHold) {
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

TEST_F(MlgWriterTest, SaveToWritesAllBytesAndReportsUnwritablePath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  MlgWriter writer(threeFields(), 1);
  writer.writeHeader(3, QStringLiteral("x"));
  const double values[] = {1, 2, 3};
  writer.writeRecord(1, values);
  const QString path = dir.filePath(QStringLiteral("log.mlg"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'z'));  // longer than the log: must be truncated
  }
  writer.saveTo(path);
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), writer.bytes());

  const QString bad = dir.filePath(QStringLiteral("missing/log.mlg"));
  try {
    writer.saveTo(bad);
    FAIL() << "no error";
  } catch (const MlgError& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Cannot write MLG file: ") + bad);
  }
}

}  // namespace
}  // namespace tk
