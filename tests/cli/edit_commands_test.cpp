#include "cli/edit_commands.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <string>

#include "cli/project_fixture.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using EditCommandsTest = CliProjectTest;

// Each script's edits, each followed by a read of what the saved tune holds. edits: the store
// clamps and quantises, the report names the requested value. warnings: stores outside the
// constant, texts that are not numbers and runs longer than the constant are said on standard
// error before the envelope, which stays as it was. stored: values clamped or kept other than
// given, short runs, axes out of order, option labels and near-miss names, one line each.
class EditScriptTest : public CliProjectTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EditScriptTest, MatchesItsTranscript) {
  runScript((std::string(GetParam()) + ".cmds").c_str());
  EXPECT_TRUE(transcriptMatches((std::string(GetParam()) + ".txt").c_str()));
}

INSTANTIATE_TEST_SUITE_P(Scripts, EditScriptTest,
                         ::testing::Values("edits", "warnings", "stored", "diff"));

// A curve whose Y variable the tune lacks stores nothing and still succeeds.
TEST_F(EditCommandsTest, StoresThatTheTuneCannotTake) {
  const QList<TuneValue> before = project::readTuneFile(tunePath()).fields;
  EXPECT_EQ(run("set-curve -p <project> --id ghostCurve --values [1,2]").exitCode, 0);
  EXPECT_EQ(project::readTuneFile(tunePath()).fields, before);
}

TEST_F(EditCommandsTest, FailedEditsChangeNoFile) {
  // An old modification time shows that the files were not even rewritten.
  const QDateTime old = QDateTime::fromString(QStringLiteral("2001-02-03T04:05:06Z"), Qt::ISODate);
  for (const QString& file : {tunePath(), projectPath_}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  }
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  runScript("edit-errors.cmds");
  EXPECT_TRUE(transcriptMatches("edit-errors.txt"));
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(QFileInfo(tunePath()).lastModified().toUTC(), old);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
  EXPECT_EQ(QFileInfo(projectPath_).lastModified().toUTC(), old);
}

// Temporary files left by a save that was killed before its rename are removed by the next save
// of the same file; files that only look alike stay.
TEST_F(EditCommandsTest, SaveRemovesWhatAnInterruptedSaveLeft) {
  const QStringList stale = {"Car.tktune.part-AbCdEf", "Car.tkproj.part-qSsDfj",
                             "Car.tktune.part-x1Y2z3"};
  const QStringList kept = {"Car.tktune.backup", "Car.tktune.part-AbCdEfG",
                            "Other.tktune.part-AbCdEf", "Car.tktune.part-Ab-dEf",
                            "Car.tkproj.part"};
  QDir folder(dir_.filePath("car"));
  for (const QString& name : stale + kept) {
    tk::test::writeFile(folder.filePath(name), "{\"fields\": [");
  }
  EXPECT_EQ(run("save -p <project>").exitCode, 0);
  QStringList expected = kept + QStringList{"Car.tkproj", "Car.tktune", "mainController.ini"};
  expected.sort();
  EXPECT_EQ(folder.entryList(QDir::Files, QDir::Name), expected);
}

// The whole program: an offline edit is saved, and nothing at all goes to standard error.
TEST_F(EditCommandsTest, OfflineEditPrintsOnlyItsEnvelope) {
  const auto r = tk::test::runCli(
      {"set-scalar", "--offline", "-p", projectPath_, "--name", "idleRpm", "--value", "900"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.startsWith("{\n  \"success\": true,\n  \"command\": \"set-scalar\",\n"));
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(project::readTuneFile(tunePath()).find("idleRpm")->scalarValue, 900.0);
}

}  // namespace
}  // namespace tk::cli::test
