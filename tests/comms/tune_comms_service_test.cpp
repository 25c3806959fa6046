// Tune transfer against a scripted ECU on a fake clock. The dump-tunecomms golden vectors pin
// command shapes, text queries, signatures, config errors and chunked page reads; here are
// retries, failures, limits and pacing. Whole tunes cross real transports in connection_test.

#include "comms/tune_comms_service.h"

#include <gtest/gtest.h>

#include "comms_fakes.h"

namespace tk::comms {
namespace {

using test::framed;
using test::hex;
using test::okFrame;

// Two pages of the given size with the usual templates; little-endian numbers.
EcuDefinition twoPages(int pageSize, int blockingFactor) {
  EcuDefinition d;
  d.PageSizes = {pageSize, pageSize};
  d.PageIdentifiers = {QStringLiteral("\\$tsCanId\\x01"), QStringLiteral("\\$tsCanId\\x02")};
  d.PageReadCommands = {QStringLiteral("p%2i%2o%2c"), QStringLiteral("p%2i%2o%2c")};
  d.PageChunkWriteCommands = {QStringLiteral("M%2i%2o%2c%v"), QStringLiteral("M%2i%2o%2c%v")};
  d.BurnCommands = {QStringLiteral("b%2i"), QStringLiteral("b%2i")};
  d.BlockingFactor = blockingFactor;
  return d;
}

QByteArray pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  }
  return bytes;
}

class TuneCommsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn.setClock(clock);
    conn.open();
  }

  // Settles the framing decision with a probe; its write and time are not counted.
  void decideFraming(bool crc) {
    service.resetProtocolCache();
    conn.queueReply(crc ? QByteArrayLiteral("001") : QByteArrayLiteral("ok!"));
    ASSERT_EQ(service.usesCrcFraming(), crc);
    probeWrites = conn.writes().size();
    clock.lap();
  }

  QList<QByteArray> commandWrites() const { return conn.writes().mid(probeWrites); }

  test::LapClock clock;
  ScriptedEcuConnection conn;
  EcuCommandService commands{nullptr, clock};
  TuneCommsService service{commands, conn};
  qsizetype probeWrites = 0;
};

TEST_F(TuneCommsTest, FramingIsProbedOnceAndForcingItSkipsTheProbe) {
  conn.queueReply(QByteArrayLiteral("001 and more"));
  EXPECT_TRUE(service.usesCrcFraming());
  EXPECT_TRUE(service.usesCrcFraming());
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(clock.lap(), 50);
  // Two bytes are no answer, and silence is none either: unframed after the 500 ms deadline.
  for (const QByteArray& answer : {QByteArrayLiteral("00"), QByteArray()}) {
    ScriptedEcuConnection other;
    other.setClock(clock);
    other.open();
    other.queueReply(answer);
    EXPECT_FALSE(TuneCommsService(commands, other).usesCrcFraming());
    EXPECT_EQ(clock.lap(), 50 + 500);
  }
  // The wake-up answer is read (64 bytes at most) and the rest drained; a silent ECU gets one
  // more read after 50 ms.
  service.resetProtocolCache();
  conn.queueReply(QByteArray(100, 'w'));
  service.forceCrcProtocol();
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(clock.lap(), 50 + 100);
  service.forceCrcProtocol();
  EXPECT_EQ(clock.lap(), 50 + 50 + 100);
  EXPECT_TRUE(service.usesCrcFraming());
}

TEST_F(TuneCommsTest, ChunksAreTriedThreeTimesAShortOneOnceAndAbsentPagesNotAtAll) {
  const EcuDefinition d = twoPages(256, 128);
  decideFraming(true);
  conn.queueReply(okFrame(pattern(128)));
  conn.queueReply(framed(hex("84")));
  conn.queueReply(framed(hex("80")));
  conn.queueReply(hex("0003004142DEADBEEF"));
  EXPECT_EQ(service.readPage(d, 1).error, QStringLiteral("Failed to read page 2 at offset 128"));
  EXPECT_EQ(commandWrites().size(), 4);
  EXPECT_EQ(commandWrites().at(1), commandWrites().at(3));
  EXPECT_EQ(clock.lap(), 3 * 150 + 2 * 50);  // each failure drains for 150 ms, a retry waits 50
  conn.queueReply(okFrame(pattern(127)));
  EXPECT_TRUE(service.readPage(d, 0).failed());
  EXPECT_EQ(commandWrites().size(), 5);

  EcuDefinition absent = d;  // page 1 without a size, page 2 without a read command
  absent.PageSizes = {0, 128};
  absent.PageReadCommands = {QStringLiteral("p%2i%2o%2c"), QString()};
  for (int page = 0; page < 3; ++page) {
    const PageRead read = service.readPage(absent, page);
    EXPECT_FALSE(read.bytes || read.failed()) << page;
  }
  EXPECT_EQ(commandWrites().size(), 5);
}

TEST_F(TuneCommsTest, UnframedPagesAreRawBytesGivenUpAfterTenEmptyReads) {
  const EcuDefinition d = twoPages(100, 64);
  const QByteArray page = pattern(100);
  decideFraming(false);
  conn.queueReply(page.left(64));
  conn.queueReply(page.mid(64));
  EXPECT_EQ(service.readPage(d, 0).bytes, page);
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{hex("70000100004000"), hex("70000140002400")}));
  conn.queueReply(page.left(10));
  EXPECT_TRUE(service.readPage(d, 0).failed());
  EXPECT_EQ(clock.lap(), 10 * 100 + 9 * 50);
}

TEST_F(TuneCommsTest, PagesAreWrittenInBoundedChunksAndStopAtTheFirstRefusal) {
  const QByteArray page = pattern(600);
  decideFraming(true);
  for (int i = 0; i < 5; ++i) {
    conn.queueReply(okFrame({}));
  }
  conn.queueReply(framed(hex("04")));
  EXPECT_FALSE(service.writePage(twoPages(600, 0), 0, page, true).failed());
  QList<QByteArray> w = commandWrites();
  ASSERT_EQ(w.size(), 6);
  EXPECT_EQ(w.at(0), framed(QByteArrayLiteral("M") + hex("000100008000") + page.left(128)));
  EXPECT_EQ(w.at(4), framed(QByteArrayLiteral("M") + hex("000100025800") + page.mid(512)));
  EXPECT_EQ(w.at(5), framed(hex("620001")));
  // A refused chunk (status 0x84), an unanswered one, a refused burn: the page stops there and
  // nothing after it is sent.
  const struct {
    QList<QByteArray> replies;
    const char* message;
  } refusals[] = {
      {{okFrame({}), framed(hex("84"))},
       "page 1: the controller did not take the chunk write at offset 128 (status 0x84)"},
      {{},
       "page 1: the controller did not take the chunk write at offset 0 (Response timeout "
       "after 500ms)"},
      {{okFrame({}), okFrame({}), okFrame({}), okFrame({}), okFrame({}), framed(hex("83"))},
       "page 1: the controller did not take the burn (status 0x83)"},
  };
  for (const auto& r : refusals) {
    const qsizetype before = commandWrites().size();
    for (const QByteArray& reply : r.replies) {
      conn.queueReply(reply);
    }
    EXPECT_EQ(service.writePage(twoPages(600, 0), 0, page, true).error, QLatin1String(r.message));
    EXPECT_EQ(commandWrites().size() - before, std::max<qsizetype>(r.replies.size(), 1));
    conn.read(1 << 20, 0);
  }
  // Chunks of at most 4096, no more bytes than the page holds, no burn unless asked.
  const qsizetype sent = commandWrites().size();
  conn.queueReply(okFrame({}));
  conn.queueReply(okFrame({}));
  EXPECT_FALSE(service.writePage(twoPages(5000, 100000), 1, pattern(6000), false).failed());
  w = commandWrites().mid(sent);
  ASSERT_EQ(w.size(), 2);
  EXPECT_EQ(w.at(0).size(), 2 + 7 + 4096 + 4);
  EXPECT_EQ(w.at(1).mid(2, 7), hex("4D000200108803"));
  // Without a chunk template nothing is sent, not even the burn, and a chunk write fails.
  EcuDefinition none = twoPages(64, 128);
  none.PageChunkWriteCommands = {QString()};
  EXPECT_FALSE(service.writePage(none, 0, pattern(64), true).failed());
  EXPECT_FALSE(service.writePage(none, 1, pattern(64), true).failed());
  EXPECT_FALSE(service.writeChunk(none, 0, 0, hex("01")));
  EXPECT_EQ(commandWrites().size(), sent + 2);
  conn.queueReply(framed(hex("84")));
  EXPECT_FALSE(service.writeChunk(twoPages(64, 128), 1, 16, hex("0A0B0C")));
  EXPECT_EQ(commandWrites().back(), framed(hex("4D0002100003000A0B0C")));
}

TEST_F(TuneCommsTest, WritesArePacedAndBurnsWaitForThePageToActivate) {
  const struct {
    bool crc;
    int activationDelay;
    qint64 elapsedMs;
  } cases[] = {{false, 250, 20 + 250}, {false, 0, 20 + 100}, {true, 250, 250}, {true, 0, 0}};
  for (const auto& c : cases) {
    EcuDefinition d = twoPages(128, 128);
    d.PageActivationDelay = c.activationDelay;
    decideFraming(c.crc);
    conn.queueReply(okFrame({}));
    conn.queueReply(framed(hex("04")));
    EXPECT_FALSE(service.writePage(d, 0, pattern(128), true).failed());
    EXPECT_EQ(clock.lap(), c.elapsedMs) << c.crc << c.activationDelay;
    EXPECT_EQ(commandWrites().back(), c.crc ? framed(hex("620001")) : hex("620001"));
    conn.read(1 << 20, 0);
  }
  decideFraming(false);
  EXPECT_TRUE(service.writeChunk(twoPages(256, 128), 0, 2, hex("FF")));  // unframed: trusted
  EXPECT_EQ(clock.lap(), 10);
}

TEST_F(TuneCommsTest, TextQueriesRetryAfterAPauseAndPauseBeforeReadingWhenUnframed) {
  decideFraming(true);
  conn.queueReply(okFrame("abc"));
  conn.queueReply(framed(hex("83")));
  EXPECT_FALSE(service.querySignatureText(QStringLiteral("Q\u00E9")).has_value());
  EXPECT_EQ(commandWrites(), (QList<QByteArray>{framed("Q?"), framed("Q?")}));
  EXPECT_EQ(clock.lap(), 100);
  decideFraming(false);
  conn.queueReply(QByteArrayLiteral("speeduino 202501\x80"));
  EXPECT_EQ(service.querySignatureText(QStringLiteral("Q")), QStringLiteral("speeduino 202501?"));
  EXPECT_EQ(clock.lap(), 100);
}

TEST_F(TuneCommsTest, WholeTunesGoPageByPageAndAPageThatCannotBeReadEndsTheRead) {
  const EcuDefinition& d = test::syntheticDefinition();
  decideFraming(true);
  EXPECT_FALSE(service.writeTune(d, Tune{}, true).failed());  // neither values nor pages: nothing
  EXPECT_TRUE(commandWrites().isEmpty());
  // Raw legacy pages, in order, each with its burn; a refused burn ends the tune there.
  Tune legacy;
  legacy.pages = PageImages{{3, QByteArray(128, '\x33')}, {1, QByteArray(288, '\x11')}};
  for (const char* status : {"00", "00", "00", "04", "00", "04"}) {
    conn.queueReply(framed(hex(status)));
  }
  EXPECT_FALSE(service.writeTune(d, legacy, true).failed());
  QList<QByteArray> heads;
  for (const QByteArray& w : commandWrites()) {
    heads.append(w.mid(2, 3).toHex());
  }
  EXPECT_EQ(heads, (QList<QByteArray>{"4d0001", "4d0001", "4d0001", "620001", "4d0003", "620003"}));
  EXPECT_EQ(commandWrites().at(0).mid(9, 128), QByteArray(128, '\x11'));
  for (const char* status : {"00", "00", "00", "84"}) {
    conn.queueReply(framed(hex(status)));
  }
  EXPECT_EQ(service.writeTune(d, legacy, true).error,
            QStringLiteral("page 1: the controller did not take the burn (status 0x84)"));
  EXPECT_EQ(commandWrites().size(), 6 + 4);
  conn.queueReply(okFrame(QByteArray(128, '\0')));
  const TuneRead read = service.readTune(d);
  EXPECT_EQ(read.error.toStdString(), "Failed to read page 1 at offset 128");
  EXPECT_TRUE(read.tune.fields.isEmpty());
}

}  // namespace
}  // namespace tk::comms
