// The device scan: reply texts and acceptance, baud order and subnet texts as tables; the serial
// scan over scripted ports and over simulator pseudo-terminals; the bridge scan against the
// simulator, a closed port and a silent listener, on loopback only.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QTcpServer>
#include <memory>
#include <optional>

#include "comms/clock.h"
#include "comms/connection_provider.h"
#include "comms/device_detection_service.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "conformance/ecu_detect.h"
#include "support/hooked_connection.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::comms {
namespace {

QString demoIni() {
  return QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
}

struct ReplyCase {
  const char* what;
  QByteArray reply;
  std::optional<QString> text;  // not checked when absent
  bool accepted;
};

TEST(DetectionReplyText, TextAndAcceptance) {
  const QByteArray frame = EcuCommandService::wrapFrame(QByteArray(1, '\0') + "speeduino 202501");
  const QByteArray binaryFrame = EcuCommandService::wrapFrame(QByteArray::fromHex("000102"));
  const QByteArray blankFrame = EcuCommandService::wrapFrame(QByteArray("\0   ", 4));
  const ReplyCase cases[] = {
      {"NUL-terminated text", QByteArray("speeduino 202501\0", 17), "speeduino 202501", true},
      {"whole frame gives its text", frame, "speeduino 202501", true},
      {"two characters", "ok", "ok", false},
      {"three characters", "abc", "abc", true},
      {"byte below 10",
       "ab\x05"
       "cd",
       "ab\x05"
       "cd",
       false},
      {"tab is below 10", "ab\tcd", "ab\tcd", false},
      {"line feed inside is printable", "ab\ncd", "ab\ncd", true},
      {"tilde is the last printable", "ab~", "ab~", true},
      {"DEL is not printable", "ab\x7f", "ab\x7f", false},
      {"high bytes become question marks", "\x80\xff\x90", "???", true},
      {"ends trimmed", QByteArray("\r\n  hello \0", 11), "hello", true},
      {"too short for a frame",
       QByteArray("\0\x01"
                  "ABCD",
                  6),
       QString(QChar(1)) + "ABCD", false},
      {"length beyond the reply", QByteArray("\x00\x20speeduino", 11), "speeduino", true},
      // These two fall back to the whole reply, length bytes and CRC included.
      {"frame of binary", binaryFrame, std::nullopt, false},
      {"blank frame", blankFrame, std::nullopt, false},
      {"nothing", QByteArray(), QString(), false},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.what);
    const QString text = detectionReplyText(c.reply);
    if (c.text) {
      EXPECT_EQ(text, *c.text);
    }
    EXPECT_EQ(isAcceptedAnswer(text), c.accepted);
  }
}

TEST(DetectionBaudOrder, PriorityRatesFirstThenStoredOrder) {
  SerialConnectionProvider provider;
  const DeviceDetectionService service(provider);
  EXPECT_EQ(service.baudRates(), (QList<quint32>{115200, 57600, 38400, 9600}));
  EXPECT_EQ(serialBaudOrder(service.baudRates()), (QList<quint32>{115200, 38400, 57600, 9600}));
  EXPECT_EQ(serialBaudOrder({9600, 38400, 19200, 115200, 38400}),
            (QList<quint32>{115200, 38400, 9600, 19200}));
}

struct SubnetCase {
  const char* text;
  QStringList prefixes;
};

TEST(DetectionSubnets, SubnetTexts) {
  const SubnetCase cases[] = {
      {"127.0.0.0/24", {"127.0.0"}},
      {"127.0.1.0/24 127.0.0.0/24", {"127.0.1", "127.0.0"}},
      {"127.0.0.0/24 127.0.0.9", {"127.0.0"}},
      {"  127.0.3.0/24   127.0.4.7  ", {"127.0.3", "127.0.4"}},
      {"127.0.5", {"127.0.5"}},
      {"127.0 127.0.6.0/16", {"127.0.6"}},
      {"", {}},
  };
  for (const SubnetCase& c : cases) {
    EXPECT_EQ(subnetPrefixes(QString::fromLatin1(c.text)), c.prefixes) << c.text;
  }
}

TEST(DetectionSubnets, InterfacesThatAreUpAndNotLoopbackGiveIpv4Prefixes) {
  const QList<NetworkInterfaceInfo> interfaces = {
      {true, false, {QHostAddress("::1"), QHostAddress("127.0.8.5"), QHostAddress("127.0.8.9")}},
      {false, false, {QHostAddress("127.0.9.1")}},
      {true, true, {QHostAddress("127.0.10.1")}},
      {true, false, {QHostAddress("127.0.11.2")}},
  };
  EXPECT_EQ(interfacePrefixes(interfaces), (QStringList{"127.0.8", "127.0.11"}));
}

// Serial ports whose controllers answer "Q" with a canned reply at given rates; every opening
// is recorded as "port@rate".
class ScriptedPorts : public ConnectionProvider {
 public:
  QString name() const override { return QStringLiteral("scripted"); }
  QStringList availablePorts() const override { return ports; }
  std::unique_ptr<EcuConnection> createConnection(const QString& portName, quint32 baudRate,
                                                  EcuCommsMonitor*) override {
    opened.append(QStringLiteral("%1@%2").arg(portName).arg(baudRate));
    if (unopenable.contains(opened.last())) {
      return nullptr;
    }
    auto connection = std::make_unique<ScriptedEcuConnection>();
    connection->queueReply(replies.value(opened.last()));
    return connection;
  }

  QStringList ports;
  QMap<QString, QByteArray> replies;  // by "port@rate"
  QStringList unopenable;
  QStringList opened;
};

class DetectFrontEnd : public ::testing::Test {
 protected:
  int run(DeviceDetectionService& service, const QString& mode, const QString& ip = {}) {
    out.clear();
    err.clear();
    QTextStream o(&out);
    QTextStream e(&err);
    return conformance::ecuDetectWith(service, mode, ip, o, e);
  }
  QString out;
  QString err;
};

TEST_F(DetectFrontEnd, SerialScanTriesRatesInOrderUntilAnAnswerIsAccepted) {
  ScriptedPorts ports;
  ports.ports = {"ttyA", "ttyB", "ttyC"};
  ports.replies = {
      {"ttyA@115200", "ok"},
      {"ttyA@38400", QByteArray("speeduino 202501\0", 17)},
      {"ttyB@9600", "a\x01z"},
      {"ttyC@57600", EcuCommandService::wrapFrame(QByteArray(1, '\0') + "speeduino 202402\r\n")},
  };
  ports.unopenable = {"ttyC@115200"};
  FakeClock clock;
  DeviceDetectionService service(ports, clock);
  QStringList found;
  service.setDeviceFoundCallback([&](const DetectedDevice& d) { found.append(d.port); });
  // An address given with the serial mode changes nothing.
  EXPECT_EQ(run(service, QStringLiteral("serial"), QStringLiteral("127.0.0.1")), 0);
  EXPECT_EQ(ports.opened,
            (QStringList{"ttyA@115200", "ttyA@38400", "ttyB@115200", "ttyB@38400", "ttyB@57600",
                         "ttyB@9600", "ttyC@115200", "ttyC@38400", "ttyC@57600"}));
  EXPECT_EQ(found, (QStringList{"ttyA", "ttyC"}));
  EXPECT_TRUE(test::matchesGolden(out.toUtf8(), QStringLiteral("detect/serial-scripted.out")));
  EXPECT_TRUE(test::matchesGolden(err.toUtf8(), QStringLiteral("detect/serial-scripted.err")));
}

TEST_F(DetectFrontEnd, NoPortsAndUnknownMode) {
  ScriptedPorts none;
  FakeClock clock;
  DeviceDetectionService service(none, clock);
  EXPECT_EQ(run(service, QString()), 1);
  EXPECT_EQ(err, QStringLiteral("[detect] No COM ports found.\n"));
  EXPECT_EQ(out, QStringLiteral("0 device(s) found\n"));

  EXPECT_EQ(run(service, QStringLiteral("usb"), QStringLiteral("127.0.0.1")), 2);
  EXPECT_EQ(err, QStringLiteral("ecu-detect: unknown mode 'usb' (use serial or tcp)\n"));
  EXPECT_TRUE(out.isEmpty());
  EXPECT_TRUE(none.opened.isEmpty());
}

// Pseudo-terminals served by torvik-ecu-sim; a port reached at any rate but its own hears line
// noise, as a real line at the wrong speed does: only the low bits of each byte survive.
class SimPorts : public ConnectionProvider {
 public:
  struct Port {
    QString name;
    QString path;
    quint32 rate;
  };
  QString name() const override { return QStringLiteral("sim"); }
  QStringList availablePorts() const override {
    QStringList names;
    for (const Port& p : ports) {
      names.append(p.name);
    }
    return names;
  }
  std::unique_ptr<EcuConnection> createConnection(const QString& portName, quint32 baudRate,
                                                  EcuCommsMonitor*) override {
    for (const Port& p : ports) {
      if (p.name != portName) {
        continue;
      }
      auto connection = std::make_unique<test::HookedConnection>(
          std::make_unique<SerialEcuConnection>(p.path, baudRate));
      if (baudRate != p.rate) {
        connection->onRead = [](const QByteArray& bytes) {
          QByteArray noise = bytes;
          for (char& c : noise) {
            c = static_cast<char>(c & 0x07);
          }
          return noise;
        };
      }
      return connection;
    }
    return nullptr;
  }

  QList<Port> ports;
};

class DetectOverSimulator : public DetectFrontEnd {
 protected:
  static void SetUpTestSuite() {
    if (QCoreApplication::instance() == nullptr) {
      app = std::make_unique<QCoreApplication>(argc, argv);
    }
  }
  static void TearDownTestSuite() { app.reset(); }

  static test::SimOptions simOptions(bool pty) {
    test::SimOptions o;
    o.ini = demoIni();
    o.pty = pty;
    return o;
  }

  inline static char name[] = "torvik_tests";
  inline static char* argv[] = {name, nullptr};
  inline static int argc = 1;
  inline static std::unique_ptr<QCoreApplication> app;
};

TEST_F(DetectOverSimulator, SerialScanFindsPseudoTerminalsAtTheirRates) {
  const test::SimProcess fast(simOptions(true));
  const test::SimProcess slow(simOptions(true));
  ASSERT_TRUE(fast.ready() && slow.ready());
  SimPorts ports;
  ports.ports = {{"simFast", fast.ptyPath(), 115200},
                 {"missing", "/nonexistent/tty", 115200},
                 {"simSlow", slow.ptyPath(), 57600}};
  DeviceDetectionService service(ports);
  EXPECT_EQ(run(service, QStringLiteral("serial")), 0);
  EXPECT_TRUE(test::matchesGolden(out.toUtf8(), QStringLiteral("detect/serial-sim.out")));
  EXPECT_TRUE(test::matchesGolden(err.toUtf8(), QStringLiteral("detect/serial-sim.err")));
}

// A port on which nothing listens: bound, then released.
quint16 closedLoopbackPort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

TEST_F(DetectOverSimulator, BridgeProbeOfOneHost) {
  const test::SimProcess sim(simOptions(false));
  ASSERT_TRUE(sim.ready());
  SerialConnectionProvider unused;
  DeviceDetectionService service(unused);
  const quint16 closed = closedLoopbackPort();
  service.setBridgePorts({closed, sim.port()});
  EXPECT_EQ(run(service, QStringLiteral("tcp"), QStringLiteral("127.0.0.1")), 0);
  const QString port = QString::number(sim.port());
  EXPECT_EQ(out, QStringLiteral("TcpBridge TCP:127.0.0.1:%1 -> \"speeduino 202501-demo\"\n"
                                "1 device(s) found\n")
                     .arg(port));
  EXPECT_EQ(err, QStringLiteral("[detect] Probing 127.0.0.1...\n"
                                "[detect] FOUND: speeduino 202501-demo at 127.0.0.1:%1\n")
                     .arg(port));
}

TEST_F(DetectOverSimulator, SilentListenerAndClosedPortEndWithinTheirDeadlines) {
  QTcpServer silent;  // the system accepts for it; nobody ever reads or answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  SerialConnectionProvider unused;
  DeviceDetectionService service(unused);
  service.setBridgePorts({closedLoopbackPort(), silent.serverPort()});
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(run(service, QStringLiteral("tcp"), QStringLiteral("127.0.0.1")), 1);
  const qint64 elapsed = timer.elapsed();
  EXPECT_EQ(out, QStringLiteral("0 device(s) found\n"));
  // Six exchanges of 800 ms each on the silent port; the closed port is refused at once. The
  // bound is every deadline of both ports added up: two connects of 3000 ms, eight exchanges of
  // 800 ms, the settling sleeps and the discarding read.
  EXPECT_GE(elapsed, 6 * 800);
  EXPECT_LE(elapsed, 2 * 3000 + 2 * (6 * 800 + 50 + 50 + 100));
}

TEST_F(DetectOverSimulator, SubnetScanFromTextAndFromInjectedInterfaces) {
  const test::SimProcess sim(simOptions(false));
  ASSERT_TRUE(sim.ready());
  SerialConnectionProvider unused;
  DeviceDetectionService service(unused);
  QStringList progress;
  service.setProgressCallback([&](const QString& line) { progress.append(line); });
  service.setBridgePorts({sim.port()});
  // Loopback-only stand-ins for the machine's interfaces: the down and the loopback ones must
  // not be scanned.
  service.setInterfaceLister([] {
    return QList<NetworkInterfaceInfo>{{true, false, {QHostAddress("127.0.0.7")}},
                                       {false, false, {QHostAddress("127.0.1.7")}},
                                       {true, true, {QHostAddress("127.0.2.7")}}};
  });
  for (const QString& subnets : {QStringLiteral("127.0.0.0/24 127.0.0.0/24"), QString()}) {
    progress.clear();
    const QList<DetectedDevice> found = service.detectTcpDevices(QString(), subnets);
    ASSERT_EQ(found.size(), 1) << subnets.toStdString();
    EXPECT_EQ(found.at(0).host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(found.at(0).tcpPort, sim.port());
    EXPECT_EQ(found.at(0).baudRate, 0u);
    EXPECT_EQ(found.at(0).protocol, QStringLiteral("TcpBridge"));
    progress.replaceInStrings(QString::number(sim.port()), QStringLiteral("PORT"));
    EXPECT_TRUE(test::matchesGolden(progress.join(u'\n').toUtf8() + '\n',
                                    QStringLiteral("detect/subnet-scan.err")));
  }
  service.setInterfaceLister([] { return QList<NetworkInterfaceInfo>{}; });
  progress.clear();
  EXPECT_TRUE(service.detectTcpDevices(QStringLiteral("  "), QString()).isEmpty());
  EXPECT_EQ(progress, QStringList{QStringLiteral("No subnets to scan.")});
}

}  // namespace
}  // namespace tk::comms
