#include "cli/edit_commands.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "cli/project_fixture.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using EditCommandsTest = CliProjectTest;

// Each edit followed by a read of what the saved tune holds. The store clamps and quantises;
// the report names the requested value.
TEST_F(EditCommandsTest, EditsReportTheRequestAndSaveTheStoredValue) {
  const QStringList commands[] = {
      {"set-scalar", "--name", "reqFuel", "--value", " 12.34 "},
      {"get-scalar", "--name", "reqFuel"},
      {"set-scalar", "--name", "WARMTEMP", "--value", "85"},  // constants are found ignoring case
      {"get-scalar", "--name", "warmTemp"},
      {"set-field", "--name", "veGrid", "--index", "5", "--value", "7.6"},
      {"set-field", "--name", "veGrid", "--value", "9"},
      {"set-field", "--name", "veGrid", "--index", "16", "--value", "9"},
      {"get-field", "--name", "veGrid"},
      {"set-table", "--id", "veTbl", "--values", "[[1,2],[3]]"},
      {"get-field", "--name", "veGrid"},
      {"set-table", "--id", "veTbl", "--values", "[[\"a\", true, null, 4.5, [1], {}, 300]]"},
      {"get-field", "--name", "veGrid"},
      {"set-table", "--id", "veTbl", "--values",
       "[[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1],[2,2,2,2]]"},
      {"get-field", "--name", "veGrid"},
      {"set-table", "--id", "veTbl", "--values", "[]"},
      {"set-table-cell", "--id", "veTbl", "--row", "2", "--col", "3", "--value", "99"},
      {"get-field", "--name", "veGrid"},
      {"set-table-cell", "--id", "sparkTbl", "--row", "1", "--col", "0", "--value", "-9"},
      {"get-field", "--name", "sparkGrid"},
      {"set-table-cell", "--id", "flatTbl", "--row", "4", "--col", "0", "--value", "3"},
      {"get-scalar", "--name", "reqFuel"},
      {"set-curve", "--id", "wueCurve", "--values", "[150, \"x\", true, 300]"},
      {"get-field", "--name", "wueRates"},
      {"set-curve-point", "--id", "wueCurve", "--index", "1", "--value", "120"},
      {"get-field", "--name", "wueRates"},
      {"set-bits", "--name", "mode", "--value", "2"},
      {"get-field", "--name", "mode"},
      {"set-bits", "--name", "mode", "--value", "3"},
      {"set-bits", "--name", "flags", "--value", "9"},
      {"set-bits", "--name", "flags", "--value", "2.5"},
      {"save", "--offline"},
  };
  for (const QStringList& command : commands) {
    run(command);
  }
  note("value texts of set-scalar on reqFuel (U08, 0.1 ms, 0 to 25.5)");
  for (const char* text : {"abc", "1e3", "-3", "12.25", "nan", "1e999", ""}) {
    run({"set-scalar", "--name", "reqFuel", "--value", QString::fromLatin1(text)});
    run({"get-scalar", "--name", "reqFuel"});
  }
  EXPECT_TRUE(transcriptMatches("edits.txt"));
}

// A curve whose Y variable the tune lacks stores nothing and still succeeds; a table cell of a
// grid without a stored shape is found through the square root of the element count.
TEST_F(EditCommandsTest, StoresThatTheTuneCannotTake) {
  const QList<TuneValue> before = project::readTuneFile(tunePath()).fields;
  EXPECT_EQ(run({"set-curve", "--id", "ghostCurve", "--values", "[1, 2]"}).code, 0);
  EXPECT_EQ(project::readTuneFile(tunePath()).fields, before);

  editProject([](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find("veGrid");
    z->arrayValues = QList<double>(256, 0.0);
    z->rows.reset();
    z->cols.reset();
  });
  EXPECT_EQ(run({"set-table-cell", "--id", "veTbl", "--row", "2", "--col", "3", "--value", "6"}).code,
            0);
  QList<double> expected(256, 0.0);
  expected[35] = 6;
  EXPECT_EQ(project::readTuneFile(tunePath()).find("veGrid")->arrayValues, expected);
}

TEST_F(EditCommandsTest, FailedEditsChangeNoFile) {
  const QStringList commands[] = {
      {"set-table", "--id", "veTbl", "--values", "[1,2]"},
      {"set-table", "--id", "veTbl", "--values", "[[1],2]"},
      {"set-table", "--id", "veTbl", "--values", "not json"},
      {"set-table", "--id", "veTbl", "--values", "{\"a\": [1]}"},
      {"set-table", "--id", "nope", "--values", "[[1]]"},
      {"set-table", "--id", "ghostTbl", "--values", "[[1]]"},
      {"set-table-cell", "--id", "nope", "--row", "0", "--col", "0", "--value", "1"},
      {"set-table-cell", "--id", "ghostTbl", "--row", "0", "--col", "0", "--value", "1"},
      {"set-curve", "--id", "wueCurve", "--values", "{}"},
      {"set-curve", "--id", "wueCurve", "--values", "[1,"},
      {"set-curve", "--id", "zz", "--values", "[1]"},
      {"set-curve", "--id", "noYCurve", "--values", "[1]"},
      {"set-curve-point", "--id", "noYCurve", "--index", "0", "--value", "1"},
      {"set-curve-point", "--id", "zz", "--index", "0", "--value", "1"},
      {"set-field", "--name", "nothing", "--value", "1"},
      {"set-scalar", "--name", "nope", "--value", "1"},
      {"set-bits", "--name", "nope", "--value", "1", "-f", "text"},
  };
  // An old modification time shows that the files were not even rewritten.
  const QDateTime old = QDateTime::fromString(QStringLiteral("2001-02-03T04:05:06Z"), Qt::ISODate);
  for (const QString& file : {tunePath(), projectPath_}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  }
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  for (const QStringList& command : commands) {
    EXPECT_EQ(run(command).code, 1);
  }
  EXPECT_TRUE(transcriptMatches("edit-errors.txt"));
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(QFileInfo(tunePath()).lastModified().toUTC(), old);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
  EXPECT_EQ(QFileInfo(projectPath_).lastModified().toUTC(), old);
}

TEST_F(EditCommandsTest, SaveRewritesBothFiles) {
  editProject([](project::ProjectManager& m) {
    m.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  });
  EXPECT_EQ(run({"save"}).code, 0);
  const project::ProjectFile saved = project::readProjectFile(projectPath_);
  EXPECT_NE(saved.lastModified, QStringLiteral("2000-01-01T00:00:00.000Z"));
  EXPECT_EQ(project::readTuneFile(tunePath()).lastSaved, saved.lastModified);
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
