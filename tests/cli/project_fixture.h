#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
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
/// stored in its tables and curves. Commands run on it in-process; each run is added to a
/// transcript (command line, exit code, stream, output) that a test compares with a golden file.
class CliProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
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

  /// Runs "<args[0]> -p <project> <rest of args>" and records it.
  CommandRun run(QStringList args) {
    args.insert(1, QStringLiteral("-p"));
    args.insert(2, projectPath_);
    return runRaw(args);
  }
  /// Runs the arguments as given (program path not included) and records it.
  CommandRun runRaw(const QStringList& args) {
    CommandRun result;
    std::optional<int> code;
    const tk::test::Captured captured = tk::test::captureStdio(
        [&] { code = runAgentCommand(QStringList{QStringLiteral("prog")} + args); });
    setTextOutput(false);
    result.code = code.value_or(-1);
    result.out = captured.out;
    result.err = captured.err;
    QStringList shown;
    for (const QString& arg : args) {
      shown.append(arg.isEmpty() || arg.contains(u' ') ? u'\'' + arg + u'\'' : arg);
    }
    transcript_ += "$ " + shown.join(u' ').toUtf8() + "\nexit " + QByteArray::number(result.code);
    transcript_ += result.err.isEmpty() ? ", stdout:\n" + result.out : ", stderr:\n" + result.err;
    return result;
  }
  /// Adds a comment line to the transcript, saying what the test changed between commands.
  void note(const char* text) { transcript_ += QByteArray("# ") + text + '\n'; }

  /// The transcript compared with the golden file below tests/data/cli, with the temporary
  /// folder written as <tmp>, the test data folder as <data> and the working directory as <cwd>.
  ::testing::AssertionResult transcriptMatches(const char* golden) const {
    QByteArray text = transcript_;
    text.replace(dir_.path().toUtf8(), "<tmp>");
    text.replace(tk::test::dataPath(QString()).toUtf8(), "<data>/");
    text.replace(QDir::currentPath().toUtf8(), "<cwd>");
    return tk::test::matchesGolden(text, QStringLiteral("cli/") + QLatin1String(golden));
  }

  /// Opens the project, lets fn change it and saves it again.
  void editProject(const std::function<void(project::ProjectManager&)>& fn) {
    project::ProjectManager manager;
    manager.openProject(projectPath_);
    fn(manager);
    manager.saveProject();
  }

  QString tunePath() const { return project::tunePathFor(projectPath_); }

  QTemporaryDir dir_;
  QString projectPath_;
  QByteArray transcript_;
};

}  // namespace tk::cli::test
