#pragma once

#include "cli/agent_runner.h"
#include "cli/envelope.h"
#include "project/project_manager.h"
#include "support/test_support.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace tk::cli::test {

/// What one in-process agent command printed and returned.
struct CommandRun {
  int code = -1;
  QByteArray out;
  QByteArray err;
};

/// A project "Car" made from tests/data/project/cli.ini in a temporary folder, with known values
/// stored in its tables and curves, and helpers that run agent commands on it in-process.
class CliProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    setTextOutput(false);
    project::ProjectManager manager;
    manager.createProject(QStringLiteral("Car"),
                          tk::test::dataPath(QStringLiteral("project/cli.ini")),
                          dir_.filePath(QStringLiteral("car")));
    projectPath_ = manager.projectPath();
    for (int i = 0; i < 16; ++i) {
      manager.setValue(QStringLiteral("veGrid"), i, i);
    }
    const double rpm[] = {1000, 2000, 3000, 4000};
    const double load[] = {20, 40, 60, 80};
    const double wueRates[] = {180, 160, 140, 100};
    const double wueBins[] = {-40, 0, 40, 80};
    for (int i = 0; i < 4; ++i) {
      manager.setValue(QStringLiteral("rpmAxis"), i, rpm[i]);
      manager.setValue(QStringLiteral("loadAxis"), i, load[i]);
      manager.setValue(QStringLiteral("wueRates"), i, wueRates[i]);
      manager.setValue(QStringLiteral("wueBins"), i, wueBins[i]);
    }
    const double spark[] = {-5, 0, 5, 10, 15, 20};
    for (int i = 0; i < 6; ++i) {
      manager.setValue(QStringLiteral("sparkGrid"), i, spark[i]);
    }
    for (int i = 0; i < 3; ++i) {
      manager.setValue(QStringLiteral("sparkRpm"), i, 1000 + 2000 * i);
    }
    manager.setValue(QStringLiteral("reqFuel"), 0, 8.5);
    manager.saveProject();
  }

  void TearDown() override { setTextOutput(false); }

  /// Runs "prog <command> -p <project> <args>" in-process.
  CommandRun run(const QString& command, const QStringList& args = {}) {
    return runRaw(QStringList{command, QStringLiteral("-p"), projectPath_} + args);
  }
  /// Runs "prog <command> <args>" with text output.
  CommandRun runText(const QString& command, const QStringList& args = {}) {
    return run(command, args + QStringList{QStringLiteral("-f"), QStringLiteral("text")});
  }
  /// Runs "prog <args>" in-process.
  CommandRun runRaw(const QStringList& args) {
    CommandRun result;
    std::optional<int> code;
    const tk::test::Captured captured = tk::test::captureStdio(
        [&] { code = runAgentCommand(QStringList{QStringLiteral("prog")} + args); });
    setTextOutput(false);
    result.code = code.value_or(-1);
    result.out = captured.out;
    result.err = captured.err;
    return result;
  }

  /// Opens the project, lets fn change it and saves it again.
  void editProject(const std::function<void(project::ProjectManager&)>& fn) {
    project::ProjectManager manager;
    manager.openProject(projectPath_);
    fn(manager);
    manager.saveProject();
  }

  /// The JSON error envelope of command, the message given as it is written in JSON (quotes
  /// and apostrophes already escaped), plus its line feed.
  static QByteArray errorEnvelope(const char* command, const QByteArray& jsonMessage) {
    return QByteArray("{\n  \"success\": false,\n  \"command\": \"") + command +
           "\",\n  \"error\": \"" + jsonMessage + "\"\n}\n";
  }

  QString tunePath() const { return project::tunePathFor(projectPath_); }

  QTemporaryDir dir_;
  QString projectPath_;
};

}  // namespace tk::cli::test
