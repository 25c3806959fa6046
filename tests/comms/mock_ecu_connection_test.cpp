#include "comms/mock_ecu_connection.h"

#include <gtest/gtest.h>

#include "comms/ecu_comms_monitor.h"

namespace tk::comms {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

class MockEcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QObject::connect(&mock, &EcuConnection::dataReceived,
                     [this](const QByteArray& d) { replies.append(d); });
    QObject::connect(&mock, &EcuConnection::statusChanged,
                     [this](ConnectionStatus s) { statuses.append(s); });
    mock.open();
  }

  EcuCommsMonitor monitor;
  MockEcuConnection mock{QStringLiteral("speeduino 2025\u00E9"), QByteArray(12, '\0'),
                         hex("7200300000000C00"), &monitor};
  QList<QByteArray> replies;
  QList<ConnectionStatus> statuses;
};

TEST_F(MockEcuTest, IdentityStatusAndWritesThatAnswerNothing) {
  EXPECT_EQ(mock.id(), QStringLiteral("MOCK:ECU"));
  EXPECT_EQ(mock.displayName(), QStringLiteral("Mock ECU Connection"));
  EXPECT_EQ(mock.status(), ConnectionStatus::Connected);
  EXPECT_TRUE(mock.open());
  EXPECT_EQ(mock.write(QByteArray()), 0);
  mock.close();
  mock.close();
  EXPECT_EQ(mock.write("S"), 0);
  EXPECT_TRUE(replies.isEmpty());
  EXPECT_EQ(statuses,
            (QList<ConnectionStatus>{ConnectionStatus::Connected, ConnectionStatus::Disconnected}));
}

TEST_F(MockEcuTest, AnswersSignatureAndVersionOnlyThroughTheSignal) {
  EXPECT_EQ(mock.write("S"), 1);
  EXPECT_EQ(mock.write("Vxyz"), 4);
  EXPECT_EQ(replies, (QList<QByteArray>{QByteArrayLiteral("speeduino 2025?"),
                                        QByteArrayLiteral("Torvik-Mock-1.0")}));
  EXPECT_EQ(mock.read(100), QByteArray());
  EXPECT_EQ(mock.bytesAvailable(), 0);
}

TEST_F(MockEcuTest, PageReadsServeStoredAndNewPages) {
  const QByteArray page1 = mock.page(1);
  ASSERT_EQ(page1.size(), 1024);
  EXPECT_EQ(mock.write(hex("520100100008")), 6);
  ASSERT_EQ(replies.size(), 1);
  EXPECT_EQ(replies.at(0), page1.mid(16, 8));

  // A page never read before appears with 65536 bytes; reading past its end gives zeros.
  EXPECT_EQ(mock.write(hex("5202FFF00020")), 6);
  ASSERT_EQ(replies.size(), 2);
  EXPECT_EQ(mock.page(2).size(), 65536);
  EXPECT_EQ(replies.at(1), mock.page(2).right(16) + QByteArray(16, '\0'));

  EXPECT_EQ(mock.write(hex("520100")), 3);
  EXPECT_EQ(replies.size(), 2);
  EXPECT_TRUE(mock.page(3).isEmpty());
}

TEST_F(MockEcuTest, RealtimeRequestMustMatchWhole) {
  EXPECT_EQ(mock.write(hex("7200300000000C00")), 8);
  ASSERT_EQ(replies.size(), 1);
  EXPECT_EQ(replies.at(0).size(), 12);
  EXPECT_EQ(mock.write(hex("7200300000000C0000")), 9);
  EXPECT_EQ(mock.write("x"), 1);
  EXPECT_EQ(replies.size(), 1);
}

TEST_F(MockEcuTest, LogsRequestsAndRepliesWithTheirLabels) {
  mock.write(hex("520100100008"));
  ASSERT_EQ(monitor.entries().size(), 2);
  EXPECT_EQ(monitor.entries().at(0).label, QStringLiteral("Mock ECU Rx"));
  EXPECT_EQ(monitor.entries().at(0).direction, 0);
  EXPECT_EQ(monitor.entries().at(1).label, QStringLiteral("Mock Page Read Response (P1 O16 C8)"));
  EXPECT_EQ(monitor.entries().at(1).direction, 1);
}

}  // namespace
}  // namespace tk::comms
