#pragma once

// The built torvik-ecu-sim program as a child process of a test.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "sim/sim_engine.h"
#include "support/test_support.h"

namespace tk::test {

/// The demo definition in examples/, which the simulator serves in the tests.
QString demoIni();
/// Creates a project from ini in folder; the path of its project file.
QString makeProject(const QString& folder, const QString& ini = demoIni());

/// A suite whose tests need an application object: serial ports and sockets register notifiers
/// with its event dispatcher. The object lives while the suite runs.
class AppTest : public ::testing::Test {
 protected:
  /// Creates the application object unless one exists.
  static void SetUpTestSuite() {
    if (QCoreApplication::instance() == nullptr) {
      app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
  }
  /// Destroys the application object this suite created.
  static void TearDownTestSuite() { app_.reset(); }

 private:
  inline static char name_[] = "torvik_tests";
  inline static char* argv_[] = {name_, nullptr};
  inline static int argc_ = 1;
  inline static std::unique_ptr<QCoreApplication> app_;
};

/// How to start the simulator; each set member becomes its option.
struct SimOptions {
  QString ini;                     ///< --ini (required)
  bool pty = false;                ///< --pty instead of a TCP port
  quint16 port = 0;                ///< --port (0: any free port; ignored with pty)
  QString flash;                   ///< --flash when not empty
  int baud = 0;                    ///< --baud when above 0
  std::optional<QString> product;  ///< --product when set
};

/// Starts torvik-ecu-sim, waits (up to 10 s) for its ready line and stops it (SIGTERM) when it
/// goes out of scope.
class SimProcess {
 public:
  /// Starts the simulator with options; check ready() before use.
  explicit SimProcess(const SimOptions& options);
  /// Stops the simulator when it still runs.
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  /// Whether the ready line came.
  bool ready() const { return !readyLine_.isEmpty(); }
  /// The ready line without its line feed; empty when it did not come.
  QString readyLine() const { return readyLine_; }
  /// "127.0.0.1", where a TCP simulator listens.
  static QString host() { return QStringLiteral("127.0.0.1"); }
  /// The TCP port served; 0 for a pseudo-terminal or when not ready.
  quint16 port() const { return port_; }
  /// The pseudo-terminal a client opens; empty for TCP or when not ready.
  QString ptyPath() const { return ptyPath_; }
  /// The process id; 0 when it is not running.
  qint64 pid() const { return process_.processId(); }

  /// Sends SIGTERM and waits (up to 10 s); the exit code, or -1 when it did not exit normally.
  int stop();
  /// Sends SIGKILL, as a crash or a pulled plug, and waits until it is gone.
  void kill();
  /// What the simulator wrote on standard error so far.
  QByteArray standardError();

 private:
  QProcess process_;
  QString readyLine_;
  quint16 port_ = 0;
  QString ptyPath_;
};

/// Every channel's value as the simulated engine serves it at t seconds.
QHash<QString, double> servedAt(const EcuDefinition& definition, sim::SimEngine& engine, double t);
/// Points the project at path to sim: its pseudo-terminal over Serial, else its TCP port.
void connectProject(const QString& projectPath, const SimProcess& sim);

}  // namespace tk::test
