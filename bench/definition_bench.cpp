// Definition reader speed: every corpus file, a synthetic file ten times the largest, a 100 MB
// file for the memory peak, and small hostile files. Generated files live in a temporary folder
// only.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>

#include "definition/ini_parser.h"

namespace {

QString corpusIniDir() {
  return QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) + QStringLiteral("/ini"));
}

QString smallFixture() {
  return QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/tests/data/ini/small.ini");
}

/// The largest corpus definition, or the small fixture when the corpus is absent.
QString largestDefinition() {
  QString best = smallFixture();
  qint64 bestSize = QFileInfo(best).size();
  const QDir dir(corpusIniDir());
  for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files)) {
    if (info.size() > bestSize) {
      best = info.filePath();
      bestSize = info.size();
    }
  }
  return best;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// Writes a file of at least targetBytes made of copies of the source text.
QString writeRepeated(const QTemporaryDir& dir, const QString& source, qint64 targetBytes,
                      const char* name) {
  const QByteArray text = readAll(source);
  const QString path = dir.filePath(QString::fromUtf8(name));
  QFile out(path);
  if (text.isEmpty() || !out.open(QIODevice::WriteOnly)) {
    return QString();
  }
  qint64 written = 0;
  while (written < targetBytes) {
    written += out.write(text);
    written += out.write("\n");
  }
  return path;
}

long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void parseFile(benchmark::State& state, const QString& path) {
  const qint64 bytes = QFileInfo(path).size();
  for (auto _ : state) {
    tk::EcuDefinition definition = tk::IniParser().parse(path);
    benchmark::DoNotOptimize(definition);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_bytes"] = static_cast<double>(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir temp;
  const QDir corpus(corpusIniDir());
  for (const QFileInfo& info :
       corpus.entryInfoList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name)) {
    const QString path = info.filePath();
    benchmark::RegisterBenchmark(("parse/" + info.fileName().toStdString()).c_str(),
                                 [path](benchmark::State& s) { parseFile(s, path); })
        ->Unit(benchmark::kMillisecond);
  }
  const QString largest = largestDefinition();
  const QString tenTimes =
      writeRepeated(temp, largest, 10 * QFileInfo(largest).size(), "ten-times.ini");
  benchmark::RegisterBenchmark("parse/ten-times-largest", [tenTimes](benchmark::State& s) {
    parseFile(s, tenTimes);
  })->Unit(benchmark::kMillisecond);
  // Run alone (--benchmark_filter=hundred) so that peak_rss_kb is this parse's own peak.
  benchmark::RegisterBenchmark("parse/hundred-megabytes",
                               [&temp, largest](benchmark::State& s) {
                                 const QString path = writeRepeated(
                                     temp, largest, 100LL * 1024 * 1024, "hundred.ini");
                                 const long before = peakRssKb();
                                 parseFile(s, path);
                                 s.counters["peak_rss_kb"] = static_cast<double>(peakRssKb());
                                 s.counters["rss_before_kb"] = static_cast<double>(before);
                                 QFile::remove(path);
                               })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  // Small hostile files: a define that doubles itself on 200 lines (once 8 to 13 s and a 210 MB
  // document), and sixteen defines that double each other to just under the line limit.
  QByteArray doubling("#define X = $X$X\n[Constants]\n");
  QByteArray chain("#define Da = xxxxxxxxxxxxxxxx\n");
  for (char c = 'b'; c <= 'p'; ++c) {
    chain += QByteArray("#define D") + c + " = $D" + char(c - 1) + "$D" + char(c - 1) + '\n';
  }
  chain += "[Constants]\n";
  for (int i = 0; i < 200; ++i) {
    doubling += "k" + QByteArray::number(i) + " = $X\n";
    chain += "c" + QByteArray::number(i) + " = $Dp\n";
  }
  for (const auto& [name, text] :
       {std::pair("doubling-define", doubling), std::pair("chained-defines", chain)}) {
    const QString path = temp.filePath(QString::fromLatin1(name) + QStringLiteral(".ini"));
    QFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(text) == text.size()) {
      out.close();
      benchmark::RegisterBenchmark((std::string("parse/hostile-") + name).c_str(),
                                   [path](benchmark::State& s) { parseFile(s, path); })
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
