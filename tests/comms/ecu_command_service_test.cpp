#include "comms/ecu_command_service.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <functional>
#include <utility>

#include "comms/scripted_ecu_connection.h"
#include "frame_helpers.h"

namespace tk::comms {
namespace {

using test::hex;
using test::responseFrame;

// Hands out more bytes than asked for once the first reads are done, as a broken driver might.
class OverdeliveringConnection : public ScriptedEcuConnection {
 public:
  explicit OverdeliveringConnection(int exactReads) : exactReads_(exactReads) {}
  QByteArray read(qint64 maxBytes) override {
    return exactReads_-- > 0 ? ScriptedEcuConnection::read(maxBytes)
                             : ScriptedEcuConnection::read(1 << 20);
  }

 private:
  int exactReads_;
};

// Runs a one-shot hook from inside write, the way a slot could run while an exchange waits.
class ReentrantConnection : public ScriptedEcuConnection {
 public:
  std::function<void()> onWrite;
  qint64 write(const QByteArray& bytes) override {
    if (const std::function<void()> hook = std::exchange(onWrite, nullptr)) {
      hook();
    }
    return ScriptedEcuConnection::write(bytes);
  }
};

class FramedProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { conn.open(); }

  EcuResponse send(const QByteArray& reply, int timeoutMs = 1000) {
    conn.queueReply(reply);
    return service.sendCommand(QByteArrayLiteral("A"), timeoutMs);
  }

  ScriptedEcuConnection conn;
  EcuCommandService service{&conn};
};

TEST(FrameTest, WrapsPayloadWithBigEndianLengthAndCrc) {
  EXPECT_EQ(EcuCommandService::wrapFrame({}), hex("000000000000"));
  EXPECT_EQ(EcuCommandService::wrapFrame("Q"), hex("000151CE6E8EEF"));
  EXPECT_EQ(EcuCommandService::wrapFrame(hex("0001020304")), hex("00050001020304515AD3CC"));
  const QByteArray big(300, 'x');
  EXPECT_EQ(EcuCommandService::wrapFrame(big).left(2), hex("012C"));
  EXPECT_EQ(EcuCommandService::wrapFrame(big).size(), 306);
}

TEST(FrameTest, ScaledTimeoutGrowsOneMillisecondPerEightBytesAbove1600) {
  const std::pair<int, int> cases[] = {{0, 500},    {1, 500},    {1599, 500}, {1600, 500},
                                       {1607, 500}, {1608, 501}, {4096, 812}, {32767, 4395}};
  for (const auto& [bytes, ms] : cases) {
    EXPECT_EQ(EcuCommandService::scaledTimeoutMs(bytes), ms) << bytes;
  }
}

TEST_F(FramedProtocolTest, RoundTripReturnsStatusAndData) {
  const EcuResponse r = send(hex("00050001020304515AD3CC"));
  EXPECT_EQ(r, (EcuResponse{true, 0x00, hex("01020304"), QString()}));
  ASSERT_EQ(conn.writes().size(), 1);
  EXPECT_EQ(conn.writes().at(0), hex("000141D3D99E8B"));
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Payload);
  EXPECT_FALSE(service.crcLittleEndian());
  EXPECT_FALSE(service.isBusy());
}

// Payload 00 01 02 03 04 with its CRC under each coverage, in both byte orders.
struct DetectCase {
  CrcCoverage mode;
  bool little;
  const char* crc;
  const char* otherOrderCrc;
};

class CrcDetectionTest : public FramedProtocolTest,
                         public ::testing::WithParamInterface<DetectCase> {};

TEST_P(CrcDetectionTest, DetectsCoverageAndByteOrderThenHoldsToThem) {
  const DetectCase c = GetParam();
  const QByteArray head = hex("00050001020304");
  const EcuResponse first = send(head + hex(c.crc));
  EXPECT_TRUE(first.ok) << first.error.toStdString();
  EXPECT_EQ(first.data, hex("01020304"));
  EXPECT_EQ(service.crcCoverage(), c.mode);
  EXPECT_EQ(service.crcLittleEndian(), c.little);

  // Once fixed, the other byte order of the same CRC no longer passes.
  const EcuResponse second = send(head + hex(c.otherOrderCrc));
  EXPECT_EQ(second, (EcuResponse{false, 0x82, {}, QStringLiteral("CRC mismatch")}));
  EXPECT_EQ(service.crcCoverage(), c.mode);

  service.setConnection(&conn);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Unknown);
  EXPECT_FALSE(service.crcLittleEndian());
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, CrcDetectionTest,
    ::testing::Values(DetectCase{CrcCoverage::Payload, false, "515AD3CC", "CCD35A51"},
                      DetectCase{CrcCoverage::Payload, true, "CCD35A51", "515AD3CC"},
                      DetectCase{CrcCoverage::Data, false, "B63CFBCD", "CDFB3CB6"},
                      DetectCase{CrcCoverage::Data, true, "CDFB3CB6", "B63CFBCD"},
                      DetectCase{CrcCoverage::LengthAndPayload, false, "5AD96A1C", "1C6AD95A"},
                      DetectCase{CrcCoverage::LengthAndPayload, true, "1C6AD95A", "5AD96A1C"},
                      DetectCase{CrcCoverage::LengthAndData, false, "EE5A0A02", "020A5AEE"},
                      DetectCase{CrcCoverage::LengthAndData, true, "020A5AEE", "EE5A0A02"}));

TEST_F(FramedProtocolTest, StatusOnlyResponseHasEmptyDataAndZeroDataCrc) {
  // The status byte alone: CRC 0 matches the data-only coverage, not the whole payload.
  const EcuResponse r = send(hex("00010000000000"));
  EXPECT_EQ(r, (EcuResponse{true, 0x00, {}, QString()}));
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Data);
  // With the whole payload covered, the same status byte carries the CRC of 00.
  service.setConnection(&conn);
  EXPECT_TRUE(send(hex("000100D202EF8D")).ok);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Payload);
}

TEST_F(FramedProtocolTest, CrcMismatchLeavesDetectionUnsetAndDrainsTheRest) {
  const EcuResponse bad = send(hex("00050001020304DEADBEEF") + QByteArray(100, 'j'));
  EXPECT_EQ(bad, (EcuResponse{false, 0x82, {}, QStringLiteral("CRC mismatch")}));
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Unknown);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_TRUE(send(hex("00050001020304515AD3CC")).ok);
}

struct StatusCase {
  quint8 status;
  bool ok;
  const char* error;
};

class StatusByteTest : public FramedProtocolTest,
                       public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusByteTest, ClassifiesTheEcuStatus) {
  const StatusCase c = GetParam();
  const QByteArray payload = QByteArray(1, char(c.status)) + hex("AA");
  const EcuResponse r = send(responseFrame(payload) + hex("0102"));
  EXPECT_EQ(r.ok, c.ok);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.error, QString::fromLatin1(c.error));
  EXPECT_EQ(r.data, c.ok ? hex("AA") : QByteArray());
  // A refusal drains what follows; a success leaves it for the caller.
  EXPECT_EQ(conn.bytesAvailable(), c.ok ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, StatusByteTest,
                         ::testing::Values(StatusCase{0x00, true, ""}, StatusCase{0x04, true, ""},
                                           StatusCase{0x83, true, ""},
                                           StatusCase{0x80, false, "TS_RESPONSE_UNDERRUN"},
                                           StatusCase{0x81, false, "TS_RESPONSE_OVERRUN"},
                                           StatusCase{0x82, false, "TS_RESPONSE_CRC_FAILURE"},
                                           StatusCase{0x84, false, "TS_RESPONSE_OUT_OF_RANGE"},
                                           StatusCase{0x8D, false, "TS_RESPONSE_FRAMING_ERROR"},
                                           StatusCase{0x05, false, "Unknown error 0x05"},
                                           StatusCase{0x01, false, "Unknown error 0x01"},
                                           StatusCase{0x8E, false, "Unknown error 0x8E"},
                                           StatusCase{0xFF, false, "Unknown error 0xFF"}));

TEST_F(FramedProtocolTest, LengthFieldBoundsAreChecked) {
  const EcuResponse zero = send(hex("0000") + QByteArray(10, 'z'));
  EXPECT_EQ(zero, (EcuResponse{false, 0xFF, {}, QStringLiteral("Invalid payload size: 0")}));
  EXPECT_EQ(conn.bytesAvailable(), 0);
  const EcuResponse over = send(hex("8001") + QByteArray(10, 'z'));
  EXPECT_EQ(over.error, QStringLiteral("Invalid payload size: 32769"));
  const EcuResponse huge = send(hex("9C40") + QByteArray(5000, 'z'));
  EXPECT_EQ(huge.error, QStringLiteral("Invalid payload size: 40000"));
  EXPECT_EQ(conn.bytesAvailable(), 0);

  QByteArray largest(32768, '\x11');
  largest[0] = 0;
  const EcuResponse max = send(responseFrame(largest), 3000);
  EXPECT_TRUE(max.ok) << max.error.toStdString();
  EXPECT_EQ(max.data.size(), 32767);
}

TEST_F(FramedProtocolTest, NotConnectedWithoutConnectionOrWhenClosed) {
  const EcuResponse expected{false, 0xFF, {}, QStringLiteral("Not connected")};
  EcuCommandService detached;
  EXPECT_EQ(detached.sendCommand("A", 100), expected);
  EXPECT_EQ(detached.readResponse(100), expected);
  conn.close();
  conn.queueReply(hex("00050001020304515AD3CC"));
  EXPECT_EQ(service.sendCommand("A", 100), expected);
  EXPECT_TRUE(conn.writes().isEmpty());
  EXPECT_EQ(conn.queuedReplies().size(), 1);
}

TEST_F(FramedProtocolTest, ShortWriteFailsAndLeavesTheReplyQueued) {
  conn.setForcedWriteResult(3);
  const EcuResponse r = send(hex("00050001020304515AD3CC"));
  EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, QStringLiteral("Command write failed")}));
  EXPECT_EQ(conn.writes().size(), 1);
  EXPECT_EQ(conn.queuedReplies().size(), 1);
  EXPECT_FALSE(service.isBusy());
}

TEST_F(FramedProtocolTest, SilentEcuTimesOutAtTheDeadline) {
  QElapsedTimer clock;
  clock.start();
  const EcuResponse r = service.sendCommand("A", 150);
  const qint64 elapsed = clock.elapsed();
  EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, QStringLiteral("Response timeout after 150ms")}));
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 150 + 1000);
}

TEST_F(FramedProtocolTest, PartialBodyTimesOutAndTheNextCommandStartsClean) {
  const EcuResponse r = send(hex("0005000102"), 100);
  EXPECT_EQ(r.error, QStringLiteral("Response timeout after 100ms"));
  EXPECT_EQ(r.status, 0xFF);
  EXPECT_TRUE(send(hex("00050001020304515AD3CC")).ok);
}

TEST_F(FramedProtocolTest, GarbageBeforeAFrameIsRejectedThenRecovered) {
  // Noise in front of the frame is read as a length; the reply is refused and drained.
  const EcuResponse r = send(hex("FFFE") + hex("00050001020304515AD3CC"));
  EXPECT_EQ(r.error, QStringLiteral("Invalid payload size: 65534"));
  EXPECT_EQ(conn.bytesAvailable(), 0);
  const EcuResponse small = send(hex("0007") + hex("00050001020304515AD3CC"), 200);
  EXPECT_FALSE(small.ok);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_TRUE(send(hex("00050001020304515AD3CC")).ok);
}

TEST(FramedProtocolOverdeliveryTest, MoreBytesThanAskedAreReportedNotMisparsed) {
  OverdeliveringConnection header(0);
  header.open();
  EcuCommandService s1(&header);
  header.queueReply(hex("00050001020304515AD3CC"));
  EXPECT_EQ(s1.sendCommand("A", 200).error,
            QStringLiteral("Failed to read response header (timeout)"));

  OverdeliveringConnection body(1);
  body.open();
  EcuCommandService s2(&body);
  body.queueReply(hex("00050001020304515AD3CC") + hex("0000"));
  EXPECT_EQ(s2.sendCommand("A", 200).error,
            QStringLiteral("Incomplete response: got 11, expected 9"));
}

TEST_F(FramedProtocolTest, StaleInputIsPurgedBeforeTheWriteUpTo32767Bytes) {
  conn.appendPendingInput(QByteArray(10, 's'));
  const EcuResponse r = send(hex("00050001020304515AD3CC"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.data, hex("01020304"));

  // Seven reads of 4096 are discarded; the eighth would pass 32767 and ends the purge, so of
  // 40000 stale bytes 7232 are still there when the (here failing) write happens.
  conn.setForcedWriteResult(0);
  conn.appendPendingInput(QByteArray(40000, 's'));
  EXPECT_EQ(service.sendCommand("A", 100).error, QStringLiteral("Command write failed"));
  EXPECT_EQ(conn.bytesAvailable(), 7232);

  ScriptedEcuConnection exact;
  exact.open();
  exact.setForcedWriteResult(0);
  exact.appendPendingInput(QByteArray(32767, 's'));
  EcuCommandService(&exact).sendCommand("A", 100);
  EXPECT_EQ(exact.bytesAvailable(), 0);
}

TEST(FramedProtocolReentryTest, SecondExchangeDuringOneIsRefusedAtOnce) {
  ReentrantConnection conn;
  conn.open();
  EcuCommandService service(&conn);
  EcuResponse inner;
  int innerInto = 0;
  bool innerResync = true;
  std::optional<QString> innerConsole = QStringLiteral("x");
  conn.onWrite = [&] {
    EXPECT_TRUE(service.isBusy());
    inner = service.sendCommand("B", 1000);
    QByteArray dest(4, '\0');
    innerInto = service.readResponseInto(EcuCommandService::wrapFrame("B"), dest, 0, 4, 1000);
    innerResync = service.resync();
    innerConsole = service.sendConsoleCommand(QStringLiteral("x"), 1000);
    service.drainInput();
    service.sendWithoutResponse("B");
  };
  conn.appendPendingInput(hex("77"));
  conn.queueReply(hex("00050001020304515AD3CC"));
  const EcuResponse outer = service.sendCommand("A", 1000);
  EXPECT_EQ(inner, (EcuResponse{false, 0xFF, {}, QStringLiteral("Command lock timeout")}));
  EXPECT_EQ(innerInto, -1);
  EXPECT_FALSE(innerResync);
  EXPECT_FALSE(innerConsole.has_value());
  EXPECT_TRUE(outer.ok);
  EXPECT_EQ(conn.writes().size(), 1);  // nothing of the refused calls reached the wire
  EXPECT_FALSE(service.isBusy());
}

TEST_F(FramedProtocolTest, SendWithoutResponseWritesTheFrameAndReadsNothing) {
  conn.queueReply(hex("0102"));
  service.sendWithoutResponse(hex("620001"));
  ASSERT_EQ(conn.writes().size(), 1);
  EXPECT_EQ(conn.writes().at(0), EcuCommandService::wrapFrame(hex("620001")));
  EXPECT_EQ(conn.readCalls(), 0);
  EXPECT_EQ(conn.bytesAvailable(), 2);
  conn.close();
  service.sendWithoutResponse(hex("620001"));
  EXPECT_EQ(conn.writes().size(), 1);
}

class ReadIntoTest : public FramedProtocolTest {
 protected:
  int readInto(const QByteArray& reply, int offset, int maxCount, int timeoutMs = 1000) {
    conn.queueReply(reply);
    return service.readResponseInto(EcuCommandService::wrapFrame("r"), dest, offset, maxCount,
                                    timeoutMs);
  }
  QByteArray dest = QByteArray(8, '.');
};

TEST_F(ReadIntoTest, CopiesAtMostMaxCountBytesAtTheOffset) {
  EXPECT_EQ(readInto(responseFrame(hex("0041424344454647")), 2, 4), 4);
  EXPECT_EQ(dest, QByteArrayLiteral("..ABCD.."));
  EXPECT_EQ(readInto(responseFrame(hex("044142")), 6, 2), 2);
  EXPECT_EQ(dest, QByteArrayLiteral("..ABCDAB"));
  EXPECT_EQ(conn.writes().at(0), EcuCommandService::wrapFrame("r"));
  // A status byte alone gives 0 and leaves the buffer alone.
  EXPECT_EQ(readInto(responseFrame(hex("00")), 0, 8), 0);
  EXPECT_EQ(dest, QByteArrayLiteral("..ABCDAB"));
}

TEST_F(ReadIntoTest, RefusesStatus83ErrorsBadFramesShortWritesTimeoutsAndClosedLinks) {
  EXPECT_EQ(readInto(responseFrame(hex("834142")), 0, 2), -1);
  EXPECT_EQ(readInto(responseFrame(hex("844142")) + hex("0102"), 0, 2), -1);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(readInto(hex("0000") + hex("0102"), 0, 2), -1);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(readInto(hex("00030041420000000099"), 0, 2), -1);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(dest, QByteArray(8, '.'));
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(readInto(hex("0003"), 0, 2, 120), -1);
  EXPECT_LT(clock.elapsed(), 120 + 1000);
  conn.setForcedWriteResult(1);
  EXPECT_EQ(readInto(responseFrame(hex("0041")), 0, 1), -1);
  EXPECT_FALSE(service.isBusy());
  conn.close();
  EXPECT_EQ(readInto(responseFrame(hex("0041")), 0, 1), -1);
}

TEST_F(FramedProtocolTest, ConsoleReplyLosesLineEndsStopsAtThePromptAndMapsNonAscii) {
  conn.queueReply(QByteArrayLiteral("version 1.0\r\n"));
  EXPECT_EQ(service.sendConsoleCommand(QStringLiteral("ver"), 1000), QStringLiteral("version 1.0"));
  EXPECT_EQ(conn.writes().at(0), QByteArrayLiteral("ver\n"));
  // The reply ends at the prompt; non-ASCII becomes "?" both ways.
  conn.queueReply(hex("6F6B203E") + hex("C3A9"));
  const std::optional<QString> r = service.sendConsoleCommand(QStringLiteral("s\u00E9t"), 1000);
  EXPECT_EQ(r, QStringLiteral("ok >??"));
  EXPECT_EQ(conn.writes().at(1), QByteArrayLiteral("s?t\n"));
}

TEST_F(FramedProtocolTest, ConsoleGivesNothingForBlankReplyOrSilence) {
  conn.queueReply(hex("000D0A000A"));
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 200).has_value());
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_GE(clock.elapsed(), 100);
  EXPECT_LT(clock.elapsed(), 100 + 1000);
  conn.setForcedWriteResult(0);
  conn.queueReply(QByteArrayLiteral("late\n"));
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_FALSE(service.isBusy());
}

TEST_F(FramedProtocolTest, ResyncSendsAnUnframedFAndReportsAnAnswer) {
  conn.appendPendingInput(QByteArray(100, 'n'));
  conn.queueReply(QByteArrayLiteral("001"));
  EXPECT_TRUE(service.resync());
  EXPECT_EQ(conn.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_FALSE(service.isBusy());

  conn.setForcedWriteResult(0);
  EXPECT_FALSE(service.resync());
  EXPECT_FALSE(EcuCommandService().resync());
}

TEST_F(FramedProtocolTest, ResyncOfASilentEcuGivesUpAfterItsDeadline) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(service.resync());
  EXPECT_GE(clock.elapsed(), 2000);
  EXPECT_LT(clock.elapsed(), 2300 + 1000);
}

TEST_F(FramedProtocolTest, DrainInputDiscardsAtMostTenReads) {
  conn.appendPendingInput(QByteArray(50000, 'd'));
  service.drainInput();
  EXPECT_EQ(conn.bytesAvailable(), 50000 - 10 * 4096);
  EXPECT_EQ(conn.readCalls(), 10);
  service.drainInput();
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(conn.readCalls(), 14);  // 4096 + 4096 + 848, then the empty read ends it
}

}  // namespace
}  // namespace tk::comms
