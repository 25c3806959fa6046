// The mock ECU and the traffic monitor that connections feed.

#include <gtest/gtest.h>

#include "comms/ecu_comms_monitor.h"
#include "comms/mock_ecu_connection.h"

namespace tk::comms {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

class MockEcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor.setClock([] { return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC); });
    QObject::connect(&mock, &EcuConnection::dataReceived,
                     [this](const QByteArray& d) { replies.append(d); });
    mock.open();
  }

  EcuCommsMonitor monitor;
  MockEcuConnection mock{QStringLiteral("speeduino 2025\u00E9"), QByteArray(12, '\0'),
                         hex("7200300000000C00"), &monitor};
  QList<QByteArray> replies;
};

TEST_F(MockEcuTest, AnswersOnlyThroughTheSignalAndLogsBothWays) {
  EXPECT_EQ(mock.write(hex("520100100008")), 6);
  EXPECT_EQ(mock.write("S"), 1);
  EXPECT_EQ(mock.write("Vxyz"), 4);
  EXPECT_EQ(mock.write(hex("7200300000000C00")), 8);
  EXPECT_EQ(mock.write(hex("7200300000000C0000")), 9);  // the realtime request must match whole
  EXPECT_EQ(mock.write(QByteArray()), 0);
  EXPECT_EQ(mock.write(hex("520100")), 3);  // too short for a page read
  ASSERT_EQ(replies.size(), 4);
  ASSERT_EQ(mock.page(1).size(), 1024);
  EXPECT_EQ(replies.at(0), mock.page(1).mid(16, 8));
  EXPECT_EQ(replies.at(1), QByteArrayLiteral("speeduino 2025?"));
  EXPECT_EQ(replies.at(2), QByteArrayLiteral("Torvik-Mock-1.0"));
  EXPECT_EQ(replies.at(3).size(), 12);
  EXPECT_TRUE(mock.read(100, 0).isEmpty() && mock.bytesAvailable() == 0);
  // The first request and its reply are logged; the rest come within the same 100 ms.
  ASSERT_EQ(monitor.entries().size(), 2);
  EXPECT_EQ(monitor.entries().at(0).label, QStringLiteral("Mock ECU Rx"));
  EXPECT_EQ(monitor.entries().at(1).label, QStringLiteral("Mock Page Read Response (P1 O16 C8)"));
  EXPECT_EQ(monitor.entries().at(1).direction, EcuCommsMonitor::kReceive);
  // A page never read before appears with 65536 bytes; reading past its end gives zeros.
  mock.write(hex("5202FFF00020"));
  EXPECT_EQ(replies.at(4), mock.page(2).right(16) + QByteArray(16, '\0'));
  EXPECT_EQ(mock.page(2).size(), 65536);
  EXPECT_TRUE(mock.page(3).isEmpty());
  mock.close();
  EXPECT_EQ(mock.write("S"), 0);
  EXPECT_EQ(replies.size(), 5);
}

TEST(CommsMonitorTest, KeepsOneEntryPerDirectionPerHundredMillisecondsAndAtMostFiveHundred) {
  const QDateTime start(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
  qint64 nowMs = 0;
  EcuCommsMonitor monitor;
  monitor.setClock([&] { return start.addMSecs(nowMs); });
  QStringList emitted;
  QObject::connect(&monitor, &EcuCommsMonitor::logEntryAdded,
                   [&](const CommsLogEntry& e) { emitted.append(e.label); });
  const auto logAt = [&](qint64 ms, int direction, const char* label) {
    nowMs = ms;
    monitor.log(direction, QByteArrayLiteral("\x01\x02"), QString::fromLatin1(label));
  };
  logAt(0, 0, "tx");
  logAt(50, 0, "tx");   // skipped
  logAt(60, 1, "rx");   // the other direction is throttled on its own
  logAt(99, 0, "tx");   // still skipped
  logAt(100, 0, "tx");  // kept, with the count
  monitor.setEnabled(false);
  logAt(300, 1, "off");  // neither kept nor counted
  monitor.setEnabled(true);
  logAt(400, 1, "rx");
  EXPECT_EQ(emitted, (QStringList{QStringLiteral("tx"), QStringLiteral("rx"),
                                  QStringLiteral("tx (+2 skipped)"), QStringLiteral("rx")}));
  ASSERT_EQ(monitor.entries().size(), 4);
  EXPECT_EQ(monitor.entries().at(1).timestamp, start.addMSecs(60));
  EXPECT_EQ(monitor.entries().at(1).direction, 1);
  EXPECT_EQ(monitor.entries().at(1).data, QByteArrayLiteral("\x01\x02"));
  // The 501st kept entry pushes out the oldest 100.
  for (int i = 0; i < 497; ++i) {
    logAt(1000 + i * 100, 0, "tx");
  }
  EXPECT_EQ(monitor.entries().size(), 401);
  EXPECT_EQ(monitor.entries().front().timestamp, start.addMSecs(1000 + 96 * 100));
  EXPECT_EQ(emitted.size(), 501);
}

}  // namespace
}  // namespace tk::comms
