#include "comms/serial_ecu_connection.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <memory>

#include "comms/connection_provider.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_comms_monitor.h"
#include "frame_helpers.h"
#include "pty_pair.h"

namespace tk::comms {
namespace {

using test::hex;
using test::okFrame;
using test::PeerStream;
using test::PtyPeer;

class SerialPtyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app = std::make_unique<test::ApplicationForSerialPorts>(); }
  static void TearDownTestSuite() { app.reset(); }

  void SetUp() override {
    if (!test::socatAvailable()) {
      GTEST_SKIP() << "socat not installed (scripts/install-deps.sh installs it)";
    }
    pair = std::make_unique<test::SocatPtyPair>();
    ASSERT_TRUE(pair->ok());
    pair->rememberPid();
  }

  void TearDown() override {
    conn.reset();
    peer.reset();
    pair.reset();
  }

  void start(PtyPeer::Script script, EcuCommsMonitor* monitor = nullptr) {
    peer = std::make_unique<PtyPeer>(pair->ecuEnd(), std::move(script));
    conn = std::make_unique<SerialEcuConnection>(pair->hostEnd(), 115200, monitor);
    QObject::connect(conn.get(), &EcuConnection::errorOccurred,
                     [this](const QString& m) { errors.append(m); });
    QObject::connect(conn.get(), &EcuConnection::statusChanged,
                     [this](ConnectionStatus s) { statuses.append(s); });
    ASSERT_TRUE(conn->open());
    service.setConnection(conn.get());
  }

  inline static std::unique_ptr<test::ApplicationForSerialPorts> app;
  std::unique_ptr<test::SocatPtyPair> pair;
  std::unique_ptr<PtyPeer> peer;
  std::unique_ptr<SerialEcuConnection> conn;
  EcuCommandService service;
  QStringList errors;
  QList<ConnectionStatus> statuses;
};

TEST(SerialIdentityTest, IdAndDisplayNameAndClosedBehaviour) {
  SerialEcuConnection conn(QStringLiteral("ttyACM0"), 115200);
  EXPECT_EQ(conn.id(), QStringLiteral("SERIAL:ttyACM0"));
  EXPECT_EQ(conn.displayName(), QStringLiteral("Serial Connection (ttyACM0)"));
  EXPECT_EQ(conn.status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(conn.write("x"), 0);
  EXPECT_EQ(conn.read(4), QByteArray());
  EXPECT_EQ(conn.bytesAvailable(), 0);
}

TEST(SerialOpenTest, MissingPortFailsWithTheDriversReason) {
  SerialEcuConnection conn(QStringLiteral("/nonexistent-dir/ttyTK0"), 115200);
  QStringList errors;
  QObject::connect(&conn, &EcuConnection::errorOccurred,
                   [&](const QString& m) { errors.append(m); });
  EXPECT_FALSE(conn.open());
  EXPECT_EQ(conn.status(), ConnectionStatus::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.at(0).startsWith(QStringLiteral("Failed to open port: ")))
      << errors.at(0).toStdString();
  EXPECT_GT(errors.at(0).size(), QStringLiteral("Failed to open port: ").size());
}

TEST_F(SerialPtyTest, OpensOnceAndExchangesMonitoredFrames) {
  EcuCommsMonitor monitor;
  QByteArray received;
  start(
      [&](PeerStream& s) {
        received = s.readFrame();
        s.send(okFrame("speeduino 202501"));
      },
      &monitor);
  EXPECT_TRUE(conn->open());
  EXPECT_EQ(statuses,
            (QList<ConnectionStatus>{ConnectionStatus::Connecting, ConnectionStatus::Connected}));
  const EcuResponse r = service.sendCommand("Q", 2000);
  EXPECT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(r.data, QByteArrayLiteral("speeduino 202501"));
  ASSERT_GE(monitor.entries().size(), 2);
  EXPECT_EQ(monitor.entries().at(0).label, QStringLiteral("Serial Tx"));
  EXPECT_EQ(monitor.entries().at(1).label, QStringLiteral("Serial Rx"));
  conn->close();
  conn->close();
  peer.reset();
  EXPECT_EQ(received, hex("000151CE6E8EEF"));
  EXPECT_EQ(statuses.back(), ConnectionStatus::Disconnected);
  EXPECT_EQ(statuses.count(ConnectionStatus::Disconnected), 1);
}

TEST_F(SerialPtyTest, PeerVanishingMidTransferFailsWithinTheDeadline) {
  start([&](PeerStream& s) {
    s.readFrame();
    s.send(okFrame(QByteArray(128, '\x33')).left(40));
    QThread::msleep(50);
    pair->kill();
  });
  QElapsedTimer clock;
  clock.start();
  const EcuResponse r = service.sendCommand(hex("520000000080"), 1000);
  EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, QStringLiteral("Response timeout after 1000ms")}));
  EXPECT_LT(clock.elapsed(), 1000 + 1000);
  peer.reset();
  clock.restart();
  const EcuResponse next = service.sendCommand(hex("520000000080"), 500);
  // The terminal is hung up: the driver keeps the frame queued, which is a write timeout that
  // leaves the port open for the caller to close.
  EXPECT_EQ(next, (EcuResponse{false, 0xFF, {}, QStringLiteral("Command write failed")}));
  EXPECT_LT(clock.elapsed(), 500 + 1000);
  EXPECT_EQ(errors, QStringList{QStringLiteral("Write timeout on ") + pair->hostEnd()});
  EXPECT_EQ(conn->status(), ConnectionStatus::Connected);
  conn->close();
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
}

TEST_F(SerialPtyTest, WriteThatCannotLeaveInTimeIsATimeoutNotAClose) {
  // Nobody reads the far end, so both terminals' buffers fill and the bytes stay queued.
  // A write counts as done once the driver passed some of it on, so it takes a few writes
  // before one finds no room at all.
  start([](PeerStream&) {});
  const QByteArray block(65536, 'w');
  int writes = 0;
  while (writes < 1000 && conn->write(block) == block.size()) {
    ++writes;
  }
  EXPECT_LT(writes, 1000);
  EXPECT_EQ(errors, QStringList{QStringLiteral("Write timeout on ") + pair->hostEnd()});
  EXPECT_EQ(conn->status(), ConnectionStatus::Connected);
}

}  // namespace
}  // namespace tk::comms

namespace tk::comms {
namespace {

TEST(SerialProviderTest, NamesPortsAndCreatesClosedSerialConnections) {
  SerialConnectionProvider provider;
  EXPECT_EQ(provider.name(), QStringLiteral("Serial Port"));
  QStringList expected;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    expected.append(info.portName());
  }
  EXPECT_EQ(provider.availablePorts(), expected);
  EcuCommsMonitor monitor;
  const std::unique_ptr<EcuConnection> conn =
      provider.createConnection(QStringLiteral("ttyUSB7"), 57600, &monitor);
  ASSERT_NE(conn, nullptr);
  EXPECT_NE(dynamic_cast<SerialEcuConnection*>(conn.get()), nullptr);
  EXPECT_EQ(conn->id(), QStringLiteral("SERIAL:ttyUSB7"));
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(conn->parent(), nullptr);
}

}  // namespace
}  // namespace tk::comms
