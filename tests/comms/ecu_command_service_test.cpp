// The framed protocol against a scripted ECU on a fake clock, so that every wait is exact and
// takes no real time. Frames, CRC detection per mode, the plain failures, buffer reads, console and
// resync are pinned by the dump-ecucmd golden vectors; here are the faults and the timing.

#include "comms/ecu_command_service.h"

#include <gtest/gtest.h>

#include "comms_fakes.h"

namespace tk::comms {
namespace {

using test::hex;
using test::okFrame;
using test::responseFrame;
using test::TimedEcu;

const QByteArray kGood = okFrame(hex("01020304"));

class FramedProtocolTest : public ::testing::Test {
 protected:
  // Milliseconds of the fake clock since the last call.
  qint64 lap() {
    const qint64 ms = clock.nowMs() - mark;
    mark = clock.nowMs();
    return ms;
  }

  FakeClock clock;
  qint64 mark = 0;
  TimedEcu ecu{clock};
  EcuCommandService service{&ecu, clock};
};

// One misbehaving reply: its exact result, how long the exchange took on the clock, and whether
// the next command finds a clean stream.
struct Fault {
  const char* name;
  QByteArray reply;
  qint64 atMs = 0;       // when the first byte arrives
  qint64 byteGapMs = 0;  // 0: all at once; else one byte every byteGapMs
  bool hangUp = false;   // the line drops right after the reply
  int greedyFromRead = -1;
  int timeoutMs = 0;
  EcuResponse expected;
  qint64 elapsedMs = 0;
  enum { Recovers, Stuck, NotConnected } next = Recovers;
};

EcuResponse failed(const char* error, FrameOutcome outcome, quint8 code = 0xFF) {
  return EcuResponse{false, code, {}, QString::fromLatin1(error), outcome};
}

QByteArray flippedLastByte(QByteArray bytes) {
  bytes[bytes.size() - 1] = char(bytes.back() ^ 0x01);
  return bytes;
}

const EcuResponse kOk{true, 0, hex("01020304"), {}, FrameOutcome::Ok};

const Fault kFaults[] = {
    // A timeout drains for 50 ms after the deadline; every other failure drains at once.
    {"Silent",
     {},
     0,
     0,
     false,
     -1,
     500,
     failed("Response timeout after 500ms", FrameOutcome::Timeout),
     550},
    {"SlowAtNinetyPercent", kGood, 2700, 0, false, -1, 3000, kOk, 2700},
    {"LateByOneMillisecond", kGood, 3001, 0, false, -1, 3000,
     failed("Response timeout after 3000ms", FrameOutcome::Timeout), 3050},
    {"PartialThenSilence", kGood.left(5), 0, 0, false, -1, 300,
     failed("Response timeout after 300ms", FrameOutcome::Timeout), 350},
    {"TrickledWithinTheDeadline", kGood, 10, 10, false, -1, 250, kOk, 110},
    {"TrickledPastTheDeadline", kGood.left(4), 100, 100, false, -1, 250,
     failed("Response timeout after 250ms", FrameOutcome::Timeout), 300, Fault::Stuck},
    {"GarbageBeforeTheFrame", hex("A5") + kGood, 0, 0, false, -1, 1000,
     failed("Invalid payload size: 42240", FrameOutcome::BadLength), 50},
    {"WrongCrc", flippedLastByte(kGood), 0, 0, false, -1, 1000,
     failed("CRC mismatch", FrameOutcome::BadCrc, 0x82), 50},
    {"MoreHeaderBytesThanAsked", kGood, 0, 0, false, 0, 1000,
     failed("Failed to read response header (timeout)", FrameOutcome::BadHeader), 50, Fault::Stuck},
    {"MoreBodyBytesThanAsked", kGood + hex("0000"), 0, 0, false, 1, 1000,
     failed("Incomplete response: got 11, expected 9", FrameOutcome::Incomplete), 50, Fault::Stuck},
    {"LineDropsMidReply", kGood.left(4), 20, 0, true, -1, 800,
     failed("Response timeout after 800ms", FrameOutcome::Timeout), 850, Fault::NotConnected},
};

class FaultTest : public FramedProtocolTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, GivesItsExactResultInTimeAndLeavesAStreamToGoOn) {
  const Fault& f = GetParam();
  QList<TimedEcu::Piece> pieces;
  for (qsizetype i = 0; i < f.reply.size(); ++i) {
    if (f.byteGapMs > 0) {
      pieces.append({f.atMs + i * f.byteGapMs, f.reply.mid(i, 1)});
    } else if (i == 0) {
      pieces.append({f.atMs, f.reply});
    }
  }
  if (f.hangUp) {
    pieces.append({f.atMs, {}, true});
  }
  ecu.queueTimed(pieces);
  ecu.greedyFromRead = f.greedyFromRead;
  EXPECT_EQ(service.sendCommand(hex("520000000004"), f.timeoutMs), f.expected);
  EXPECT_EQ(lap(), f.elapsedMs);
  EXPECT_FALSE(service.isBusy());
  if (f.next == Fault::Recovers) {
    EXPECT_EQ(ecu.bytesAvailable(), 0);
    ecu.reply(kGood);
    EXPECT_EQ(service.sendCommand(hex("520000000004"), 1000), kOk);
  } else if (f.next == Fault::NotConnected) {
    EXPECT_EQ(service.sendCommand(hex("520000000004"), 1000),
              failed("Not connected", FrameOutcome::NotConnected));
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, FaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FramedProtocolTest, ClassifiesEveryStatusByteAndDrainsOnlyAfterARefusal) {
  const struct {
    quint8 status;
    const char* error;
  } cases[] = {{0x00, ""},
               {0x04, ""},
               {0x83, ""},
               {0x80, "TS_RESPONSE_UNDERRUN"},
               {0x81, "TS_RESPONSE_OVERRUN"},
               {0x82, "TS_RESPONSE_CRC_FAILURE"},
               {0x84, "TS_RESPONSE_OUT_OF_RANGE"},
               {0x8D, "TS_RESPONSE_FRAMING_ERROR"},
               {0x05, "Unknown error 0x05"},
               {0x8E, "Unknown error 0x8E"},
               {0xFF, "Unknown error 0xFF"}};
  for (const auto& c : cases) {
    const bool ok = *c.error == '\0';
    ecu.reply(responseFrame(QByteArray(1, char(c.status)) + hex("AA")) + hex("0102"));
    EXPECT_EQ(
        service.sendCommand("A", 1000),
        (EcuResponse{ok, c.status, ok ? hex("AA") : QByteArray(), QString::fromLatin1(c.error),
                     ok ? FrameOutcome::Ok : FrameOutcome::EcuError}))
        << int(c.status);
    EXPECT_EQ(ecu.read(16), ok ? hex("0102") : QByteArray());
  }
}

TEST_F(FramedProtocolTest, DetectedCrcModeAndByteOrderHoldUntilTheNextConnection) {
  QByteArray largest(32768, '\x11');  // the largest payload passes
  largest[0] = 0;
  ecu.reply(responseFrame(largest));
  EXPECT_EQ(service.sendCommand("A", 3000).data.size(), 32767);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Payload);
  service.setConnection(&ecu);
  // Length and payload covered, little-endian: mode 3 is fixed, and the big-endian form of the
  // same CRC no longer passes.
  ecu.reply(hex("00050001020304") + hex("1C6AD95A"));
  EXPECT_EQ(service.sendCommand("A", 1000), kOk);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::LengthAndPayload);
  EXPECT_TRUE(service.crcLittleEndian());
  ecu.reply(hex("00050001020304") + hex("5AD96A1C"));
  EXPECT_EQ(service.sendCommand("A", 1000).outcome, FrameOutcome::BadCrc);
  service.setConnection(&ecu);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Unknown);
  // A status byte alone: CRC 0 matches the data-only mode.
  ecu.reply(hex("00010000000000"));
  EXPECT_EQ(service.sendCommand("A", 1000), (EcuResponse{true, 0, {}, {}, FrameOutcome::Ok}));
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Data);
}

TEST_F(FramedProtocolTest, ReadIntoCopiesOnlyAcceptedDataAndDrainsAllButATimeout) {
  const struct {
    QByteArray reply;
    int count;
    qint64 elapsedMs;
  } cases[] = {
      {responseFrame(hex("0041424344")), 2, 0},              // clamped to maxCount
      {responseFrame(hex("844142")) + hex("0102"), -1, 50},  // refused
      {responseFrame(hex("834142")), -1, 50},                // 0x83 is no success here
      {hex("00000102"), -1, 50},                             // length 0
      {hex("00030041420000000099"), -1, 50},                 // bad CRC
      {hex("0003"), -1, 120},                                // timeout, no drain
  };
  for (const auto& c : cases) {
    QByteArray dest(4, '.');
    ecu.reply(c.reply);
    EXPECT_EQ(service.readResponseInto(EcuCommandService::wrapFrame("r"), dest, 1, 2, 120),
              c.count);
    EXPECT_EQ(dest, c.count > 0 ? QByteArrayLiteral(".AB.") : QByteArrayLiteral("...."));
    EXPECT_EQ(lap(), c.elapsedMs) << c.reply.toHex().constData();
    EXPECT_EQ(ecu.bytesAvailable(), 0);
  }
  QByteArray dest(4, '.');
  ecu.setForcedWriteResult(1);
  EXPECT_EQ(service.readResponseInto(EcuCommandService::wrapFrame("r"), dest, 0, 1, 120), -1);
  ecu.close();
  EXPECT_EQ(service.readResponseInto(EcuCommandService::wrapFrame("r"), dest, 0, 1, 120), -1);
  EXPECT_FALSE(service.isBusy());
}

TEST_F(FramedProtocolTest, ConsoleStopsAtThePromptMapsNonAsciiAndGivesNothingForBlanks) {
  // The prompt ends the reading; what comes within 20 ms more is still taken.
  ecu.queueTimed({{0, QByteArrayLiteral("ok >")}, {15, hex("C3A9")}});
  EXPECT_EQ(service.sendConsoleCommand(QStringLiteral("s\u00E9t"), 1000), QStringLiteral("ok >??"));
  EXPECT_EQ(ecu.writes().back(), QByteArrayLiteral("s?t\n"));
  EXPECT_EQ(lap(), 20);
  ecu.reply(hex("000D0A000A"));
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 200).has_value());
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_EQ(lap(), 20 + 100);
  ecu.setForcedWriteResult(0);
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_EQ(lap(), 0);
}

TEST_F(FramedProtocolTest, ResyncWakesWithAnUnframedFAndGivesUpAfterTwoSeconds) {
  ecu.appendPendingInput(QByteArray(100, 'n'));
  // The answer in two parts, the second during the short wait after the first.
  ecu.queueTimed({{50, QByteArrayLiteral("00")}, {80, QByteArrayLiteral("1")}});
  EXPECT_TRUE(service.resync());
  EXPECT_EQ(ecu.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(lap(), 200 + 50 + 50 + 50 + 50 + 50 + 50);
  EXPECT_FALSE(service.resync());
  EXPECT_EQ(lap(), 200 + 50 + 50 + 50 + 2000);
  ecu.setForcedWriteResult(0);
  EXPECT_FALSE(service.resync());
  EXPECT_FALSE(EcuCommandService(nullptr, clock).resync());
}

TEST_F(FramedProtocolTest, ASecondExchangeDuringOneIsRefusedAtOnce) {
  EcuResponse inner;
  int innerInto = 0;
  bool innerResync = true;
  std::optional<QString> innerConsole = QStringLiteral("x");
  ecu.onWrite = [&] {
    inner = service.sendCommand("B", 1000);
    QByteArray dest(4, '\0');
    innerInto = service.readResponseInto(EcuCommandService::wrapFrame("B"), dest, 0, 4, 1000);
    innerResync = service.resync();
    innerConsole = service.sendConsoleCommand(QStringLiteral("x"), 1000);
    service.drainInput();
    service.sendWithoutResponse("B");
  };
  ecu.appendPendingInput(hex("77"));
  ecu.reply(kGood);
  EXPECT_EQ(service.sendCommand("A", 1000), kOk);
  EXPECT_EQ(inner, failed("Command lock timeout", FrameOutcome::Busy));
  EXPECT_EQ(innerInto, -1);
  EXPECT_FALSE(innerResync);
  EXPECT_FALSE(innerConsole.has_value());
  EXPECT_EQ(ecu.writes().size(), 1);  // nothing of the refused calls reached the wire
  EXPECT_EQ(lap(), 0);
}

TEST_F(FramedProtocolTest, PurgeAndDrainAreBounded) {
  // Seven reads of 4096 are discarded; the eighth would pass 32767 and ends the purge.
  ecu.setForcedWriteResult(0);
  ecu.appendPendingInput(QByteArray(40000, 's'));
  EXPECT_EQ(service.sendCommand("A", 100),
            failed("Command write failed", FrameOutcome::WriteFailed));
  EXPECT_EQ(ecu.bytesAvailable(), 7232);
  ecu.read(1 << 20);
  ecu.appendPendingInput(QByteArray(32767, 's'));
  service.sendCommand("A", 100);
  EXPECT_EQ(ecu.bytesAvailable(), 0);
  // drainInput stops after ten reads of 4096, or at the first empty one.
  ecu.appendPendingInput(QByteArray(50000, 'd'));
  const int before = ecu.readCalls();
  service.drainInput();
  EXPECT_EQ(ecu.bytesAvailable(), 50000 - 10 * 4096);
  service.drainInput();
  EXPECT_EQ(ecu.readCalls() - before, 10 + 4);
}

}  // namespace
}  // namespace tk::comms
