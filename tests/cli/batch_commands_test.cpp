#include "cli/batch_commands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using BatchCommandsTest = CliProjectTest;
using tk::test::readFile;
using tk::test::writeFile;

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

// A real definition, the expected values read from the project as an agent would read them: a
// dry run and a batch with one stale value write nothing, then the batch lands as the dry run
// said.
TEST(BatchCorpusTest, ThreeEditsLandOrNoneDoes) {
  const QString corpus = tk::test::corpusDir();
  if (corpus.isEmpty()) {
    GTEST_SKIP() << "corpus not found: the real-file tests need ../shared/corpus";
  }
  QTemporaryDir dir;
  project::ProjectManager m;
  m.createProject("P", corpus + "/ini/speeduino-202501.ini", dir.filePath("p"));
  const QString path = m.projectPath();
  const auto stored = [&](const QString& name, int index) {
    m.openProject(path);
    return m.getValue(name, index);
  };
  const auto run = [&](const QJsonArray& edits, const QString& flag = "--offline") {
    const QStringList arguments{"prog",    "apply-edits",
                                "-p",      path,
                                "--edits", QString::fromUtf8(QJsonDocument(edits).toJson()),
                                flag};
    return QJsonDocument::fromJson(runCommand(arguments, agentCommands())->output.bytes).object();
  };
  const auto files = [&] { return readFile(path) + readFile(project::tunePathFor(path)); };
  QJsonArray edits;
  for (const auto& [latin1, index, value] :
       {std::tuple{"reqFuel", 0, 12.34}, {"veTable", 17, 77.0}, {"injLayout", 0, 3.0}}) {
    const QString name = QLatin1String(latin1);
    edits.append(QJsonObject{
        {"name", name}, {"index", index}, {"expected", stored(name, index)}, {"value", value}});
  }
  const QByteArray before = files();

  const QJsonObject dry = run(edits, "--dry-run");
  EXPECT_TRUE(dry["success"].toBool()) << dry["error"].toString().toStdString();
  QJsonArray stale = edits;
  stale[1] = QJsonObject{{"name", "veTable"},
                         {"index", 17},
                         {"expected", std::nextafter(stored("veTable", 17), 1.0)},
                         {"value", 77}};
  EXPECT_EQ(run(stale)["error"].toString(), QStringLiteral("Expected value conflict"));
  EXPECT_EQ(files(), before);

  const QJsonObject done = run(edits);
  const QJsonArray applied = done["data"]["applied"].toArray();
  ASSERT_EQ(applied.size(), 3) << done["error"].toString().toStdString();
  EXPECT_EQ(applied, dry["data"]["applied"].toArray());
  EXPECT_EQ(applied[0]["value"].toDouble(), 12.3);
  for (const QJsonValue& entry : applied) {
    EXPECT_EQ(stored(entry["name"].toString(), entry["index"].toInt()), entry["value"].toDouble());
  }
}

}  // namespace
}  // namespace tk::cli::test
