// The dashboard's log view on a generated 100 MB version 2 log (200 fields, 50 records a second,
// a marker a minute), written into a temporary folder at run time: opening the log as the page's
// first request does, and the body of one chosen channel that follows.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

#include "bench_support.h"
#include "dashboard/log_view.h"
#include "formats/mlg_writer.h"

namespace {

constexpr qsizetype kTargetBytes = 100'000'000;

struct BigLog {
  QTemporaryDir dir;
  long records = 0;
};

const BigLog& bigLog() {
  static const std::unique_ptr<BigLog> log = [] {
    auto l = std::make_unique<BigLog>();
    std::vector<tk::MlgField> fields(200);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      fields[i].name = i == 0 ? QStringLiteral("RPM") : QStringLiteral("Channel %1").arg(i);
      fields[i].dataType =
          static_cast<std::uint8_t>(i % 2 == 0 ? tk::MlgDataType::U16 : tk::MlgDataType::F32);
    }
    tk::MlgWriter writer(fields, 2);
    writer.writeHeader(1700000000, QStringLiteral("bench"));
    std::vector<double> values(fields.size());
    while (writer.bytes().size() < kTargetBytes) {
      const double t = 0.02 * static_cast<double>(l->records);
      for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = 3000 + 2500 * std::sin(0.01 * t + static_cast<double>(i));
      }
      const auto stamp = static_cast<std::uint16_t>((l->records * 2000) % 65536);
      writer.writeRecord(stamp, values);
      if (l->records % 3000 == 2999) {
        writer.writeMarker(stamp, QStringLiteral("Minute %1").arg(l->records / 3000));
      }
      ++l->records;
    }
    writer.saveTo(QDir(l->dir.path()).filePath(QStringLiteral("big.mlg")));
    return l;
  }();
  return *log;
}

// A fresh shelf each time: the file is read and parsed, then one channel's body is made.
void BM_DashboardLogOpenAndOneChannel(benchmark::State& state) {
  const BigLog& log = bigLog();
  qsizetype body = 0;
  for (auto _ : state) {
    tk::LogShelf shelf(log.dir.path(), QString());
    const tk::MlgLog& parsed = shelf.open(QStringLiteral("big.mlg"));
    body = tk::logColumns(parsed, {QStringLiteral("RPM")}).size();
  }
  state.counters["records"] = static_cast<double>(log.records);
  state.counters["bodyMB"] = static_cast<double>(body) / 1e6;
}
BENCHMARK(BM_DashboardLogOpenAndOneChannel)->Unit(benchmark::kMillisecond)->Iterations(3);

// The log already open (kept by the shelf): what a change of channels costs.
void BM_DashboardOneChannelCached(benchmark::State& state) {
  tk::LogShelf shelf(bigLog().dir.path(), QString());
  const tk::MlgLog& parsed = shelf.open(QStringLiteral("big.mlg"));
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::logColumns(parsed, {QStringLiteral("Channel 7")}).size());
  }
}
BENCHMARK(BM_DashboardOneChannelCached)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return tk::bench::runBenchmarks(argc, argv); }
