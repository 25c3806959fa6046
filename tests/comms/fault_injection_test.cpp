// A misbehaving ECU behind a real loopback TCP bridge: each fault must give its exact result, no
// wait past the deadline, and a clean stream for the next command. Every status code and length
// bound is checked against a scripted connection (ecu_command_service_test); here one case of each
// failure class crosses a real socket.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <memory>

#include "comms/ecu_command_service.h"
#include "comms/tcp_bridge_connection.h"
#include "frame_helpers.h"
#include "loopback_peer.h"

namespace tk::comms {
namespace {

using test::hex;
using test::LoopbackPeer;
using test::okFrame;
using test::PeerStream;
using test::responseFrame;

// A margin for a loaded machine: a failing exchange may end this much after its deadline.
constexpr int kMarginMs = 1000;

const QByteArray kGoodReply = okFrame(hex("01020304"));

class FaultInjectionTest : public ::testing::Test {
 protected:
  // The peer answers the first request with fault, then every later one with kGoodReply.
  void start(std::function<void(PeerStream&)> fault) {
    peer = std::make_unique<LoopbackPeer>([fault](PeerStream& s) {
      if (s.readFrame().isEmpty()) {
        return;
      }
      fault(s);
      while (s.isOpen()) {
        if (s.readFrame().isEmpty()) {
          return;
        }
        s.send(kGoodReply);
      }
    });
    conn = std::make_unique<TcpBridgeConnection>(QStringLiteral("127.0.0.1"), peer->port());
    ASSERT_TRUE(conn->open());
    service.setConnection(conn.get());
  }

  void TearDown() override {
    conn.reset();
    peer.reset();
  }

  EcuResponse timed(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    EcuResponse r = service.sendCommand(hex("520000000004"), timeoutMs);
    elapsedMs = clock.elapsed();
    return r;
  }

  // The next command must find a clean stream.
  void expectRecovered() {
    const EcuResponse next = service.sendCommand(hex("520000000004"), 3000);
    EXPECT_TRUE(next.ok) << next.error.toStdString();
    EXPECT_EQ(next.data, hex("01020304"));
  }

  std::unique_ptr<LoopbackPeer> peer;
  std::unique_ptr<TcpBridgeConnection> conn;
  EcuCommandService service;
  qint64 elapsedMs = 0;
};

TEST_F(FaultInjectionTest, SilentEcu) {
  start([](PeerStream&) {});
  EXPECT_EQ(timed(300),
            (EcuResponse{false, 0xFF, {}, QStringLiteral("Response timeout after 300ms")}));
  EXPECT_GE(elapsedMs, 300);
  EXPECT_LT(elapsedMs, 300 + kMarginMs);
  expectRecovered();
}

TEST_F(FaultInjectionTest, SlowEcuAnsweringAtNinetyPercentOfTheTimeout) {
  start([](PeerStream& s) {
    QThread::msleep(2700);
    s.send(kGoodReply);
  });
  const EcuResponse r = timed(3000);
  EXPECT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_GE(elapsedMs, 2600);
  expectRecovered();
}

// A reply sent one byte at a time is joined; the deadline only ends a read that brings nothing,
// so a reply whose bytes keep coming, even past the deadline, is read to the end.
TEST_F(FaultInjectionTest, TrickleKeepsTheExchangeAlivePastTheDeadline) {
  start([](PeerStream& s) { s.sendSlowly(kGoodReply, 60); });
  const EcuResponse r = timed(250);
  EXPECT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(r.data, hex("01020304"));
  EXPECT_GE(elapsedMs, 250);
  expectRecovered();
}

TEST_F(FaultInjectionTest, GarbageBeforeTheFrame) {
  start([](PeerStream& s) { s.send(hex("A5") + kGoodReply); });
  const EcuResponse r = timed(1000);
  EXPECT_EQ(r, (EcuResponse{false, 0xFF, {}, QStringLiteral("Invalid payload size: 42240")}));
  EXPECT_LT(elapsedMs, 1000 + kMarginMs);
  expectRecovered();
}

TEST_F(FaultInjectionTest, WrongCrc) {
  start([](PeerStream& s) {
    QByteArray bad = kGoodReply;
    bad[bad.size() - 1] = char(bad.back() ^ 0x01);
    s.send(bad);
  });
  EXPECT_EQ(timed(1000), (EcuResponse{false, 0x82, {}, QStringLiteral("CRC mismatch")}));
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Unknown);
  expectRecovered();
  EXPECT_EQ(service.crcCoverage(), CrcCoverage::Payload);
}

TEST_F(FaultInjectionTest, StaleBytesArrivingBetweenCommandsArePurged) {
  start([](PeerStream& s) {
    s.send(kGoodReply);
    QThread::msleep(10);
    s.send(QByteArrayLiteral("late noise from the last reply"));
  });
  EXPECT_TRUE(timed(2000).ok);
  QThread::msleep(300);
  EXPECT_GT(conn->bytesAvailable(), 0);
  expectRecovered();
  EXPECT_EQ(conn->bytesAvailable(), 0);
}

TEST_F(FaultInjectionTest, EcuDroppingOutDuringABurn) {
  // Half of the burn's reply, then the line goes dead.
  start([](PeerStream& s) {
    s.send(responseFrame(hex("04")).left(4));
    s.close();
  });
  QElapsedTimer clock;
  clock.start();
  const EcuResponse burn = service.sendCommand(hex("620001"), 3000);
  EXPECT_EQ(burn, (EcuResponse{false, 0xFF, {}, QStringLiteral("Response timeout after 3000ms")}));
  EXPECT_LT(clock.elapsed(), 3000 + kMarginMs);
  EXPECT_EQ(conn->status(), ConnectionStatus::Disconnected);
  EXPECT_EQ(service.sendCommand(hex("620002"), 3000).error, QStringLiteral("Not connected"));
}

}  // namespace
}  // namespace tk::comms
