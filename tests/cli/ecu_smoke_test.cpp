// ecu-smoke against torvik-ecu-sim over a pseudo-terminal: the whole pass as the program runs it,
// and the refusals and failures over a hooked line that sees, drops or cuts what goes by.

#include "conformance/ecu_smoke.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "comms/serial_ecu_connection.h"
#include "support/hooked_connection.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

using test::demoIni;
using test::writeFile;

// The demo definition's four pages (128 + 288 + 288 + 128 bytes), byte k = (7k + 3) mod 251.
QByteArray flashPattern() {
  QByteArray image(832, '\0');
  for (qsizetype i = 0; i < image.size(); ++i) {
    image[i] = static_cast<char>((i * 7 + 3) % 251);
  }
  return image;
}

// The demo definition with one text replaced, written to path.
QString alteredDemoIni(const QString& path, const QByteArray& from, const QByteArray& to) {
  writeFile(path, test::readFile(demoIni()).replace(from, to));
  return path;
}

// The command byte of a framed request (after the two length bytes), or 0.
char commandOf(const QByteArray& request) { return request.size() > 2 ? request.at(2) : '\0'; }

// The report with what changes from run to run written as DEMO.ini, PORT and N ms.
QByteArray normalized(QString report, const QString& port) {
  report.replace(demoIni(), QStringLiteral("DEMO.ini")).replace(port, QStringLiteral("PORT"));
  report.replace(QRegularExpression(QStringLiteral("\\d+ ms")), QStringLiteral("N ms"));
  return report.toUtf8();
}

class EcuSmokeTest : public test::AppTest {
 protected:
  void SetUp() override { writeFile(flash, flashPattern()); }

  test::SimOptions simOptions(const QString& ini = demoIni()) const {
    test::SimOptions o;
    o.ini = ini;
    o.pty = true;
    o.flash = flash;
    return o;
  }

  // Runs the smoke test in this process over a hooked, recorded line to the given port (the
  // auto-detected candidates when empty), reaching the simulator's terminal whatever the name.
  int runHooked(const test::SimProcess& sim, const QString& port,
                const std::function<void(const QString&, test::HookedConnection&)>& hook = {}) {
    conformance::SmokePorts ports;
    ports.autoDetect = [&] {
      EXPECT_TRUE(port.isEmpty()) << "ports enumerated although one was given";
      return QStringList{QStringLiteral("deaf"), sim.ptyPath()};
    };
    ports.connect = [&](const QString& candidate) -> std::unique_ptr<comms::EcuConnection> {
      auto line = std::make_unique<test::HookedConnection>(
          std::make_unique<comms::SerialEcuConnection>(sim.ptyPath(), 115200));
      if (hook) {
        hook(candidate, *line);
      }
      auto next = std::move(line->beforeWrite);
      line->beforeWrite = [this, next](const QByteArray& bytes) {
        writes.append(bytes);
        if (next) {
          next(bytes);
        }
      };
      return line;
    };
    QTextStream out(&report);
    return conformance::ecuSmokeWith(demoIni(), port, ports, out);
  }

  // Whether any chunk write or burn went out.
  bool wroteAnything() const {
    return std::any_of(writes.begin(), writes.end(), [](const QByteArray& request) {
      return commandOf(request) == 'M' || commandOf(request) == 'b';
    });
  }

  QTemporaryDir dir;
  QString flash = dir.filePath(QStringLiteral("flash.bin"));
  QString report;
  QList<QByteArray> writes;
};

TEST_F(EcuSmokeTest, PassesEndToEndAndLeavesTheFlashAsItWas) {
  const test::SimProcess sim(simOptions());
  ASSERT_TRUE(sim.ready());
  const test::ProcessResult r = test::runCli({"ecu-smoke", demoIni(), sim.ptyPath()});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(normalized(QString::fromUtf8(r.out), sim.ptyPath()),
                                  QStringLiteral("smoke/pass.out")));
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

TEST_F(EcuSmokeTest, ForeignSignatureStopsBeforeAnyWrite) {
  const test::SimProcess sim(
      simOptions(alteredDemoIni(dir.filePath(QStringLiteral("other.ini")), "speeduino 202501-demo",
                                "speeduino 202402-other")));
  ASSERT_TRUE(sim.ready());
  EXPECT_EQ(runHooked(sim, sim.ptyPath()), 1);
  EXPECT_FALSE(wroteAnything());
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("  ECU signature: 'Speeduino 2024.02-other'\n"
                     "  FAIL  signature matches INI\n"
                     "  ABORT: refusing to touch an ECU whose signature does not match the INI\n")))
      << report.toStdString();
  EXPECT_EQ(test::readFile(flash), flashPattern());
}

// Auto-detected candidates: the first never answers and is skipped; on the second, a page that
// cannot be read stops the pass before anything is written.
TEST_F(EcuSmokeTest, SilentCandidateSkippedAndFailedPageReadStopsBeforeAnyWrite) {
  const test::SimProcess sim(simOptions());
  ASSERT_TRUE(sim.ready());
  bool dropping = false;
  EXPECT_EQ(runHooked(sim, QString(),
                      [&](const QString& candidate, test::HookedConnection& line) {
                        if (candidate == QLatin1String("deaf")) {
                          line.onRead = [](const QByteArray&) { return QByteArray(); };
                          return;
                        }
                        // Page 2 is asked for as "p", 0x00, 0x02: its answers are lost.
                        line.beforeWrite = [&](const QByteArray& bytes) {
                          dropping = commandOf(bytes) == 'p' && bytes.at(4) == 2;
                        };
                        line.onRead = [&](const QByteArray& bytes) {
                          return dropping ? QByteArray() : bytes;
                        };
                      }),
            1);
  EXPECT_FALSE(wroteAnything());
  EXPECT_TRUE(test::matchesGolden(normalized(report, sim.ptyPath()),
                                  QStringLiteral("smoke/page-read-fails.out")));
}

TEST_F(EcuSmokeTest, SimulatorKilledBeforeTheBurnEndsInTheFailureSummary) {
  test::SimProcess sim(simOptions());
  ASSERT_TRUE(sim.ready());
  EXPECT_EQ(runHooked(sim, sim.ptyPath(),
                      [&](const QString&, test::HookedConnection& line) {
                        line.beforeWrite = [&](const QByteArray& bytes) {
                          if (commandOf(bytes) == 'b') {
                            sim.kill();
                          }
                        };
                      }),
            1);
  EXPECT_TRUE(
      report.contains(QStringLiteral("  FAIL  write + burn, page 1: the controller did "
                                     "not take the burn (")));
  EXPECT_TRUE(report.contains(QStringLiteral("  wrote + burned 0 pages in ")));
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("  FAIL  post-burn read-back byte-identical to the original tune\n"
                     "\nSMOKE FAIL on %1 (2 failure(s))\n")
          .arg(sim.ptyPath())))
      << report.toStdString();
  EXPECT_EQ(test::readFile(flash), flashPattern());  // the burn never reached the flash
}

TEST_F(EcuSmokeTest, RefusalsBeforeAnyPortIsUsed) {
  QTextStream out(&report);
  conformance::SmokePorts ports;
  ports.autoDetect = [] { return QStringList(); };
  EXPECT_EQ(conformance::ecuSmokeWith(demoIni(), QString(), ports, out), 1);
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("FAIL: no STM32 virtual COM port (0483:5740) found and no port given\n")));

  ports.autoDetect = [] { return QStringList{"ttyACM7", "ttyACM8"}; };
  ports.connect = [](const QString&) { return std::unique_ptr<comms::EcuConnection>(); };
  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(demoIni(), QString(), ports, out), 1);
  EXPECT_TRUE(test::matchesGolden(normalized(report, QStringLiteral("PORT")),
                                  QStringLiteral("smoke/no-candidate.out")));

  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(dir.filePath(QStringLiteral("none.ini")), {}, ports, out), 1);
  EXPECT_EQ(report, QStringLiteral("FAIL: cannot read %1\n").arg(dir.filePath("none.ini")));

  // A last page of 8 bytes has no room for the scratch area 16 bytes before its end.
  const QString small =
      alteredDemoIni(dir.filePath(QStringLiteral("small.ini")),
                     "pageSize            = 128, 288, 288, 128", "pageSize = 128, 288, 288, 8");
  report.clear();
  EXPECT_EQ(conformance::ecuSmokeWith(small, QStringLiteral("ttyACM7"), ports, out), 1);
  EXPECT_TRUE(report.endsWith(
      QStringLiteral("4 pages, blockingFactor 251, endianness little\n"
                     "FAIL: the last page needs at least 16 bytes for the scratch area\n")))
      << report.toStdString();
}

}  // namespace
}  // namespace tk::cli
