// Evaluates every computed channel of the largest corpus definition (the synthetic test definition
// when the corpus is absent) over 10,000 realtime snapshots, as a realtime display does, and
// reports the time per evaluation. A second run evaluates by literal rewriting for comparison.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <cstdio>
#include <random>
#include <vector>

#include "definition/ini_parser.h"
#include "expr/ecu_definition_view.h"
#include "expr/expression_evaluator.h"
#include "expr/expression_host.h"
#include "expr/expression_state.h"

namespace {

constexpr int kSnapshots = 10000;

QString definitionPath() {
  QDir corpus(QStringLiteral(TK_CORPUS_DIR "/ini"));
  QString best;
  qint64 bestSize = -1;
  if (corpus.exists()) {
    for (const QFileInfo& info : corpus.entryInfoList({QStringLiteral("*.ini")}, QDir::Files)) {
      if (info.size() > bestSize) {
        bestSize = info.size();
        best = info.absoluteFilePath();
      }
    }
  }
  return best.isEmpty() ? QStringLiteral(TK_SOURCE_ROOT "/tests/data/expr/expr_channels.ini")
                        : best;
}

// Declared channels read from the current snapshot row; anything else (constants, unknown names)
// is a fixed 1.
class SnapshotHost : public tk::expr::ExpressionHost {
 public:
  SnapshotHost(const tk::EcuDefinition& definition, const tk::expr::DefinitionView& view)
      : view_(view) {
    for (const auto& [name, channel] : definition.OutputChannels) {
      if (!channel.Expression) {
        index_.insert(name, static_cast<int>(index_.size()));
      }
    }
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> dist(0.0, 250.0);
    rows_.resize(static_cast<std::size_t>(kSnapshots));
    for (std::vector<double>& row : rows_) {
      row.resize(static_cast<std::size_t>(index_.size()));
      for (double& v : row) {
        v = dist(rng);
      }
    }
  }

  double getValue(const QString& name) const override {
    const auto it = index_.constFind(name);
    return it == index_.cend() ? 1.0 : (*current_)[static_cast<std::size_t>(*it)];
  }
  const tk::expr::DefinitionView* definition() const override { return &view_; }
  bool isOnline() const override { return true; }

  void select(int snapshot) { current_ = &rows_[static_cast<std::size_t>(snapshot)]; }
  int channelCount() const { return static_cast<int>(index_.size()); }

 private:
  const tk::expr::DefinitionView& view_;
  QHash<QString, int> index_;
  std::vector<std::vector<double>> rows_;
  const std::vector<double>* current_ = nullptr;
};

void runChannels(benchmark::State& state, bool rewrite) {
  const QString path = definitionPath();
  const tk::EcuDefinition definition = tk::IniParser().parse(path);
  const tk::expr::EcuDefinitionView view(definition);
  SnapshotHost host(definition, view);
  QStringList texts;
  for (auto it = definition.ExpressionDefinitions.cbegin();
       it != definition.ExpressionDefinitions.cend(); ++it) {
    texts.append(it.value());
  }
  tk::expr::ExpressionEvaluator evaluator;
  tk::expr::ExpressionState history;
  int snapshot = 0;
  double sink = 0;
  for (auto _ : state) {
    host.select(snapshot);
    snapshot = (snapshot + 1) % kSnapshots;
    for (const QString& text : std::as_const(texts)) {
      sink += rewrite ? evaluator.evaluateByRewriting(text, host, &history)
                      : evaluator.evaluate(text, host, &history);
    }
  }
  benchmark::DoNotOptimize(sink);
  const double evaluations = static_cast<double>(state.iterations()) * texts.size();
  state.counters["evaluations"] = evaluations;
  state.counters["time_per_eval"] =
      benchmark::Counter(evaluations, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(QFileInfo(path).fileName().toStdString() + ", " + std::to_string(texts.size()) +
                 " computed channels, " + std::to_string(host.channelCount()) + " declared");
}

void BM_ComputedChannelsCompiled(benchmark::State& state) { runChannels(state, false); }
void BM_ComputedChannelsRewriting(benchmark::State& state) { runChannels(state, true); }

BENCHMARK(BM_ComputedChannelsCompiled)->Iterations(kSnapshots)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComputedChannelsRewriting)->Iterations(kSnapshots)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
