#include "comms/scripted_ecu_connection.h"

#include "comms/ecu_command_service.h"

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

TEST(ScriptedEcuTest, ForcedWriteResultReleasesNothing) {
  ScriptedEcuConnection conn;
  conn.open();
  conn.queueReply(QByteArrayLiteral("reply"));
  conn.setForcedWriteResult(3);
  EXPECT_EQ(conn.forcedWriteResult(), 3);
  EcuCommandService service(&conn);
  const EcuResponse r = service.sendCommand(QByteArrayLiteral("ABCD"), 100);
  EXPECT_EQ(r.error, QStringLiteral("Command write failed"));
  EXPECT_EQ(conn.writes().at(0).size(), 10);
  EXPECT_EQ(conn.queuedReplies().size(), 1);
  EXPECT_EQ(conn.bytesAvailable(), 0);
  conn.setForcedWriteResult(-1);
  EXPECT_EQ(conn.write("x"), 1);
  EXPECT_EQ(conn.bytesAvailable(), 5);
}

TEST(ScriptedEcuTest, StaleInputIsPurgedByTheNextCommand) {
  ScriptedEcuConnection conn;
  conn.open();
  conn.appendPendingInput(QByteArrayLiteral("stale bytes"));
  EcuCommandService service(&conn);
  service.sendWithoutResponse(QByteArrayLiteral("b"));
  EXPECT_EQ(conn.bytesAvailable(), 0);
  EXPECT_EQ(conn.writes().size(), 1);
}

}  // namespace
}  // namespace tk::comms
