#include "support/sim_process.h"

#include <signal.h>

#include <QDeadlineTimer>

#include "comms/realtime_data.h"
#include "project/project_manager.h"

namespace tk::test {
namespace {

constexpr int kWaitMs = 10000;

// The arguments the options give (without the program).
QStringList arguments(const SimOptions& options) {
  QStringList args{QStringLiteral("--ini"), options.ini};
  if (options.pty) {
    args << QStringLiteral("--pty");
  } else {
    args << QStringLiteral("--port") << QString::number(options.port);
  }
  if (!options.flash.isEmpty()) {
    args << QStringLiteral("--flash") << options.flash;
  }
  if (options.baud > 0) {
    args << QStringLiteral("--baud") << QString::number(options.baud);
  }
  if (options.product) {
    args << QStringLiteral("--product") << *options.product;
  }
  return args;
}

}  // namespace

QString demoIni() {
  return QString::fromUtf8(TK_SOURCE_ROOT) + QStringLiteral("/examples/speeduino-demo.ini");
}

QString makeProject(const QString& folder, const QString& ini) {
  project::ProjectManager manager;
  manager.createProject(QStringLiteral("Demo"), ini, folder);
  return manager.projectPath();
}

QHash<QString, double> servedAt(const EcuDefinition& definition, sim::SimEngine& engine, double t) {
  QHash<QString, double> values;
  const comms::RealtimeSnapshot snapshot = comms::decodeRealtimeBlock(
      definition, sim::simRealtimeBlock(definition, engine.advanceTo(t)));
  for (const auto& [name, value] : snapshot.values) {
    values.insert(name, value);
  }
  return values;
}

void connectProject(const QString& projectPath, const SimProcess& sim) {
  project::ProjectManager manager;
  manager.openProject(projectPath);
  const QString protocol =
      sim.ptyPath().isEmpty() ? QStringLiteral("TcpBridge") : QStringLiteral("Serial");
  manager.setConnection(sim.ptyPath(), 115200, protocol, SimProcess::host(), sim.port());
  manager.saveProject();
}

SimProcess::SimProcess(const SimOptions& options) {
  process_.start(QString::fromUtf8(TK_SIM_EXE), arguments(options));
  QByteArray out;
  const QDeadlineTimer deadline(kWaitMs);
  while (!out.contains('\n') && process_.state() != QProcess::NotRunning &&
         !deadline.hasExpired()) {
    process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    out += process_.readAllStandardOutput();
  }
  const QStringList fields =
      QString::fromLocal8Bit(out.left(out.indexOf('\n'))).split(QLatin1Char(' '));
  // "torvik-ecu-sim ready tcp 127.0.0.1 PORT" or "torvik-ecu-sim ready pty PATH"
  if (fields.size() >= 4 && fields.at(1) == QLatin1String("ready")) {
    readyLine_ = fields.join(QLatin1Char(' '));
    if (fields.at(2) == QLatin1String("tcp") && fields.size() == 5) {
      port_ = fields.at(4).toUShort();
    } else if (fields.at(2) == QLatin1String("pty")) {
      ptyPath_ = fields.mid(3).join(QLatin1Char(' '));
    }
  }
}

SimProcess::~SimProcess() { stop(); }

int SimProcess::stop() {
  if (process_.state() == QProcess::NotRunning) {
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  process_.terminate();
  if (!process_.waitForFinished(kWaitMs)) {
    kill();
    return -1;
  }
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

void SimProcess::kill() {
  if (process_.state() != QProcess::NotRunning) {
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    process_.waitForFinished(kWaitMs);
  }
}

QByteArray SimProcess::standardError() {
  process_.waitForReadyRead(0);
  return process_.readAllStandardError();
}

}  // namespace tk::test
