#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "cli/agent_runner.h"
#include "cli/envelope.h"
#include "project/project_manager.h"
#include "support/test_support.h"

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
    const auto store = [&manager](const char* name, const QList<double>& values) {
      for (int i = 0; i < values.size(); ++i) {
        manager.setValue(QString::fromLatin1(name), i, values[i]);
      }
    };
    store("veGrid", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    store("rpmAxis", {1000, 2000, 3000, 4000});
    store("loadAxis", {20, 40, 60, 80});
    store("wueRates", {180, 160, 140, 100});
    store("wueBins", {-40, 0, 40, 80});
    store("sparkGrid", {-5, 0, 5, 10, 15, 20});
    store("sparkRpm", {1000, 3000, 5000});
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

  /// The JSON success envelope of command around its data members, given as written at their
  /// indentation of four blanks and ending in a line feed.
  static QByteArray successEnvelope(const char* command, const QByteArray& dataMembers) {
    return QByteArray("{\n  \"success\": true,\n  \"command\": \"") + command +
           "\",\n  \"data\": {\n" + dataMembers + "  }\n}\n";
  }

  QString tunePath() const { return project::tunePathFor(projectPath_); }

  QTemporaryDir dir_;
  QString projectPath_;
};

}  // namespace tk::cli::test
