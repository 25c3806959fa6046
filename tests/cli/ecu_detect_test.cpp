// ecu-detect: the scans through its front end (ecuDetectWith) over scripted ports, simulator
// terminals and loopback listeners, and the program itself once. Loopback addresses only, never a
// subnet of this machine.

#include "cli/ecu_detect.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMap>
#include <QTcpServer>
#include <QThread>
#include <memory>

#include "comms/clock.h"
#include "comms/connection_provider.h"
#include "comms/device_detection_service.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "support/hooked_connection.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::comms {
namespace {

// Ports whose controllers answer "Q" with a canned reply per "port@rate" (and the framed "Q" that
// follows an unaccepted answer with a second one); every opening is recorded.
class ScriptedPorts : public ConnectionProvider {
 public:
  QString name() const override { return QStringLiteral("scripted"); }
  QStringList availablePorts() const override { return ports; }
  std::unique_ptr<EcuConnection> createConnection(const QString& port, quint32 rate,
                                                  EcuCommsMonitor*) override {
    opened.append(QStringLiteral("%1@%2").arg(port).arg(rate));
    if (unopenable.contains(opened.last())) {
      return nullptr;
    }
    auto connection = std::make_unique<ScriptedEcuConnection>();
    connection->setClock(*clock);
    connection->queueReply(replies.value(opened.last()));
    connection->queueReply(framedReplies.value(opened.last()));
    return connection;
  }
  QStringList ports;
  QMap<QString, QByteArray> replies;
  QMap<QString, QByteArray> framedReplies;
  QStringList unopenable;
  QStringList opened;
  Clock* clock = &Clock::real();  // what the controllers' silence takes
};

class DetectTest : public test::AppTest {
 protected:
  int run(DeviceDetectionService& service, const QString& mode, const QString& ip = {}) {
    out.clear();
    err.clear();
    QTextStream o(&out);
    QTextStream e(&err);
    return cli::ecuDetectWith(service, mode, ip, o, e);
  }

  QString out;
  QString err;
  SerialConnectionProvider serial;  // for bridge scans, which open no serial port
};

TEST_F(DetectTest, ScriptedSerialScanTriesRatesInOrderUntilAnAnswerIsAccepted) {
  ScriptedPorts ports;
  ports.ports = {"ttyA", "ttyB", "ttyC", "ttyD"};
  ports.replies = {
      {"ttyA@115200", "ok"},
      {"ttyA@38400", QByteArray("speeduino 202501\0", 17)},
      {"ttyB@9600", "a\x01z"},
      {"ttyC@57600", EcuCommandService::wrapFrame(QByteArray(1, '\0') + "speeduino 202402\r\n")},
  };
  // After framed traffic Speeduino takes a bare "Q" for half a frame length and answers the
  // receive timeout; the framed query that follows gets its signature.
  ports.replies.insert("ttyD@115200", EcuCommandService::wrapFrame("\x80"));
  ports.framedReplies.insert(
      "ttyD@115200", EcuCommandService::wrapFrame(QByteArray(1, '\0') + "speeduino 202504-dev"));
  ports.unopenable = {"ttyC@115200"};
  FakeClock clock;
  ports.clock = &clock;
  DeviceDetectionService service(ports, clock);
  QStringList found;
  service.setDeviceFoundCallback([&](const DetectedDevice& d) { found.append(d.port); });
  // An address given with the serial mode changes nothing.
  EXPECT_EQ(run(service, QStringLiteral("serial"), QStringLiteral("127.0.0.1")), 0);
  EXPECT_EQ(ports.opened,
            (QStringList{"ttyA@115200", "ttyA@38400", "ttyB@115200", "ttyB@38400", "ttyB@57600",
                         "ttyB@9600", "ttyC@115200", "ttyC@38400", "ttyC@57600", "ttyD@115200"}));
  EXPECT_EQ(found, (QStringList{"ttyA", "ttyC", "ttyD"}));
  EXPECT_TRUE(test::matchesGolden(out.toUtf8(), QStringLiteral("detect/serial-scripted.out")));
  EXPECT_TRUE(test::matchesGolden(err.toUtf8(), QStringLiteral("detect/serial-scripted.err")));

  ScriptedPorts none;
  DeviceDetectionService empty(none, clock);
  EXPECT_EQ(run(empty, QString()), 1);
  EXPECT_EQ(err, QStringLiteral("[detect] No COM ports found.\n"));
  EXPECT_EQ(out, QStringLiteral("0 device(s) found\n"));
  EXPECT_EQ(run(empty, QStringLiteral("usb"), QStringLiteral("127.0.0.1")), 2);
  EXPECT_EQ(err, QStringLiteral("ecu-detect: unknown mode 'usb' (use serial or tcp)\n"));
  EXPECT_TRUE(out.isEmpty());
}

TEST_F(DetectTest, SilentListenerAndClosedPortEndWithinTheirDeadlines) {
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const quint16 closedPort = closed.serverPort();
  closed.close();
  QTcpServer silent;  // the system accepts for it; nobody ever answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  DeviceDetectionService service(serial);
  service.setBridgePorts({closedPort, silent.serverPort()});
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(run(service, QStringLiteral("tcp"), QStringLiteral("127.0.0.1")), 1);
  EXPECT_EQ(out, QStringLiteral("0 device(s) found\n"));
  // At least the six 800 ms exchanges of the silent port; at most every deadline of both ports:
  // two connects of 3000 ms, six exchanges each, settling sleeps and the discarding read.
  EXPECT_GE(timer.elapsed(), 6 * 800);
  EXPECT_LE(timer.elapsed(), 2 * (3000 + 6 * 800 + 50 + 50 + 100));
}

// Pseudo-terminals served by torvik-ecu-sim, by name: path and the one rate that gets through.
// At any other rate the line brings noise, as a real one at the wrong speed does.
class SimPorts : public ConnectionProvider {
 public:
  QString name() const override { return QStringLiteral("sim"); }
  QStringList availablePorts() const override { return ports.keys(); }
  std::unique_ptr<EcuConnection> createConnection(const QString& port, quint32 rate,
                                                  EcuCommsMonitor*) override {
    auto connection = std::make_unique<test::HookedConnection>(
        std::make_unique<SerialEcuConnection>(ports.value(port).first, rate));
    if (rate != ports.value(port).second) {
      connection->onRead = [](QByteArray bytes) {
        for (char& c : bytes) {
          c = static_cast<char>(c & 0x07);
        }
        return bytes;
      };
    }
    return connection;
  }
  QMap<QString, std::pair<QString, quint32>> ports;
};

// The real serial path: two simulator terminals, one that answers only at the third rate tried,
// and a port that does not exist between them.
TEST_F(DetectTest, SerialScanFindsSimulatorTerminalsAtTheirRates) {
  test::SimOptions options;
  options.ini = test::demoIni();
  options.pty = true;
  const test::SimProcess fast(options);
  const test::SimProcess slow(options);
  ASSERT_TRUE(fast.ready() && slow.ready());
  SimPorts ports;
  ports.ports = {{"a-fast", {fast.ptyPath(), 115200}},
                 {"b-missing", {QStringLiteral("/nonexistent/tty"), 115200}},
                 {"c-slow", {slow.ptyPath(), 57600}}};
  DeviceDetectionService service(ports);
  EXPECT_EQ(run(service, QStringLiteral("serial")), 0);
  EXPECT_TRUE(test::matchesGolden(out.toUtf8(), QStringLiteral("detect/serial-sim.out")));
  EXPECT_TRUE(test::matchesGolden(err.toUtf8(), QStringLiteral("detect/serial-sim.err")));
}

// The firmware check (scripts/firmware-check.sh) names the real firmware's terminal: after a
// framed exchange it no longer answers a bare "Q", and the scan still finds it.
TEST_F(DetectTest, FindsTheFirmwareAfterFramedTraffic) {
  const QString port = qEnvironmentVariable("TK_FIRMWARE_PORT");
  if (port.isEmpty()) {
    GTEST_SKIP() << "run by scripts/firmware-check.sh against the real firmware";
  }
  SerialEcuConnection link(port, 115200);
  ASSERT_TRUE(link.open());
  EcuCommandService framed(&link);
  EXPECT_TRUE(framed.sendCommand("Q", 1000).ok);
  link.write("Q");
  QThread::msleep(1000);
  EXPECT_FALSE(isAcceptedAnswer(detectionReplyText(link.read(256, EcuConnection::kDefaultWaitMs))));
  link.close();
  SimPorts ports;
  ports.ports = {{"firmware", {port, 115200}}};
  DeviceDetectionService service(ports);
  EXPECT_EQ(run(service, QStringLiteral("serial")), 0);
  EXPECT_EQ(out, QStringLiteral("Serial firmware @ 115200 -> \"speeduino 202504-dev\"\n"
                                "1 device(s) found\n"))
      << err.toStdString();
}

// The program once: the simulator found on the first bridge port; too many arguments print the
// usage. (Nothing found is the silent listener's case above.)
TEST(EcuDetectCommand, FindsTheSimulatorOnTheFirstBridgePort) {
  test::SimOptions options;
  options.ini = test::demoIni();
  options.port = 29001;
  const test::SimProcess sim(options);
  test::ProcessResult r = test::runCli({"ecu-detect", "tcp", "127.0.0.1", "extra"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, test::readFile(test::dataPath(QStringLiteral("cli/usage.txt"))));
  if (!sim.ready()) {
    GTEST_SKIP() << "loopback port 29001 is taken on this machine";
  }
  r = test::runCli({"ecu-detect", "tcp", "127.0.0.1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "TcpBridge TCP:127.0.0.1:29001 -> \"speeduino 202501-demo\"\n"
            "1 device(s) found\n");
  EXPECT_EQ(r.err,
            "[detect] Probing 127.0.0.1...\n"
            "[detect] FOUND: speeduino 202501-demo at 127.0.0.1:29001\n");
}

}  // namespace
}  // namespace tk::comms
