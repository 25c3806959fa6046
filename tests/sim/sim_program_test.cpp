// The torvik-ecu-sim program end to end: started as a process, reached over loopback TCP and over
// its pseudo-terminal through the real connections.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>

#include "comms/ecu_command_service.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "comms/tune_comms_service.h"
#include "definition/ini_parser.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::sim {
namespace {

using namespace comms;

enum class Transport { Tcp, Pty };

class SimClientsTest : public test::AppTest {};

using test::demoIni;

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

class SimProgramTest : public test::AppTest, public ::testing::WithParamInterface<Transport> {
 protected:
  test::SimOptions options() const {
    test::SimOptions o;
    o.ini = demoIni();
    o.pty = GetParam() == Transport::Pty;
    o.flash = dir.filePath(QStringLiteral("flash.bin"));
    return o;
  }

  // Opens a connection to the running simulator and a tune service over it.
  void connectTo(const test::SimProcess& sim) {
    ASSERT_TRUE(sim.ready());
    tune.reset();
    if (GetParam() == Transport::Pty) {
      conn = std::make_unique<SerialEcuConnection>(sim.ptyPath(), 115200);
    } else {
      conn = std::make_unique<TcpBridgeConnection>(test::SimProcess::host(), sim.port());
    }
    ASSERT_TRUE(conn->open());
    tune = std::make_unique<TuneCommsService>(commands, *conn);
    tune->forceCrcProtocol();
  }

  const EcuDefinition definition = IniParser().parse(demoIni());
  QTemporaryDir dir;
  std::unique_ptr<EcuConnection> conn;
  EcuCommandService commands;
  std::unique_ptr<TuneCommsService> tune;
};

// The exchanges themselves are SimEcuConnection's (sim_ecu_connection_test.cpp); here the
// process announces itself, answers over the transport and stops cleanly.
TEST_P(SimProgramTest, AnswersLikeTheControllerAndStopsOnSigterm) {
  test::SimProcess sim(options());
  ASSERT_TRUE(sim.ready()) << sim.standardError().toStdString();
  EXPECT_TRUE(sim.readyLine().startsWith(
      QLatin1String(GetParam() == Transport::Pty ? "torvik-ecu-sim ready pty /dev/"
                                                 : "torvik-ecu-sim ready tcp 127.0.0.1 ")));
  connectTo(sim);
  EXPECT_EQ(tune->readSignature(), QStringLiteral("Speeduino 2025.01-demo"));
  EXPECT_TRUE(tune->verifySignature(definition));
  EXPECT_EQ(commands.sendCommand("Z", 2000).status, 0x83);
  conn->close();
  EXPECT_EQ(sim.stop(), 0);
}

TEST_P(SimProgramTest, BurnedTuneOutlivesSigtermAndKillButUnburnedEditsDoNot) {
  QByteArray page1(128, '\0');
  for (int i = 0; i < page1.size(); ++i) {
    page1[i] = static_cast<char>(i * 7);
  }
  {
    test::SimProcess sim(options());
    connectTo(sim);
    EXPECT_FALSE(tune->writePage(definition, 0, page1, true).failed());
    EXPECT_EQ(sim.stop(), 0);
  }
  {
    test::SimProcess sim(options());
    connectTo(sim);
    EXPECT_EQ(tune->readPage(definition, 0).bytes, page1);
    EXPECT_FALSE(tune->writePage(definition, 3, QByteArray(128, '\x33'), true).failed());
    EXPECT_FALSE(tune->writePage(definition, 0, QByteArray(128, '\x44'), false).failed());
    sim.kill();
  }
  EXPECT_EQ(test::readFile(options().flash).size(), 832);
  test::SimProcess sim(options());
  connectTo(sim);
  EXPECT_EQ(tune->readPage(definition, 0).bytes, page1);
  EXPECT_EQ(tune->readPage(definition, 3).bytes, QByteArray(128, '\x33'));
}

TEST_P(SimProgramTest, BaudRatePacesRepliesByteByByteAndProductTextIsTheOneGiven) {
  test::SimOptions o = options();
  o.baud = 9600;  // 960 bytes a second
  o.product = QStringLiteral("Speeduino 9.9 bench");
  test::SimProcess sim(o);
  connectTo(sim);
  const QByteArray request = EcuCommandService::wrapFrame(hex("70000100008000"));
  QElapsedTimer timer;
  timer.start();
  ASSERT_EQ(conn->write(request), request.size());
  QByteArray reply;
  int pieces = 0;
  while (reply.size() < 135 && !timer.hasExpired(5000)) {
    const QByteArray piece = conn->read(4096, EcuConnection::kDefaultWaitMs);
    pieces += piece.isEmpty() ? 0 : 1;
    reply += piece;
  }
  // 135 bytes take 140 ms at that rate; they can only come later, never sooner.
  EXPECT_GE(timer.elapsed(), 120);
  EXPECT_EQ(reply.size(), 135);
  EXPECT_GE(pieces, 5);
  EXPECT_EQ(tune->readSignature(), *o.product);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimProgramTest,
                         ::testing::Values(Transport::Tcp, Transport::Pty),
                         [](const auto& p) { return p.param == Transport::Tcp ? "Tcp" : "Pty"; });

struct BadStart {
  QStringList args;
  int exitCode;
  const char* message;
};

// The signature ("Q") or at most ms of waiting for it, once a client has asked.
QByteArray signatureReply(QTcpSocket& socket, int ms) {
  QByteArray reply;
  const QDeadlineTimer deadline(ms);
  while (reply.size() < 21 && socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    reply += socket.readAll();
  }
  socket.close();
  return reply;
}

// Clients that come together are served one after another, and clients that queued while the
// simulator was stopped neither block it nor go unanswered: one that gave up is dropped, one
// that waits is served, and so is the next.
TEST_F(SimClientsTest, EveryClientIsServedInTurn) {
  test::SimOptions o;
  o.ini = demoIni();
  test::SimProcess sim(o);
  ASSERT_TRUE(sim.ready()) << sim.standardError().toStdString();
  const QByteArray signature = "speeduino 202501-demo";
  const auto asking = [&sim] {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(test::SimProcess::host(), sim.port());
    EXPECT_TRUE(socket->waitForConnected(2000));
    socket->write("Q");
    socket->waitForBytesWritten(1000);
    return socket;
  };
  std::unique_ptr<QTcpSocket> together[] = {asking(), asking(), asking()};
  for (auto& socket : together) {
    EXPECT_EQ(signatureReply(*socket, 5000), signature);
  }

  ::kill(static_cast<pid_t>(sim.pid()), SIGSTOP);
  asking()->abort();
  const std::unique_ptr<QTcpSocket> waits = asking();
  ::kill(static_cast<pid_t>(sim.pid()), SIGCONT);
  EXPECT_EQ(signatureReply(*waits, 5000), signature);
  EXPECT_EQ(signatureReply(*asking(), 5000), signature);
}

TEST(SimProgramOptionsTest, BadOptionsStopBeforeServingWithAReason) {
  QTemporaryDir dir;
  const QString shortFlash = dir.filePath(QStringLiteral("short.bin"));
  test::writeFile(shortFlash, "abc");
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
  const QString takenPort = QString::number(taken.serverPort());
  const QString ini = demoIni();
  const QString none = dir.filePath(QStringLiteral("none.ini"));
  // clang-format off
  const BadStart cases[] = {
      {{}, 2, "--ini FILE is required"},
      {{"--ini"}, 2, "unknown option or missing value: --ini"},
      {{"--ini", ini, "--port", "70000"}, 2, "invalid value for --port: 70000"},
      {{"--ini", ini, "--baud", "fast"}, 2, "invalid value for --baud: fast"},
      {{"--ini", ini, "--ve-error", "51"}, 2, "invalid value for --ve-error: 51 (expected PCT"},
      {{"--ini", ini, "--ve-error", "-1"}, 2, "invalid value for --ve-error: -1"},
      {{"--ini", ini, "--ve-error", "ten"}, 2, "invalid value for --ve-error: ten"},
      {{"--ini", ini, "--ve-error", "5,x"}, 2, "invalid value for --ve-error: 5,x"},
      {{"--ini", ini, "--pty", "--port", "1"}, 2, "--port and --pty exclude each other"},
      {{"--ini", ini, "--colour", "red"}, 2, "unknown option: --colour"},
      {{"--ini", none}, 1, "cannot read "},
      {{"--ini", ini, "--flash", shortFlash}, 1,
       "holds 3 bytes, not the 832 bytes of the definition's pages"},
      {{"--ini", ini, "--port", takenPort}, 1, "cannot listen on 127.0.0.1:"}};
  // clang-format on
  for (const BadStart& c : cases) {
    QProcess p;
    p.start(QString::fromUtf8(TK_SIM_EXE), c.args);
    ASSERT_TRUE(p.waitForFinished(10000)) << c.message;
    EXPECT_EQ(p.exitCode(), c.exitCode) << c.message;
    EXPECT_EQ(p.readAllStandardOutput(), QByteArray()) << c.message;
    EXPECT_TRUE(p.readAllStandardError().contains(c.message)) << c.message;
  }
}

}  // namespace
}  // namespace tk::sim
