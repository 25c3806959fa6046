#include "comms/scripted_ecu_connection.h"

#include <gtest/gtest.h>

namespace tk::comms {
namespace {

TEST(ScriptedEcuTest, IdentityAndOpenClose) {
  ScriptedEcuConnection conn;
  QList<ConnectionStatus> statuses;
  QObject::connect(&conn, &EcuConnection::statusChanged,
                   [&](ConnectionStatus s) { statuses.append(s); });
  EXPECT_EQ(conn.id(), QStringLiteral("SCRIPTED"));
  EXPECT_EQ(conn.displayName(), QStringLiteral("Scripted Connection"));
  EXPECT_EQ(conn.status(), ConnectionStatus::Disconnected);
  EXPECT_TRUE(conn.open());
  EXPECT_TRUE(conn.open());
  conn.close();
  EXPECT_EQ(statuses,
            (QList<ConnectionStatus>{ConnectionStatus::Connected, ConnectionStatus::Disconnected}));
}

TEST(ScriptedEcuTest, EachWriteReleasesOneQueuedReply) {
  ScriptedEcuConnection conn;
  conn.queueReply(QByteArrayLiteral("one"));
  EXPECT_EQ(conn.write(QByteArrayLiteral("ab")), 2);  // the status is not consulted
  EXPECT_EQ(conn.write(QByteArrayLiteral("cde")), 3);
  EXPECT_EQ(conn.writes(), (QList<QByteArray>{QByteArrayLiteral("ab"), QByteArrayLiteral("cde")}));
  EXPECT_EQ(conn.bytesAvailable(), 3);
  EXPECT_EQ(conn.read(4096), QByteArrayLiteral("one"));
  EXPECT_EQ(conn.read(4096), QByteArray());
  EXPECT_EQ(conn.readCalls(), 2);
}

TEST(ScriptedEcuTest, ReadsTakeFromTheFrontInPieces) {
  ScriptedEcuConnection conn;
  conn.appendPendingInput(QByteArrayLiteral("abcdef"));
  EXPECT_EQ(conn.read(2), QByteArrayLiteral("ab"));
  EXPECT_EQ(conn.read(0), QByteArray());
  EXPECT_EQ(conn.read(-5), QByteArray());
  EXPECT_EQ(conn.pendingInput(), QByteArrayLiteral("cdef"));
  EXPECT_EQ(conn.readCalls(), 3);
}

}  // namespace
}  // namespace tk::comms
