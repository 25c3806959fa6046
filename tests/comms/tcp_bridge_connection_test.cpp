#include "comms/tcp_bridge_connection.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <memory>

#include "comms/ecu_command_service.h"
#include "comms/ecu_comms_monitor.h"
#include "frame_helpers.h"
#include "loopback_peer.h"

namespace tk::comms {
namespace {

using test::hex;
using test::LoopbackPeer;
using test::okFrame;
using test::PeerStream;
using test::responseFrame;

const QString kLoopback = QStringLiteral("127.0.0.1");

// One scripted peer and one connection to it; the connection goes first on the way out so
// that the peer's wait for the client to close ends at once.
class TcpBridgeTest : public ::testing::Test {
 protected:
  void start(LoopbackPeer::Script script, EcuCommsMonitor* monitor = nullptr) {
    peer = std::make_unique<LoopbackPeer>(std::move(script));
    conn = std::make_unique<TcpBridgeConnection>(kLoopback, peer->port(), monitor);
    QObject::connect(conn.get(), &EcuConnection::errorOccurred,
                     [this](const QString& m) { errors.append(m); });
    QObject::connect(conn.get(), &EcuConnection::statusChanged,
                     [this](ConnectionStatus s) { statuses.append(s); });
    ASSERT_TRUE(conn->open());
    service.setConnection(conn.get());
  }

  void TearDown() override {
    conn.reset();
    peer.reset();
  }

  // Reads until the connection notices that it is gone, for at most two seconds.
  void waitUntilDisconnected() {
    QElapsedTimer clock;
    clock.start();
    while (conn->status() == ConnectionStatus::Connected && clock.elapsed() < 2000) {
      conn->read(1);
    }
  }

  std::unique_ptr<LoopbackPeer> peer;
  std::unique_ptr<TcpBridgeConnection> conn;
  EcuCommandService service;
  QStringList errors;
  QList<ConnectionStatus> statuses;
};

TEST(TcpBridgeIdentityTest, IdAndDisplayName) {
  TcpBridgeConnection conn(QStringLiteral("10.1.2.3"), 29001);
  EXPECT_EQ(conn.id(), QStringLiteral("TCP:10.1.2.3:29001"));
  EXPECT_EQ(conn.displayName(), QStringLiteral("TCP Bridge (10.1.2.3:29001)"));
  EXPECT_EQ(conn.status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(conn.write("x"), 0);
  EXPECT_EQ(conn.read(10), QByteArray());
  EXPECT_EQ(conn.bytesAvailable(), 0);
}

TEST_F(TcpBridgeTest, MonitoredExchangeOverLoopbackThenAnOrderlyRepeatableClose) {
  EcuCommsMonitor monitor;
  QByteArray received;
  std::atomic<bool> sawClose{false};
  start(
      [&](PeerStream& s) {
        received = s.readFrame();
        s.send(okFrame("speeduino 202501"));
        sawClose = s.waitForClientClose();
      },
      &monitor);
  EXPECT_EQ(statuses,
            (QList<ConnectionStatus>{ConnectionStatus::Connecting, ConnectionStatus::Connected}));
  EXPECT_TRUE(conn->open());  // already connected: no second connection
  const EcuResponse r = service.sendCommand("Q", 2000);
  EXPECT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(r.data, QByteArrayLiteral("speeduino 202501"));
  ASSERT_GE(monitor.entries().size(), 2);
  EXPECT_EQ(monitor.entries().at(0).label, QStringLiteral("TCP Tx"));
  EXPECT_EQ(monitor.entries().at(0).data, hex("000151CE6E8EEF"));
  EXPECT_EQ(monitor.entries().at(1).label, QStringLiteral("TCP Rx"));
  conn->close();
  conn->close();
  peer.reset();
  EXPECT_TRUE(sawClose);
  EXPECT_EQ(received, hex("000151CE6E8EEF"));
  EXPECT_EQ(statuses.back(), ConnectionStatus::Disconnected);
  EXPECT_EQ(statuses.count(ConnectionStatus::Disconnected), 1);
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('|')).toStdString();
}

TEST(TcpBridgeOpenTest, RefusedConnectionReportsTheSocketError) {
  const quint16 port = test::refusedLoopbackPort();
  TcpBridgeConnection conn(kLoopback, port);
  QStringList errors;
  QObject::connect(&conn, &EcuConnection::errorOccurred,
                   [&](const QString& m) { errors.append(m); });
  EXPECT_FALSE(conn.open());
  EXPECT_EQ(conn.status(), ConnectionStatus::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors.at(0),
            QStringLiteral("Failed to connect to 127.0.0.1:%1: Connection refused").arg(port));
  // An errored connection may be opened again, and fails the same way.
  EXPECT_FALSE(conn.open());
  EXPECT_EQ(errors.size(), 2);
  EXPECT_EQ(conn.bytesAvailable(), 0);
}

TEST(TcpBridgeOpenTest, SilentListenerTimesOutAfterThreeSeconds) {
  // The listener's accept queue is full, so the kernel drops our connection request and the
  // attempt can only end by our own timeout.
  test::BlackholeListener listener;
  TcpBridgeConnection conn(kLoopback, listener.port());
  QStringList errors;
  QObject::connect(&conn, &EcuConnection::errorOccurred,
                   [&](const QString& m) { errors.append(m); });
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(conn.open());
  EXPECT_GE(clock.elapsed(), 2900);
  EXPECT_LT(clock.elapsed(), 3000 + 1500);
  EXPECT_EQ(errors, QStringList{QStringLiteral("TCP Bridge connection attempt timed out.")});
  EXPECT_EQ(conn.status(), ConnectionStatus::Error);
}

TEST_F(TcpBridgeTest, PeerClosingMidPageReadIsReportedOnceAndEndsTheConnection) {
  start([](PeerStream& s) {
    s.readFrame();
    // Header and half of a 129-byte page chunk, then the line goes dead.
    s.send(okFrame(QByteArray(128, '\x5A')).left(66));
    s.close();
  });
  QElapsedTimer clock;
  clock.start();
  const EcuResponse r = service.sendCommand(hex("520000000080"), 800);
  EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, QStringLiteral("Response timeout after 800ms")}));
  EXPECT_LT(clock.elapsed(), 800 + 1000);
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(errors, QStringList{QStringLiteral("TCP connection lost: peer disconnected")});
  // Later use fails at once and reports nothing more.
  EXPECT_EQ(conn->read(10), QByteArray());
  EXPECT_EQ(conn->write("x"), 0);
  EXPECT_EQ(service.sendCommand("Q", 800).error, QStringLiteral("Not connected"));
  EXPECT_EQ(errors.size(), 1);
}

TEST_F(TcpBridgeTest, WriteAfterThePeerIsGoneReturnsZero) {
  start([](PeerStream& s) { s.close(); });
  waitUntilDisconnected();
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(conn->write(EcuCommandService::wrapFrame("Q")), 0);
  EXPECT_EQ(service.sendCommand("Q", 500).error, QStringLiteral("Not connected"));
  EXPECT_EQ(errors, QStringList{QStringLiteral("TCP connection lost: peer disconnected")});
}

TEST_F(TcpBridgeTest, ExchangeRacingThePeersCloseFailsWithinItsDeadline) {
  start([](PeerStream& s) { s.close(); });
  // The first write may still be accepted by the kernel; either way the exchange fails in time
  // and the connection ends up closed.
  QElapsedTimer clock;
  clock.start();
  const EcuResponse r = service.sendCommand("Q", 500);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 0xFF);
  EXPECT_LT(clock.elapsed(), 500 + 1000);
  waitUntilDisconnected();
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  ASSERT_FALSE(errors.isEmpty());
  EXPECT_TRUE(errors.at(0).startsWith(QStringLiteral("TCP connection lost: ")) ||
              errors.at(0).startsWith(QStringLiteral("Write error: ")))
      << errors.at(0).toStdString();
}

}  // namespace
}  // namespace tk::comms
