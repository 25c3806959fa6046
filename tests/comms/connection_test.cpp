// The real connections on the real clock: a loopback TCP bridge and a socat pseudo-terminal
// pair, each with a stand-in ECU at the far end; and what every connection class shares.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpServer>
#include <memory>

#include "comms/connection_provider.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_comms_monitor.h"
#include "comms/mock_ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "comms/tune_comms_service.h"
#include "comms_fakes.h"
#include "sim/sim_ecu_connection.h"
#include "sim/stand_in_server.h"
#include "support/sim_process.h"
#include "transports.h"
#include "tune/field_codec.h"

namespace tk::comms {
namespace {

using sim::SimEcuConnection;
using sim::StandInServer;

using test::hex;
using test::okFrame;

constexpr int kMarginMs = 1000;  // how late a failing exchange may end on a loaded machine

enum class Transport { Tcp, Serial };

// Serial ports register notifiers with the application's event dispatcher, even when only their
// blocking waits are used.
class ConnectionTest : public test::AppTest, public ::testing::WithParamInterface<Transport> {
 protected:
  void SetUp() override {
    if (serial()) {
      if (!test::socatAvailable()) {
        GTEST_SKIP() << "socat not installed (scripts/install-deps.sh installs it)";
      }
      pair = std::make_unique<test::SocatPtyPair>();
      ASSERT_TRUE(pair->ok());
    }
  }

  bool serial() const { return GetParam() == Transport::Serial; }

  // Serves ecu at the far end of the transport and opens a connection to it.
  void connectTo(EcuConnection& farEnd, EcuCommsMonitor* log = nullptr) {
    server = std::make_unique<StandInServer>(farEnd);
    if (serial()) {
      ASSERT_TRUE(server->serveSerialPort(pair->ecuEnd(), 115200));
      conn = std::make_unique<SerialEcuConnection>(pair->hostEnd(), 115200, log);
    } else {
      conn = std::make_unique<TcpBridgeConnection>(QStringLiteral("127.0.0.1"),
                                                   server->listenOnLoopback(), log);
    }
    QObject::connect(conn.get(), &EcuConnection::errorOccurred,
                     [this](const QString& m) { errors.append(m); });
    QObject::connect(conn.get(), &EcuConnection::statusChanged,
                     [this](ConnectionStatus s) { statuses.append(s); });
    ASSERT_TRUE(conn->open());
    service.setConnection(conn.get());
  }

  FakeClock ecuClock;  // stands still: the far end's replies are there at once
  test::TimedEcu ecu{ecuClock};
  SimEcuConnection sim{test::syntheticDefinition()};
  EcuCommsMonitor monitor;
  QStringList errors;  // filled until the connection is gone
  QList<ConnectionStatus> statuses;
  std::unique_ptr<test::SocatPtyPair> pair;
  std::unique_ptr<StandInServer> server;
  std::unique_ptr<EcuConnection> conn;
  EcuCommandService service;
};

TEST_P(ConnectionTest, ExchangesMonitoredFramesOpensOnceAndClosesOnce) {
  ecu.reply(okFrame("speeduino 202501"));
  connectTo(ecu, &monitor);
  EXPECT_TRUE(conn->open());
  EXPECT_EQ(statuses,
            (QList<ConnectionStatus>{ConnectionStatus::Connecting, ConnectionStatus::Connected}));
  EXPECT_EQ(service.sendCommand("Q", 2000),
            (EcuResponse{true, 0, QByteArrayLiteral("speeduino 202501"), {}, FrameOutcome::Ok}));
  ASSERT_GE(monitor.entries().size(), 2);
  EXPECT_EQ(monitor.entries().at(0).label, QLatin1String(serial() ? "Serial Tx" : "TCP Tx"));
  EXPECT_EQ(monitor.entries().at(0).data, hex("000151CE6E8EEF"));
  EXPECT_EQ(monitor.entries().at(1).label, QLatin1String(serial() ? "Serial Rx" : "TCP Rx"));
  conn->close();
  conn->close();
  EXPECT_EQ(statuses.back(), ConnectionStatus::Disconnected);
  EXPECT_EQ(statuses.count(ConnectionStatus::Disconnected), 1);
  server->stop();
  EXPECT_EQ(ecu.writes().join(), hex("000151CE6E8EEF"));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('|')).toStdString();
}

// An exchange ends on its deadline, or at once when the line is lost: the far end hangs up
// mid-reply (over TCP the peer closes; a terminal just falls silent), then the adapter is pulled.
TEST_P(ConnectionTest, ExchangesEndOnTheirDeadlineOrAtOnceWhenTheLineIsLost) {
  ecu.queueTimed({{0, okFrame(QByteArray(128, '\x5A')).left(66)}, {0, {}, true}});
  connectTo(ecu);
  QElapsedTimer timer;
  timer.start();
  const EcuResponse r = service.sendCommand(hex("520000000080"), 300);
  const QString lost = serial() ? QStringLiteral("Serial connection lost: ")
                                : QStringLiteral("TCP connection lost: peer disconnected");
  if (serial()) {
    EXPECT_EQ(r.error, QStringLiteral("Response timeout after 300ms"));
    EXPECT_GE(timer.elapsed(), 300);
    pair->pullOut();
    timer.restart();
    EXPECT_EQ(service.sendCommand("Q", 500).outcome, FrameOutcome::Lost);
  } else {
    EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, lost, FrameOutcome::Lost}));
  }
  EXPECT_LT(timer.elapsed(), 300 + kMarginMs);
  // The loss is reported once, ends the connection and stays until cleared.
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.front().startsWith(lost)) << errors.front().toStdString();
  EXPECT_EQ(conn->error(), ConnectionError::Lost);
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(conn->read(10, 1000), QByteArray());
  EXPECT_EQ(conn->write("x"), 0);
  EXPECT_EQ(service.sendCommand("Q", 800).outcome, FrameOutcome::NotConnected);
  conn->clearError();
  EXPECT_EQ(conn->error(), ConnectionError::None);
  EXPECT_EQ(errors.size(), 1);
}

TEST_P(ConnectionTest, WholeTunesCrossTheTransportToTheSimulatedEcu) {
  const EcuDefinition& d = test::syntheticDefinition();
  connectTo(sim);
  TuneCommsService tune(service, *conn);
  tune.forceCrcProtocol();
  EXPECT_EQ(tune.readSignature(), QStringLiteral("speeduino 202501-tk"));
  EXPECT_TRUE(tune.verifySignature(d));
  EXPECT_EQ(tune.readFirmwareVersion(d), QStringLiteral("Torvik Simulated ECU 1.0"));
  Tune written = decodePages(test::syntheticPages(), d);
  written.find(QStringLiteral("reqFuel"))->scalarValue = 9.9;
  EXPECT_FALSE(tune.writeTune(d, written, true).failed());
  const PageImages encoded = encodeTune(written, d);
  const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
  const Tune read = tune.readTune(d).tune;
  EXPECT_EQ(read.fields, decodePages(encoded, d).fields);
  EXPECT_DOUBLE_EQ(*read.find(QStringLiteral("reqFuel"))->scalarValue, 9.9);
  EXPECT_EQ(read.writeTimestamp.size(), 24);
  EXPECT_GE(QDateTime::fromString(read.writeTimestamp, Qt::ISODateWithMs), before);
  EXPECT_TRUE(tune.writeChunk(d, 2, 120, QByteArray(8, '\x42')));
  EXPECT_EQ(tune.readPage(d, 2).bytes.value_or(QByteArray()).right(8), QByteArray(8, '\x42'));
  server->stop();
  for (int page = 0; page < 3; ++page) {
    EXPECT_EQ(sim.burnedPage(page), encoded.value(page + 1)) << page;
  }
  EXPECT_EQ(sim.burnCount(), 3);
}

TEST_P(ConnectionTest, OpenFailureIsReportedWithTheSystemsReason) {
  QString expected;
  if (serial()) {
    conn = std::make_unique<SerialEcuConnection>(QStringLiteral("/nonexistent-dir/ttyTK0"), 115200);
    expected = QStringLiteral("Failed to open port: No such file or directory");
    EXPECT_FALSE(StandInServer(ecu).serveSerialPort(QStringLiteral("/nonexistent-dir/ttyTK0"), 0));
  } else {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    conn = std::make_unique<TcpBridgeConnection>(QStringLiteral("127.0.0.1"), port);
    expected = QStringLiteral("Failed to connect to 127.0.0.1:%1: Connection refused").arg(port);
  }
  QObject::connect(conn.get(), &EcuConnection::errorOccurred,
                   [this](const QString& m) { errors.append(m); });
  // An errored connection may be opened again, and fails the same way.
  EXPECT_FALSE(conn->open());
  EXPECT_FALSE(conn->open());
  EXPECT_EQ(conn->status(), ConnectionStatus::Error);
  EXPECT_EQ(errors, (QStringList{expected, expected}));
}

// A bridge that takes no bytes: once the socket's buffers are full a write misses its wait,
// which is a timeout of a connection that stays open, not a lost one.
TEST(TcpBridgeTest, AWriteThatMissesItsWaitIsATimeout) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  TcpBridgeConnection conn(QStringLiteral("127.0.0.1"), server.serverPort());
  ASSERT_TRUE(conn.open());
  const QByteArray block(16 << 20, 'w');
  qint64 written = 1;
  for (int i = 0; i < 8 && written > 0; ++i) {
    written = conn.write(block);
  }
  EXPECT_EQ(written, 0);
  EXPECT_EQ(conn.error(), ConnectionError::Timeout);
  EXPECT_EQ(conn.errorString(),
            QStringLiteral("Write timeout on 127.0.0.1:%1").arg(server.serverPort()));
  EXPECT_EQ(conn.status(), ConnectionStatus::Connected);
}

INSTANTIATE_TEST_SUITE_P(Transports, ConnectionTest,
                         ::testing::Values(Transport::Tcp, Transport::Serial), [](const auto& p) {
                           return p.param == Transport::Tcp ? "Tcp" : "Serial";
                         });

// Before it is opened every connection is disconnected and reads nothing; only the scripted
// one takes writes regardless of its status.
TEST(ConnectionIdentityTest, ClosedConnectionsNeitherReadNorWrite) {
  std::unique_ptr<EcuConnection> connections[] = {
      SerialConnectionProvider().createConnection(QStringLiteral("ttyACM0"), 115200, nullptr),
      std::make_unique<TcpBridgeConnection>(QStringLiteral("127.0.0.9"), 29001),
      std::make_unique<MockEcuConnection>(QString(), QByteArray(), QByteArray()),
      std::make_unique<SimEcuConnection>(EcuDefinition()),
      std::make_unique<ScriptedEcuConnection>()};
  for (const auto& conn : connections) {
    EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
    EXPECT_EQ(conn->write("x"), conn.get() == connections[4].get() ? 1 : 0);
    EXPECT_TRUE(conn->read(10, 0).isEmpty());
  }
}

}  // namespace
}  // namespace tk::comms
