#include "formats/mlg_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "formats/mlg_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

// The logs in tests/data/mlg, built byte by byte by separate scripts, cover the data types, both
// layouts, markers, clock wraps, stray bytes and zero padding through the dump-mlg golden files.

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }
QByteArray be16(unsigned v) { return QByteArray(1, char(v >> 8)) + QByteArray(1, char(v)); }
QByteArray padded(const QByteArray& text, int width) {
  return text + QByteArray(width - text.size(), '\0');
}

// A version 1 header, then that many U16 field descriptors (scale 1, transform 0).
QByteArray header(unsigned infoStart, unsigned dataBegin, unsigned recordLength, int fields) {
  const QByteArray descriptor =
      QByteArray(1, '\x02') + padded("v", 34) + padded("u", 10) + hex("00 3F800000 00000000 00");
  return QByteArray("MLVLG\0\0\1\1\2\3\4", 12) + be16(infoStart) + be16(0) + be16(dataBegin) +
         be16(recordLength) + be16(fields) + descriptor.repeated(fields);
}

QByteArray record(int counter, unsigned timestamp, const char* values) {
  return QByteArray(1, '\0') + QByteArray(1, char(counter)) + be16(timestamp) + hex(values) +
         QByteArray(1, '\x5A');  // the checksum is never verified
}

// A file with one U16 field and the given blocks.
QByteArray oneFieldLog(const QByteArray& blocks) { return header(0, 22 + 55, 2, 1) + blocks; }

std::vector<double> valuesOf(const MlgLog& log, std::size_t record) {
  const std::span<const double> values = log.recordValues(record);
  return std::vector<double>(values.begin(), values.end());
}

std::string errorOf(QByteArrayView bytes) {
  return test::thrownMessage<MlgError>([&] { parseMlg(bytes); }).toStdString();
}

constexpr const char* kTruncated = "Unexpected end of MLG file";

TEST(MlgReaderTest, RefusesWhatCannotBeRead) {
  const QByteArray head = header(77, 60000, 2, 1);
  const std::pair<QByteArray, std::string> cases[] = {
      {QByteArray(), kTruncated},
      {QByteArray("MLVLG"), kTruncated},
      {QByteArray("MLVLG\0\0\1", 8), kTruncated},
      {QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
       "Invalid MLG file format. Expected 'MLVLG', got 'ABCDE'"},
      {QByteArray("MLV\0LGxxxxxxxxxxxxxxxxxx", 24),
       "Invalid MLG file format. Expected 'MLVLG', got 'MLV'"},
      {QByteArray("mlvlg\0", 6), "Invalid MLG file format. Expected 'MLVLG', got 'mlvlg'"},
      // Only five characters take part, so a sixth letter passes.
      {oneFieldLog(QByteArray()).replace(5, 1, "X"), "no error"},
      // An info text without its terminator, or beyond the end, runs off the file.
      {head + QByteArray("abc"), kTruncated},
      {header(500, 60000, 2, 1), kTruncated},
      // A zero block cut short is still a truncated record.
      {oneFieldLog(record(5, 10, "0002") + QByteArray(5, '\0')), kTruncated},
      // Each field takes at least one byte of a record; the descriptors must all be there.
      {header(0, 22 + 3 * 55, 2, 3),
       "Invalid MLG file format. 3 fields do not fit a record "
       "length of 2 bytes"},
      {header(0, 22 + 3 * 55, 3, 3).chopped(1), kTruncated}};
  for (const auto& [bytes, error] : cases) {
    EXPECT_EQ(errorOf(bytes), error) << bytes.toHex().constData();
  }
  EXPECT_EQ(parseMlg(head + QByteArray("speeduino\xB0\0rest", 15)).infoData,
            QStringLiteral("speeduino\u00B0"));
  const MlgLog big = parseMlg(head + QByteArray(3000, 'i'));
  EXPECT_EQ(big.infoData, QString(1024, QLatin1Char('i')));  // at most 1024 bytes
  EXPECT_TRUE(big.records.empty());                          // the data begin beyond the end
}

class MlgRoundTripTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(MlgRoundTripTest, WrittenLogReadsBackUnchanged) {
  const std::uint16_t version = GetParam();
  std::vector<MlgField> fields;
  for (const int t : {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12}) {
    const bool bits = isMlgBitField(static_cast<std::uint8_t>(t));
    MlgField& f = fields.emplace_back();
    f.dataType = static_cast<std::uint8_t>(t);
    f.name = QStringLiteral("Field %1").arg(t);
    f.units = QStringLiteral("u%1").arg(t);
    f.displayStyle = static_cast<std::uint8_t>(t + 1);
    f.scale = bits ? 1.0f : 0.25f * static_cast<float>(t + 1);
    f.transform = bits ? 0.0f : -1.5f * static_cast<float>(t);
    f.digits = bits ? 0 : static_cast<std::int8_t>(t - 3);
    f.category = version >= 2 ? QStringLiteral("Cat %1").arg(t) : QString();
    f.bitFieldStyle = bits ? 3 : 0;
    f.bitFieldNamesIndex = bits ? 1000u + t : 0;
    f.bitCount = bits ? 4 : 0;
  }
  MlgWriter writer(fields, version);
  writer.writeHeader(1700000000, QStringLiteral("Torvik CLI Datalog"));
  std::vector<std::vector<double>> rows;
  // Enough blocks for the counter to wrap from 254 to 0, records and markers counted alike.
  for (int i = 0; i < 300; ++i) {
    rows.push_back({double(i % 200), -double(i % 100), 200.0 * i, -100.0 * i, 4e9 - i, -2e9 + i,
                    -5e15 * i, 0.25 * i, double(i % 3), 60000.0 - i, 4e9 + i});
    writer.writeRecord(static_cast<std::uint16_t>(i * 2000), rows.back());
    if (i % 13 == 0) {
      writer.writeMarker(static_cast<std::uint16_t>(i), QStringLiteral("mark %1").arg(i));
    }
  }
  const MlgLog log = parseMlg(writer.bytes());
  EXPECT_EQ(std::tie(log.formatVersion, log.timestamp, log.infoData),
            std::make_tuple(version, 1700000000u, QStringLiteral("Torvik CLI Datalog")));
  EXPECT_EQ(log.recordLength, writer.recordLength());
  EXPECT_EQ(log.fields, writer.fields());
  ASSERT_EQ(log.records.size(), rows.size());
  int block = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(valuesOf(log, i), rows[i]) << i;
    EXPECT_EQ(log.records[i].timestampRaw, (i * 2000) % 65536);
    EXPECT_EQ(log.records[i].counter, block % 255);
    block += i % 13 == 0 ? 2 : 1;
  }
  ASSERT_EQ(log.markers.size(), 24u);
  EXPECT_EQ(log.markers[23].message, QStringLiteral("mark 299"));
  EXPECT_EQ(findField(log, u"FIELD 10"), 8);  // names match ignoring case
  EXPECT_EQ(findField(log, u"Field"), -1);
}

INSTANTIATE_TEST_SUITE_P(Versions, MlgRoundTripTest, ::testing::Values(1, 2));

// Every prefix of a valid file either reads as the blocks it completely holds or fails with the
// truncation message; a marker counts as held once its message terminator is in.
TEST(MlgReaderTest, EveryPrefixGivesCompleteBlocksOrTruncation) {
  std::vector<MlgField> fields(2);
  fields[0].dataType = 2;
  for (const std::uint16_t version : {1, 2}) {
    MlgWriter writer(fields, version);
    writer.writeHeader(5, version == 2 ? QStringLiteral("info") : QString());
    const qsizetype dataBegin = writer.bytes().size();
    // Where each block starts, the shortest prefix that holds it, and whether it is a record.
    std::vector<std::tuple<qsizetype, qsizetype, bool>> blocks;
    for (int k = 0; k < 5; ++k) {
      const qsizetype start = writer.bytes().size();
      if (k % 2 == 0) {
        const double values[] = {double(k), k + 0.5};
        writer.writeRecord(static_cast<std::uint16_t>(10 + k), values);
        blocks.emplace_back(start, writer.bytes().size(), true);
      } else {
        const QString text = k == 1 ? QStringLiteral("abc") : QString(49, QLatin1Char('z'));
        writer.writeMarker(static_cast<std::uint16_t>(10 + k), text);
        blocks.emplace_back(start, start + 4 + text.size() + 1, false);
      }
    }
    const QByteArray full = writer.bytes();
    for (qsizetype n = 0; n <= full.size(); ++n) {
      bool truncated = n < dataBegin;
      std::size_t records = 0;
      std::size_t markers = 0;
      for (const auto& [start, heldAt, isRecord] : blocks) {
        truncated = truncated || (n > start && n < heldAt);
        if (n >= heldAt) {
          ++(isRecord ? records : markers);
        }
      }
      SCOPED_TRACE(testing::Message() << "version " << version << " prefix " << n);
      const QByteArrayView prefix(full.constData(), n);
      if (truncated) {
        EXPECT_EQ(errorOf(prefix), kTruncated);
      } else {
        const MlgLog log = parseMlg(prefix);
        EXPECT_EQ(std::make_pair(log.records.size(), log.markers.size()),
                  std::make_pair(records, markers));
      }
    }
  }
}

TEST(MlgReaderTest, RandomBytesNeverEscapeAsAnythingButMlgError) {
  std::mt19937 rng(20240601);
  const QByteArray base = oneFieldLog(record(0, 1, "0001") + hex("01 01 0002 6D00"));
  int parsed = 0;
  for (int i = 0; i < 3000; ++i) {
    // A valid file with a few bytes changed, every other time in the header.
    QByteArray bytes = base;
    for (int e = 0; e < 1 + static_cast<int>(rng() % 4); ++e) {
      bytes[static_cast<qsizetype>(i % 2 ? 6 + rng() % 16 : rng() % bytes.size())] =
          static_cast<char>(rng());
    }
    try {
      const MlgLog log = parseMlg(bytes);
      ASSERT_EQ(log.values.size(), log.records.size() * log.fields.size());
      ++parsed;
    } catch (const MlgError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what == kTruncated || what.rfind("Invalid MLG file", 0) == 0) << what;
    }
  }
  EXPECT_GT(parsed, 100);
}

TEST(MlgReaderTest, ReadsTheFileOrNamesIt) {
  EXPECT_EQ(readMlgFile(QStringLiteral(TK_TEST_DATA_DIR "/mlg/edges-v0.mlg")).records.size(), 1u);
  const QString missing = QStringLiteral(TK_TEST_DATA_DIR "/mlg/none.mlg");
  EXPECT_EQ(test::thrownMessage<MlgError>([&] { readMlgFile(missing); }),
            QStringLiteral("Cannot open MLG file: ") + missing);
}

}  // namespace
}  // namespace tk
