// Tune codec speed on real definitions: decoding and encoding whole page sets, a table edit as
// set-table performs it (one deferred run of single stores), and single quantised stores.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <map>

#include "definition/ini_parser.h"
#include "tune/field_codec.h"
#include "tune/tune_editor.h"

namespace {

QString corpusIni(const char* name) {
  return QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) + QStringLiteral("/ini/") +
                         QString::fromUtf8(name));
}

const tk::EcuDefinition* definitionOf(const char* name) {
  static std::map<std::string, tk::EcuDefinition> cache;
  const QString path = corpusIni(name);
  if (!QFileInfo::exists(path)) {
    return nullptr;
  }
  auto it = cache.find(name);
  if (it == cache.end()) {
    tk::IniParseOptions options;
    options.useDefaultSettingGroups = true;
    it = cache.emplace(name, tk::parseIniFile(path, options)).first;
  }
  return &it->second;
}

tk::PageImages patterned(const tk::EcuDefinition& definition) {
  tk::PageImages images = tk::encodeTune(tk::Tune(), definition);
  quint32 state = 1;
  for (QByteArray& page : images) {
    for (char& byte : page) {
      state = state * 1664525U + 1013904223U;
      byte = static_cast<char>(state >> 24);
    }
  }
  return images;
}

qint64 totalBytes(const tk::PageImages& images) {
  qint64 total = 0;
  for (const QByteArray& page : images) {
    total += page.size();
  }
  return total;
}

void BM_DecodePages(benchmark::State& state, const char* file) {
  const tk::EcuDefinition* definition = definitionOf(file);
  if (definition == nullptr) {
    state.SkipWithError("corpus not found");
    return;
  }
  const tk::PageImages images = patterned(*definition);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::decodePages(images, *definition));
  }
  state.SetBytesProcessed(state.iterations() * totalBytes(images));
}

void BM_EncodeTune(benchmark::State& state, const char* file) {
  const tk::EcuDefinition* definition = definitionOf(file);
  if (definition == nullptr) {
    state.SkipWithError("corpus not found");
    return;
  }
  const tk::Tune tune = tk::decodePages(patterned(*definition), *definition);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::encodeTune(tune, *definition));
  }
  state.SetBytesProcessed(state.iterations() * totalBytes(tk::encodeTune(tune, *definition)));
}

// 256 stores into the 16 x 16 fuel table inside one deferred run, as set-table does.
void BM_DeferredTableEdit(benchmark::State& state) {
  const tk::EcuDefinition* definition = definitionOf("speeduino-202501.ini");
  if (definition == nullptr) {
    state.SkipWithError("corpus not found");
    return;
  }
  tk::TuneEditor editor(*definition, tk::newTune(*definition));
  int writes = 0;
  editor.setPageWriteObserver([&writes](const tk::PageWrite&) { ++writes; });
  double v = 0;
  for (auto _ : state) {
    editor.beginDeferredEdits();
    for (int i = 0; i < 256; ++i) {
      editor.setValue(QStringLiteral("veTable"), i, 20 + (i + v));
    }
    editor.endDeferredEdits();
    v = v > 50 ? 0 : v + 1;
  }
  benchmark::DoNotOptimize(writes);
}

// One store outside a deferred run: quantise, store, rebuild every page, report the bytes.
void BM_SingleStore(benchmark::State& state, const char* file, const char* constant) {
  const tk::EcuDefinition* definition = definitionOf(file);
  if (definition == nullptr) {
    state.SkipWithError("corpus not found");
    return;
  }
  tk::TuneEditor editor(*definition, tk::newTune(*definition));
  const QString name = QString::fromLatin1(constant);
  double v = 0;
  for (auto _ : state) {
    editor.setValue(name, 0, v);
    v = v > 50 ? 0 : v + 1;
  }
}

BENCHMARK_CAPTURE(BM_DecodePages, speeduino_202501, "speeduino-202501.ini")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodePages, ms3_0569, "ms3-0569-1.5.2.ini")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodePages, rusefi_mega100, "rusefi-mega100-20241027.ini")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EncodeTune, speeduino_202501, "speeduino-202501.ini")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EncodeTune, ms3_0569, "ms3-0569-1.5.2.ini")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EncodeTune, rusefi_mega100, "rusefi-mega100-20241027.ini")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeferredTableEdit)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SingleStore, speeduino_202501, "speeduino-202501.ini", "reqFuel")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SingleStore, ms3_0569, "ms3-0569-1.5.2.ini", "reqFuel")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
