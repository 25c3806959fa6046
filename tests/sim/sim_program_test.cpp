// The torvik-ecu-sim program end to end: started as a process, reached over loopback TCP and over
// its pseudo-terminal through the real connections.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "comms/ecu_command_service.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "comms/tune_comms_service.h"
#include "definition/ini_parser.h"
#include "support/sim_process.h"

namespace tk::comms {
namespace {

enum class Transport { Tcp, Pty };

QString demoIni() {
  return QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
}

class SimProgramTest : public ::testing::TestWithParam<Transport> {
 protected:
  // Serial ports register notifiers with the application's event dispatcher.
  static void SetUpTestSuite() {
    if (QCoreApplication::instance() == nullptr) {
      app = std::make_unique<QCoreApplication>(argc, argv);
    }
  }
  static void TearDownTestSuite() { app.reset(); }

  test::SimOptions options() const {
    test::SimOptions o;
    o.ini = demoIni();
    o.pty = GetParam() == Transport::Pty;
    return o;
  }

  // Opens a connection to the running simulator and a tune service over it.
  void connectTo(const test::SimProcess& sim) {
    if (GetParam() == Transport::Pty) {
      conn = std::make_unique<SerialEcuConnection>(sim.ptyPath(), 115200);
    } else {
      conn = std::make_unique<TcpBridgeConnection>(test::SimProcess::host(), sim.port());
    }
    ASSERT_TRUE(conn->open());
    tune = std::make_unique<TuneCommsService>(commands, *conn);
    tune->forceCrcProtocol();
  }

  inline static char name[] = "torvik_tests";
  inline static char* argv[] = {name, nullptr};
  inline static int argc = 1;
  inline static std::unique_ptr<QCoreApplication> app;
  const EcuDefinition definition = IniParser().parse(demoIni());
  std::unique_ptr<EcuConnection> conn;
  EcuCommandService commands;
  std::unique_ptr<TuneCommsService> tune;
};

TEST_P(SimProgramTest, AnnouncesItselfAnswersLikeTheControllerAndStopsOnSigterm) {
  test::SimProcess sim(options());
  ASSERT_TRUE(sim.ready()) << sim.standardError().toStdString();
  EXPECT_TRUE(sim.readyLine().startsWith(
      QLatin1String(GetParam() == Transport::Pty ? "torvik-ecu-sim ready pty /"
                                                 : "torvik-ecu-sim ready tcp 127.0.0.1 ")));
  connectTo(sim);
  EXPECT_EQ(tune->querySignatureText(QStringLiteral("Q")), QStringLiteral("speeduino 202501-demo"));
  EXPECT_EQ(tune->readSignature(), QStringLiteral("Speeduino 2025.01-demo"));
  EXPECT_TRUE(tune->verifySignature(definition));
  conn->close();
  EXPECT_EQ(sim.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimProgramTest,
                         ::testing::Values(Transport::Tcp, Transport::Pty),
                         [](const auto& p) { return p.param == Transport::Tcp ? "Tcp" : "Pty"; });

}  // namespace
}  // namespace tk::comms
