#pragma once

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

namespace tk::bench {

/// torvik-ecu-sim as a child process on a definition, over a free loopback port or a
/// pseudo-terminal (paced at baud when above 0); ready once it printed its ready line.
class Simulator {
 public:
  Simulator(const QString& ini, bool pty, int baud) {
    QStringList args{QStringLiteral("--ini"), ini};
    args << (pty ? QStringList{QStringLiteral("--pty")}
                 : QStringList{QStringLiteral("--port"), QStringLiteral("0")});
    if (baud > 0) {
      args << QStringLiteral("--baud") << QString::number(baud);
    }
    process_.start(QString::fromUtf8(TK_SIM_EXE), args);
    process_.waitForReadyRead(10000);
    const QStringList ready = QString::fromLocal8Bit(process_.readLine()).trimmed().split(u' ');
    if (ready.size() == 5 && ready.at(2) == QLatin1String("tcp")) {
      tcpPort_ = ready.at(4).toInt();
    } else if (ready.size() == 4) {
      pty_ = ready.at(3);
    }
  }
  ~Simulator() {
    process_.terminate();
    process_.waitForFinished(5000);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// True once the simulator said where it listens.
  bool ready() const { return tcpPort_ > 0 || !pty_.isEmpty(); }
  /// The pseudo-terminal's path (pty mode).
  const QString& pty() const { return pty_; }
  /// The TCP port (TCP mode).
  int tcpPort() const { return tcpPort_; }

 private:
  QProcess process_;
  QString pty_;
  int tcpPort_ = 0;
};

/// Runs the registered benchmarks inside an application object, which serial ports need for
/// their notifiers; no event loop runs.
inline int runBenchmarks(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace tk::bench
