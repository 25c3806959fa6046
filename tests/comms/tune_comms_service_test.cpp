// Tune transfer against a scripted ECU on a fake clock, and whole tunes against the simulated
// ECU. Command shapes, text queries, signatures, config errors and chunked page reads are pinned
// by the dump-tunecomms golden vectors; here are retries, failures, limits and pacing.

#include "comms/tune_comms_service.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include "comms/command_builder.h"
#include "comms/ecu_command_service.h"
#include "comms/sim_ecu_connection.h"
#include "comms_fakes.h"
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

QByteArray framed(const QByteArray& payload) { return EcuCommandService::wrapFrame(payload); }

class TuneCommsTest : public ::testing::Test {
 protected:
  void SetUp() override { conn.open(); }

  // Settles the framing decision with a probe; its write and time are not counted.
  void decideFraming(bool crc) {
    conn.queueReply(crc ? QByteArrayLiteral("001") : QByteArrayLiteral("ok!"));
    ASSERT_EQ(service.usesCrcFraming(), crc);
    probeWrites = conn.writes().size();
    lap();
  }

  QList<QByteArray> commandWrites() const { return conn.writes().mid(probeWrites); }

  qint64 lap() {
    const qint64 ms = clock.nowMs() - mark;
    mark = clock.nowMs();
    return ms;
  }

  FakeClock clock;
  qint64 mark = 0;
  ScriptedEcuConnection conn;
  EcuCommandService commands{nullptr, clock};
  TuneCommsService service{commands, conn};
  qsizetype probeWrites = 0;
};

TEST_F(TuneCommsTest, FramingIsProbedOnceForTheServicesConnection) {
  conn.queueReply(QByteArrayLiteral("001 and more"));
  EXPECT_TRUE(service.usesCrcFraming());
  EXPECT_TRUE(service.usesCrcFraming());
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(commands.connection(), &conn);
  EXPECT_EQ(lap(), 50);
  // Two bytes are no answer, and silence is none either: unframed after the 500 ms deadline.
  for (const QByteArray& answer : {QByteArrayLiteral("00"), QByteArray()}) {
    ScriptedEcuConnection other;
    other.open();
    other.queueReply(answer);
    EXPECT_FALSE(TuneCommsService(commands, other).usesCrcFraming());
    EXPECT_EQ(other.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
    EXPECT_EQ(lap(), 50 + 500);
  }
}

TEST_F(TuneCommsTest, ForcedCrcDiscardsTheWakeUpAnswerWithoutProbing) {
  conn.queueReply(QByteArray(100, 'w'));
  service.forceCrcProtocol();
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(lap(), 50 + 100);
  service.forceCrcProtocol();  // a silent ECU: one more read after 50 ms, then on
  EXPECT_EQ(lap(), 50 + 50 + 100);
  EXPECT_TRUE(service.usesCrcFraming());
  EXPECT_EQ(conn.writes(), (QList<QByteArray>{QByteArrayLiteral("F"), QByteArrayLiteral("F")}));
  EXPECT_FALSE(commands.isBusy());
}

TEST_F(TuneCommsTest, AChunkIsTriedThreeTimesAndAShortOneNotAgain) {
  const EcuDefinition d = twoPages(256, 128);
  const QByteArray page = pattern(256, 5);
  decideFraming(true);
  conn.queueReply(okFrame(page.left(128)));
  conn.queueReply(responseFrame(hex("84")));
  conn.queueReply(responseFrame(hex("80")));
  conn.queueReply(hex("0003004142DEADBEEF"));
  try {
    service.readPage(d, 1);
    FAIL() << "no exception";
  } catch (const PageReadError& e) {
    EXPECT_STREQ(e.what(), "Failed to read page 2 at offset 128");
  }
  EXPECT_EQ(commandWrites().size(), 4);
  EXPECT_EQ(commandWrites().at(1), commandWrites().at(3));
  // Each failure drains for 50 ms; a retry waits 50 ms more.
  EXPECT_EQ(lap(), 3 * 50 + 2 * 50);
  conn.queueReply(okFrame(pattern(127, 0)));
  EXPECT_THROW(service.readPage(d, 0), PageReadError);
  EXPECT_EQ(commandWrites().size(), 5);
}

TEST_F(TuneCommsTest, PagesWithoutSizeOrReadCommandHaveNoValueAndSendNothing) {
  EcuDefinition d = twoPages(128, 128);
  d.PageSizes = {0};
  d.PageReadCommands = {QStringLiteral("p%2i%2o%2c"), QString()};
  EXPECT_FALSE(service.readPage(d, 0).has_value());
  EXPECT_FALSE(service.readPage(d, 1).has_value());
  d.PageSizes = {128, 128};
  EXPECT_FALSE(service.readPage(d, 1).has_value());
  EXPECT_FALSE(service.readPage(d, 5).has_value());
  EXPECT_TRUE(conn.writes().isEmpty());
}

TEST_F(TuneCommsTest, UnframedPagesAreRawBytesGivenUpAfterTenEmptyReads) {
  const EcuDefinition d = twoPages(100, 64);
  const QByteArray page = pattern(100, 7);
  decideFraming(false);
  conn.queueReply(page.left(64));
  conn.queueReply(page.mid(64));
  EXPECT_EQ(service.readPage(d, 0), page);
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{hex("70000100004000"), hex("70000140002400")}));
  conn.queueReply(page.left(10));
  lap();
  EXPECT_THROW(service.readPage(d, 0), PageReadError);
  EXPECT_EQ(lap(), 9 * 50);
}

TEST_F(TuneCommsTest, ChunkWritesReportTheVerdictOnlyWhenFramed) {
  EcuDefinition d = twoPages(256, 128);
  decideFraming(true);
  conn.queueReply(okFrame({}));
  EXPECT_TRUE(service.writeChunk(d, 1, 16, hex("0A0B0C")));
  EXPECT_EQ(commandWrites().at(0), framed(hex("4D0002100003000A0B0C")));
  conn.queueReply(responseFrame(hex("84")));
  EXPECT_FALSE(service.writeChunk(d, 1, 16, hex("0A0B0C")));
  d.PageChunkWriteCommands = {QStringLiteral("M%2i%2o%2c%v"), QString()};
  EXPECT_FALSE(service.writeChunk(d, 1, 0, hex("01")));
  EXPECT_FALSE(service.writeChunk(d, 2, 0, hex("01")));
  EXPECT_EQ(commandWrites().size(), 2);
}

TEST_F(TuneCommsTest, PagesAreWrittenInBoundedChunksWhateverTheEcuSays) {
  const QByteArray page = pattern(600, 1);
  decideFraming(true);
  for (int i = 0; i < 4; ++i) {
    conn.queueReply(responseFrame(hex("84")));  // refusals do not stop the page
  }
  service.writePage(twoPages(600, 0), 0, page, true);
  QList<QByteArray> w = commandWrites();
  ASSERT_EQ(w.size(), 6);
  for (int i = 0; i < 5; ++i) {
    const int n = i < 4 ? 128 : 88;
    EXPECT_EQ(w.at(i), framed(QByteArrayLiteral("M") + hex("0001") + intToBytes(i * 128, 2, true) +
                              intToBytes(n, 2, true) + page.mid(i * 128, n)));
  }
  EXPECT_EQ(w.at(5), framed(hex("620001")));
  // Chunks of at most 4096, no more bytes than the page holds, no burn unless asked.
  service.writePage(twoPages(5000, 100000), 1, pattern(6000, 2), false);
  w = commandWrites().mid(6);
  ASSERT_EQ(w.size(), 2);
  EXPECT_EQ(w.at(0).size(), 2 + 7 + 4096 + 4);
  EXPECT_EQ(w.at(1).mid(2, 7), hex("4D000200108803"));
  // Without a chunk template nothing is sent, not even the burn.
  EcuDefinition none = twoPages(64, 128);
  none.PageChunkWriteCommands = {QString()};
  service.writePage(none, 0, pattern(64, 0), true);
  service.writePage(none, 1, pattern(64, 0), true);
  EXPECT_EQ(commandWrites().size(), 8);
}

TEST_F(TuneCommsTest, WritesArePacedAndBurnsWaitForThePageToActivate) {
  const struct {
    bool crc;
    int activationDelay;
    qint64 elapsedMs;
  } cases[] = {{false, 250, 20 + 250}, {false, 0, 20 + 100}, {true, 250, 250}, {true, 0, 0}};
  for (const auto& c : cases) {
    ScriptedEcuConnection link;
    link.open();
    link.queueReply(c.crc ? QByteArrayLiteral("001") : QByteArrayLiteral("ok!"));
    link.queueReply(okFrame({}));
    link.queueReply(responseFrame(hex("04")));
    TuneCommsService tune(commands, link);
    EcuDefinition d = twoPages(128, 128);
    d.PageActivationDelay = c.activationDelay;
    ASSERT_EQ(tune.usesCrcFraming(), c.crc);
    lap();
    tune.writePage(d, 0, pattern(128, 0), true);
    EXPECT_EQ(lap(), c.elapsedMs) << c.crc << c.activationDelay;
    EXPECT_EQ(link.writes().back(), c.crc ? framed(hex("620001")) : hex("620001"));
  }
  decideFraming(false);
  EXPECT_TRUE(service.writeChunk(twoPages(256, 128), 0, 2, hex("FF")));
  EXPECT_EQ(lap(), 10);
}

TEST_F(TuneCommsTest, TextQueriesMapNonAsciiRetryShortRepliesAndPauseWhenUnframed) {
  decideFraming(true);
  conn.queueReply(okFrame("abc"));
  conn.queueReply(responseFrame(hex("83")));
  EXPECT_FALSE(service.querySignatureText(QStringLiteral("Q\u00E9")).has_value());
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{framed("Q?"), framed("Q?")}));
  EXPECT_EQ(lap(), 100);
  EcuDefinition blank = twoPages(64, 128);
  blank.Signature = QStringLiteral("  ");
  conn.queueReply(okFrame("    "));
  conn.queueReply(okFrame("    "));
  EXPECT_FALSE(service.verifySignature(blank));

  service.resetProtocolCache();
  decideFraming(false);
  conn.queueReply(QByteArrayLiteral("speeduino 202501\x80"));
  EXPECT_EQ(service.querySignatureText(QStringLiteral("Q")), QStringLiteral("speeduino 202501?"));
  EXPECT_EQ(lap(), 100);
  EXPECT_EQ(commandWrites(), QList<QByteArray>{QByteArrayLiteral("Q")});
}

TEST_F(TuneCommsTest, OnlyPrintableNonZeroTextIsAConfigurationError) {
  const struct {
    QByteArray reply;
    const char* expected;  // nullptr for no value
  } cases[] = {{QByteArray("\t pin 3 conflict \r\n\0", 20), "pin 3 conflict"},
               {QByteArray("0\r\n\0", 4), nullptr},
               {QByteArray("\0\0", 2), nullptr},
               {QByteArray("caf\xE9"), nullptr}};
  EcuDefinition d = twoPages(64, 128);
  for (const bool crc : {true, false}) {
    service.resetProtocolCache();
    decideFraming(crc);
    for (const auto& c : cases) {
      conn.queueReply(crc ? okFrame(c.reply) : c.reply);
      const std::optional<QString> r = service.readConfigError(d);
      EXPECT_EQ(r, c.expected ? std::optional(QString::fromLatin1(c.expected)) : std::nullopt);
      EXPECT_EQ(commandWrites().back(), crc ? framed("e") : QByteArrayLiteral("e"));
    }
  }
}

TEST_F(TuneCommsTest, WholeTunesOverAScriptedEcu) {
  const EcuDefinition& d = test::syntheticDefinition();
  decideFraming(true);
  service.writeTune(d, Tune{}, true);  // neither values nor pages: nothing is sent
  EXPECT_TRUE(commandWrites().isEmpty());
  // Nothing answered: all pages are still sent, in order, each with its burn.
  Tune legacy;
  legacy.pages = test::syntheticPages();
  service.writeTune(d, legacy, true);
  QList<QByteArray> heads;
  for (const QByteArray& w : commandWrites()) {
    heads.append(w.mid(2, 3).toHex());
  }
  EXPECT_EQ(heads, (QList<QByteArray>{"4d0001", "4d0001", "4d0001", "620001", "4d0002", "4d0002",
                                      "4d0002", "4d0002", "620002", "4d0003", "620003"}));
  // A page that cannot be read ends the whole read.
  conn.queueReply(okFrame(QByteArray(128, '\0')));
  EXPECT_THROW(service.readTune(d), PageReadError);
}

// Whole tunes against the simulated ECU.
class TuneTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.open();
    tune.forceCrcProtocol();
  }

  const EcuDefinition& definition = test::syntheticDefinition();
  FakeClock clock;
  SimEcuConnection sim{definition};
  EcuCommandService commands{nullptr, clock};
  TuneCommsService tune{commands, sim};
};

TEST_F(TuneTransferTest, ReadTuneDecodesEveryPageAndStampsTheTime) {
  const PageImages pages = test::syntheticPages();
  for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
    sim.loadPage(it.key() - 1, it.value());
  }
  const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
  const Tune read = tune.readTune(definition);
  EXPECT_EQ(read.fields, decodePages(pages, definition).fields);
  EXPECT_EQ(read.signature, QStringLiteral("speeduino 202501-tk"));
  EXPECT_EQ(read.writeTimestamp.size(), 24);
  EXPECT_TRUE(read.writeTimestamp.endsWith(QLatin1Char('Z')));
  EXPECT_GE(QDateTime::fromString(read.writeTimestamp, Qt::ISODateWithMs), before);
  // Pages without a read command or a size are skipped.
  EcuDefinition d = definition;
  d.PageReadCommands[1] = QString();
  d.PageSizes[2] = 0;
  const Tune partial = tune.readTune(d);
  EXPECT_NE(partial.find(QStringLiteral("reqFuel")), nullptr);
  EXPECT_EQ(partial.find(QStringLiteral("veTable")), nullptr);
  EXPECT_EQ(partial.find(QStringLiteral("fanOn")), nullptr);
}

TEST_F(TuneTransferTest, WriteTuneEncodesValuesAndBurnsEveryPageButRawPagesAsGiven) {
  Tune t = decodePages(test::syntheticPages(), definition);
  t.find(QStringLiteral("reqFuel"))->scalarValue = 9.9;
  tune.writeTune(definition, t, true);
  const PageImages encoded = encodeTune(t, definition);
  for (int index = 0; index < 3; ++index) {
    EXPECT_EQ(sim.burnedPage(index), encoded.value(index + 1)) << index;
  }
  EXPECT_EQ(sim.burnCount(), 3);
  EXPECT_DOUBLE_EQ(*tune.readTune(definition).find(QStringLiteral("reqFuel"))->scalarValue, 9.9);

  Tune legacy;
  legacy.pages = PageImages{{3, QByteArray(128, '\x33')}, {1, QByteArray(288, '\x11')}};
  tune.writeTune(definition, legacy, false);
  EXPECT_EQ(sim.workingPage(0), QByteArray(288, '\x11'));
  EXPECT_EQ(sim.workingPage(1), encoded.value(2));
  EXPECT_EQ(sim.workingPage(2), QByteArray(128, '\x33'));
  EXPECT_EQ(sim.burnCount(), 3);
}

}  // namespace
}  // namespace tk::comms
