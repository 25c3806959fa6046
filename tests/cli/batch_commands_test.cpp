#include "cli/batch_commands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using tk::test::readFile;

class BatchCommandsTest : public CliProjectTest {
 protected:
  void writeEdits(const QByteArray& json) {
    QFile file(dir_.filePath(QStringLiteral("edits.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json);
  }
};

TEST_F(BatchCommandsTest, BatchesLandSavedAndPushed) {
  writeEdits(R"([{"name": "REQFUEL", "expected": 12.3, "value": 3}])");
  runScript("apply-edits.cmds");
  EXPECT_TRUE(transcriptMatches("apply-edits.txt"));
}

// With an ECU configured, so that a push would show on standard error; a save would stamp a new
// time into both project files.
TEST_F(BatchCommandsTest, DryRunsRefusalsAndMalformedInputWriteNothing) {
  editProject([](project::ProjectManager& m) {
    m.setConnection({}, 115200, QStringLiteral("TcpBridge"), QStringLiteral("127.0.0.1"), 1);
  });
  writeEdits("[]");
  const QByteArray tune = readFile(tunePath());
  const QByteArray project = readFile(projectPath_);
  const QStringList entries = QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
  runScript("apply-edits-unchanged.cmds");
  EXPECT_TRUE(transcriptMatches("apply-edits-unchanged.txt"));
  EXPECT_EQ(readFile(tunePath()), tune);
  EXPECT_EQ(readFile(projectPath_), project);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), entries);
}

// A real definition: expected values are read from the project as an agent would read them.
class BatchCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (corpus_.isEmpty()) {
      GTEST_SKIP() << "corpus not found: the real-file tests need ../shared/corpus";
    }
    project::ProjectManager m;
    m.createProject(QStringLiteral("P"), corpus_ + QStringLiteral("/ini/speeduino-202501.ini"),
                    dir_.filePath(QStringLiteral("p")));
    projectPath_ = m.projectPath();
  }

  double stored(const QString& name, int index = 0) const {
    project::ProjectManager m;
    m.openProject(projectPath_);
    return m.getValue(name, index);
  }
  QJsonObject run(const QJsonArray& edits, const QStringList& extra = {}) {
    const QStringList arguments{"prog",    "apply-edits",
                                "-p",      projectPath_,
                                "--edits", QString::fromUtf8(QJsonDocument(edits).toJson())};
    return QJsonDocument::fromJson(runCommand(arguments + extra, agentCommands())->output.bytes)
        .object();
  }
  QJsonObject edit(const char* name, int index, double expected, double value) const {
    return {{"name", name}, {"index", index}, {"expected", expected}, {"value", value}};
  }
  QByteArray files() const {
    return readFile(projectPath_) + readFile(project::tunePathFor(projectPath_));
  }

  const QString corpus_ = tk::test::corpusDir();
  QTemporaryDir dir_;
  QString projectPath_;
};

TEST_F(BatchCorpusTest, ThreeEditsLandOrNoneDoes) {
  const QJsonArray edits{edit("reqFuel", 0, stored("reqFuel"), 12.34),
                         edit("veTable", 17, stored("veTable", 17), 77),
                         edit("injLayout", 0, stored("injLayout"), 3)};
  const QByteArray before = files();

  const QJsonObject dry = run(edits, {"--dry-run"});
  EXPECT_TRUE(dry["success"].toBool()) << dry["error"].toString().toStdString();
  EXPECT_EQ(dry["data"]["applied"].toArray().size(), 3);
  EXPECT_EQ(files(), before);

  QJsonArray stale = edits;
  stale[1] = edit("veTable", 17, std::nextafter(stored("veTable", 17), 1.0), 77);
  EXPECT_EQ(run(stale)["error"].toString(), QStringLiteral("Expected value conflict"));
  EXPECT_EQ(files(), before);

  const QJsonObject done = run(edits);
  ASSERT_TRUE(done["success"].toBool()) << done["error"].toString().toStdString();
  const QJsonArray applied = done["data"]["applied"].toArray();
  EXPECT_EQ(applied, dry["data"]["applied"].toArray());
  ASSERT_EQ(applied.size(), 3);
  EXPECT_EQ(applied[0]["value"].toDouble(), 12.3);
  for (const QJsonValue& entry : applied) {
    EXPECT_EQ(stored(entry["name"].toString(), entry["index"].toInt()), entry["value"].toDouble())
        << entry["name"].toString().toStdString();
  }
  EXPECT_TRUE(done["data"]["saved"].toBool());
}

}  // namespace
}  // namespace tk::cli::test
