// Datalog speed and memory. Speed: the agent command datalog, as one process runs it, for a
// fixed time against torvik-ecu-sim on the demo definition (a 40-byte block, one exchange per
// snapshot), over loopback TCP and over a pseudo-terminal with the simulator pacing its replies
// like a 115,200-baud line; reported beside the bound 1 / (20 ms + the wire time of one
// exchange). Memory: the recording loop in-process against the simulated controller on a fake
// clock for many records, the heap in use and the peak resident size it adds beside the bytes of
// the records kept.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "bench_support.h"
#include "comms/clock.h"
#include "comms/datalog_recorder.h"
#include "comms/ecu_command_service.h"
#include "definition/ini_parser.h"
#include "formats/mlg_datalog.h"
#include "formats/mlg_writer.h"
#include "project/project_manager.h"
#include "sim/sim_ecu_connection.h"

namespace {

constexpr int kSeconds = 30;
constexpr double kPacingSeconds = 0.020;
constexpr double kLineBytesPerSecond = 11520.0;  // 115,200 baud, 10 bits a byte
constexpr int kFrameBytes = 6;                   // length and CRC
constexpr int kRequestBytes = 7;                 // "r", CAN id, 0x30, offset, count
constexpr int kStatusBytes = 1;

QString demoIni() { return QString::fromUtf8(TK_SOURCE_ROOT) + "/examples/speeduino-demo.ini"; }

void datalogRate(benchmark::State& state, bool pty) {
  const tk::bench::Simulator sim(demoIni(), pty, pty ? 115200 : 0);
  if (!sim.ready()) {
    state.SkipWithError("torvik-ecu-sim did not start");
    return;
  }
  QTemporaryDir dir;
  tk::project::ProjectManager manager;
  manager.createProject(QStringLiteral("Bench"), demoIni(), dir.path());
  manager.setConnection(sim.pty(), 115200,
                        pty ? QStringLiteral("Serial") : QStringLiteral("TcpBridge"),
                        QStringLiteral("127.0.0.1"), sim.tcpPort());
  manager.saveProject();
  const tk::EcuDefinition& definition = *manager.definition();
  const int block = definition.OchBlockSize;
  const double wireSeconds =
      pty ? (kFrameBytes + kRequestBytes + kFrameBytes + kStatusBytes + block) / kLineBytesPerSecond
          : 0.0;
  for (auto _ : state) {
    QProcess cli;
    cli.start(QString::fromUtf8(TK_CLI_EXE),
              {"datalog", "-p", manager.projectPath(), "--duration", QString::number(kSeconds),
               "--output", dir.filePath(QStringLiteral("bench.mlg"))});
    cli.waitForFinished((kSeconds + 30) * 1000);
    const QJsonObject data =
        QJsonDocument::fromJson(cli.readAllStandardOutput()).object().value("data").toObject();
    const double records = data.value("records").toDouble();
    const double elapsed = data.value("elapsedSeconds").toDouble();
    if (records <= 0 || elapsed <= 0) {
      state.SkipWithError("datalog recorded nothing");
      return;
    }
    state.SetIterationTime(elapsed);
    state.counters["records"] = records;
    state.counters["records_per_s"] = records / elapsed;
    state.counters["bound_per_s"] = 1.0 / (kPacingSeconds + wireSeconds);
    state.counters["of_bound_pct"] = 100.0 * records / elapsed * (kPacingSeconds + wireSeconds);
  }
}

void datalogTcp(benchmark::State& state) { datalogRate(state, false); }
void datalogPty(benchmark::State& state) { datalogRate(state, true); }

// The peak resident size of this process so far, in bytes.
double peakResidentBytes() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) {
    return 0;
  }
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) {
      return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024;
    }
  }
  return 0;
}

double heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd);
}

void datalogMemory(benchmark::State& state) {
  const tk::EcuDefinition definition = tk::IniParser().parse(demoIni());
  const qint64 records = state.range(0);
  for (auto _ : state) {
    tk::comms::FakeClock clock;
    tk::sim::SimEcuConnection sim(definition);
    sim.setClock(clock);
    sim.open();
    tk::comms::EcuCommandService service(&sim, clock);
    tk::MlgWriter writer(tk::datalogFields(definition));
    writer.writeHeader(0, QStringLiteral("bench"));
    const double headerBytes = static_cast<double>(writer.bytes().size());
    const double heapBefore = heapInUse();
    const double peakBefore = peakResidentBytes();
    std::vector<double> values;
    tk::comms::DatalogRecording recording;
    recording.durationMs = records * 20;
    recording.stopRequested = [] { return false; };
    recording.record = [&](double seconds, const tk::comms::ChannelValues& channels) {
      tk::datalogValues(definition, seconds, channels, values);
      writer.writeRecord(tk::mlgTimestamp(seconds), values);
    };
    const tk::comms::DatalogRun run = tk::comms::recordDatalog(definition, service, recording);
    const double recordBytes = static_cast<double>(writer.bytes().size()) - headerBytes;
    state.counters["records"] = static_cast<double>(run.records);
    state.counters["record_MB"] = recordBytes / 1e6;
    state.counters["heap_added_x"] = (heapInUse() - heapBefore) / recordBytes;
    state.counters["peak_rss_added_x"] = (peakResidentBytes() - peakBefore) / recordBytes;
  }
}

}  // namespace

BENCHMARK(datalogTcp)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(datalogPty)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(datalogMemory)->Arg(500000)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) { return tk::bench::runBenchmarks(argc, argv); }
