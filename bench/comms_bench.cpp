// Framed-protocol speed against the simulated ECU over a loopback TCP bridge and over a
// pseudo-terminal pair (socat): single 128-byte chunk exchanges and whole-tune page transfers.

#include <benchmark/benchmark.h>

#include <QFile>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "../tests/comms/transports.h"
#include "bench_support.h"
#include "comms/ecu_command_service.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "comms/tune_comms_service.h"
#include "definition/ini_parser.h"
#include "sim/sim_ecu_connection.h"
#include "sim/stand_in_server.h"

namespace {

using namespace tk;
using namespace tk::comms;
using namespace tk::sim;

const EcuDefinition& synthetic() {
  static const EcuDefinition d =
      IniParser().parse(QStringLiteral(TK_SOURCE_ROOT "/tests/data/tunefields.ini"));
  return d;
}

QByteArray image() {
  QFile f(QStringLiteral(TK_SOURCE_ROOT "/tests/data/tuneimg-synthetic.bin"));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The simulated ECU behind a transport, and the host's connection to it.
struct Rig {
  enum class Kind { Tcp, Pty };

  explicit Rig(Kind kind) : sim(synthetic()), server(sim) {
    if (kind == Kind::Tcp) {
      conn = std::make_unique<TcpBridgeConnection>(QStringLiteral("127.0.0.1"),
                                                   server.listenOnLoopback());
    } else {
      pair = std::make_unique<test::SocatPtyPair>();
      if (!pair->ok() || !server.serveSerialPort(pair->ecuEnd(), 115200)) {
        return;
      }
      conn = std::make_unique<SerialEcuConnection>(pair->hostEnd(), 115200);
    }
    if (conn->open()) {
      tune = std::make_unique<TuneCommsService>(commands, *conn);
      tune->forceCrcProtocol();
      ready = true;
    }
  }
  ~Rig() {
    tune.reset();
    conn.reset();
    server.stop();
  }

  SimEcuConnection sim;
  StandInServer server;
  std::unique_ptr<test::SocatPtyPair> pair;
  std::unique_ptr<EcuConnection> conn;
  EcuCommandService commands;
  std::unique_ptr<TuneCommsService> tune;
  bool ready = false;
};

void reportMedian(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) {
    return;
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

// One framed exchange per iteration: a 128-byte chunk read (request 7 bytes, reply 129 + 6)
// or a 128-byte chunk write (request 135 bytes, reply 1 + 6).
void framedChunk(benchmark::State& state, Rig::Kind kind, bool write) {
  Rig rig(kind);
  if (!rig.ready) {
    state.SkipWithError("transport not available");
    return;
  }
  rig.commands.setConnection(rig.conn.get());
  const QByteArray read = QByteArray::fromHex("70000200008000");
  const QByteArray chunk = QByteArray::fromHex("4D000200008000") + QByteArray(128, '\x5A');
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const EcuResponse r = rig.commands.sendCommand(write ? chunk : read, 1000);
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    if (!r.ok) {
      state.SkipWithError(r.error.toStdString().c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 128);
  reportMedian(state, micros);
}

// Writes (without burning) and reads back every page of the synthetic definition per iteration.
void allPages(benchmark::State& state, Rig::Kind kind) {
  Rig rig(kind);
  if (!rig.ready) {
    state.SkipWithError("transport not available");
    return;
  }
  const QByteArray img = image();
  const int offsets[] = {0, 288, 800};
  int64_t bytes = 0;
  for (auto _ : state) {
    for (int page = 0; page < 3; ++page) {
      const int size = synthetic().PageSizes.at(page);
      benchmark::DoNotOptimize(
          rig.tune->writePage(synthetic(), page, img.mid(offsets[page], size), false));
      const std::optional<QByteArray> back = rig.tune->readPage(synthetic(), page).bytes;
      benchmark::DoNotOptimize(back);
      bytes += 2 * size;
    }
  }
  state.SetBytesProcessed(bytes);
}

void BM_FramedChunkReadTcp(benchmark::State& s) { framedChunk(s, Rig::Kind::Tcp, false); }
void BM_FramedChunkWriteTcp(benchmark::State& s) { framedChunk(s, Rig::Kind::Tcp, true); }
void BM_AllPagesWriteReadTcp(benchmark::State& s) { allPages(s, Rig::Kind::Tcp); }
void BM_FramedChunkReadPty(benchmark::State& s) { framedChunk(s, Rig::Kind::Pty, false); }
void BM_FramedChunkWritePty(benchmark::State& s) { framedChunk(s, Rig::Kind::Pty, true); }
void BM_AllPagesWriteReadPty(benchmark::State& s) { allPages(s, Rig::Kind::Pty); }

BENCHMARK(BM_FramedChunkReadTcp)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FramedChunkWriteTcp)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AllPagesWriteReadTcp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramedChunkReadPty)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FramedChunkWritePty)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AllPagesWriteReadPty)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return tk::bench::runBenchmarks(argc, argv); }
