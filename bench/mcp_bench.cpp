// Per-call latency of an agent session (`torvik-cli mcp`) after its first call, against one
// process per command: get-table on a project of speeduino-202501 (the demo definition when the
// corpus is absent), and read-channels --count 1 over loopback TCP to torvik-ecu-sim.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "bench_support.h"
#include "project/project_manager.h"

namespace {

QString benchDefinition() {
  const QString corpus = QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR) +
                                         QStringLiteral("/ini/speeduino-202501.ini"));
  return QFileInfo::exists(corpus)
             ? corpus
             : QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
}

// One project on the simulator, made once for every benchmark.
struct Fixture {
  QTemporaryDir folder;
  QString ini = benchDefinition();
  tk::bench::Simulator sim{ini, false, 0};
  QString projectPath;

  Fixture() {
    tk::project::ProjectManager manager;
    manager.createProject(QStringLiteral("Bench"), ini, folder.path());
    manager.setConnection(QString(), 115200, QStringLiteral("TcpBridge"),
                          QStringLiteral("127.0.0.1"), sim.tcpPort());
    manager.saveProject();
    projectPath = manager.projectPath();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// A running session, initialized; call() sends one request and waits for its reply line.
class Session {
 public:
  Session() {
    process_.start(QString::fromUtf8(TK_CLI_EXE),
                   {QStringLiteral("mcp"), QStringLiteral("-p"), fixture().projectPath});
    process_.waitForStarted();
    call(R"("method":"initialize","params":{"protocolVersion":"2025-11-25"})");
  }
  ~Session() {
    process_.closeWriteChannel();
    process_.waitForFinished(5000);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  QByteArray call(const char* request) {
    process_.write(QByteArray(R"({"jsonrpc":"2.0","id":1,)") + request + "}\n");
    while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
    }
    return process_.readLine();
  }

 private:
  QProcess process_;
};

constexpr const char* kGetTable =
    R"("method":"tools/call","params":{"name":"get-table","arguments":{"id":"veTable1Tbl"}})";
constexpr const char* kReadChannels =
    R"("method":"tools/call","params":{"name":"read-channels","arguments":{"count":1}})";

void sessionCall(benchmark::State& state, const char* request) {
  Session session;
  // The first call reads the definition; the ones measured find it read.
  if (!session.call(request).contains(R"("isError": false)")) {
    state.SkipWithError("the call failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(session.call(request));
  }
}

void processCall(benchmark::State& state, const QStringList& arguments) {
  QStringList args = arguments;
  args << QStringLiteral("-p") << fixture().projectPath;
  for (auto _ : state) {
    QProcess process;
    process.start(QString::fromUtf8(TK_CLI_EXE), args);
    process.waitForFinished(30000);
    if (process.exitCode() != 0) {
      state.SkipWithError("the command failed");
      return;
    }
  }
}

void BM_GetTableSessionCall(benchmark::State& state) { sessionCall(state, kGetTable); }
void BM_GetTableProcess(benchmark::State& state) {
  processCall(state,
              {QStringLiteral("get-table"), QStringLiteral("--id"), QStringLiteral("veTable1Tbl")});
}
void BM_ReadChannelsSessionCall(benchmark::State& state) { sessionCall(state, kReadChannels); }
void BM_ReadChannelsProcess(benchmark::State& state) {
  processCall(state,
              {QStringLiteral("read-channels"), QStringLiteral("--count"), QStringLiteral("1")});
}

BENCHMARK(BM_GetTableSessionCall)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetTableProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadChannelsSessionCall)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadChannelsProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return tk::bench::runBenchmarks(argc, argv); }
