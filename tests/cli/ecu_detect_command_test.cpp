// ecu-detect as the program runs it: loopback addresses only, never a subnet of this machine.

#include <gtest/gtest.h>

#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

TEST(EcuDetectCommand, FindsTheSimulatorOnTheFirstBridgePort) {
  test::SimOptions options;
  options.ini = test::demoIni();
  options.port = 29001;
  const test::SimProcess sim(options);
  if (!sim.ready()) {
    GTEST_SKIP() << "loopback port 29001 is taken on this machine";
  }
  const test::ProcessResult r = test::runCli({"ecu-detect", "tcp", "127.0.0.1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "TcpBridge TCP:127.0.0.1:29001 -> \"speeduino 202501-demo\"\n"
            "1 device(s) found\n");
  EXPECT_EQ(r.err,
            "[detect] Probing 127.0.0.1...\n"
            "[detect] FOUND: speeduino 202501-demo at 127.0.0.1:29001\n");
}

TEST(EcuDetectCommand, NothingFoundAndTooManyArguments) {
  // Nothing listens on 127.0.0.2: the simulators of the tests bind 127.0.0.1.
  test::ProcessResult r = test::runCli({"ecu-detect", "tcp", "127.0.0.2"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "0 device(s) found\n");
  EXPECT_EQ(r.err, "[detect] Probing 127.0.0.2...\n");

  r = test::runCli({"ecu-detect", "tcp", "127.0.0.1", "extra"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, test::readFile(test::dataPath(QStringLiteral("cli/usage.txt"))));
}

}  // namespace
}  // namespace tk::cli
