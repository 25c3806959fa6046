#include "cli/view_commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using InspectionCommandsTest = CliProjectTest;

// Every view command and its failures on the fixture project; only create-project writes.
TEST_F(InspectionCommandsTest, ReportOnTheProjectAndWriteNothing) {
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  runScript("view-commands.cmds");
  EXPECT_TRUE(transcriptMatches("view-commands.txt"));
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
  EXPECT_TRUE(QFileInfo(dir_.filePath("a/b/c/Demo.tktune")).isFile());
  EXPECT_TRUE(QFileInfo(dir_.filePath("a/b/c/mainController.ini")).isFile());
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("d")));
}

// create-project refuses to replace a project (its tune would become a blank one) and names that
// are paths, and then writes nothing at all: not even the definition copy or the folder.
TEST_F(InspectionCommandsTest, CreateProjectNeverOverwritesAndTakesOnlyPlainNames) {
  const QString ini = dir_.filePath("car/mainController.ini");
  const QByteArray iniBefore = tk::test::readFile(ini);
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QString other = tk::test::dataPath(QStringLiteral("tunefields.ini"));
  const std::pair<QString, QString> cases[] = {
      {"Car", "Project already exists: " + projectPath_},
      {"", "Invalid project name: ''"},
      {"a/b", "Invalid project name: 'a/b'"},
      {"a\\b", "Invalid project name: 'a\\b'"},
      {".", "Invalid project name: '.'"},
      {"..", "Invalid project name: '..'"},
      {"../outside", "Invalid project name: '../outside'"},
      {"a\nb\x7F", "Invalid project name: 'a\\u000ab\\u007f'"},
  };
  for (const auto& [name, message] : cases) {
    const CommandResult r = runCommand({"prog", "create-project", "--name", name, "--ini", other,
                                        "--folder", dir_.filePath("car"), "-f", "text"},
                                       agentCommands())
                                .value();
    EXPECT_EQ(r.output.bytes, "ERROR [create-project]: " + message.toUtf8() + '\n')
        << name.toStdString();
  }
  EXPECT_EQ(tk::test::readFile(ini), iniBefore);
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{"car"});
  EXPECT_EQ(QDir(dir_.filePath("car")).entryList(QDir::Files),
            (QStringList{"Car.tkproj", "Car.tktune", "mainController.ini"}));

  // A tune file alone is a project too.
  ASSERT_TRUE(QFile::remove(projectPath_));
  EXPECT_EQ(run("create-project --name Car --ini <data>/tunefields.ini --folder <tmp>/car -f text")
                .output.bytes,
            "ERROR [create-project]: Project already exists: " + tunePath().toUtf8() + '\n');
  EXPECT_EQ(tk::test::readFile(ini), iniBefore);
}

// The same commands on tunes and projects changed behind the tool's back: a grid's stored count
// and shape give way to the definition's, with a warning. Grids are shown as text, one line per
// row.
TEST_F(InspectionCommandsTest, ReportOnAlteredTunes) {
  note("the connection is a TCP bridge to 192.168.4.1");
  editProject([](project::ProjectManager& m) {
    m.mutableProject()->connection.protocol = QStringLiteral("TcpBridge");
    m.mutableProject()->connection.host = QStringLiteral("192.168.4.1");
  });
  run("open-project -p <project>");

  note("rpmWarn has no tune value; orphan is a tune value the definition does not declare");
  editProject([](project::ProjectManager& m) {
    m.mutableTune()->fields.removeIf(
        [](const TuneValue& v) { return v.name == QLatin1String("rpmWarn"); });
    TuneValue orphan;
    orphan.name = QStringLiteral("orphan");
    orphan.scalarValue = 2.5;
    orphan.digits = 2;
    m.mutableTune()->fields.append(orphan);
  });
  run("list-scalars -p <project>");
  run("get-scalar -p <project> --name orphan");

  struct Grid {
    const char* note;
    const char* table;
    const char* constant;
    int count;  // values 0, 1, 2, ... or, when negative, that many values of 7
    std::optional<int> rows;
    std::optional<int> cols;
  };
  const Grid grids[] = {
      {"sparkGrid: 9 values, no stored shape", "sparkTbl", "sparkGrid", 9, {}, {}},
      {"sparkGrid: 10 values, no stored shape", "sparkTbl", "sparkGrid", 10, {}, {}},
      {"sparkGrid: 10 values, 4 columns", "sparkTbl", "sparkGrid", 10, {}, 4},
      {"sparkGrid: 10 values, 3 rows of 4 columns", "sparkTbl", "sparkGrid", 10, 3, 4},
      {"sparkGrid: no values", "sparkTbl", "sparkGrid", 0, {}, {}},
      {"sparkGrid: 4 values, -1 rows of 2 columns", "sparkTbl", "sparkGrid", 4, -1, 2},
      {"veGrid: 256 values of 7, no stored shape", "veTbl", "veGrid", -256, {}, {}},
      {"veGrid: claims 100000 rows of 100000 columns", "veTbl", "veGrid", 16, 100000, 100000},
  };
  for (const Grid& grid : grids) {
    note(grid.note);
    editProject([&grid](project::ProjectManager& m) {
      TuneValue* z = m.mutableTune()->find(QString::fromLatin1(grid.constant));
      z->arrayValues = QList<double>(std::abs(grid.count), 7.0);
      for (int i = 0; i < grid.count; ++i) {
        (*z->arrayValues)[i] = i;
      }
      z->rows = grid.rows;
      z->cols = grid.cols;
    });
    run(QStringLiteral("get-table -p <project> --id %1 -f text").arg(QLatin1String(grid.table)));
  }
  EXPECT_TRUE(transcriptMatches("view-commands-altered.txt"));
}

}  // namespace
}  // namespace tk::cli::test
