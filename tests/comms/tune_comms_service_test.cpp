#include "comms/tune_comms_service.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>

#include "comms/command_builder.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "comms/sim_ecu_connection.h"
#include "frame_helpers.h"
#include "tune/field_codec.h"

namespace tk::comms {
namespace {

using test::hex;
using test::okFrame;
using test::responseFrame;

// Two pages of the given size with the usual templates; little-endian numbers.
EcuDefinition twoPages(int pageSize, int blockingFactor) {
  EcuDefinition d;
  d.Signature = QStringLiteral("speeduino 202501");
  d.NPages = 2;
  d.PageSizes = {pageSize, pageSize};
  d.PageIdentifiers = {QStringLiteral("\\$tsCanId\\x01"), QStringLiteral("\\$tsCanId\\x02")};
  d.PageReadCommands = {QStringLiteral("p%2i%2o%2c"), QStringLiteral("p%2i%2o%2c")};
  d.PageChunkWriteCommands = {QStringLiteral("M%2i%2o%2c%v"), QStringLiteral("M%2i%2o%2c%v")};
  d.BurnCommands = {QStringLiteral("b%2i"), QStringLiteral("b%2i")};
  d.BlockingFactor = blockingFactor;
  return d;
}

QByteArray pattern(int size, int seed) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
  }
  return bytes;
}

// The framed request carrying the given payload.
QByteArray framed(const QByteArray& payload) { return EcuCommandService::wrapFrame(payload); }

class TuneCommsTest : public ::testing::Test {
 protected:
  void SetUp() override { conn.open(); }

  // Settles the framing decision with a probe and forgets its write.
  void decideFraming(bool crc) {
    conn.queueReply(crc ? QByteArrayLiteral("001") : QByteArrayLiteral("ok!"));
    ASSERT_EQ(service.usesCrcFraming(conn), crc);
    probeWrites = conn.writes().size();
  }

  QList<QByteArray> commandWrites() const { return conn.writes().mid(probeWrites); }

  ScriptedEcuConnection conn;
  EcuCommandService commands;
  TuneCommsService service{commands};
  qsizetype probeWrites = 0;
};

TEST_F(TuneCommsTest, ProbeAnswer001MeansFramedAndIsCachedPerConnection) {
  conn.queueReply(QByteArrayLiteral("001 and more"));
  EXPECT_TRUE(service.usesCrcFraming(conn));
  EXPECT_TRUE(service.usesCrcFraming(conn));
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(commands.connection(), &conn);

  ScriptedEcuConnection other;
  other.open();
  other.queueReply(QByteArrayLiteral("002"));
  EXPECT_FALSE(service.usesCrcFraming(other));
  EXPECT_EQ(other.writes(), QList<QByteArray>{QByteArrayLiteral("F")});

  service.resetProtocolCache();
  conn.queueReply(QByteArrayLiteral("00"));
  EXPECT_FALSE(service.usesCrcFraming(conn));  // two bytes are not an answer
  EXPECT_EQ(conn.writes().size(), 2);
}

TEST_F(TuneCommsTest, SilentProbeIsUnframedAfterHalfASecond) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(service.usesCrcFraming(conn));
  EXPECT_GE(clock.elapsed(), 500);
  EXPECT_LT(clock.elapsed(), 550 + 1000);
}

TEST_F(TuneCommsTest, ForceCrcWakesTheEcuDiscardsItsAnswerAndSkipsTheProbe) {
  conn.queueReply(QByteArray(100, 'w'));
  service.forceCrcProtocol(conn);
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_TRUE(service.usesCrcFraming(conn));
  EXPECT_EQ(conn.writes().size(), 1);
  EXPECT_FALSE(commands.isBusy());
}

TEST_F(TuneCommsTest, ReadPageUsesDefaultChunksOf256WhenBlockingFactorIsZero) {
  const QByteArray page = pattern(600, 3);
  decideFraming(true);
  conn.queueReply(okFrame(page.mid(0, 256)));
  conn.queueReply(okFrame(page.mid(256, 256)));
  conn.queueReply(okFrame(page.mid(512, 88)));
  EXPECT_EQ(service.readPage(conn, twoPages(600, 0), 0), page);
  EXPECT_EQ(commandWrites(),
            (QList<QByteArray>{framed(hex("70000100000001")), framed(hex("70000100010001")),
                               framed(hex("70000100025800"))}));
}

TEST_F(TuneCommsTest, ReadPageCapsChunksAt32767) {
  const QByteArray page = pattern(40000, 9);
  decideFraming(true);
  conn.queueReply(okFrame(page.left(32767)));
  conn.queueReply(okFrame(page.mid(32767)));
  EXPECT_EQ(service.readPage(conn, twoPages(40000, 100000), 1), page);
  EXPECT_EQ(commandWrites(),
            (QList<QByteArray>{framed(hex("7000020000FF7F")), framed(hex("700002FF7F411C"))}));
}

TEST_F(TuneCommsTest, ReadPageBigEndianCommandsKeepTheIdentifierOrder) {
  EcuDefinition d = twoPages(200, 128);
  d.Endianness = QStringLiteral("BIG");
  decideFraming(true);
  conn.queueReply(okFrame(pattern(128, 0)));
  conn.queueReply(okFrame(pattern(72, 1)));
  ASSERT_TRUE(service.readPage(conn, d, 0).has_value());
  EXPECT_EQ(commandWrites(),
            (QList<QByteArray>{framed(hex("70000100000080")), framed(hex("70000100800048"))}));
}

TEST_F(TuneCommsTest, ChunkFailingTwiceIsRetriedAndThreeFailuresThrow) {
  const EcuDefinition d = twoPages(256, 128);
  const QByteArray page = pattern(256, 5);
  const QByteArray badCrc = hex("0003004142DEADBEEF");
  decideFraming(true);
  conn.queueReply(okFrame(page.left(128)));
  conn.queueReply(responseFrame(hex("84")));
  conn.queueReply(badCrc);
  conn.queueReply(okFrame(page.mid(128)));
  EXPECT_EQ(service.readPage(conn, d, 0), page);
  EXPECT_EQ(commandWrites().size(), 4);
  // The second chunk's three attempts carry the same command.
  EXPECT_EQ(commandWrites().at(1), commandWrites().at(3));

  conn.queueReply(okFrame(page.left(128)));
  conn.queueReply(responseFrame(hex("84")));
  conn.queueReply(responseFrame(hex("80")));
  conn.queueReply(badCrc);
  conn.queueReply(okFrame(page.mid(128)));  // never asked for
  try {
    service.readPage(conn, d, 1);
    FAIL() << "no exception";
  } catch (const PageReadError& e) {
    EXPECT_STREQ(e.what(), "Failed to read page 2 at offset 128");
  }
  EXPECT_EQ(conn.queuedReplies().size(), 1);
}

TEST_F(TuneCommsTest, ShortChunkThrowsWithoutRetry) {
  const EcuDefinition d = twoPages(256, 128);
  decideFraming(true);
  conn.queueReply(okFrame(pattern(127, 0)));
  EXPECT_THROW(service.readPage(conn, d, 0), PageReadError);
  EXPECT_EQ(commandWrites().size(), 1);
}

TEST_F(TuneCommsTest, PagesWithoutSizeOrReadCommandHaveNoValue) {
  EcuDefinition d = twoPages(128, 128);
  d.PageSizes = {0};
  d.PageReadCommands = {QStringLiteral("p%2i%2o%2c"), QString()};
  decideFraming(true);
  EXPECT_FALSE(service.readPage(conn, d, 0).has_value());  // size 0
  EXPECT_FALSE(service.readPage(conn, d, 1).has_value());  // no size entry at all
  d.PageSizes = {128, 128};
  EXPECT_FALSE(service.readPage(conn, d, 1).has_value());  // empty read command
  EXPECT_FALSE(service.readPage(conn, d, 5).has_value());
  EXPECT_TRUE(commandWrites().isEmpty());
}

TEST_F(TuneCommsTest, UnframedPageReadCollectsRawBytes) {
  const EcuDefinition d = twoPages(100, 64);
  const QByteArray page = pattern(100, 7);
  decideFraming(false);
  conn.queueReply(page.left(64));
  conn.queueReply(page.mid(64));
  EXPECT_EQ(service.readPage(conn, d, 0), page);
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{hex("70000100004000"), hex("70000140002400")}));

  conn.queueReply(page.left(10));
  QElapsedTimer clock;
  clock.start();
  EXPECT_THROW(service.readPage(conn, d, 0), PageReadError);
  EXPECT_LT(clock.elapsed(), 10 * 50 + 1000);
}

TEST_F(TuneCommsTest, WriteChunkFramedReportsTheEcusVerdict) {
  const EcuDefinition d = twoPages(256, 128);
  decideFraming(true);
  conn.queueReply(okFrame({}));
  EXPECT_TRUE(service.writeChunk(conn, d, 1, 16, hex("0A0B0C")));
  EXPECT_EQ(commandWrites().at(0), framed(hex("4D0002100003000A0B0C")));
  conn.queueReply(responseFrame(hex("84")));
  EXPECT_FALSE(service.writeChunk(conn, d, 1, 16, hex("0A0B0C")));
  EcuDefinition none = d;
  none.PageChunkWriteCommands = {QStringLiteral("M%2i%2o%2c%v"), QString()};
  EXPECT_FALSE(service.writeChunk(conn, none, 1, 0, hex("01")));
  EXPECT_FALSE(service.writeChunk(conn, none, 2, 0, hex("01")));
  EXPECT_EQ(commandWrites().size(), 2);
}

TEST_F(TuneCommsTest, WriteChunkUnframedWritesRawAndTrustsIt) {
  decideFraming(false);
  EXPECT_TRUE(service.writeChunk(conn, twoPages(256, 128), 0, 2, hex("FF")));
  EXPECT_EQ(commandWrites(), QList<QByteArray>{hex("4D000102000100FF")});
}

TEST_F(TuneCommsTest, WritePageSplitsIntoChunksOf128ByDefaultAndBurns) {
  const EcuDefinition d = twoPages(600, 0);
  const QByteArray page = pattern(600, 1);
  decideFraming(true);
  for (int i = 0; i < 5; ++i) {
    conn.queueReply(okFrame({}));
  }
  conn.queueReply(responseFrame(hex("04")));
  service.writePage(conn, d, 0, page, true);
  const QList<QByteArray> w = commandWrites();
  ASSERT_EQ(w.size(), 6);
  for (int i = 0; i < 5; ++i) {
    const int n = i < 4 ? 128 : 88;
    EXPECT_EQ(w.at(i), framed(QByteArrayLiteral("M") + hex("0001") + intToBytes(i * 128, 2, true) +
                              intToBytes(n, 2, true) + page.mid(i * 128, n)))
        << i;
  }
  EXPECT_EQ(w.at(5), framed(hex("620001")));
}

TEST_F(TuneCommsTest, WritePageCapsChunksAt4096AndTheByteCountAtThePageSize) {
  const EcuDefinition d = twoPages(5000, 100000);
  decideFraming(true);
  conn.queueReply(okFrame({}));
  conn.queueReply(okFrame({}));
  service.writePage(conn, d, 1, pattern(6000, 2), false);
  const QList<QByteArray> w = commandWrites();
  ASSERT_EQ(w.size(), 2);  // no burn when not asked
  EXPECT_EQ(w.at(0).size(), 2 + 7 + 4096 + 4);
  EXPECT_EQ(w.at(1).size(), 2 + 7 + 904 + 4);
  EXPECT_EQ(w.at(1).mid(2, 7), hex("4D000200108803"));
}

TEST_F(TuneCommsTest, WritePageWithoutChunkTemplateSendsNothingNotEvenTheBurn) {
  EcuDefinition d = twoPages(64, 128);
  d.PageChunkWriteCommands = {QString()};
  decideFraming(true);
  service.writePage(conn, d, 0, pattern(64, 0), true);
  service.writePage(conn, d, 1, pattern(64, 0), true);
  EXPECT_TRUE(commandWrites().isEmpty());
}

TEST_F(TuneCommsTest, RefusedChunksAndBurnDoNotStopThePage) {
  decideFraming(true);
  conn.queueReply(responseFrame(hex("84")));
  conn.queueReply(responseFrame(hex("81")));
  conn.queueReply(responseFrame(hex("8D")));
  service.writePage(conn, twoPages(256, 128), 0, pattern(256, 0), true);
  EXPECT_EQ(commandWrites().size(), 3);
}

TEST_F(TuneCommsTest, UnframedWritePageWaitsForTheActivationDelay) {
  EcuDefinition d = twoPages(128, 128);
  d.PageActivationDelay = 250;
  decideFraming(false);
  QElapsedTimer clock;
  clock.start();
  service.writePage(conn, d, 0, pattern(128, 0), true);
  EXPECT_GE(clock.elapsed(), 20 + 250);
  EXPECT_EQ(commandWrites(),
            (QList<QByteArray>{QByteArrayLiteral("M") + hex("000100008000") + pattern(128, 0),
                               hex("620001")}));
}

TEST_F(TuneCommsTest, SignaturePrefersASpeeduinoSReply) {
  decideFraming(true);
  conn.queueReply(okFrame("speeduino 202501"));
  conn.queueReply(okFrame("Speeduino 2025.01.6\r\n"));
  EXPECT_EQ(service.readSignature(conn), QStringLiteral("Speeduino 2025.01.6"));
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{framed("Q"), framed("S")}));

  conn.queueReply(okFrame("speeduino 202501\0"));
  conn.queueReply(okFrame("rusEFI 2024"));
  EXPECT_EQ(service.readSignature(conn), QStringLiteral("speeduino 202501"));
}

TEST_F(TuneCommsTest, ShortSignatureRepliesAreRetriedOnce) {
  decideFraming(true);
  conn.queueReply(okFrame("abc"));
  conn.queueReply(okFrame("speeduino 202501"));
  EXPECT_EQ(service.querySignatureText(conn, QStringLiteral("Q")),
            QStringLiteral("speeduino 202501"));
  conn.queueReply(okFrame("abc"));
  conn.queueReply(responseFrame(hex("83")));
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(service.querySignatureText(conn, QStringLiteral("Q\u00E9")).has_value());
  EXPECT_GE(clock.elapsed(), 100);
  EXPECT_EQ(commandWrites().back(), framed("Q?"));
}

TEST_F(TuneCommsTest, VerifySignatureTriesQThenS) {
  const EcuDefinition d = twoPages(64, 128);
  decideFraming(true);
  conn.queueReply(okFrame(" speeduino 202501 "));
  EXPECT_TRUE(service.verifySignature(conn, d));
  EXPECT_EQ(commandWrites().size(), 1);

  conn.queueReply(okFrame("something else"));
  conn.queueReply(okFrame("speeduino 202501"));
  EXPECT_TRUE(service.verifySignature(conn, d));

  conn.queueReply(okFrame("speeduino 202502"));
  conn.queueReply(okFrame("Speeduino 2025.02"));
  EXPECT_FALSE(service.verifySignature(conn, d));

  EcuDefinition blank = d;
  blank.Signature = QStringLiteral("  ");
  conn.queueReply(okFrame("    "));
  conn.queueReply(okFrame("    "));
  EXPECT_FALSE(service.verifySignature(conn, blank));
}

TEST_F(TuneCommsTest, FirmwareVersionUsesTheDefinitionsEscapedCommand) {
  EcuDefinition d = twoPages(64, 128);
  decideFraming(true);
  conn.queueReply(okFrame("Torvik 1.0\r\n"));
  EXPECT_EQ(service.readFirmwareVersion(conn, d), QStringLiteral("Torvik 1.0"));
  EXPECT_EQ(commandWrites().back(), framed("V"));

  d.VersionInfo = QStringLiteral("\\x53$tsCanId");
  conn.queueReply(okFrame({}));
  EXPECT_FALSE(service.readFirmwareVersion(conn, d).has_value());
  EXPECT_EQ(commandWrites().back(), framed(hex("5300")));
  conn.queueReply(responseFrame(hex("83")));
  EXPECT_FALSE(service.readFirmwareVersion(conn, d).has_value());
}

TEST_F(TuneCommsTest, UnframedTextQueriesAreReadOnceAfterAPause) {
  decideFraming(false);
  conn.queueReply(QByteArrayLiteral("speeduino 202501\x80"));
  EXPECT_EQ(service.querySignatureText(conn, QStringLiteral("Q")),
            QStringLiteral("speeduino 202501?"));
  EXPECT_EQ(commandWrites(), QList<QByteArray>{QByteArrayLiteral("Q")});
  const EcuDefinition d = twoPages(64, 128);
  conn.queueReply(QByteArrayLiteral("fw 2\n"));
  EXPECT_EQ(service.readFirmwareVersion(conn, d), QStringLiteral("fw 2"));
  EXPECT_FALSE(service.readFirmwareVersion(conn, d).has_value());
}

struct ConfigErrorCase {
  const char* reply;
  int length;
  const char* expected;  // nullptr for no value
};

class ConfigErrorTest : public TuneCommsTest,
                        public ::testing::WithParamInterface<ConfigErrorCase> {};

TEST_P(ConfigErrorTest, OnlyPrintableNonZeroTextIsAnError) {
  const ConfigErrorCase c = GetParam();
  EcuDefinition d = twoPages(64, 128);
  d.RetrieveConfigErrorCommand = QString();
  decideFraming(true);
  conn.queueReply(okFrame(QByteArray(c.reply, c.length)));
  const std::optional<QString> r = service.readConfigError(conn, d);
  EXPECT_EQ(commandWrites().back(), framed("e"));
  if (c.expected == nullptr) {
    EXPECT_FALSE(r.has_value()) << r.value_or(QString()).toStdString();
  } else {
    EXPECT_EQ(r, QString::fromLatin1(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ConfigErrorTest,
    ::testing::Values(ConfigErrorCase{"Sensor fault!", 13, "Sensor fault!"},
                      ConfigErrorCase{"   \r\n", 5, nullptr}, ConfigErrorCase{"0", 1, nullptr},
                      ConfigErrorCase{"0\r\n\0", 4, nullptr},
                      ConfigErrorCase{"bad\x01", 4, nullptr},
                      ConfigErrorCase{"\t pin 3 conflict \r\n\0", 20, "pin 3 conflict"},
                      ConfigErrorCase{"\0\0", 2, nullptr}, ConfigErrorCase{"caf\xE9", 4, nullptr}));

TEST_F(TuneCommsTest, ConsoleDelegatesAfterAttaching) {
  EcuCommandService other;
  TuneCommsService unattached(other);
  conn.queueReply(QByteArrayLiteral("pong\r\n"));
  EXPECT_EQ(unattached.sendConsoleCommand(conn, QStringLiteral("ping"), 500),
            QStringLiteral("pong"));
  EXPECT_EQ(other.connection(), &conn);
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("ping\n")});
}

// Whole tunes against the simulated ECU.
class TuneTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.open();
    tune.forceCrcProtocol(sim);
  }

  const EcuDefinition& definition = test::syntheticDefinition();
  SimEcuConnection sim{definition};
  EcuCommandService commands;
  TuneCommsService tune{commands};
};

TEST_F(TuneTransferTest, ReadTuneDecodesEveryPageAndStampsTheTime) {
  const PageImages pages = test::syntheticPages();
  for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
    sim.loadPage(it.key() - 1, it.value());
  }
  const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
  const Tune read = tune.readTune(sim, definition);
  EXPECT_EQ(read.fields, decodePages(pages, definition).fields);
  EXPECT_EQ(read.signature, QStringLiteral("speeduino 202501-tk"));
  EXPECT_EQ(read.nPages, 3);
  EXPECT_EQ(read.lastSaved, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
          .match(read.writeTimestamp)
          .hasMatch())
      << read.writeTimestamp.toStdString();
  EXPECT_GE(QDateTime::fromString(read.writeTimestamp, Qt::ISODateWithMs), before);
  // A few values worked out from the image by hand.
  EXPECT_DOUBLE_EQ(*read.find(QStringLiteral("reqFuel"))->scalarValue, 15.700000000000001);
  EXPECT_EQ(read.find(QStringLiteral("tuneName"))->stringValue, QStringLiteral("Synthetic tune"));
  EXPECT_EQ(read.find(QStringLiteral("nCylinders"))->enumValue, QStringLiteral("6"));
  EXPECT_EQ(read.find(QStringLiteral("triggerTeeth"))->bitsRawValue, 36);

  // Pages without a read command or a size are skipped.
  EcuDefinition d = definition;
  d.PageReadCommands[1] = QString();
  d.PageSizes[2] = 0;
  const Tune partial = tune.readTune(sim, d);
  EXPECT_NE(partial.find(QStringLiteral("reqFuel")), nullptr);
  EXPECT_EQ(partial.find(QStringLiteral("veTable")), nullptr);
  EXPECT_EQ(partial.find(QStringLiteral("fanOn")), nullptr);
}

TEST_F(TuneTransferTest, WriteTuneEncodesValuesAndBurnsEveryPage) {
  Tune t = decodePages(test::syntheticPages(), definition);
  t.find(QStringLiteral("reqFuel"))->scalarValue = 9.9;
  tune.writeTune(sim, definition, t, true);
  const PageImages encoded = encodeTune(t, definition);
  for (int index = 0; index < 3; ++index) {
    EXPECT_EQ(sim.burnedPage(index), encoded.value(index + 1)) << index;
  }
  EXPECT_EQ(quint8(sim.burnedPage(0).at(0)), 99);
  // Bytes of a type the codec cannot write stay 0 in the encoded page.
  EXPECT_EQ(sim.burnedPage(0).at(22), '\0');
  EXPECT_EQ(sim.burnCount(), 3);
  EXPECT_DOUBLE_EQ(*tune.readTune(sim, definition).find(QStringLiteral("reqFuel"))->scalarValue,
                   9.9);
}

TEST_F(TuneTransferTest, WriteTuneOfALegacyTuneSendsItsRawPagesUnburned) {
  Tune legacy;
  legacy.pages = PageImages{{3, QByteArray(128, '\x33')}, {1, QByteArray(288, '\x11')}};
  tune.writeTune(sim, definition, legacy, false);
  EXPECT_EQ(sim.workingPage(0), QByteArray(288, '\x11'));
  EXPECT_EQ(sim.workingPage(1), QByteArray(512, '\0'));
  EXPECT_EQ(sim.workingPage(2), QByteArray(128, '\x33'));
  EXPECT_EQ(sim.burnCount(), 0);
  EXPECT_EQ(sim.burnedPage(0), QByteArray(288, '\0'));
}

TEST_F(TuneCommsTest, WholeTuneEdgeCasesOverAScriptedEcu) {
  const EcuDefinition& d = test::syntheticDefinition();
  decideFraming(true);
  service.writeTune(conn, d, Tune{}, true);  // neither values nor pages: nothing is sent
  EXPECT_TRUE(commandWrites().isEmpty());

  // Every chunk and burn refused: all pages are still sent, in order, each with its burn.
  for (int i = 0; i < 11; ++i) {
    conn.queueReply(responseFrame(hex("84")));
  }
  Tune legacy;
  legacy.pages = test::syntheticPages();
  service.writeTune(conn, d, legacy, true);
  QList<QByteArray> heads;
  for (const QByteArray& w : commandWrites()) {
    heads.append(w.mid(2, 3).toHex());
  }
  EXPECT_EQ(heads, (QList<QByteArray>{"4d0001", "4d0001", "4d0001", "620001", "4d0002", "4d0002",
                                      "4d0002", "4d0002", "620002", "4d0003", "620003"}));

  // A page that cannot be read ends the whole read.
  conn.queueReply(okFrame(QByteArray(128, '\0')));
  try {
    service.readTune(conn, d);
    FAIL() << "no exception";
  } catch (const PageReadError& e) {
    EXPECT_STREQ(e.what(), "Failed to read page 1 at offset 128");
  }
}

}  // namespace
}  // namespace tk::comms
