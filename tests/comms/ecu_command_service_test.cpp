// The framed protocol against a scripted ECU on a fake clock: every wait is exact and takes no
// real time. The dump-ecucmd golden vectors pin frames, CRC detection per mode, the plain
// failures, buffer reads, console and resync; here are the faults and the timing.

#include "comms/ecu_command_service.h"

#include <gtest/gtest.h>

#include "comms_fakes.h"

namespace tk::comms {
namespace {

using test::framed;
using test::hex;
using test::okFrame;
using test::TimedEcu;

const QByteArray kGood = okFrame(hex("01020304"));

class FramedProtocolTest : public ::testing::Test {
 protected:
  test::LapClock clock;
  TimedEcu ecu{clock};
  EcuCommandService service{&ecu, clock};
};

const EcuResponse kOk{true, 0, hex("01020304"), {}, FrameOutcome::Ok};

// One reply, good or bad: its exact result (the status is the ECU's, 0x82 for a CRC mismatch or
// 0xFF) and how long the exchange took on the clock: a failure drains 50 ms after it, then reads
// until a read finds nothing in 100 ms. The next command must find a clean stream, unless the
// line is gone.
struct Fault {
  enum Quirk { None, HangsUp, GreedyHeader, GreedyBody };

  const char* name;
  QByteArray reply;
  qint64 atMs;       // when the first byte arrives
  qint64 byteGapMs;  // 0: all at once; else one byte every byteGapMs
  int timeoutMs;
  FrameOutcome outcome;
  const char* error;  // none: the timeout's
  qint64 elapsedMs;
  Quirk quirk = None;  // the line drops after the reply, or reads hand out more than asked
};

const QByteArray kBadCrc = kGood.left(10) + char(kGood.back() ^ 1);
QByteArray withStatus(quint8 status) {
  return framed(QByteArray(1, char(status)) + hex("01020304"));
}

const Fault kFaults[] = {
    {"Status04", withStatus(0x04), 0, 0, 1000, FrameOutcome::Ok, "", 0},
    {"Status83", withStatus(0x83), 0, 0, 1000, FrameOutcome::Ok, "", 0},
    {"Status80", withStatus(0x80), 0, 0, 1000, FrameOutcome::EcuError, "TS_RESPONSE_UNDERRUN", 150},
    {"Status81", withStatus(0x81), 0, 0, 1000, FrameOutcome::EcuError, "TS_RESPONSE_OVERRUN", 150},
    {"Status82", withStatus(0x82), 0, 0, 1000, FrameOutcome::EcuError, "TS_RESPONSE_CRC_FAILURE",
     150},
    {"Status84", withStatus(0x84), 0, 0, 1000, FrameOutcome::EcuError, "TS_RESPONSE_OUT_OF_RANGE",
     150},
    {"Status8D", withStatus(0x8D), 0, 0, 1000, FrameOutcome::EcuError, "TS_RESPONSE_FRAMING_ERROR",
     150},
    {"Status05", withStatus(0x05), 0, 0, 1000, FrameOutcome::EcuError, "Unknown error 0x05", 150},
    {"Status8E", withStatus(0x8E), 0, 0, 1000, FrameOutcome::EcuError, "Unknown error 0x8E", 150},
    {"Silent", {}, 0, 0, 500, FrameOutcome::Timeout, nullptr, 650},
    {"SlowAtNinetyPercent", kGood, 2700, 0, 3000, FrameOutcome::Ok, "", 2700},
    {"LateByOneMs", kGood, 3001, 0, 3000, FrameOutcome::Timeout, nullptr, 3150},
    {"PartialThenSilence", kGood.left(5), 0, 0, 300, FrameOutcome::Timeout, nullptr, 450},
    {"TrickledInTime", kGood, 10, 10, 250, FrameOutcome::Ok, "", 110},
    // Header and body share one deadline; the drain reads on while the bytes keep coming.
    {"TrickledPastTheDeadline", kGood.left(4), 100, 100, 250, FrameOutcome::Timeout, nullptr, 500},
    {"GarbageFirst", hex("A5") + kGood, 0, 0, 1000, FrameOutcome::BadLength,
     "Invalid payload size: 42240", 150},
    {"WrongCrc", kBadCrc, 0, 0, 1000, FrameOutcome::BadCrc, "CRC mismatch", 150},
    {"OverlongHeader", kGood, 0, 0, 1000, FrameOutcome::BadHeader,
     "Failed to read response header (timeout)", 150, Fault::GreedyHeader},
    {"OverlongBody", kGood + hex("0000"), 0, 0, 1000, FrameOutcome::Incomplete,
     "Incomplete response: got 11, expected 9", 150, Fault::GreedyBody},
    // A lost line ends the exchange at once, with the connection's message.
    {"LineDropsMidReply", kGood.left(4), 20, 0, 800, FrameOutcome::Lost, "peer hung up", 70,
     Fault::HangsUp},
};

class FaultTest : public FramedProtocolTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, GivesItsExactResultInTimeAndLeavesAStreamToGoOn) {
  const Fault& f = GetParam();
  QList<TimedEcu::Piece> pieces{
      {f.atMs, f.byteGapMs > 0 ? QByteArray() : f.reply, f.quirk == Fault::HangsUp}};
  for (qsizetype i = 0; f.byteGapMs > 0 && i < f.reply.size(); ++i) {
    pieces.append({f.atMs + i * f.byteGapMs, f.reply.mid(i, 1)});
  }
  ecu.queueTimed(pieces);
  ecu.greedyFromRead = f.quirk == Fault::GreedyHeader ? 0 : f.quirk == Fault::GreedyBody ? 1 : -1;
  const QByteArray command = hex("520000000004");
  const bool ok = f.outcome == FrameOutcome::Ok;
  const QString error = f.error ? QString::fromLatin1(f.error)
                                : QStringLiteral("Response timeout after %1ms").arg(f.timeoutMs);
  const quint8 code = ok || f.outcome == FrameOutcome::EcuError ? quint8(f.reply.at(2))
                      : f.outcome == FrameOutcome::BadCrc       ? 0x82
                                                                : 0xFF;
  EXPECT_EQ(service.sendCommand(command, f.timeoutMs),
            (EcuResponse{ok, code, ok ? hex("01020304") : QByteArray(), error, f.outcome}));
  EXPECT_EQ(clock.lap(), f.elapsedMs);
  EXPECT_EQ(ecu.bytesAvailable(), 0);
  ecu.greedyFromRead = -1;
  ecu.reply(kGood);
  EXPECT_EQ(service.sendCommand(command, 1000).outcome,
            f.quirk == Fault::HangsUp ? FrameOutcome::NotConnected : FrameOutcome::Ok);
}

INSTANTIATE_TEST_SUITE_P(Replies, FaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FramedProtocolTest, DetectedCrcModeAndByteOrderHoldUntilTheNextConnection) {
  QByteArray largest(32768, '\x11');  // the largest payload passes
  largest[0] = 0;
  ecu.reply(framed(largest));
  EXPECT_EQ(service.sendCommand("A", 3000).data.size(), 32767);
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Payload);
  service.setConnection(&ecu);
  // Length and payload covered, little-endian: mode 3 is fixed; the big-endian form then fails.
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

TEST_F(FramedProtocolTest, ReadIntoRefusesAllButPlainSuccessAndDrainsAllButATimeout) {
  const std::pair<QByteArray, qint64> refused[] = {
      {framed(hex("834142")), 150},  // 0x83 is no success here
      {framed(hex("844142")) + hex("0102"), 150},
      {hex("00000102"), 150},
      {hex("00030041420000000099"), 150},  // bad CRC
      {hex("0003"), 120},                  // the deadline
  };
  QList<QByteArray> unknown;  // the requests answered 0x83, as the observer hears of them
  service.setUnknownCommandObserver([&unknown](const QByteArray& r) { unknown.append(r); });
  QByteArray dest(4, '.');
  for (const auto& [reply, elapsedMs] : refused) {
    ecu.reply(reply);
    EXPECT_EQ(service.readResponseInto(framed("r"), dest, 1, 2, 120), -1);
    EXPECT_EQ(clock.lap(), elapsedMs) << reply.toHex().constData();
    EXPECT_EQ(ecu.bytesAvailable(), 0);
  }
  ecu.reply(framed(hex("83")));
  EXPECT_TRUE(service.sendCommand("V", 1000).ok);
  EXPECT_EQ(unknown, (QList<QByteArray>{"r", "V"}));
  ecu.setForcedWriteResult(1);
  EXPECT_EQ(service.readResponseInto(framed("r"), dest, 0, 1, 120), -1);
  EXPECT_EQ(dest, QByteArrayLiteral("...."));
}

TEST_F(FramedProtocolTest, ConsoleStopsAtThePromptMapsNonAsciiAndGivesNothingForBlanks) {
  // The prompt ends the reading; what comes within 20 ms more is still taken.
  ecu.queueTimed({{0, QByteArrayLiteral("ok >")}, {15, hex("C3A9")}});
  EXPECT_EQ(service.sendConsoleCommand(QStringLiteral("s\u00E9t"), 1000), QStringLiteral("ok >??"));
  EXPECT_EQ(ecu.writes().back(), QByteArrayLiteral("s?t\n"));
  EXPECT_EQ(clock.lap(), 20);
  ecu.reply(hex("000D0A000A"));
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 200).has_value());
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_EQ(clock.lap(), 20 + 100 + 100);  // the read after the line end waits 100 ms
  ecu.setForcedWriteResult(0);
  EXPECT_FALSE(service.sendConsoleCommand(QStringLiteral("x"), 100).has_value());
  EXPECT_EQ(clock.lap(), 0);
}

TEST_F(FramedProtocolTest, ResyncWakesWithAnUnframedFAndGivesUpAfterTwoSeconds) {
  ecu.appendPendingInput(QByteArray(100, 'n'));
  // The answer in two parts, the second during the short wait after the first.
  ecu.queueTimed({{50, QByteArrayLiteral("00")}, {80, QByteArrayLiteral("1")}});
  EXPECT_TRUE(service.resync());
  EXPECT_EQ(ecu.writes(), QList<QByteArray>{QByteArrayLiteral("F")});
  EXPECT_EQ(clock.lap(), 200 + 150 + 50 + 50 + 50 + 50 + 150);  // each drain ends on 100 ms
  EXPECT_FALSE(service.resync());
  EXPECT_EQ(clock.lap(), 200 + 150 + 50 + 50 + 2000);
  ecu.setForcedWriteResult(0);
  EXPECT_FALSE(service.resync());
  EXPECT_FALSE(EcuCommandService(nullptr, clock).resync());
}

TEST_F(FramedProtocolTest, ASecondExchangeDuringOneIsRefusedAtOnce) {
  QList<bool> refused;
  ecu.onWrite = [&] {
    QByteArray dest(4, '\0');
    refused = {service.sendCommand("B", 1000) ==
                   EcuResponse{
                       false, 0xFF, {}, QStringLiteral("Command lock timeout"), FrameOutcome::Busy},
               service.readResponseInto(framed("B"), dest, 0, 4, 1000) == -1, !service.resync(),
               !service.sendConsoleCommand(QStringLiteral("x"), 1000)};
    service.drainInput();
    service.sendWithoutResponse("B");
  };
  ecu.appendPendingInput(hex("77"));
  ecu.reply(kGood);
  EXPECT_EQ(service.sendCommand("A", 1000), kOk);
  EXPECT_EQ(refused, QList<bool>(4, true));
  EXPECT_EQ(ecu.writes().size(), 1);  // nothing of the refused calls reached the wire
  EXPECT_EQ(clock.lap(), 0);
}

TEST_F(FramedProtocolTest, PurgeAndDrainAreBounded) {
  // Seven reads of 4096 are discarded; the eighth would pass 32767 and ends the purge.
  ecu.setForcedWriteResult(0);
  ecu.appendPendingInput(QByteArray(40000, 's'));
  EXPECT_EQ(service.sendCommand("A", 100).outcome, FrameOutcome::WriteFailed);
  EXPECT_EQ(ecu.bytesAvailable(), 40000 - 8 * 4096);
  // drainInput stops after ten reads of 4096, or at the first empty one.
  ecu.appendPendingInput(QByteArray(50000, 'd'));
  service.drainInput();
  EXPECT_EQ(ecu.bytesAvailable(), 7232 + 50000 - 10 * 4096);
  const int before = ecu.readCalls();
  service.drainInput();
  EXPECT_EQ(ecu.readCalls() - before, 5);
}

}  // namespace
}  // namespace tk::comms
