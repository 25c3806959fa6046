#pragma once

// Two connected pseudo-terminals made by socat, one for the ECU side and one for the program
// under test, and a scripted peer on the ECU side.

#include <fcntl.h>
#include <signal.h>
#include <termios.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <memory>

#include "loopback_peer.h"

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
    while (!deadline.hasExpired() &&
           !(QFileInfo::exists(ecuEnd()) && QFileInfo::exists(hostEnd()))) {
      QThread::msleep(10);
    }
  }
  ~SocatPtyPair() {
    kill();
    process_.waitForFinished(5000);
  }
  SocatPtyPair(const SocatPtyPair&) = delete;
  SocatPtyPair& operator=(const SocatPtyPair&) = delete;

  /// Whether both terminals are there.
  bool ok() const { return QFileInfo::exists(ecuEnd()) && QFileInfo::exists(hostEnd()); }
  /// The terminal the stand-in ECU uses.
  QString ecuEnd() const { return dir_.filePath(QStringLiteral("ecu")); }
  /// The terminal the program under test opens.
  QString hostEnd() const { return dir_.filePath(QStringLiteral("host")); }
  /// Ends our socat at once, as if the adapter had been pulled out. Safe from any thread.
  void kill() {
    if (pid_ == 0) {
      pid_ = process_.processId();
    }
    if (pid_ > 0) {
      ::kill(static_cast<pid_t>(pid_), SIGKILL);
    }
  }
  /// Remembers our socat's id so that kill() can run from a peer thread.
  void rememberPid() { pid_ = process_.processId(); }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  qint64 pid_ = 0;
};

/// Serial ports register notifiers with the application's event dispatcher, even when only their
/// blocking waits are used; tests that open ports make sure an application object exists.
class ApplicationForSerialPorts {
 public:
  ApplicationForSerialPorts() {
    if (QCoreApplication::instance() == nullptr) {
      app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
  }

 private:
  inline static char name_[] = "torvik_tests";
  inline static char* argv_[] = {name_, nullptr};
  inline static int argc_ = 1;
  std::unique_ptr<QCoreApplication> app_;
};

/// Runs a script on a thread of its own against a terminal device; the device stays open until
/// the peer is destroyed, so that nothing the script sent is lost to an early hang-up.
class PtyPeer {
 public:
  using Script = std::function<void(PeerStream&)>;

  PtyPeer(const QString& path, Script script) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    thread_ = std::thread([this, fd, s = std::move(script)] {
      PeerStream stream(fd, false);
      if (fd >= 0) {
        s(stream);
      }
      const QDeadlineTimer deadline(30000);
      while (!released_ && !deadline.hasExpired()) {
        QThread::msleep(5);
      }
      stream.close();
    });
  }
  ~PtyPeer() {
    released_ = true;
    thread_.join();
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

 private:
  std::atomic<bool> released_{false};
  std::thread thread_;
};

}  // namespace tk::test
