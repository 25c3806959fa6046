#include "comms/ecu_comms_monitor.h"

#include <gtest/gtest.h>

namespace tk::comms {
namespace {

class CommsMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor.setClock([this] { return start.addMSecs(nowMs); });
    QObject::connect(&monitor, &EcuCommsMonitor::logEntryAdded,
                     [this](const CommsLogEntry& e) { emitted.append(e.label); });
  }

  void logAt(qint64 ms, int direction, const char* label) {
    nowMs = ms;
    monitor.log(direction, QByteArrayLiteral("\x01\x02"), QString::fromLatin1(label));
  }

  const QDateTime start = QDateTime(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
  qint64 nowMs = 0;
  EcuCommsMonitor monitor;
  QStringList emitted;
};

TEST_F(CommsMonitorTest, KeepsOneEntryPerDirectionPerHundredMillisecondsUnlessDisabled) {
  logAt(0, 0, "tx");
  logAt(50, 0, "tx");   // skipped
  logAt(60, 1, "rx");   // the other direction is throttled on its own
  logAt(99, 0, "tx");   // still skipped
  logAt(100, 0, "tx");  // kept, with the count
  monitor.setEnabled(false);
  logAt(300, 1, "off");
  monitor.setEnabled(true);
  logAt(400, 1, "rx");
  EXPECT_EQ(emitted, (QStringList{QStringLiteral("tx"), QStringLiteral("rx"),
                                  QStringLiteral("tx (+2 skipped)"), QStringLiteral("rx")}));
  ASSERT_EQ(monitor.entries().size(), 4);
  EXPECT_EQ(monitor.entries().at(2).label, emitted.at(2));
  EXPECT_EQ(monitor.entries().at(0).timestamp, start);
  EXPECT_EQ(monitor.entries().at(1).direction, 1);
  EXPECT_EQ(monitor.entries().at(1).data, QByteArrayLiteral("\x01\x02"));
}

TEST_F(CommsMonitorTest, DropsTheOldestHundredPastFiveHundred) {
  for (int i = 0; i <= 500; ++i) {
    logAt(i * 100, 0, "tx");
  }
  EXPECT_EQ(monitor.entries().size(), 401);
  EXPECT_EQ(monitor.entries().front().timestamp, start.addMSecs(100 * 100));
  EXPECT_EQ(emitted.size(), 501);
}

TEST(CommsMonitorClockTest, DefaultClockIsUtcNow) {
  EcuCommsMonitor monitor;
  const QDateTime before = QDateTime::currentDateTimeUtc();
  monitor.log(0, QByteArray(), QStringLiteral("x"));
  ASSERT_EQ(monitor.entries().size(), 1);
  EXPECT_EQ(monitor.entries().at(0).timestamp.timeSpec(), Qt::UTC);
  EXPECT_GE(monitor.entries().at(0).timestamp, before);
}

}  // namespace
}  // namespace tk::comms
