#pragma once

// Two pseudo-terminals joined by socat.

#include <signal.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace tk::test {

/// Whether socat can be run (scripts/install-deps.sh installs it).
inline bool socatAvailable() {
  return !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty();
}

/// A socat process joining two raw pseudo-terminals; links to them live in a temporary folder.
class SocatPtyPair {
 public:
  SocatPtyPair() {
    process_.setProgram(QStandardPaths::findExecutable(QStringLiteral("socat")));
    process_.setArguments({QStringLiteral("pty,raw,echo=0,link=") + ecuEnd(),
                           QStringLiteral("pty,raw,echo=0,link=") + hostEnd()});
    process_.start();
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && !ok()) {
      QThread::msleep(10);
    }
  }
  ~SocatPtyPair() { pullOut(); }
  /// Whether both terminals are there.
  bool ok() const { return QFileInfo::exists(ecuEnd()) && QFileInfo::exists(hostEnd()); }
  /// The terminal the stand-in ECU uses.
  QString ecuEnd() const { return dir_.filePath(QStringLiteral("ecu")); }
  /// The terminal the program under test opens.
  QString hostEnd() const { return dir_.filePath(QStringLiteral("host")); }
  /// Ends socat at once, as if the adapter had been pulled out, and waits until it is gone.
  void pullOut() {
    if (process_.state() != QProcess::NotRunning) {
      ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
      process_.waitForFinished(5000);
    }
  }

 private:
  QTemporaryDir dir_;
  QProcess process_;
};

}  // namespace tk::test
