// The simulated ECU behind real transports: a loopback TCP bridge and a pseudo-terminal pair,
// driven through the framed protocol and the tune transfer service.

#include "comms/stand_in_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>

#include "comms/ecu_command_service.h"
#include "comms/serial_ecu_connection.h"
#include "comms/sim_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "comms/tune_comms_service.h"
#include "frame_helpers.h"
#include "pty_pair.h"

namespace tk::comms {
namespace {

const EcuDefinition& synthetic() { return test::syntheticDefinition(); }

QByteArray imagePage(int index) { return test::syntheticPages().value(index + 1); }

// Writes and burns every page, then reads each back through the same connection.
void roundTripAllPages(EcuConnection& conn, SimEcuConnection& sim, StandInServer& server) {
  EcuCommandService commands;
  TuneCommsService tune(commands);
  tune.forceCrcProtocol(conn);
  EXPECT_EQ(tune.readSignature(conn), QStringLiteral("speeduino 202501-tk"));
  EXPECT_TRUE(tune.verifySignature(conn, synthetic()));
  EXPECT_EQ(tune.readFirmwareVersion(conn, synthetic()),
            QStringLiteral("Torvik Simulated ECU 1.0"));
  for (int page = 0; page < 3; ++page) {
    tune.writePage(conn, synthetic(), page, imagePage(page), true);
  }
  for (int page = 0; page < 3; ++page) {
    EXPECT_EQ(tune.readPage(conn, synthetic(), page), imagePage(page)) << page;
  }
  EXPECT_TRUE(tune.writeChunk(conn, synthetic(), 2, 120, QByteArray(8, '\x42')));
  const std::optional<QByteArray> page3 = tune.readPage(conn, synthetic(), 2);
  ASSERT_TRUE(page3.has_value());
  EXPECT_EQ(page3->right(8), QByteArray(8, '\x42'));
  server.stop();
  for (int page = 0; page < 3; ++page) {
    EXPECT_EQ(sim.burnedPage(page), imagePage(page)) << page;
  }
  EXPECT_EQ(sim.burnCount(), 3);
  EXPECT_EQ(sim.workingPage(2).right(8), QByteArray(8, '\x42'));
}

TEST(StandInServerTest, SimulatedEcuOverLoopbackTcp) {
  SimEcuConnection sim(synthetic());
  StandInServer server(sim);
  const quint16 port = server.listenOnLoopback();
  ASSERT_NE(port, 0);
  EXPECT_EQ(server.listenOnLoopback(), 0);  // already serving
  TcpBridgeConnection conn(QStringLiteral("127.0.0.1"), port);
  ASSERT_TRUE(conn.open());
  roundTripAllPages(conn, sim, server);
}

TEST(StandInServerTest, StoppingTheServerDropsTheClient) {
  SimEcuConnection sim(synthetic());
  StandInServer server(sim);
  const quint16 port = server.listenOnLoopback();
  TcpBridgeConnection conn(QStringLiteral("127.0.0.1"), port);
  ASSERT_TRUE(conn.open());
  server.stop();
  QElapsedTimer clock;
  clock.start();
  while (conn.status() == ConnectionStatus::Connected && clock.elapsed() < 3000) {
    conn.read(1);
  }
  EXPECT_EQ(conn.status(), ConnectionStatus::Disconnected);
}

class StandInPtyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app = std::make_unique<test::ApplicationForSerialPorts>(); }
  static void TearDownTestSuite() { app.reset(); }
  void SetUp() override {
    if (!test::socatAvailable()) {
      GTEST_SKIP() << "socat not installed (scripts/install-deps.sh installs it)";
    }
    pair = std::make_unique<test::SocatPtyPair>();
    ASSERT_TRUE(pair->ok());
  }

  inline static std::unique_ptr<test::ApplicationForSerialPorts> app;
  std::unique_ptr<test::SocatPtyPair> pair;
};

TEST_F(StandInPtyTest, SimulatedEcuOverAPseudoTerminal) {
  SimEcuConnection sim(synthetic());
  StandInServer server(sim);
  ASSERT_TRUE(server.serveSerialPort(pair->ecuEnd(), 115200));
  SerialEcuConnection conn(pair->hostEnd(), 115200);
  ASSERT_TRUE(conn.open());
  roundTripAllPages(conn, sim, server);
}

TEST_F(StandInPtyTest, MissingDeviceIsNotServed) {
  SimEcuConnection sim(synthetic());
  StandInServer server(sim);
  EXPECT_FALSE(server.serveSerialPort(pair->ecuEnd() + QStringLiteral("-missing"), 115200));
  EXPECT_TRUE(server.serveSerialPort(pair->ecuEnd(), 115200));
}

// A simulated ECU that loses power after a number of requests.
class DroppingSim : public SimEcuConnection {
 public:
  DroppingSim(const EcuDefinition& d, int requests) : SimEcuConnection(d), left_(requests) {}
  qint64 write(const QByteArray& bytes) override {
    if (left_-- <= 0) {
      close();
      return 0;
    }
    return SimEcuConnection::write(bytes);
  }

 private:
  std::atomic<int> left_;
};

TEST(StandInFaultTest, EcuDroppingOutHalfwayThroughABurnEndsTheWriteInTime) {
  // The wake-up byte, three chunk writes of page 1, then the ECU dies on the burn.
  DroppingSim sim(synthetic(), 4);
  StandInServer server(sim);
  TcpBridgeConnection conn(QStringLiteral("127.0.0.1"), server.listenOnLoopback());
  ASSERT_TRUE(conn.open());
  QStringList errors;
  QObject::connect(&conn, &EcuConnection::errorOccurred,
                   [&](const QString& m) { errors.append(m); });
  EcuCommandService commands;
  TuneCommsService tune(commands);
  tune.forceCrcProtocol(conn);
  QElapsedTimer clock;
  clock.start();
  tune.writePage(conn, synthetic(), 0, imagePage(0), true);
  EXPECT_LT(clock.elapsed(), 3000 + 1000);
  EXPECT_EQ(conn.status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(errors, QStringList{QStringLiteral("TCP connection lost: peer disconnected")});
  // The next page fails at once, without waiting for any deadline.
  clock.restart();
  tune.writePage(conn, synthetic(), 1, imagePage(1), true);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_THROW(tune.readPage(conn, synthetic(), 0), PageReadError);
  server.stop();
  EXPECT_EQ(sim.workingPage(0), imagePage(0));
  EXPECT_EQ(sim.burnedPage(0), QByteArray(288, '\0'));
}

}  // namespace
}  // namespace tk::comms
