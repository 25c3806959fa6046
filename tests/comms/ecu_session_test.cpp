// EcuSession against the simulated controller behind a loopback TCP bridge: opening, the
// signature check and its rules, writes and guarded pushes, a lost connection and reopening.

#include "comms/ecu_session.h"

#include <gtest/gtest.h>

#include <memory>

#include "comms_fakes.h"
#include "sim/sim_ecu_connection.h"
#include "sim/stand_in_server.h"
#include "support/sim_process.h"

namespace tk::comms {
namespace {

// A match is the "Q" or the "S" reply, trimmed, equal to the signature; the text shown is the "S"
// reply when it names the firmware, else the "Q" reply.
TEST(SignatureRepliesTest, MatchAndShownText) {
  using Text = std::optional<QString>;
  const struct {
    Text q, s;
    bool match;
    Text shown;
  } cases[] = {
      {"speeduino 202501-tk  ", "Acme ECU 9", true, "speeduino 202501-tk  "},
      {"speeduino 202501-other", "speeduino 202501-tk \r\n", true, "speeduino 202501-tk \r\n"},
      {"speeduino 202501-other", " speeduino 202501-tk", true, "speeduino 202501-other"},
      {"speeduino 202501-other", "Acme ECU 9", false, "speeduino 202501-other"},
      {"", "Acme ECU 9", false, "Acme ECU 9"},
      {{}, {}, false, {}},
  };
  for (const auto& [q, s, match, shown] : cases) {
    SCOPED_TRACE(q.value_or(QStringLiteral("-")).toStdString());
    const SignatureReplies replies{q, s};
    EXPECT_EQ(replies.matches(QStringLiteral("speeduino 202501-tk")), match);
    EXPECT_EQ(replies.shown(), shown);
  }
}

class EcuSessionTest : public test::AppTest {
 protected:
  void SetUp() override { ASSERT_NE(port = server->listenOnLoopback(), 0); }
  EcuEndpoint bridge() const {
    return {QStringLiteral("TcpBridge"), {}, 0, QStringLiteral("127.0.0.1"), port};
  }

  const EcuDefinition& definition = test::syntheticDefinition();
  const PageImages pages = test::syntheticPages();
  sim::SimEcuConnection ecu{definition};
  std::unique_ptr<sim::StandInServer> server = std::make_unique<sim::StandInServer>(ecu);
  quint16 port = 0;
};

// A session that cannot open (its open failures' texts are in tests/data/cli/ecu-link.txt) says
// so to push and answers every question as closed.
TEST_F(EcuSessionTest, ASessionThatNeverOpensAnswersAsClosed) {
  EcuSession session(EcuEndpoint(), definition);
  const QString error = QStringLiteral("No COM port configured in project connection settings");
  EXPECT_EQ(session.open(), error);
  EXPECT_EQ(session.state(), SessionState::Closed);
  EXPECT_EQ(session.push(&pages).skipped, error);
  EXPECT_EQ(session.connectionFailure(), EcuSession::notConnectedMessage());
  EXPECT_FALSE(session.checkSignature().match);
  EXPECT_EQ(session.writePages(pages, false).failure(), EcuSession::notConnectedMessage());
}

// A matching controller takes writes and pushes; a push without a tune, to a controller of
// another signature or one that refuses writes or burns is skipped or failed, and burns nothing.
TEST_F(EcuSessionTest, WritesAndPushesReachOnlyAMatchingController) {
  EcuDefinition other = definition;
  other.Signature = QStringLiteral("speeduino 202501-other");
  EcuSession mismatched(bridge(), other);
  EXPECT_EQ(mismatched.push(&pages).skipped,
            QStringLiteral("Signature mismatch: ECU='speeduino 202501-tk', "
                           "INI='speeduino 202501-other'"));
  mismatched.close();
  EcuSession session(bridge(), definition);
  EXPECT_EQ(session.push(nullptr).skipped, QStringLiteral("No tune loaded"));
  const quint8 status = EcuCommandService::kStatusOutOfRange;
  for (const sim::SimEcuConnection::Refusals& refusals :
       {sim::SimEcuConnection::Refusals{status, std::nullopt},
        sim::SimEcuConnection::Refusals{std::nullopt, status}}) {
    ecu.setRefusals(refusals);
    const PushOutcome pushed = session.push(&pages);
    EXPECT_EQ(pushed.skipped, std::nullopt);
    EXPECT_TRUE(pushed.failed && pushed.failed->contains(QLatin1String("(status 0x84)")))
        << pushed.failed.value_or("-").toStdString();
  }
  EXPECT_EQ(ecu.burnCount(), 0);
  ecu.setRefusals({});
  EXPECT_EQ(session.writePages(pages, false).failure(), std::nullopt);
  EXPECT_EQ(ecu.burnCount(), 0);
  const PushOutcome pushed = session.push(&pages);
  EXPECT_FALSE(pushed.skipped || pushed.failed);
  EXPECT_EQ(session.state(), SessionState::Open);
  EXPECT_EQ(session.connectionFailure(), std::nullopt);
  session.close();
  EXPECT_EQ(session.state(), SessionState::Closed);
  server->stop();
  EXPECT_EQ(ecu.burnCount(), 3);
  for (int page = 0; page < 3; ++page) {
    EXPECT_EQ(ecu.burnedPage(page), pages.value(page + 1)) << page;
  }
}

// The bridge drops its client: the next write reports the connection's own reason, the session
// is Lost until reopened, clearError forgets the reason, and the unknown-command observer
// survives the reopening.
TEST_F(EcuSessionTest, ALostConnectionIsReportedAndTheSessionReopens) {
  EcuSession session(bridge(), definition);
  QByteArrayList unknown;
  session.setUnknownCommandObserver([&](const QByteArray& request) { unknown.append(request); });
  ASSERT_EQ(session.open(), std::nullopt);
  server->stop();
  const WriteOutcome lost = session.writePages(pages, true);
  const QString reason = QStringLiteral("TCP connection lost: peer disconnected");
  EXPECT_EQ(lost.connectionError, reason);
  EXPECT_TRUE(lost.closedAfter);
  EXPECT_EQ(lost.failure(), reason);
  EXPECT_EQ(session.state(), SessionState::Lost);
  EXPECT_EQ(session.connectionFailure(), reason);
  session.clearError();
  EXPECT_EQ(session.connectionFailure(), EcuSession::notConnectedMessage());

  server = std::make_unique<sim::StandInServer>(ecu);
  ASSERT_EQ(server->listenOnLoopback(port), port);
  EXPECT_EQ(session.reopen(), std::nullopt);
  EXPECT_TRUE(session.checkSignature().match);
  session.commands()->sendCommand("Z", 2000);
  EXPECT_EQ(unknown, QByteArrayList{"Z"});
}

}  // namespace
}  // namespace tk::comms
