#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "cli/agent_runner.h"
#include "project/project_manager.h"
#include "support/test_support.h"

namespace tk::cli::test {

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
    const std::pair<const char*, QList<double>> values[] = {
        {"veGrid", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"rpmAxis", {1000, 2000, 3000, 4000}},
        {"loadAxis", {20, 40, 60, 80}},
        {"wueRates", {180, 160, 140, 100}},
        {"wueBins", {-40, 0, 40, 80}},
        {"sparkGrid", {-5, 0, 5, 10, 15, 20}},
        {"sparkRpm", {1000, 3000, 5000}},
        {"reqFuel", {8.5}}};
    for (const auto& [name, list] : values) {
      for (int i = 0; i < list.size(); ++i) {
        manager.setValue(QString::fromLatin1(name), i, list[i]);
      }
    }
    manager.saveProject();
  }

  /// Runs one command line and records it (its warning lines, then its exit code and output):
  /// arguments split at blanks, '...' quoting one argument; <project>, <tmp> and <data> stand for
  /// the project file, the temporary folder and the test data folder.
  CommandResult run(const QString& line) {
    static const QRegularExpression kArgument(QStringLiteral("'([^']*)'|(\\S+)"));
    QStringList args;
    for (const QRegularExpressionMatch& m : kArgument.globalMatch(line)) {
      args.append(m.captured(m.lastCapturedIndex())
                      .replace(QStringLiteral("<project>"), projectPath_)
                      .replace(QStringLiteral("<tmp>"), dir_.path())
                      .replace(QStringLiteral("<data>/"), tk::test::dataPath(QString())));
    }
    const std::optional<CommandResult> result =
        runCommand(QStringList{QStringLiteral("prog")} + args, agentCommands());
    EXPECT_TRUE(result.has_value()) << line.toStdString();
    const CommandResult r = result.value_or(CommandResult());
    for (QString& a : args) {
      a = a.isEmpty() || a.contains(u' ') ? u'\'' + a + u'\'' : a;
    }
    transcript_ += "$ " + args.join(u' ').toUtf8() + '\n';
    for (const QByteArray& warning : r.diagnostics.split('\n')) {
      transcript_ += warning.isEmpty() ? QByteArray() : "stderr first: " + warning + '\n';
    }
    transcript_ += "exit " + QByteArray::number(r.exitCode) +
                   (r.output.stream == Stream::Err ? ", stderr:\n" : ", stdout:\n") +
                   r.output.bytes;
    return r;
  }
  /// Runs every line of the command script below tests/data/cli; lines starting with "#" go to
  /// the transcript as they are.
  void runScript(const char* name) {
    const QByteArray script =
        tk::test::readFile(tk::test::dataPath(QStringLiteral("cli/") + QLatin1String(name)));
    ASSERT_FALSE(script.isEmpty()) << name;
    for (const QByteArray& line : script.trimmed().split('\n')) {
      if (line.startsWith('#')) {
        transcript_ += line + '\n';
      } else {
        run(QString::fromUtf8(line));
      }
    }
  }
  /// Adds a comment line to the transcript, saying what the test changed between commands.
  void note(const char* text) { transcript_ += QByteArray("# ") + text + '\n'; }

  /// The transcript compared with the golden file below tests/data/cli, with the project file,
  /// the temporary folder and the test data folder written as above, the working directory as
  /// <cwd>.
  ::testing::AssertionResult transcriptMatches(const char* golden) const {
    QByteArray text = transcript_;
    text.replace(projectPath_.toUtf8(), "<project>");
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
