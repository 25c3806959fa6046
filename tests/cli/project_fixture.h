#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "cli/agent_runner.h"
#include "cli/command_transcript.h"
#include "project/project_manager.h"
#include "support/test_support.h"

namespace tk::cli::test {

/// A project "Car" made from tests/data/project/cli.ini in a temporary folder, with known values
/// stored in its tables and curves. Commands run on it in-process; each run is added to a
/// transcript that a test compares with a golden file.
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

  /// Runs one command line and records it (see CommandTranscript); <project>, <tmp> and <data>
  /// stand for the project file, the temporary folder and the test data folder, and the
  /// working directory is written as <cwd>.
  CommandResult run(const QString& line) { return transcript().run(line); }
  /// Runs every line of the command script below tests/data/cli.
  void runScript(const char* name) { transcript().runScript(name); }
  /// Adds a comment line to the transcript, saying what the test changed between commands.
  void note(const char* text) { transcript().note(text); }
  /// The transcript compared with the golden file below tests/data/cli.
  ::testing::AssertionResult transcriptMatches(const char* golden) {
    return transcript().matches(golden);
  }

  /// Opens the project, lets fn change it and saves it again.
  void editProject(const std::function<void(project::ProjectManager&)>& fn) {
    project::ProjectManager manager;
    manager.openProject(projectPath_);
    fn(manager);
    manager.saveProject();
  }

  QString tunePath() const { return project::tunePathFor(projectPath_); }

  // Made on first use, once the project path is known.
  CommandTranscript& transcript() {
    if (!transcript_) {
      transcript_.emplace();
      transcript_->define(QStringLiteral("<project>"), projectPath_);
      transcript_->define(QStringLiteral("<tmp>"), dir_.path());
      transcript_->define(QStringLiteral("<data>/"), tk::test::dataPath(QString()));
      transcript_->define(QStringLiteral("<cwd>"), QDir::currentPath());
    }
    return *transcript_;
  }

  QTemporaryDir dir_;
  QString projectPath_;
  std::optional<CommandTranscript> transcript_;
};

}  // namespace tk::cli::test
