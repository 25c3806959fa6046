// Writes, reads and compares a generated tune the size of a large real one: 40 pages, each with
// 20 scalars, 4 bit fields, a string and 4 tables of 16 x 16, about 45,000 values in all.
#include <benchmark/benchmark.h>

#include "formats/msq_reader.h"
#include "formats/msq_writer.h"
#include "tune/tune_comparator.h"

namespace {

constexpr int kPages = 40;

tk::ConstantDef constant(const QString& name, tk::ConstantType type, const char* dataType,
                         int digits, QList<int> shape = {}) {
  tk::ConstantDef c;
  c.Name = name;
  c.Type = type;
  c.DataType = QString::fromLatin1(dataType);
  c.Digits = digits;
  c.Units = QStringLiteral("u");
  c.Scale = 0.1;
  c.Shape = std::move(shape);
  return c;
}

struct Fixture {
  tk::EcuDefinition definition;
  tk::Tune tune;
  tk::Tune changed;
  QByteArray msq;

  Fixture() {
    definition.Signature = QStringLiteral("bench");
    definition.NPages = kPages;
    for (int p = 1; p <= kPages; ++p) {
      tk::PageGroup group;
      group.PageNumber = p;
      definition.PageSizes.append(2048);
      for (int i = 0; i < 20; ++i) {
        group.Fields.append(
            constant(QStringLiteral("s%1_%2").arg(p).arg(i), tk::ConstantType::Scalar, "U16", 1));
        tk::TuneValue v;
        v.name = group.Fields.last().Name;
        v.scalarValue = (p * 31 + i * 7) % 6000 / 10.0;
        tune.fields.append(v);
      }
      for (int i = 0; i < 4; ++i) {
        tk::ConstantDef bits =
            constant(QStringLiteral("b%1_%2").arg(p).arg(i), tk::ConstantType::Bits, "U08", 0);
        bits.BitValues = {{0, QStringLiteral("Off")}, {1, QStringLiteral("On")}};
        group.Fields.append(bits);
        tk::TuneValue v;
        v.name = bits.Name;
        v.bitsRawValue = i % 2;
        tune.fields.append(v);
      }
      group.Fields.append(
          constant(QStringLiteral("t%1").arg(p), tk::ConstantType::String, "ASCII", 0, {16}));
      for (int i = 0; i < 4; ++i) {
        group.Fields.append(constant(QStringLiteral("a%1_%2").arg(p).arg(i),
                                     tk::ConstantType::Array, "U16", 1, {16, 16}));
        tk::TuneValue v;
        v.name = group.Fields.last().Name;
        QList<double> values;
        for (int k = 0; k < 256; ++k) {
          values.append((k * 13 + p + i) % 4000 / 10.0);
        }
        v.arrayValues = values;
        tune.fields.append(v);
      }
      definition.Pages.append(group);
    }
    changed = tune;
    for (qsizetype i = 0; i < changed.fields.size(); i += 7) {
      tk::TuneValue& v = changed.fields[i];
      if (v.scalarValue) {
        *v.scalarValue += 1.0;
      } else if (v.arrayValues) {
        (*v.arrayValues)[17] += 2.0;
      }
    }
    msq = tk::writeMsq(definition, tune, QStringLiteral("bench"), QString(), QString());
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

void BM_MsqWrite(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tk::writeMsq(f.definition, f.tune, QStringLiteral("bench"), QString(), QString()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * f.msq.size());
  state.counters["file_KB"] = static_cast<double>(f.msq.size()) / 1e3;
}

void BM_MsqRead(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::parseMsq(f.msq));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * f.msq.size());
}

void BM_TuneCompare(benchmark::State& state) {
  const Fixture& f = fixture();
  qsizetype entries = 0;
  for (auto _ : state) {
    entries = tk::TuneComparator().compare(f.definition, f.tune, f.changed).size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["entries"] = static_cast<double>(entries);
}

}  // namespace

BENCHMARK(BM_MsqWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MsqRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TuneCompare)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
