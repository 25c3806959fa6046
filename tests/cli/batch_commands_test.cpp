#include "cli/batch_commands.h"

#include <QDir>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using BatchCommandsTest = CliProjectTest;
using tk::test::readFile;

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST_F(BatchCommandsTest, BatchesLandSavedAndPushed) {
  writeFile(dir_.filePath("edits.json"), R"([{"name": "REQFUEL", "expected": 12.3, "value": 3}])");
  runScript("apply-edits.cmds");
  EXPECT_TRUE(transcriptMatches("apply-edits.txt"));
}

// With an ECU configured, so that a push would show on standard error; a save would stamp a new
// time into both project files.
TEST_F(BatchCommandsTest, DryRunsRefusalsAndMalformedInputWriteNothing) {
  editProject([](project::ProjectManager& m) {
    m.setConnection({}, 115200, QStringLiteral("TcpBridge"), QStringLiteral("127.0.0.1"), 1);
  });
  writeFile(dir_.filePath("edits.json"), "[]");
  const QByteArray tune = readFile(tunePath());
  const QByteArray project = readFile(projectPath_);
  const QStringList entries = QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
  runScript("apply-edits-unchanged.cmds");
  EXPECT_TRUE(transcriptMatches("apply-edits-unchanged.txt"));
  EXPECT_EQ(readFile(tunePath()), tune);
  EXPECT_EQ(readFile(projectPath_), project);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), entries);
}

}  // namespace
}  // namespace tk::cli::test
