// ecu-smoke against torvik-ecu-sim over a pseudo-terminal: the whole pass as the program runs it,
// and the refusals and failures with a hooked line that can see, drop or cut what goes by.

#include "conformance/ecu_smoke.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "comms/serial_ecu_connection.h"
#include "support/hooked_connection.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

QString demoIni() {
  return QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
}

// The demo definition's four pages (128 + 288 + 288 + 128 bytes), none of them zero.
QByteArray flashPattern() {
  QByteArray image(832, '\0');
  for (qsizetype i = 0; i < image.size(); ++i) {
    image[i] = static_cast<char>((i * 7 + 3) % 251);
  }
  return image;
}

// The command byte of a framed request (after the two length bytes), or 0.
char commandOf(const QByteArray& request) { return request.size() > 2 ? request.at(2) : '\0'; }

// The report with what changes from run to run written as PORT and N.
QByteArray normalized(QString report, const QString& port) {
  report.replace(port, QStringLiteral("PORT"));
  report.replace(QRegularExpression(QStringLiteral("\\d+ ms")), QStringLiteral("N ms"));
  return report.toUtf8();
}

class EcuSmokeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QCoreApplication::instance() == nullptr) {
      app = std::make_unique<QCoreApplication>(argc, argv);
    }
  }
  static void TearDownTestSuite() { app.reset(); }

  void SetUp() override {
    flash = dir.filePath(QStringLiteral("flash.bin"));
    QFile file(flash);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(flashPattern());
  }

  test::SimOptions simOptions(const QString& ini) const {
    test::SimOptions o;
    o.ini = ini;
    o.pty = true;
    o.flash = flash;
    return o;
  }

  // Runs the smoke test in this process over a hooked line to the simulator's terminal.
  int runHooked(const test::SimProcess& sim,
                const std::function<void(test::HookedConnection&)>& hook) {
    conformance::SmokePorts ports;
    // A port given on the command line is the only candidate: nothing is enumerated.
    ports.autoDetect = [] {
      ADD_FAILURE() << "ports enumerated although one was given";
      return QStringList();
    };
    ports.connect = [&](const QString& port) -> std::unique_ptr<comms::EcuConnection> {
      auto connection = std::make_unique<test::HookedConnection>(
          std::make_unique<comms::SerialEcuConnection>(port, 115200));
      hook(*connection);
      line = connection.get();
      return connection;
    };
    report.clear();
    QTextStream out(&report);
    return conformance::ecuSmokeWith(demoIni(), sim.ptyPath(), ports, out);
  }

  // Whether any chunk write or burn went out on the line.
  bool wroteAnything() const {
    for (const QByteArray& request : writes) {
      if (commandOf(request) == 'M' || commandOf(request) == 'b') {
        return true;
      }
    }
    return false;
  }

  inline static char name[] = "torvik_tests";
  inline static char* argv[] = {name, nullptr};
  inline static int argc = 1;
  inline static std::unique_ptr<QCoreApplication> app;
  QTemporaryDir dir;
  QString flash;
  QString report;
  test::HookedConnection* line = nullptr;
  QList<QByteArray> writes;
};

TEST_F(EcuSmokeTest, PassesEndToEndAndLeavesTheFlashAsItWas) {
  const test::SimProcess sim(simOptions(demoIni()));
  ASSERT_TRUE(sim.ready());
  const test::ProcessResult r = test::runCli({"ecu-smoke", demoIni(), sim.ptyPath()});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(
      normalized(QString::fromUtf8(r.out).replace(demoIni(), QStringLiteral("DEMO.ini")),
                 sim.ptyPath()),
      QStringLiteral("smoke/pass.out")));
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

TEST_F(EcuSmokeTest, ForeignSignatureStopsBeforeAnyWrite) {
  QByteArray ini = test::readFile(demoIni());
  ini.replace("speeduino 202501-demo", "speeduino 202402-other");
  const QString otherIni = dir.filePath(QStringLiteral("other.ini"));
  QFile file(otherIni);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(ini);
  file.close();
  const test::SimProcess sim(simOptions(otherIni));
  ASSERT_TRUE(sim.ready());
  EXPECT_EQ(runHooked(sim,
                      [&](test::HookedConnection& c) {
                        c.beforeWrite = [&](const QByteArray& bytes) { writes.append(bytes); };
                      }),
            1);
  EXPECT_FALSE(wroteAnything());
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("  ECU signature: 'Speeduino 2024.02-other'\n"
                     "  FAIL  signature matches INI\n"
                     "  ABORT: refusing to touch an ECU whose signature does not match the INI\n")))
      << report.toStdString();
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

TEST_F(EcuSmokeTest, FailedPageReadStopsBeforeAnyWrite) {
  const test::SimProcess sim(simOptions(demoIni()));
  ASSERT_TRUE(sim.ready());
  bool dropping = false;
  EXPECT_EQ(runHooked(sim,
                      [&](test::HookedConnection& c) {
                        c.beforeWrite = [&](const QByteArray& bytes) {
                          writes.append(bytes);
                          // Page 2 is asked for as "p", 0x00, 0x02: its answers are lost.
                          dropping = commandOf(bytes) == 'p' && bytes.at(4) == 2;
                        };
                        c.onRead = [&](const QByteArray& bytes) {
                          return dropping ? QByteArray() : bytes;
                        };
                      }),
            1);
  EXPECT_FALSE(wroteAnything());
  EXPECT_TRUE(
      test::matchesGolden(normalized(report, sim.ptyPath()).replace(demoIni().toUtf8(), "DEMO.ini"),
                          QStringLiteral("smoke/page-read-fails.out")));
}

TEST_F(EcuSmokeTest, SimulatorKilledBeforeTheBurnEndsInTheFailureSummary) {
  test::SimProcess sim(simOptions(demoIni()));
  ASSERT_TRUE(sim.ready());
  const int code = runHooked(sim, [&](test::HookedConnection& c) {
    c.beforeWrite = [&](const QByteArray& bytes) {
      if (commandOf(bytes) == 'b') {
        sim.kill();
      }
    };
  });
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(report.contains(QStringLiteral("  wrote + burned 4 pages in ")));
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("  FAIL  post-burn read-back byte-identical to the original tune\n"
                     "\nSMOKE FAIL on %1 (1 failure(s))\n")
          .arg(sim.ptyPath())))
      << report.toStdString();
  // The burn never reached the flash.
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

TEST_F(EcuSmokeTest, CandidateThatDoesNotAnswerIsSkipped) {
  const test::SimProcess sim(simOptions(demoIni()));
  ASSERT_TRUE(sim.ready());
  conformance::SmokePorts ports;
  ports.autoDetect = [&] { return QStringList{QStringLiteral("deaf"), sim.ptyPath()}; };
  ports.connect = [&](const QString& port) -> std::unique_ptr<comms::EcuConnection> {
    auto connection = std::make_unique<test::HookedConnection>(
        std::make_unique<comms::SerialEcuConnection>(sim.ptyPath(), 115200));
    if (port == QLatin1String("deaf")) {
      connection->onRead = [](const QByteArray&) { return QByteArray(); };
    }
    return connection;
  };
  QTextStream out(&report);
  EXPECT_EQ(conformance::ecuSmokeWith(demoIni(), QString(), ports, out), 0);
  EXPECT_TRUE(report.contains(QStringLiteral("Auto-detected STM32 VCP candidates: deaf, %1\n\n"
                                             "=== Port deaf ===\n"
                                             "  ECU signature: '<none>'\n"
                                             "  no signature response, skipping port\n\n"
                                             "=== Port %1 ===\n")
                                  .arg(sim.ptyPath())))
      << report.toStdString();
  EXPECT_TRUE(
      report.endsWith(QStringLiteral("\nSMOKE PASS on %1 (0 failure(s))\n").arg(sim.ptyPath())));
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

TEST(EcuSmokeSetUp, PortsAndDefinitionsRefused) {
  QString report;
  QTextStream out(&report);
  conformance::SmokePorts none;
  none.autoDetect = [] { return QStringList(); };
  EXPECT_EQ(conformance::ecuSmokeWith(demoIni(), QString(), none, out), 1);
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("FAIL: no STM32 virtual COM port (0483:5740) found and no port given\n")));

  conformance::SmokePorts silent;
  silent.autoDetect = [] { return QStringList{"ttyACM7", "ttyACM8"}; };
  silent.connect = [](const QString&) { return std::unique_ptr<comms::EcuConnection>(); };
  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(demoIni(), QString(), silent, out), 1);
  EXPECT_TRUE(test::matchesGolden(report.replace(demoIni(), QStringLiteral("DEMO.ini")).toUtf8(),
                                  QStringLiteral("smoke/no-candidate.out")));

  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(QStringLiteral("/nonexistent/x.ini"), QString(), none, out),
            1);
  EXPECT_EQ(report, QStringLiteral("FAIL: cannot read /nonexistent/x.ini\n"));

  // A last page of 8 bytes has no room for the scratch area 16 bytes before its end.
  QTemporaryDir dir;
  QByteArray ini = test::readFile(demoIni());
  ini.replace("pageSize            = 128, 288, 288, 128", "pageSize = 128, 288, 288, 8");
  QFile file(dir.filePath(QStringLiteral("small.ini")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(ini);
  file.close();
  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(file.fileName(), QStringLiteral("ttyACM7"), silent, out), 1);
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("4 pages, blockingFactor 251, endianness little\n"
                     "FAIL: the last page needs at least 16 bytes for the scratch area\n")))
      << report.toStdString();
}

}  // namespace
}  // namespace tk::cli
