// Writes and reads a generated datalog of about 200 MB: hours of records at 50 per second with
// 200 fields of the mix real ECU logs carry. The file lives in a temporary folder for the run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "conformance/dump_mlg.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"

namespace {

constexpr qsizetype kTargetBytes = 200'000'000;

std::vector<tk::MlgField> benchFields() {
  // 60 U08, 50 U16, 30 S16, 40 F32, 10 S08, 8 U32, 2 S32: 430 bytes per record.
  const std::pair<tk::MlgDataType, int> mix[] = {
      {tk::MlgDataType::U08, 60}, {tk::MlgDataType::U16, 50}, {tk::MlgDataType::S16, 30},
      {tk::MlgDataType::F32, 40}, {tk::MlgDataType::S08, 10}, {tk::MlgDataType::U32, 8},
      {tk::MlgDataType::S32, 2}};
  std::vector<tk::MlgField> fields;
  for (const auto& [type, count] : mix) {
    for (int i = 0; i < count; ++i) {
      tk::MlgField f;
      f.dataType = static_cast<std::uint8_t>(type);
      f.name = QStringLiteral("Channel %1").arg(fields.size());
      f.units = QStringLiteral("u");
      f.category = QStringLiteral("Datalog");
      f.digits = 2;
      fields.push_back(f);
    }
  }
  return fields;
}

// Slowly varying values with some noise, in each type's range.
void fillValues(std::vector<double>& values, const std::vector<tk::MlgField>& fields, long k) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const double wave = std::sin(0.001 * static_cast<double>(k) + static_cast<double>(i));
    const double noise = static_cast<double>((k * 7919 + static_cast<long>(i) * 104729) % 97);
    switch (static_cast<tk::MlgDataType>(fields[i].dataType)) {
      case tk::MlgDataType::F32:
        values[i] = 14.7 + 5 * wave + noise * 0.01;
        break;
      case tk::MlgDataType::S08:
      case tk::MlgDataType::S16:
        values[i] = 100 * wave + noise;
        break;
      case tk::MlgDataType::U08:
        values[i] = 120 + 100 * wave + noise / 10;
        break;
      default:
        values[i] = 3000 + 2500 * wave + noise;
        break;
    }
  }
}

std::unique_ptr<tk::MlgWriter> writeBigLog(long& records) {
  const std::vector<tk::MlgField> fields = benchFields();
  auto writer = std::make_unique<tk::MlgWriter>(fields, 2);
  writer->writeHeader(1700000000, QStringLiteral("Torvik CLI Datalog"));
  std::vector<double> values(fields.size());
  records = 0;
  while (writer->bytes().size() < kTargetBytes) {
    fillValues(values, fields, records);
    // 50 records per second: 2000 ticks of 10 us apart.
    writer->writeRecord(static_cast<std::uint16_t>((records * 2000) % 65536), values);
    if (records % 30000 == 29999) {
      writer->writeMarker(static_cast<std::uint16_t>((records * 2000) % 65536),
                          QStringLiteral("Lap %1").arg(records / 30000));
    }
    ++records;
  }
  return writer;
}

struct BigLog {
  QTemporaryDir dir;
  QString path;
  qsizetype size = 0;
};

// Made on first use; the temporary folder and the file go when the program ends.
const BigLog& bigLog() {
  static const std::unique_ptr<BigLog> log = [] {
    auto l = std::make_unique<BigLog>();
    l->path = l->dir.filePath(QStringLiteral("big.mlg"));
    long records = 0;
    writeBigLog(records)->saveTo(l->path);
    l->size = QFileInfo(l->path).size();
    return l;
  }();
  return *log;
}

long statusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) {
      return std::stol(line.substr(prefix.size()));
    }
  }
  return -1;
}

// Lets the next VmHWM reading show the peak of what follows rather than of the whole process.
void resetPeakRss() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

double decodedBytes(const tk::MlgLog& log) {
  return static_cast<double>(log.records.size()) * static_cast<double>(log.fields.size()) * 8.0;
}

void BM_MlgWrite(benchmark::State& state) {
  qsizetype bytes = 0;
  long records = 0;
  for (auto _ : state) {
    const std::unique_ptr<tk::MlgWriter> writer = writeBigLog(records);
    bytes = writer->bytes().size();
    benchmark::DoNotOptimize(writer->bytes().constData());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
  state.counters["records"] = static_cast<double>(records);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_MlgRead(benchmark::State& state) {
  const BigLog& big = bigLog();
  double decoded = 0;
  double peakDeltaMb = 0;
  for (auto _ : state) {
    const long before = statusKb("VmRSS");
    resetPeakRss();
    const tk::MlgLog log = tk::readMlgFile(big.path);
    peakDeltaMb = static_cast<double>(statusKb("VmHWM") - before) / 1024.0;
    decoded = decodedBytes(log);
    benchmark::DoNotOptimize(log.records.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * big.size);
  state.counters["decoded_MB"] = decoded / 1e6;
  state.counters["peak_MB"] = peakDeltaMb * 1.048576;
  state.counters["peak_per_decoded"] = peakDeltaMb * 1024.0 * 1024.0 / decoded;
}

void BM_MlgCsv(benchmark::State& state) {
  const tk::MlgLog log = tk::readMlgFile(bigLog().path);
  qsizetype csvBytes = 0;
  for (auto _ : state) {
    const QByteArray csv = tk::conformance::mlgCsv(log);
    csvBytes = csv.size();
    benchmark::DoNotOptimize(csv.constData());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * csvBytes);
  state.counters["csv_MB"] = static_cast<double>(csvBytes) / 1e6;
}

void BM_DumpMlg(benchmark::State& state) {
  const BigLog& big = bigLog();
  const QString out = big.dir.filePath(QStringLiteral("big.csv"));
  double peakDeltaMb = 0;
  for (auto _ : state) {
    const long before = statusKb("VmRSS");
    resetPeakRss();
    if (tk::conformance::dumpMlg(big.path, out) != 0) {
      state.SkipWithError("dump-mlg failed");
      break;
    }
    peakDeltaMb = static_cast<double>(statusKb("VmHWM") - before) / 1024.0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * big.size);
  state.counters["csv_MB"] = static_cast<double>(QFileInfo(out).size()) / 1e6;
  state.counters["peak_MB"] = peakDeltaMb * 1.048576;
  QFile::remove(out);
}

// The warm variants reuse memory the process has touched before: the allocator keeps freed pages
// (no mmap, no trimming), so after one untimed run the timing shows the work itself rather than
// the kernel's cost of handing out fresh pages. They run last because the setting stays.
void keepFreedMemory() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
}

void BM_MlgReadWarm(benchmark::State& state) {
  keepFreedMemory();
  const BigLog& big = bigLog();
  benchmark::DoNotOptimize(tk::readMlgFile(big.path).records.data());
  for (auto _ : state) {
    const tk::MlgLog log = tk::readMlgFile(big.path);
    benchmark::DoNotOptimize(log.records.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * big.size);
}

// The CSV text with warm memory (after BM_MlgReadWarm has set the allocator up).
void BM_MlgCsvWarm(benchmark::State& state) {
  keepFreedMemory();
  const tk::MlgLog log = tk::readMlgFile(bigLog().path);
  benchmark::DoNotOptimize(tk::conformance::mlgCsv(log).constData());
  qsizetype csvBytes = 0;
  for (auto _ : state) {
    const QByteArray csv = tk::conformance::mlgCsv(log);
    csvBytes = csv.size();
    benchmark::DoNotOptimize(csv.constData());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * csvBytes);
}

BENCHMARK(BM_MlgWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MlgRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MlgCsv)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DumpMlg)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_MlgReadWarm)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MlgCsvWarm)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
