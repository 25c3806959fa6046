#include "comms/sim_ecu_connection.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include "comms/ecu_command_service.h"
#include "comms_fakes.h"

namespace tk::comms {
namespace {

using test::hex;

// The engine runs on a fake clock of its own; the protocol waits on another.
class SimEcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.setClock(engine);
    sim.open();
  }

  EcuResponse framed(const QByteArray& payload) { return commands.sendCommand(payload, 500); }
  QByteArray raw(const QByteArray& bytes) {
    sim.write(bytes);
    return sim.read(1 << 20);
  }

  FakeClock engine;
  FakeClock wire;
  SimEcuConnection sim{test::syntheticDefinition()};
  EcuCommandService commands{&sim, wire};
};

EcuResponse ok(const QByteArray& data = {}, quint8 status = 0) {
  return EcuResponse{true, status, data, {}, FrameOutcome::Ok};
}

TEST_F(SimEcuTest, AnswersQueriesAndControllerCommandsFramedAndUnframed) {
  const QByteArray signature("speeduino 202501-tk");
  const QByteArrayList answers{"001", signature, signature, "Torvik Simulated ECU 1.0", "ok: 0"};
  for (int i = 0; i < 5; ++i) {
    const QByteArray query(1, "FQSVe"[i]);
    EXPECT_EQ(raw(query), answers.at(i));
    EXPECT_EQ(framed(query), ok(answers.at(i)));
  }
  EXPECT_EQ(commands.crcCoverage(), CrcCoverage::Payload);
  EXPECT_EQ(framed(hex("450201")), ok());
  // Up to eight bytes starting with a query letter are one command, not the start of a frame.
  EXPECT_EQ(raw("Sxx"), QByteArray());
  EXPECT_EQ(framed("Z"), ok({}, 0x83));
  EXPECT_EQ(framed(hex("5401")), ok({}, 0x83));    // an unknown logger sub-command
  EXPECT_EQ(framed(hex("450203")), ok({}, 0x83));  // not a controller command
  EXPECT_EQ(raw(hex("7A7A7A7A7A7A7A7A7A")), QByteArray());
}

TEST_F(SimEcuTest, SplitFramesWaitJoinedOnesAreAnsweredInOrderBadOnesAreUnframed) {
  const QByteArray q = EcuCommandService::wrapFrame("Q");
  EXPECT_EQ(sim.write(q.left(3)), 3);
  EXPECT_EQ(sim.bytesAvailable(), 0);
  EXPECT_EQ(raw(q.mid(3) + EcuCommandService::wrapFrame("V")),
            test::okFrame("speeduino 202501-tk") + test::okFrame("Torvik Simulated ECU 1.0"));
  QByteArray bad = q;
  bad[bad.size() - 1] = char(bad.back() ^ 0x5A);
  for (const QByteArray& unframed : {bad, hex("0000"), hex("9C4000")}) {
    EXPECT_EQ(raw(unframed), QByteArray());
    EXPECT_EQ(framed("Q").data, QByteArrayLiteral("speeduino 202501-tk"));
  }
}

TEST_F(SimEcuTest, PagesAreWorkingCopiesUntilBurnedAndCheckTheirBounds) {
  sim.loadPage(2, QByteArray(200, '\x07'));  // longer than the page: cut to 128
  EXPECT_EQ(sim.burnedPage(2), QByteArray(128, '\x07'));
  EXPECT_EQ(framed(hex("70000378001000")).status, 0x84);  // 16 bytes at 120 of 128
  EXPECT_EQ(framed(hex("4D0003000003000102")).status, 0x80);
  EXPECT_EQ(framed(hex("4D0003000001000102")).status, 0x81);
  EXPECT_EQ(framed(hex("4D000380000100AA")).status, 0x84);
  EXPECT_EQ(framed(hex("4D00037F000100AA")), ok());
  EXPECT_EQ(framed(hex("70000370001000")).data, QByteArray(15, '\x07') + '\xAA');
  // The CRC check answers the CRC-32 of the working page, big-endian.
  EXPECT_EQ(qFromBigEndian<quint32>(framed(hex("640003")).data.constData()),
            crc32(sim.workingPage(2)));
  EXPECT_EQ(framed(hex("620003")), ok({}, 0x04));
  EXPECT_EQ(sim.burnedPage(2), sim.workingPage(2));
  EXPECT_EQ(sim.burnCount(), 1);
  EXPECT_EQ(framed(hex("70000400000100")).status, 0x83);  // a page the definition lacks
}

TEST_F(SimEcuTest, RealtimeBlockAndLoggersFollowTheEngine) {
  const QByteArray request = hex("72003000003000");  // offset 0, count 48
  const QByteArray idle = framed(request).data;
  EXPECT_EQ(framed("T").status, 0x84);  // the tooth logger is not started
  EXPECT_EQ(framed("H"), ok());
  EXPECT_EQ(framed("T").status, 0x84);  // nothing captured yet
  engine.advance(15000);                // half way through the load sweep
  const QByteArray full = framed(request).data;
  ASSERT_EQ(idle.size(), 48);
  EXPECT_NEAR(qFromLittleEndian<quint16>(idle.constData() + 14), 850, 20);   // rpm at idle
  EXPECT_NEAR(qFromLittleEndian<quint16>(full.constData() + 14), 5500, 20);  // at full load
  EXPECT_EQ(quint8(idle[7]), 20 + 40);  // coolant 20 C cold, translate -40
  EXPECT_EQ(framed(hex("7200300E000200")).data, full.mid(14, 2));
  EXPECT_EQ(framed(hex("7200302F000200")).status, 0x84);
  // About 5500 rpm on a 36-1 wheel: 303 us a tooth, twice that over the gap.
  const QByteArray teeth = framed("T").data;
  ASSERT_EQ(teeth.size(), 508);
  EXPECT_NEAR(qFromBigEndian<quint32>(teeth.constData()), 303, 3);
  EXPECT_NEAR(qFromBigEndian<quint32>(teeth.constData() + 34 * 4), 606, 6);
  EXPECT_EQ(framed("h"), ok());
  EXPECT_EQ(framed("T").status, 0x84);
  EXPECT_EQ(framed("J"), ok());
  engine.advance(100);
  EXPECT_EQ(framed("O").data.size(), 1275);
}

}  // namespace
}  // namespace tk::comms
