// Tune transfer speed against torvik-ecu-sim: the speeduino-202501 corpus definition's tune (15
// pages, 3,408 bytes) read and written with burns, over a pseudo-terminal with the simulator
// pacing its replies like a 115,200-baud line, and over loopback TCP unpaced. Measured twice:
// the transfer alone on an open link (readTune; writeTune with burns), and the whole agent
// commands read-tune and burn, as one process runs them (project load, link open with its wake-up,
// signature check for burn, transfer, save). The line's limit counts every byte of both
// directions, frames included, at 11,520 bytes per second.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <optional>

#include "bench_support.h"
#include "cli/agent_runner.h"
#include "cli/ecu_link.h"
#include "cli/project_loader.h"

namespace {

constexpr double kLineBytesPerSecond = 11520.0;
constexpr int kFrameBytes = 6;     // length and CRC
constexpr int kCommandHeader = 7;  // letter, page identifier, offset, count

QString corpusDefinition() {
  return QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) +
                         QStringLiteral("/ini/speeduino-202501.ini"));
}

// Bytes a transfer of the definition's pages puts on the line, both directions.
struct LineBytes {
  qint64 read = 0;
  qint64 write = 0;
  qint64 readReplies = 0;  // the direction the simulator paces
  qint64 writeReplies = 0;
};

LineBytes lineBytes(const tk::EcuDefinition& d) {
  const int chunk = d.BlockingFactor < 1 ? 256 : std::min(d.BlockingFactor, 4096);
  LineBytes bytes;
  for (int page = 0; page < d.NPages; ++page) {
    const int size = d.PageSizes.value(page);
    for (int offset = 0; offset < size; offset += chunk) {
      const int n = std::min(chunk, size - offset);
      const int request = kFrameBytes + kCommandHeader;
      const int statusReply = kFrameBytes + 1;
      bytes.read += request + statusReply + n;
      bytes.readReplies += statusReply + n;
      bytes.write += request + n + statusReply;
      bytes.writeReplies += statusReply;
    }
    bytes.write += kFrameBytes + 3 + kFrameBytes + 1;  // the burn and its status
    bytes.writeReplies += kFrameBytes + 1;
  }
  return bytes;
}

// What one iteration times.
enum class Measure { Open, Read, Write, ReadTuneCommand, BurnCommand };

void run(benchmark::State& state, bool pty, Measure measure) {
  const QString ini = corpusDefinition();
  if (!QFileInfo::exists(ini)) {
    state.SkipWithError("the corpus beside the checkout is absent");
    return;
  }
  const tk::bench::Simulator sim(ini, pty, pty ? 115200 : 0);
  if (!sim.ready()) {
    state.SkipWithError("torvik-ecu-sim did not start");
    return;
  }
  QTemporaryDir dir;
  tk::cli::CliProjectLoader loader;
  {
    tk::project::ProjectManager manager;
    manager.createProject(QStringLiteral("Bench"), ini, dir.path());
    manager.setConnection(sim.pty(), 115200,
                          pty ? QStringLiteral("Serial") : QStringLiteral("TcpBridge"),
                          QStringLiteral("127.0.0.1"), sim.tcpPort());
    loader.load(manager.projectPath());
  }
  tk::project::ProjectManager& manager = loader.manager();
  const tk::EcuDefinition& definition = *manager.definition();
  const bool write = measure == Measure::Write || measure == Measure::BurnCommand;
  const QStringList command{QStringLiteral("bench"),
                            write ? QStringLiteral("burn") : QStringLiteral("read-tune"),
                            QStringLiteral("-p"), manager.projectPath()};
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    if (measure == Measure::ReadTuneCommand || measure == Measure::BurnCommand) {
      const std::optional<tk::cli::CommandResult> r =
          tk::cli::runCommand(command, tk::cli::agentCommands());
      state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
      if (!r || r->exitCode != 0) {
        state.SkipWithError("the command failed");
        return;
      }
      continue;
    }
    tk::cli::EcuLink link(manager);
    tk::cli::openEcuLink(link);
    if (measure != Measure::Open) {
      timer.restart();
      if (write) {
        benchmark::DoNotOptimize(link.tuneComms()->writeTune(definition, *manager.tune(), true));
      } else {
        benchmark::DoNotOptimize(link.tuneComms()->readTune(definition));
      }
    }
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
  }
  const LineBytes bytes = lineBytes(definition);
  state.counters["line_s"] =
      static_cast<double>(write ? bytes.write : bytes.read) / kLineBytesPerSecond;
  state.counters["reply_line_s"] =
      static_cast<double>(write ? bytes.writeReplies : bytes.readReplies) / kLineBytesPerSecond;
}

void openPty(benchmark::State& s) { run(s, true, Measure::Open); }
void readPty(benchmark::State& s) { run(s, true, Measure::Read); }
void burnPty(benchmark::State& s) { run(s, true, Measure::Write); }
void readTuneCommandPty(benchmark::State& s) { run(s, true, Measure::ReadTuneCommand); }
void burnCommandPty(benchmark::State& s) { run(s, true, Measure::BurnCommand); }
void openTcp(benchmark::State& s) { run(s, false, Measure::Open); }
void readTcp(benchmark::State& s) { run(s, false, Measure::Read); }
void burnTcp(benchmark::State& s) { run(s, false, Measure::Write); }
void readTuneCommandTcp(benchmark::State& s) { run(s, false, Measure::ReadTuneCommand); }
void burnCommandTcp(benchmark::State& s) { run(s, false, Measure::BurnCommand); }

}  // namespace

BENCHMARK(openPty)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(readPty)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(burnPty)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(readTuneCommandPty)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(burnCommandPty)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(openTcp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(readTcp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(burnTcp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(readTuneCommandTcp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(burnCommandTcp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return tk::bench::runBenchmarks(argc, argv); }
