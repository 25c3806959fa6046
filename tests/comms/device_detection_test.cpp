// The device scan's rules: reply texts, acceptance and subnet texts as tables, and the subnet scan
// against the simulator on loopback only. (The scans through the ecu-detect front end are in
// tests/cli/ecu_detect_test.cpp.)

#include <gtest/gtest.h>

#include <optional>

#include "comms/connection_provider.h"
#include "comms/device_detection_service.h"
#include "comms/ecu_command_service.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::comms {
namespace {

struct ReplyCase {
  const char* what;
  QByteArray reply;
  std::optional<QString> text;  // not checked when absent
  bool accepted;
};

TEST(DetectionRules, ReplyTextAndAcceptance) {
  const ReplyCase cases[] = {
      {"NUL-terminated", QByteArray("speeduino 202501\0", 17), "speeduino 202501", true},
      {"whole frame", EcuCommandService::wrapFrame(QByteArray(1, '\0') + "speeduino 202501"),
       "speeduino 202501", true},
      {"two characters", "ok", "ok", false},
      {"three characters", "abc", "abc", true},
      {"byte below 10", "ab\5cd", "ab\5cd", false},
      {"tab", "ab\tcd", "ab\tcd", false},
      {"line feed inside", "ab\ncd", "ab\ncd", true},
      {"tilde", "ab~", "ab~", true},
      {"DEL", "ab\x7f", "ab\x7f", false},
      {"high bytes", "\x80\xff\x90", "???", true},
      {"ends trimmed", QByteArray("\r\n  hello \0", 11), "hello", true},
      {"too short for a frame", QByteArray("\0\1ABCD", 6), "\1ABCD", false},
      {"length beyond the reply", QByteArray("\x00\x20speeduino", 11), "speeduino", true},
      // These fall back to the whole reply, length bytes and CRC included.
      {"binary frame", EcuCommandService::wrapFrame(QByteArray::fromHex("000102")), {}, false},
      {"blank frame", EcuCommandService::wrapFrame(QByteArray("\0   ", 4)), {}, false},
      {"nothing", QByteArray(), QString(), false},
  };
  for (const ReplyCase& c : cases) {
    const QString text = detectionReplyText(c.reply);
    EXPECT_EQ(text, c.text.value_or(text)) << c.what;
    EXPECT_EQ(isAcceptedAnswer(text), c.accepted) << c.what;
  }
  SerialConnectionProvider provider;
  const DeviceDetectionService service(provider);
  EXPECT_EQ(serialBaudOrder(service.baudRates()), (QList<quint32>{115200, 38400, 57600, 9600}));
  EXPECT_EQ(serialBaudOrder({9600, 38400, 19200, 115200, 38400}),
            (QList<quint32>{115200, 38400, 9600, 19200}));
}

TEST(DetectionRules, SubnetTextsAndInterfaces) {
  const std::pair<const char*, QStringList> cases[] = {
      {"127.0.0.0/24", {"127.0.0"}},
      {"127.0.1.0/24 127.0.0.0/24", {"127.0.1", "127.0.0"}},
      {"127.0.0.0/24 127.0.0.9", {"127.0.0"}},
      {"  127.0.3.0/24   127.0.4.7  ", {"127.0.3", "127.0.4"}},
      {"127.0.5", {"127.0.5"}},
      {"127.0 127.0.6.0/16", {"127.0.6"}},
      {"", {}},
  };
  for (const auto& [text, prefixes] : cases) {
    EXPECT_EQ(subnetPrefixes(QString::fromLatin1(text)), prefixes) << text;
  }
  const QList<NetworkInterfaceInfo> interfaces = {
      {true, false, {QHostAddress("::1"), QHostAddress("127.0.8.5"), QHostAddress("127.0.8.9")}},
      {false, false, {QHostAddress("127.0.9.1")}},
      {true, true, {QHostAddress("127.0.10.1")}},
      {true, false, {QHostAddress("127.0.11.2")}},
  };
  EXPECT_EQ(interfacePrefixes(interfaces), (QStringList{"127.0.8", "127.0.11"}));
}

using SubnetScanTest = test::AppTest;

TEST_F(SubnetScanTest, FromTextAndFromInjectedInterfaces) {
  SerialConnectionProvider serial;  // opens no serial port in a bridge scan
  test::SimOptions options;
  options.ini = test::demoIni();
  const test::SimProcess tcp(options);
  ASSERT_TRUE(tcp.ready());
  DeviceDetectionService service(serial);
  QStringList progress;
  service.setProgressCallback([&](const QString& line) { progress.append(line); });
  service.setBridgePorts({tcp.port()});
  // Loopback-only stand-ins for the machine's interfaces; the down and the loopback one are
  // not scanned.
  service.setInterfaceLister([] {
    return QList<NetworkInterfaceInfo>{{true, false, {QHostAddress("127.0.0.7")}},
                                       {false, false, {QHostAddress("127.0.1.7")}},
                                       {true, true, {QHostAddress("127.0.2.7")}}};
  });
  for (const QString& subnets : {QStringLiteral("127.0.0.0/24 127.0.0.0/24"), QString()}) {
    progress.clear();
    const QList<DetectedDevice> found = service.detectTcpDevices(QString(), subnets);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.at(0).port, QStringLiteral("TCP:127.0.0.1:%1").arg(tcp.port()));
    EXPECT_EQ(found.at(0).tcpPort, tcp.port());
    progress.replaceInStrings(QString::number(tcp.port()), QStringLiteral("PORT"));
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
