// Serialises a ~10 MB document with the canonical writer and with QJsonDocument::toJson on the
// same data, so the two can be compared from one run.
#include <benchmark/benchmark.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <random>

#include "json/json_writer.h"

namespace {

constexpr int kRecords = 23000;

QString recordName(int i) { return QStringLiteral("channel \"%1\" <rpm> & 'map'\t\u00e9").arg(i); }

const tk::JsonValue& canonicalDoc() {
  static const tk::JsonValue doc = [] {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    tk::JsonValue records = tk::JsonValue::array();
    for (int i = 0; i < kRecords; ++i) {
      tk::JsonValue values = tk::JsonValue::array();
      for (int k = 0; k < 8; ++k) {
        values.append(dist(rng));
      }
      tk::JsonValue meta = tk::JsonValue::object();
      meta.insert(QStringLiteral("units"), QStringLiteral("kPa"));
      meta.insert(QStringLiteral("digits"), i % 4);
      meta.insert(QStringLiteral("enabled"), i % 2 == 0);
      tk::JsonValue r = tk::JsonValue::object();
      r.insert(QStringLiteral("name"), recordName(i));
      r.insert(QStringLiteral("values"), std::move(values));
      r.insert(QStringLiteral("meta"), std::move(meta));
      records.append(std::move(r));
    }
    tk::JsonValue root = tk::JsonValue::object();
    root.insert(QStringLiteral("records"), std::move(records));
    return root;
  }();
  return doc;
}

const QJsonDocument& qtDoc() {
  static const QJsonDocument doc = [] {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    QJsonArray records;
    for (int i = 0; i < kRecords; ++i) {
      QJsonArray values;
      for (int k = 0; k < 8; ++k) {
        values.append(dist(rng));
      }
      QJsonObject meta{{QStringLiteral("units"), QStringLiteral("kPa")},
                       {QStringLiteral("digits"), i % 4},
                       {QStringLiteral("enabled"), i % 2 == 0}};
      QJsonObject r{{QStringLiteral("name"), recordName(i)},
                    {QStringLiteral("values"), values},
                    {QStringLiteral("meta"), meta}};
      records.append(r);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("records"), records}});
  }();
  return doc;
}

void BM_CanonicalSerialize(benchmark::State& state) {
  const tk::JsonValue& doc = canonicalDoc();
  qsizetype bytes = 0;
  for (auto _ : state) {
    QByteArray text = tk::serialize(doc);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

void BM_QJsonDocumentToJson(benchmark::State& state) {
  const QJsonDocument& doc = qtDoc();
  qsizetype bytes = 0;
  for (auto _ : state) {
    QByteArray text = doc.toJson(QJsonDocument::Indented);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

BENCHMARK(BM_CanonicalSerialize)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_QJsonDocumentToJson)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
