#include "comms/sim_ecu_connection.h"

#include <gtest/gtest.h>

#include "comms/crc32.h"
#include "comms/ecu_command_service.h"
#include "comms/sim_engine.h"
#include "comms/tune_comms_service.h"
#include "frame_helpers.h"

namespace tk::comms {
namespace {

using test::hex;

const EcuDefinition& synthetic() { return test::syntheticDefinition(); }

class SimEcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.setClock([this] { return clockMs; });
    sim.open();
    commands.setConnection(&sim);
  }

  // One framed exchange straight against the simulator.
  EcuResponse framed(const QByteArray& payload) { return commands.sendCommand(payload, 500); }

  // What the simulator answers to raw bytes, read at once.
  QByteArray raw(const QByteArray& bytes) {
    sim.write(bytes);
    return sim.read(1 << 20);
  }

  qint64 clockMs = 0;
  SimEcuConnection sim{synthetic()};
  EcuCommandService commands;
  TuneCommsService tune{commands};
};

TEST_F(SimEcuTest, IdentityAndStatus) {
  EXPECT_EQ(sim.id(), QStringLiteral("SIM:demo"));
  EXPECT_EQ(sim.displayName(), QStringLiteral("Simulated ECU (demo)"));
  EXPECT_EQ(sim.status(), ConnectionStatus::Connected);
  sim.close();
  EXPECT_EQ(sim.status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(sim.write("F"), 0);
  EXPECT_EQ(sim.bytesAvailable(), 0);
}

TEST_F(SimEcuTest, UnframedQueriesAnswerUnframed) {
  EXPECT_EQ(raw("F"), QByteArrayLiteral("001"));
  EXPECT_EQ(raw("Q"), QByteArrayLiteral("speeduino 202501-tk"));
  EXPECT_EQ(raw("S"), QByteArrayLiteral("speeduino 202501-tk"));
  EXPECT_EQ(raw("V"), QByteArrayLiteral("Torvik Simulated ECU 1.0"));
  // Up to eight bytes starting with a query letter are one command, not the start of a frame.
  EXPECT_EQ(raw("Sxx"), QByteArray());
  EXPECT_EQ(raw("e"), QByteArrayLiteral("ok: 0"));
}

TEST_F(SimEcuTest, FramedQueriesAnswerFramed) {
  EXPECT_EQ(framed("Q"), (EcuResponse{true, 0, QByteArrayLiteral("speeduino 202501-tk"), {}}));
  EXPECT_EQ(framed("V").data, QByteArrayLiteral("Torvik Simulated ECU 1.0"));
  EXPECT_EQ(framed("F").data, QByteArrayLiteral("001"));
  EXPECT_EQ(commands.crcCoverage(), CrcCoverage::Payload);
  EXPECT_FALSE(commands.crcLittleEndian());
}

TEST_F(SimEcuTest, SplitFramesWaitAndJoinedFramesAreAnsweredInOrder) {
  const QByteArray q = EcuCommandService::wrapFrame("Q");
  const QByteArray v = EcuCommandService::wrapFrame("V");
  EXPECT_EQ(sim.write(q.left(3)), 3);
  EXPECT_EQ(sim.bytesAvailable(), 0);
  sim.write(q.mid(3) + v);
  EXPECT_EQ(sim.read(1 << 20),
            test::okFrame("speeduino 202501-tk") + test::okFrame("Torvik Simulated ECU 1.0"));
}

TEST_F(SimEcuTest, BadCrcOrBadLengthIsTakenAsOneUnframedCommand) {
  QByteArray bad = EcuCommandService::wrapFrame("Q");
  bad[bad.size() - 1] = char(bad.back() ^ 0x5A);
  EXPECT_EQ(raw(bad), QByteArray());
  EXPECT_EQ(raw(hex("0000")), QByteArray());
  EXPECT_EQ(raw(hex("9C4000")), QByteArray());
  // The buffer is clean again afterwards.
  EXPECT_EQ(framed("Q").data, QByteArrayLiteral("speeduino 202501-tk"));
  // An unframed command whose first two bytes read as a plausible length waits as a frame.
  EXPECT_EQ(raw(hex("72003000000400")), QByteArray());
  sim.close();
  sim.open();
  EXPECT_EQ(framed("Q").data, QByteArrayLiteral("speeduino 202501-tk"));
}

TEST_F(SimEcuTest, UnknownCommandsAreUnrecognised) {
  EXPECT_EQ(framed("Z"), (EcuResponse{true, 0x83, {}, {}}));
  EXPECT_EQ(framed(hex("5401")).status, 0x83);  // an unknown logger sub-command
  EXPECT_EQ(raw(hex("7A7A7A7A7A7A7A7A7A")), QByteArray());
}

TEST_F(SimEcuTest, PagesReadWriteBurnAndPowerCycle) {
  tune.forceCrcProtocol(sim);
  const QByteArray page2 = test::syntheticPages().value(2);
  tune.writePage(sim, synthetic(), 1, page2, false);
  EXPECT_EQ(sim.workingPage(1), page2);
  EXPECT_EQ(sim.burnedPage(1), QByteArray(512, '\0'));
  EXPECT_EQ(tune.readPage(sim, synthetic(), 1), page2);

  sim.powerCycle();
  EXPECT_EQ(tune.readPage(sim, synthetic(), 1), QByteArray(512, '\0'));

  tune.writePage(sim, synthetic(), 1, page2, true);
  EXPECT_EQ(sim.burnedPage(1), page2);
  EXPECT_EQ(sim.burnCount(), 1);
  sim.powerCycle();
  EXPECT_EQ(tune.readPage(sim, synthetic(), 1), page2);
  EXPECT_EQ(sim.workingPage(0), QByteArray(288, '\0'));
}

TEST_F(SimEcuTest, PageCommandsCheckRangeAndLength) {
  sim.loadPage(2, QByteArray(200, '\x07'));  // longer than the page: cut to 128
  EXPECT_EQ(sim.burnedPage(2), QByteArray(128, '\x07'));
  // Read 16 bytes at 120 of page 3: beyond its 128 bytes.
  EXPECT_EQ(framed(hex("70000378001000")).status, 0x84);
  EXPECT_EQ(framed(hex("70000370001000")).data, QByteArray(16, '\x07'));
  // Chunk writes whose count disagrees with the bytes given.
  EXPECT_EQ(framed(hex("4D0003000003000102")).status, 0x80);
  EXPECT_EQ(framed(hex("4D0003000001000102")).status, 0x81);
  EXPECT_EQ(framed(hex("4D000380000100AA")).status, 0x84);
  EXPECT_EQ(framed(hex("4D00037F000100AA")), (EcuResponse{true, 0, {}, {}}));
  EXPECT_EQ(sim.workingPage(2).back(), '\xAA');
  // The CRC check answers the CRC-32 of the working page, big-endian.
  const quint32 crc = crc32(sim.workingPage(2));
  EXPECT_EQ(framed(hex("640003")).data,
            hex(QByteArray::number(crc, 16).rightJustified(8, '0').constData()));
  EXPECT_EQ(framed(hex("620003")).status, 0x04);
  EXPECT_EQ(sim.burnedPage(2), sim.workingPage(2));
  // A page the definition does not have.
  EXPECT_EQ(framed(hex("70000400000100")).status, 0x83);
  EXPECT_TRUE(sim.workingPage(3).isEmpty());
}

TEST_F(SimEcuTest, RealtimeBlockFollowsTheEngine) {
  // Offset 0, count 48: the request of the definition's realtime command.
  const QByteArray request = hex("72003000003000");
  clockMs = 0;
  const EcuResponse idle = framed(request);
  ASSERT_TRUE(idle.ok);
  ASSERT_EQ(idle.data.size(), 48);
  clockMs = 15000;  // half way through the load sweep
  const QByteArray full = framed(request).data;
  const auto u16 = [](const QByteArray& b, int at) {
    return quint8(b[at]) | (quint8(b[at + 1]) << 8);
  };
  EXPECT_NEAR(u16(idle.data, 14), 850, 20);  // rpm at idle
  EXPECT_NEAR(u16(full, 14), 5500, 20);      // rpm at full load
  EXPECT_EQ(quint8(idle.data[7]), 20 + 40);  // coolant 20 C cold, translate -40
  EXPECT_GT(quint8(full[7]), 20 + 40);       // warming
  EXPECT_EQ(quint8(full[0]), 15);            // secl
  EXPECT_EQ(quint8(full[16]), 200);          // tps 100 % at scale 0.5
  EXPECT_EQ(quint8(full[2]) & 0x03, 0x01);   // running, not cranking
  EXPECT_EQ(quint8(idle.data[36]), 0);       // a channel the engine does not model
  // Chunks of the block, and a request beyond it.
  EXPECT_EQ(framed(hex("7200300E000200")).data, full.mid(14, 2));
  EXPECT_EQ(framed(hex("7200302F000200")).status, 0x84);
}

TEST_F(SimEcuTest, LoggersCaptureOnlyAfterStarting) {
  EXPECT_EQ(framed("T").status, 0x84);  // not started
  EXPECT_EQ(framed("H"), (EcuResponse{true, 0, {}, {}}));
  EXPECT_EQ(framed("T").status, 0x84);  // nothing captured yet
  clockMs = 15000;
  const EcuResponse teeth = framed("T");
  ASSERT_TRUE(teeth.ok);
  ASSERT_EQ(teeth.data.size(), 508);
  const auto gap = [&](int record) {
    const QByteArray r = teeth.data.mid(record * 4, 4);
    return (quint32(quint8(r[0])) << 24) | (quint32(quint8(r[1])) << 16) |
           (quint32(quint8(r[2])) << 8) | quint32(quint8(r[3]));
  };
  // About 5500 rpm on a 36-1 wheel: 303 us a tooth, twice that over the gap.
  EXPECT_NEAR(gap(0), 303, 3);
  EXPECT_NEAR(gap(34), 606, 6);
  EXPECT_EQ(framed("h").status, 0);
  EXPECT_EQ(framed("T").status, 0x84);
  EXPECT_EQ(framed("J").status, 0);
  clockMs += 100;
  const EcuResponse composite = framed("O");
  ASSERT_TRUE(composite.ok);
  EXPECT_EQ(composite.data.size(), 1275);
  EXPECT_EQ(quint8(composite.data[0]) & 0x04, 0x04);  // trigger flag set on every record
}

TEST_F(SimEcuTest, ControllerCommandsAreAccepted) {
  EXPECT_EQ(framed(hex("450201")), (EcuResponse{true, 0, {}, {}}));
  EXPECT_EQ(framed(hex("450100")), (EcuResponse{true, 0, {}, {}}));
  EXPECT_EQ(framed(hex("450203")).status, 0x83);
}

TEST(SimEngineTest, BlockUsesTheDefinitionsByteOrderAndTypes) {
  EcuDefinition d = synthetic();
  d.Endianness = QStringLiteral("BIG");
  const SimEngineState s = simEngineState(15.0);
  const QByteArray block = simRealtimeBlock(d, s);
  const int rpm = (quint8(block[14]) << 8) | quint8(block[15]);
  EXPECT_EQ(rpm, static_cast<int>(std::nearbyint(s.rpm)));
  EXPECT_EQ(static_cast<qint8>(block[13]), static_cast<int>(std::nearbyint(s.advance)));
  d.OchBlockSize = 0;
  EXPECT_EQ(simRealtimeBlock(d, s).size(), 100);
  EXPECT_FALSE(simChannelValue(QStringLiteral("nonsense"), s).has_value());
  EXPECT_EQ(simChannelValue(QStringLiteral("CLT"), s),
            simChannelValue(QStringLiteral("coolant"), s));
  EXPECT_EQ(simEngineState(-5).seconds, 0);
}

}  // namespace
}  // namespace tk::comms
