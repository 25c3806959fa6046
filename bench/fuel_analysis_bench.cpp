// Log analysis speed: a synthetic version-2 log of one million records (eight fields, as a
// logger stores them: scaled integers) is parsed from memory and analysed over a 16 x 16 VE
// table with three definition filters; the rate counts records per second, MLG reading included.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"
#include "tune/fuel_analysis.h"

namespace {

constexpr int kRecords = 1'000'000;

QByteArray syntheticLog() {
  const struct {
    const char* name;
    tk::MlgDataType type;
    float scale;
  } columns[] = {{"RPM", tk::MlgDataType::U16, 1.0f},  {"MAP", tk::MlgDataType::U16, 1.0f},
                 {"AFR", tk::MlgDataType::U08, 0.1f},  {"Gego", tk::MlgDataType::U08, 1.0f},
                 {"CLT", tk::MlgDataType::S16, 1.0f},  {"Engine", tk::MlgDataType::U08, 1.0f},
                 {"PW", tk::MlgDataType::U16, 0.001f}, {"TPS", tk::MlgDataType::U08, 0.5f}};
  std::vector<tk::MlgField> fields;
  for (const auto& c : columns) {
    tk::MlgField field;
    field.name = QString::fromLatin1(c.name);
    field.dataType = static_cast<std::uint8_t>(c.type);
    field.scale = c.scale;
    fields.push_back(field);
  }
  tk::MlgWriter writer(fields, 2);
  writer.writeHeader(0, QString());
  std::vector<double> values(fields.size());
  for (int r = 0; r < kRecords; ++r) {
    const double phase = r * 0.001;
    values = {2500 + 2000 * std::sin(phase),    60 + 40 * std::sin(phase * 0.7),
              140 + 10 * std::sin(phase * 3.1), 100 + 5 * std::sin(phase * 1.3),
              r % 50 == 0 ? 40.0 : 85.0,        r % 20 == 0 ? 16.0 : 0.0,
              r % 30 == 0 ? 0.0 : 3000.0,       50};
    writer.writeRecord(static_cast<std::uint16_t>(r * 1000 % 65536), values);
  }
  return writer.bytes();
}

tk::AnalysisSetup setup() {
  tk::AnalysisSetup s;
  std::vector<double> rpm;
  std::vector<double> load;
  for (int i = 0; i < 16; ++i) {
    rpm.push_back(500 + i * 400);
    load.push_back(16 + i * 6);
  }
  s.tableId = QStringLiteral("veTable1Tbl");
  s.table = {rpm, load, std::vector<double>(256, 60.0)};
  s.target = {rpm, load, std::vector<double>(256, 14.0)};
  s.xChannel = s.targetXChannel = QStringLiteral("rpm");
  s.yChannel = s.targetYChannel = QStringLiteral("map");
  s.measuredChannel = QStringLiteral("afr");
  s.egoChannel = QStringLiteral("gego");
  s.filters = {{"minCltFilter", "clt", tk::FilterOperator::Less, 71},
               {"accelFilter", "engine", tk::FilterOperator::BitsSet, 16},
               {"overrunFilter", "pw", tk::FilterOperator::Equal, 0}};
  return s;
}

void BM_AnalyseLog(benchmark::State& state) {
  const QByteArray bytes = syntheticLog();
  for (auto _ : state) {
    const tk::MlgLog log = tk::parseMlg(bytes);
    tk::AnalysisLog columns;
    columns.name = QStringLiteral("synthetic");
    for (const tk::MlgField& field : log.fields) {
      columns.columns.append(field.name);
      columns.scales.push_back(field.scale);
      columns.transforms.push_back(field.transform);
    }
    std::vector<double> times;
    times.reserve(log.records.size());
    for (const tk::MlgRecord& record : log.records) {
      times.push_back(record.absoluteTimestamp);
    }
    columns.values = log.values;
    columns.times = times;
    tk::FuelAnalysis analysis(setup());
    analysis.addLog(columns);
    benchmark::DoNotOptimize(analysis.counts().kept);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_AnalyseLog)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
