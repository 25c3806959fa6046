// Agent-command speed: get-table and set-table-cell run end to end as processes on a project
// over the largest corpus definition (the demo definition when the corpus is absent), and the
// parts of one command measured on their own: process start, definition parse, tune read,
// and the command's own work on a loaded project. The parts are measured twice: in this
// process, where memory is already mapped (warm), and in a fresh child process per run (cold,
// as each agent command runs), started as "command_bench --phases <project> <table> <ns>".
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/edit_commands.h"
#include "cli/view_commands.h"
#include "project/project_manager.h"
#include "project/tune_file.h"

namespace {

// The corpus definition named by TK_BENCH_INI (a file name in the corpus), else the largest one.
QString largestDefinition() {
  const QByteArray chosen = qgetenv("TK_BENCH_INI");
  if (!chosen.isEmpty()) {
    return QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) + QStringLiteral("/ini/") +
                           QString::fromLocal8Bit(chosen));
  }
  QString best = QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
  qint64 bestSize = QFileInfo(best).size();
  const QDir dir(QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) + QStringLiteral("/ini")));
  for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files)) {
    if (info.size() > bestSize) {
      best = info.filePath();
      bestSize = info.size();
    }
  }
  return best;
}

// One project for every benchmark, made once, with the first table that holds array data.
struct Fixture {
  QTemporaryDir folder;
  QString ini;
  QString projectPath;
  QString tableId;
  // A cell every table with more than four values has.
  int row = 1;
  int col = 1;

  Fixture() {
    ini = largestDefinition();
    tk::project::ProjectManager manager;
    manager.createProject(QStringLiteral("Bench"), ini, folder.path());
    projectPath = manager.projectPath();
    for (const auto& [id, table] : manager.definition()->Tables) {
      const tk::TuneValue* z = manager.tune()->find(table.ZBinVariable);
      if (z != nullptr && z->arrayValues && z->arrayValues->size() > 4) {
        tableId = id;
        break;
      }
    }
    std::fprintf(stderr, "definition %s, table %s, tune file %lld bytes\n",
                 QFileInfo(ini).fileName().toUtf8().constData(), tableId.toUtf8().constData(),
                 static_cast<long long>(QFileInfo(manager.tunePath()).size()));
  }

  tk::cli::CommandOptions getOptions() const {
    tk::cli::CommandOptions o;
    o.values.insert(QStringLiteral("project"), projectPath);
    o.values.insert(QStringLiteral("id"), tableId);
    return o;
  }
  tk::cli::CommandOptions setOptions(int step) const {
    tk::cli::CommandOptions o = getOptions();
    o.values.insert(QStringLiteral("row"), QString::number(row));
    o.values.insert(QStringLiteral("col"), QString::number(col));
    o.values.insert(QStringLiteral("value"), QString::number(10 + step % 20));
    return o;
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

double childrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall time per process, and the processes' own CPU time (user + system) as the counter
// cpu_ms, which a loaded machine changes far less than the wall time.
void runProcess(benchmark::State& state, const QStringList& arguments, int expectedCode) {
  const double cpuBefore = childrenCpuSeconds();
  for (auto _ : state) {
    QProcess process;
    process.start(QString::fromUtf8(TK_CLI_EXE), arguments);
    process.waitForFinished(60000);
    if (process.exitCode() != expectedCode) {
      state.SkipWithError("unexpected exit code");
      break;
    }
  }
  state.counters["cpu_ms"] = benchmark::Counter((childrenCpuSeconds() - cpuBefore) * 1e3 /
                                                static_cast<double>(state.iterations()));
}

// Process start, Qt start-up and dispatch: a run that prints the usage text.
void BM_ProcessStart(benchmark::State& state) { runProcess(state, {}, 1); }

// The floor of a command that does some work: the CRC-32 vectors written to a file.
void BM_DumpCrc32Process(benchmark::State& state) {
  const QString out = fixture().folder.filePath(QStringLiteral("crc32.json"));
  runProcess(state, {QStringLiteral("dump-crc32"), out}, 0);
}

void BM_GetTableProcess(benchmark::State& state) {
  const Fixture& f = fixture();
  runProcess(state,
             {QStringLiteral("get-table"), QStringLiteral("-p"), f.projectPath,
              QStringLiteral("--id"), f.tableId},
             0);
}

void BM_SetTableCellProcess(benchmark::State& state) {
  const Fixture& f = fixture();
  runProcess(state,
             {QStringLiteral("set-table-cell"), QStringLiteral("-p"), f.projectPath,
              QStringLiteral("--id"), f.tableId, QStringLiteral("--row"), QString::number(f.row),
              QStringLiteral("--col"), QString::number(f.col), QStringLiteral("--value"),
              QStringLiteral("12"), QStringLiteral("--offline")},
             0);
}

void BM_DefinitionParse(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::project::readProjectDefinition(f.ini, {}));
  }
}

void BM_TuneRead(benchmark::State& state) {
  const QString tunePath = tk::project::tunePathFor(fixture().projectPath);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::project::readTuneFile(tunePath));
  }
}

// Everything the loader does: project file, definition, tune, settings.
void BM_OpenProject(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    tk::project::ProjectManager manager;
    manager.openProject(f.projectPath);
    benchmark::DoNotOptimize(manager.tune());
  }
}

void BM_GetTableWork(benchmark::State& state) {
  const Fixture& f = fixture();
  const tk::cli::CommandOptions options = f.getOptions();
  QByteArray diagnostics;
  tk::cli::CommandContext context(options, diagnostics);
  context.loadProject(tk::cli::ProjectAccess::Read);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tk::cli::getTable(context));
  }
}

// The store and the save of the tune file (the part of set-table-cell after loading).
void BM_SetTableCellWork(benchmark::State& state) {
  const Fixture& f = fixture();
  tk::cli::CommandOptions options = f.setOptions(0);
  QByteArray diagnostics;
  tk::cli::CommandContext context(options, diagnostics);
  context.loadProject(tk::cli::ProjectAccess::Change);
  int step = 0;
  for (auto _ : state) {
    options = f.setOptions(step++);
    benchmark::DoNotOptimize(tk::cli::setTableCell(context));
    context.manager().saveProject();
  }
}

std::int64_t wallNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Child side: one cold run of each part, printed as "start parse tune open get set" in ms.
int runPhases(int argc, char** argv) {
  if (argc < 5) {
    return 2;
  }
  const double start = (wallNanoseconds() - std::atoll(argv[4])) / 1e6;
  QCoreApplication app(argc, argv);
  const QString projectPath = QString::fromLocal8Bit(argv[2]);
  const QString tableId = QString::fromLocal8Bit(argv[3]);
  const tk::project::ProjectFile project = tk::project::readProjectFile(projectPath);
  QElapsedTimer timer;
  timer.start();
  const tk::EcuDefinition definition =
      tk::project::readProjectDefinition(project.iniFilePath, project.iniSettings);
  const double parse = timer.nsecsElapsed() / 1e6;
  timer.restart();
  const tk::Tune tune = tk::project::readTuneFile(tk::project::tunePathFor(projectPath));
  const double tuneRead = timer.nsecsElapsed() / 1e6;
  tk::cli::CommandOptions options;
  options.values.insert(QStringLiteral("project"), projectPath);
  options.values.insert(QStringLiteral("id"), tableId);
  QByteArray diagnostics;
  tk::cli::CommandContext context(options, diagnostics);
  timer.restart();
  context.loadProject(tk::cli::ProjectAccess::Change);
  const double open = timer.nsecsElapsed() / 1e6;
  timer.restart();
  benchmark::DoNotOptimize(tk::cli::getTable(context));
  const double get = timer.nsecsElapsed() / 1e6;
  options.values.insert(QStringLiteral("row"), QStringLiteral("1"));
  options.values.insert(QStringLiteral("col"), QStringLiteral("1"));
  options.values.insert(QStringLiteral("value"), QStringLiteral("12"));
  timer.restart();
  benchmark::DoNotOptimize(tk::cli::setTableCell(context));
  context.manager().saveProject();
  const double set = timer.nsecsElapsed() / 1e6;
  std::printf("%.3f %.3f %.3f %.3f %.3f %.3f\n", start, parse, tuneRead, open, get, set);
  benchmark::DoNotOptimize(definition.Signature.size() + tune.fields.size());
  return 0;
}

// Parent side: medians over fresh child processes, reported as counters (milliseconds).
void BM_ColdPhases(benchmark::State& state) {
  const Fixture& f = fixture();
  std::vector<std::vector<double>> samples(6);
  for (auto _ : state) {
    QProcess process;
    process.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--phases"), f.projectPath, f.tableId, QString::number(wallNanoseconds())});
    process.waitForFinished(60000);
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    if (process.exitCode() != 0 || fields.size() != 6) {
      state.SkipWithError("phase child failed");
      break;
    }
    for (int i = 0; i < 6; ++i) {
      samples[i].push_back(fields.at(i).toDouble());
    }
  }
  const char* names[] = {"start_ms", "parse_ms", "tune_read_ms",
                         "open_ms",  "get_ms",   "set_save_ms"};
  for (int i = 0; i < 6; ++i) {
    std::vector<double>& v = samples[i];
    if (!v.empty()) {
      std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
      state.counters[names[i]] = v[v.size() / 2];
    }
  }
}

BENCHMARK(BM_ColdPhases)->Unit(benchmark::kMillisecond)->Iterations(25);
BENCHMARK(BM_ProcessStart)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);
BENCHMARK(BM_DumpCrc32Process)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);
BENCHMARK(BM_GetTableProcess)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);
BENCHMARK(BM_SetTableCellProcess)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);
BENCHMARK(BM_DefinitionParse)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_TuneRead)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_GetTableWork)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_SetTableCellWork)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--phases") == 0) {
    return runPhases(argc, argv);
  }
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
