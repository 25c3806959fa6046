#include "formats/mlg_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include "formats/mlg_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }

QByteArray be16(unsigned v) { return QByteArray(1, char(v >> 8)) + QByteArray(1, char(v)); }

QByteArray be32(std::uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }

QByteArray padded(const QByteArray& text, int width) {
  return text + QByteArray(width - text.size(), '\0');
}

QByteArray header(std::uint16_t version, std::uint32_t infoStart, std::uint32_t dataBegin,
                  std::uint16_t recordLength, std::uint16_t fieldCount) {
  return QByteArray("MLVLG", 6) + be16(version) + be32(0x01020304) +
         (version >= 2 ? be32(infoStart) : be16(infoStart)) + be32(dataBegin) + be16(recordLength) +
         be16(fieldCount);
}

// A numeric descriptor with scale 1, transform 0 and digits 0 unless a tail is given.
QByteArray descriptor(std::uint16_t version, int type, const QByteArray& name,
                      const QByteArray& tail = hex("00 3F800000 00000000 00")) {
  QByteArray d = QByteArray(1, char(type)) + padded(name, 34) + padded("u", 10) + tail;
  return version >= 2 ? d + padded("cat", 34) : d;
}

QByteArray record(int counter, unsigned timestamp, const QByteArray& values) {
  return QByteArray(1, '\0') + QByteArray(1, char(counter)) + be16(timestamp) + values +
         QByteArray(1, '\x5A');  // the checksum is never verified
}

QByteArray marker(int counter, unsigned timestamp, const QByteArray& message) {
  return QByteArray(1, '\x01') + QByteArray(1, char(counter)) + be16(timestamp) +
         padded(message, 50);
}

// A version 1 file with one U16 field and the given blocks.
QByteArray oneFieldLog(const QByteArray& blocks) {
  return header(1, 0, 22 + 55, 2, 1) + descriptor(1, 2, "v") + blocks;
}

std::vector<double> valuesOf(const MlgLog& log, std::size_t record) {
  const std::span<const double> values = log.recordValues(record);
  return std::vector<double>(values.begin(), values.end());
}

std::string errorOf(QByteArrayView bytes) {
  try {
    parseMlg(bytes);
  } catch (const MlgError& e) {
    return e.what();
  }
  return "no error";
}

constexpr const char* kTruncated = "Unexpected end of MLG file";

TEST(MlgReaderTest, DecodesEveryTypeBigEndianAndSignExtended) {
  // S08, S16, S32, S64, U32, F32, 103 (as S16), 16 (unknown: 4 bytes, 0), U08, then a U16 that
  // the declared record length of 30 leaves out.
  const int types[] = {1, 3, 5, 6, 4, 7, 103, 16, 0, 2};
  QByteArray descriptors;
  for (const int t : types) {
    descriptors += descriptor(1, t, "f" + QByteArray::number(t));
  }
  const QByteArray values =
      hex("FE FF38 FFFFFFFF 8000000000000000 FFFFFFFF C0200000 8000 12345678 C8");
  ASSERT_EQ(values.size(), 30);
  const QByteArray bytes = header(1, 0, 22 + 10 * 55, 30, 10) + descriptors +
                           record(200, 7, values) + QByteArray(2, '\x11');
  const MlgLog log = parseMlg(bytes);
  ASSERT_EQ(log.fields.size(), 10u);
  const int offsets[] = {0, 1, 3, 7, 15, 19, 23, 25, 29, 30};
  const int sizes[] = {1, 2, 4, 8, 4, 4, 2, 4, 1, 2};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(log.fields[i].dataType, types[i]);
    EXPECT_EQ(log.fields[i].recordOffset, offsets[i]) << i;
    EXPECT_EQ(log.fields[i].byteSize, sizes[i]) << i;
  }
  ASSERT_EQ(log.records.size(), 1u);
  const MlgRecord& r = log.records[0];
  EXPECT_EQ(r.counter, 200);
  EXPECT_EQ(r.timestampRaw, 7);
  EXPECT_EQ(r.checksum, 0x5A);
  const std::vector<double> expected = {
      -2, -200, -1, -9223372036854775808.0, 4294967295.0, -2.5, -32768, 0, 200, 0};
  EXPECT_EQ(valuesOf(log, 0), expected);
}

TEST(MlgReaderTest, ReadsDescriptorMembersByVersion) {
  const QByteArray longName(34, 'N');  // no terminator: all 34 bytes are the name
  const QByteArray numericTail = hex("07 3F000000 C2200000 FE");
  const QByteArray bitTail = hex("01 02 0A0B0C0D 06 000000");
  for (const std::uint16_t version : {1, 2}) {
    const int dl = version >= 2 ? 89 : 55;
    const int hl = version >= 2 ? 24 : 22;
    const QByteArray bytes = header(version, 0, hl + 2 * dl, 5, 2) +
                             descriptor(version, 2, longName, numericTail) +
                             descriptor(version, 11, "Status\xB0", bitTail);
    const MlgLog log = parseMlg(bytes);
    EXPECT_EQ(log.formatVersion, version);
    EXPECT_EQ(log.timestamp, 0x01020304u);
    EXPECT_EQ(log.infoDataStart, 0u);
    EXPECT_EQ(log.dataBeginIndex, static_cast<std::uint32_t>(hl + 2 * dl));
    EXPECT_EQ(log.recordLength, 5);
    EXPECT_EQ(log.numLoggerFields, 2);
    ASSERT_EQ(log.fields.size(), 2u);
    const MlgField& n = log.fields[0];
    EXPECT_EQ(n.index, 0);
    EXPECT_EQ(n.name, QString(34, QLatin1Char('N')));
    EXPECT_EQ(n.units, QStringLiteral("u"));
    EXPECT_EQ(n.displayStyle, 7);
    EXPECT_EQ(n.scale, 0.5f);
    EXPECT_EQ(n.transform, -40.0f);
    EXPECT_EQ(n.digits, -2);
    EXPECT_EQ(n.category, version >= 2 ? QStringLiteral("cat") : QString());
    const MlgField& b = log.fields[1];
    EXPECT_EQ(b.index, 1);
    EXPECT_EQ(b.name, QStringLiteral("Status\u00B0"));
    EXPECT_EQ(b.displayStyle, 1);
    EXPECT_EQ(b.bitFieldStyle, 2);
    EXPECT_EQ(b.bitFieldNamesIndex, 0x0A0B0C0Du);
    EXPECT_EQ(b.bitCount, 6);
    EXPECT_EQ(b.scale, 1.0f);
    EXPECT_EQ(b.transform, 0.0f);
    EXPECT_EQ(b.digits, 0);
    EXPECT_EQ(b.recordOffset, 2);
    EXPECT_EQ(b.byteSize, 2);
  }
}

TEST(MlgReaderTest, VersionsBelowTwoUseTheShortLayoutAndLaterOnesTheLong) {
  MlgLog v0 = parseMlg(header(0, 0, 77, 2, 1) + descriptor(1, 2, "a") + record(0, 1, hex("0102")));
  ASSERT_EQ(v0.records.size(), 1u);
  EXPECT_EQ(valuesOf(v0, 0)[0], 258);
  MlgLog v3 = parseMlg(header(3, 0, 113, 2, 1) + descriptor(3, 2, "a") + record(0, 1, hex("0103")));
  ASSERT_EQ(v3.records.size(), 1u);
  EXPECT_EQ(v3.fields[0].category, QStringLiteral("cat"));
  EXPECT_EQ(valuesOf(v3, 0)[0], 259);
}

struct SignatureCase {
  QByteArray bytes;
  std::string error;
};

class MlgSignatureTest : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(MlgSignatureTest, ChecksFirstSixBytes) {
  EXPECT_EQ(errorOf(GetParam().bytes), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MlgSignatureTest,
    ::testing::Values(SignatureCase{QByteArray(), kTruncated},
                      SignatureCase{QByteArray("MLVLG"), kTruncated},
                      SignatureCase{QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
                                    "Invalid MLG file format. Expected 'MLVLG', got 'ABCDE'"},
                      SignatureCase{QByteArray("MLV\0LGxxxxxxxxxxxxxxxxxx", 24),
                                    "Invalid MLG file format. Expected 'MLVLG', got 'MLV'"},
                      SignatureCase{QByteArray("mlvlg\0", 6),
                                    "Invalid MLG file format. Expected 'MLVLG', got 'mlvlg'"},
                      // Only five characters take part, so a sixth letter passes.
                      SignatureCase{oneFieldLog(QByteArray()).replace(5, 1, "X"), "no error"},
                      SignatureCase{QByteArray("MLVLG\0\0\1", 8), kTruncated}));

TEST(MlgReaderTest, FieldCountWithoutDescriptorsIsTruncation) {
  EXPECT_EQ(errorOf(header(1, 0, 22, 0, 65535)), kTruncated);
  EXPECT_EQ(errorOf(header(2, 0, 24, 0, 65535) + QByteArray(89 * 100, '\0')), kTruncated);
}

TEST(MlgReaderTest, InfoTextStopsAtZeroOrAfter1024Bytes) {
  const QByteArray head = header(1, 77, 100000, 2, 1) + descriptor(1, 2, "v");
  EXPECT_EQ(parseMlg(head + QByteArray("speeduino\xB0\0rest", 15)).infoData,
            QStringLiteral("speeduino\u00B0"));
  const MlgLog big = parseMlg(head + QByteArray(3000, 'i'));
  EXPECT_EQ(big.infoData, QString(1024, QLatin1Char('i')));
  // Without its terminator before the end the text runs off the file.
  EXPECT_EQ(errorOf(head + QByteArray("abc")), kTruncated);
  EXPECT_EQ(errorOf(header(1, 500, 100000, 2, 1) + descriptor(1, 2, "v")), kTruncated);
}

TEST(MlgReaderTest, DataBeginBeyondTheEndGivesNoRecords) {
  const MlgLog log = parseMlg(header(1, 0, 100000, 2, 1) + descriptor(1, 2, "v"));
  EXPECT_TRUE(log.records.empty());
  EXPECT_TRUE(log.markers.empty());
}

TEST(MlgReaderTest, AbsoluteTimeCountsWrapsOfTheSixteenBitClock) {
  const unsigned stamps[] = {65000, 100, 200, 40000, 10000, 9999, 65535, 35534, 0};
  QByteArray blocks;
  for (const unsigned s : stamps) {
    blocks += record(1, s, hex("0000"));
  }
  const MlgLog log = parseMlg(oneFieldLog(blocks));
  // 65000 -> 100 wraps; 40000 -> 10000 drops exactly 30000 (no wrap); 65535 -> 35534 drops 30001,
  // 35534 -> 0 drops 35534. Times are whole 10 us ticks times 0.00001.
  const long long ticks[] = {65000,         65536 + 100,    65536 + 200,
                             65536 + 40000, 65536 + 10000,  65536 + 9999,
                             65536 + 65535, 131072 + 35534, 196608};
  ASSERT_EQ(log.records.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(log.records[i].absoluteTimestamp, static_cast<double>(ticks[i]) * 0.00001) << i;
  }
  EXPECT_EQ(log.records[0].absoluteTimestamp, 0.65);
  EXPECT_EQ(log.records[1].absoluteTimestamp, 0.65636);
  EXPECT_EQ(log.records[2].absoluteTimestamp, 0.65736);
}

TEST(MlgReaderTest, MarkersTakeTheTimeOfTheLastRecord) {
  QByteArray message = QByteArray("Going \xE9 Offline\0\x01\x00\x02", 19);
  const QByteArray blocks = marker(0, 9, "first") + record(1, 65000, hex("0001")) +
                            marker(2, 11, message) + record(3, 5, hex("0002")) +
                            marker(4, 12, QByteArray(50, 'x'));
  const MlgLog log = parseMlg(oneFieldLog(blocks));
  ASSERT_EQ(log.markers.size(), 3u);
  ASSERT_EQ(log.records.size(), 2u);
  EXPECT_EQ(log.markers[0].counter, 0);
  EXPECT_EQ(log.markers[0].timestampRaw, 9);
  EXPECT_EQ(log.markers[0].absoluteTimestamp, 0.0);
  EXPECT_EQ(log.markers[0].message, QStringLiteral("first"));
  EXPECT_EQ(log.markers[1].absoluteTimestamp, 0.65);
  EXPECT_EQ(log.markers[1].message, QStringLiteral("Going ? Offline"));
  EXPECT_EQ(log.markers[2].counter, 4);
  EXPECT_EQ(log.markers[2].absoluteTimestamp, 0.65541);
  EXPECT_EQ(log.markers[2].message, QString(50, QLatin1Char('x')));
  EXPECT_EQ(valuesOf(log, 1)[0], 2);
}

TEST(MlgReaderTest, SkipsStrayBytesBetweenBlocks) {
  const QByteArray blocks = hex("02 FF 7E") + record(0, 1, hex("0005")) + hex("80") +
                            marker(1, 2, "m") + hex("03 03") + record(2, 3, hex("0006")) +
                            hex("09");
  const MlgLog log = parseMlg(oneFieldLog(blocks));
  ASSERT_EQ(log.records.size(), 2u);
  EXPECT_EQ(valuesOf(log, 0)[0], 5);
  EXPECT_EQ(valuesOf(log, 1)[0], 6);
  EXPECT_EQ(log.records[1].counter, 2);
  ASSERT_EQ(log.markers.size(), 1u);
}

TEST(MlgReaderTest, ZeroBlockAfterRecordsEndsTheLog) {
  // A first record with counter 0 and time 0 is real data; a later one is padding.
  const QByteArray blocks = record(0, 0, hex("0001")) + record(1, 10, hex("0002")) +
                            record(0, 0, hex("0000")) + record(2, 20, hex("0003")) +
                            marker(3, 30, "after");
  const MlgLog log = parseMlg(oneFieldLog(blocks));
  ASSERT_EQ(log.records.size(), 2u);
  EXPECT_EQ(valuesOf(log, 1)[0], 2);
  EXPECT_TRUE(log.markers.empty());
  // Zero padding ends the log at once, whatever follows, once it holds a whole block.
  EXPECT_EQ(
      parseMlg(oneFieldLog(record(5, 10, hex("0002")) + QByteArray(400, '\0'))).records.size(), 1u);
  // A zero block cut short is still a truncated record.
  EXPECT_EQ(errorOf(oneFieldLog(record(5, 10, hex("0002")) + QByteArray(5, '\0'))), kTruncated);
}

class MlgRoundTripTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(MlgRoundTripTest, WrittenLogReadsBackUnchanged) {
  const std::uint16_t version = GetParam();
  std::vector<MlgField> fields;
  const int types[] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12};
  for (const int t : types) {
    MlgField f;
    f.dataType = static_cast<std::uint8_t>(t);
    f.name = QStringLiteral("Field %1").arg(t);
    f.units = QStringLiteral("u%1").arg(t);
    f.displayStyle = static_cast<std::uint8_t>(t + 1);
    f.scale = isMlgBitField(f.dataType) ? 1.0f : 0.25f * static_cast<float>(t + 1);
    f.transform = isMlgBitField(f.dataType) ? 0.0f : -1.5f * static_cast<float>(t);
    f.digits = isMlgBitField(f.dataType) ? 0 : static_cast<std::int8_t>(t - 3);
    f.category = QStringLiteral("Cat %1").arg(t);
    f.bitFieldStyle = isMlgBitField(f.dataType) ? 3 : 0;
    f.bitFieldNamesIndex = isMlgBitField(f.dataType) ? 1000u + t : 0;
    f.bitCount = isMlgBitField(f.dataType) ? 4 : 0;
    fields.push_back(f);
  }
  MlgWriter writer(fields, version);
  writer.writeHeader(1700000000, QStringLiteral("Torvik CLI Datalog"));
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 40; ++i) {
    rows.push_back({double(i), double(-i), 1000.0 * i, -300.0 * i, 4e9 - i, -2e9 + i, -5e15 * i,
                    0.25 * i, double(i % 3), 60000.0 - i, 4e9 + i});
    writer.writeRecord(static_cast<std::uint16_t>(i * 2000), rows.back());
    if (i % 13 == 0) {
      writer.writeMarker(static_cast<std::uint16_t>(i), QStringLiteral("mark %1").arg(i));
    }
  }
  const MlgLog log = parseMlg(writer.bytes());
  EXPECT_EQ(log.formatVersion, version);
  EXPECT_EQ(log.timestamp, 1700000000u);
  EXPECT_EQ(log.infoData, QStringLiteral("Torvik CLI Datalog"));
  EXPECT_EQ(log.recordLength, writer.recordLength());
  ASSERT_EQ(log.fields.size(), fields.size());
  // Every member survives; version 1 has no category.
  const auto members = [](const MlgField& f) {
    return std::make_tuple(f.index, f.dataType, f.name, f.units, f.displayStyle, f.scale,
                           f.transform, f.digits, f.recordOffset, f.byteSize, f.bitFieldStyle,
                           f.bitFieldNamesIndex, f.bitCount);
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_TRUE(members(log.fields[i]) == members(writer.fields()[i])) << i;
    EXPECT_EQ(log.fields[i].category, version >= 2 ? writer.fields()[i].category : QString());
  }
  ASSERT_EQ(log.records.size(), rows.size());
  int block = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(valuesOf(log, i), rows[i]) << i;
    EXPECT_EQ(log.records[i].timestampRaw, (i * 2000) % 65536);
    EXPECT_EQ(log.records[i].counter, block % 255);
    block += i % 13 == 0 ? 2 : 1;
  }
  ASSERT_EQ(log.markers.size(), 4u);
  EXPECT_EQ(log.markers[3].message, QStringLiteral("mark 39"));
  EXPECT_EQ(log.markers[3].absoluteTimestamp, log.records[39].absoluteTimestamp);
}

INSTANTIATE_TEST_SUITE_P(Versions, MlgRoundTripTest, ::testing::Values(1, 2));

// Every prefix of a valid file either reads as the blocks it completely holds or fails with the
// truncation message; a marker counts as held once its message terminator is in.
TEST(MlgReaderTest, EveryPrefixGivesCompleteBlocksOrTruncation) {
  MlgField a;
  a.dataType = 2;
  MlgField b;
  b.dataType = 7;
  for (const std::uint16_t version : {1, 2}) {
    MlgWriter writer({a, b}, version);
    writer.writeHeader(5, version == 2 ? QStringLiteral("info") : QString());
    const qsizetype dataBegin = writer.bytes().size();
    struct Block {
      qsizetype start;
      qsizetype heldAt;  // shortest prefix that holds the block
      bool isRecord;
    };
    std::vector<Block> blocks;
    auto addRecord = [&](std::uint16_t t, double x) {
      const qsizetype start = writer.bytes().size();
      const double values[] = {x, x + 0.5};
      writer.writeRecord(t, values);
      blocks.push_back({start, writer.bytes().size(), true});
    };
    auto addMarker = [&](std::uint16_t t, const QString& text) {
      const qsizetype start = writer.bytes().size();
      writer.writeMarker(t, text);
      blocks.push_back({start, start + 4 + text.size() + 1, false});
    };
    addRecord(10, 1);
    addMarker(11, QStringLiteral("abc"));
    addRecord(12, 2);
    addMarker(13, QString(49, QLatin1Char('z')));
    addRecord(14, 3);
    const QByteArray full = writer.bytes();

    for (qsizetype n = 0; n <= full.size(); ++n) {
      const QByteArrayView prefix(full.constData(), n);
      bool truncated = n < dataBegin;
      std::size_t records = 0;
      std::size_t markers = 0;
      for (const Block& blk : blocks) {
        truncated = truncated || (n > blk.start && n < blk.heldAt);
        if (n >= blk.heldAt) {
          ++(blk.isRecord ? records : markers);
        }
      }
      if (truncated) {
        EXPECT_EQ(errorOf(prefix), kTruncated) << "version " << version << " prefix " << n;
      } else {
        const MlgLog log = parseMlg(prefix);
        EXPECT_EQ(log.records.size(), records) << "version " << version << " prefix " << n;
        EXPECT_EQ(log.markers.size(), markers) << "version " << version << " prefix " << n;
      }
    }
  }
}

TEST(MlgReaderTest, RandomBytesNeverEscapeAsAnythingButMlgError) {
  std::mt19937 rng(20240601);
  const QByteArray base = oneFieldLog(record(0, 1, hex("0001")) + marker(1, 2, "m"));
  int parsed = 0;
  for (int i = 0; i < 3000; ++i) {
    QByteArray bytes;
    if (i % 3 == 0) {
      bytes.resize(static_cast<qsizetype>(rng() % 300));
      for (char& c : bytes) {
        c = static_cast<char>(rng());
      }
    } else {
      // A valid file with a few bytes changed, often in the header.
      bytes = base;
      const int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits; ++e) {
        const auto at = static_cast<qsizetype>(i % 3 == 1 ? 6 + rng() % 16 : rng() % bytes.size());
        bytes[at] = static_cast<char>(rng());
      }
    }
    try {
      const MlgLog log = parseMlg(bytes);
      ASSERT_EQ(log.values.size(), log.records.size() * log.fields.size());
      ++parsed;
    } catch (const MlgError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what == kTruncated || what.rfind("Invalid MLG file format.", 0) == 0) << what;
    }
  }
  EXPECT_GT(parsed, 100);
}

// The two seed logs in tests/data were assembled by a separate script, not by MlgWriter.
TEST(MlgReaderTest, ReadsIndependentlyBuiltSeedLogs) {
  const MlgLog v1 = readMlgFile(test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg")));
  EXPECT_EQ(v1.formatVersion, 1);
  EXPECT_EQ(v1.timestamp, 1700000000u);
  EXPECT_EQ(v1.infoData, QStringLiteral("seed log"));
  ASSERT_EQ(v1.fields.size(), 3u);
  EXPECT_EQ(v1.fields[1].name, QStringLiteral("CLT"));
  EXPECT_EQ(v1.fields[1].scale, 0.1f);
  EXPECT_EQ(v1.fields[1].transform, -40.0f);
  EXPECT_EQ(v1.fields[1].digits, 1);
  EXPECT_EQ(v1.fields[2].recordOffset, 3);
  const std::vector<std::vector<double>> values = {
      {0, 200, 0.0f}, {10, 210, 0.05f}, {20, -30, 0.1f}, {30, -40, 0.64f}, {40, 50, 0.67536f}};
  const int counters[] = {0, 1, 3, 4, 5};
  ASSERT_EQ(v1.records.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(valuesOf(v1, i), values[i]) << i;
    EXPECT_EQ(v1.records[i].counter, counters[i]) << i;
  }
  EXPECT_EQ(v1.records[4].absoluteTimestamp, 67536 * 0.00001);
  ASSERT_EQ(v1.markers.size(), 2u);
  EXPECT_EQ(v1.markers[0].message, QStringLiteral("Lap 1"));
  EXPECT_EQ(v1.markers[0].counter, 2);
  EXPECT_EQ(v1.markers[0].absoluteTimestamp, 0.05);
  EXPECT_EQ(v1.markers[1].message, QStringLiteral("end"));

  const MlgLog v2 = readMlgFile(test::dataPath(QStringLiteral("mlg/seed-v2-types.mlg")));
  EXPECT_EQ(v2.formatVersion, 2);
  EXPECT_TRUE(v2.infoData.isEmpty());
  ASSERT_EQ(v2.fields.size(), 13u);
  EXPECT_EQ(v2.fields[8].bitFieldNamesIndex, 110u);
  EXPECT_EQ(v2.fields[8].bitCount, 3);
  EXPECT_EQ(v2.fields[12].category, QStringLiteral("Seed"));
  ASSERT_EQ(v2.records.size(), 4u);  // the zero padding after them is not a record
  for (int k = 0; k < 4; ++k) {
    const std::vector<double> expected = {
        double(k), -double(k),    1000.0 * k, -1000.0 * k, 4e9 - k,    -2e9 + k, -1e15 * k,
        0.5 * k,   double(k % 2), double(k),  3.0 * k,     -double(k), 0};
    EXPECT_EQ(valuesOf(v2, static_cast<std::size_t>(k)), expected) << k;
  }
  EXPECT_EQ(v2.records[2].timestampRaw, 464);
  EXPECT_EQ(v2.records[2].absoluteTimestamp, 66000 * 0.00001);
}

TEST(MlgReaderTest, ReadMlgFileReadsTheFileOrNamesIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("a.mlg"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(oneFieldLog(record(0, 1, hex("0102"))));
  }
  const MlgLog log = readMlgFile(path);
  ASSERT_EQ(log.records.size(), 1u);
  EXPECT_EQ(valuesOf(log, 0)[0], 258);
  const QString missing = dir.filePath(QStringLiteral("none.mlg"));
  try {
    readMlgFile(missing);
    FAIL() << "no error";
  } catch (const MlgError& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Cannot open MLG file: ") + missing);
  }
}

TEST(MlgReaderTest, FindFieldMatchesNamesIgnoringCase) {
  MlgLog log;
  for (const char* name : {"Time", "RPM", "rpm", "MAP"}) {
    MlgField f;
    f.name = QString::fromLatin1(name);
    log.fields.push_back(f);
  }
  EXPECT_EQ(findField(log, u"rpm"), 1);
  EXPECT_EQ(findField(log, u"map"), 3);
  EXPECT_EQ(findField(log, u"TIME"), 0);
  EXPECT_EQ(findField(log, u"TPS"), -1);
  EXPECT_EQ(findField(log, u""), -1);
}

}  // namespace
}  // namespace tk
