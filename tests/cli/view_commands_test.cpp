#include "cli/view_commands.h"

#include <QFileInfo>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using InspectionCommandsTest = CliProjectTest;

// Every inspection command and its failures on the fixture project; nothing is written.
TEST_F(InspectionCommandsTest, ReportOnTheProjectAndWriteNothing) {
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  const QStringList commands[] = {
      {"open-project"},
      {"list-tables"},  // sorted by title ignoring case, "Spark" before "spark" as defined
      {"list-curves"},
      {"list-scalars"},
      {"list-fields"},
      {"list-fields", "--page", "2"},
      {"list-fields", "--page", "two"},  // not a number: page 0, the PC variables
      {"list-fields", "--page", "9"},
      {"list-channels"},
      {"list-commands"},
      {"get-table", "--id", "veTbl"},
      {"get-table", "--id", "sparkTbl"},  // its Y axis is not in the tune: no yBins
      {"get-table", "--id", "nope"},
      {"get-table", "--id", "VETBL"},
      {"get-table", "--id", "ghostTbl"},
      {"get-table", "--id", "flatTbl"},
      {"get-curve", "--id", "wueCurve"},
      {"get-curve", "--id", "noYCurve"},
      {"get-curve", "--id", "x"},
      {"get-curve", "--id", "ghostCurve"},
      {"get-curve", "--id", "flatCurve"},
      {"get-scalar", "--name", "reqFuel"},
      {"get-scalar", "--name", "wueBins"},
      {"get-scalar", "--name", "REQFUEL"},  // the tune is searched by exact name
      {"get-field", "--name", "mode"},
      {"get-field", "--name", "sparkRpm"},
      {"get-field", "--name", "vehicle"},  // a string's length item is read as its units
      {"get-field", "--name", "warmTemp"},
      {"get-field", "--name", "Mode"},
  };
  for (const QStringList& command : commands) {
    run(command);
  }
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);

  const QString ini = tk::test::dataPath(QStringLiteral("project/cli.ini"));
  runRaw({"create-project", "--name", "Demo", "--ini", ini, "--folder", dir_.filePath("a/b/c")});
  EXPECT_TRUE(QFileInfo(dir_.filePath("a/b/c/Demo.tktune")).isFile());
  EXPECT_TRUE(QFileInfo(dir_.filePath("a/b/c/mainController.ini")).isFile());
  runRaw({"create-project", "--name", "D", "--ini", "missing.ini", "--folder", dir_.filePath("d")});
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("d")));
  runRaw({"get-table", "-p", "no/such/dir/x.tkproj", "--id", "veTbl"});
  runRaw({"list-tables", "-p", dir_.path(), "-f", "text"});
  EXPECT_TRUE(transcriptMatches("inspection.txt"));
}

// The same commands on tunes and projects changed behind the tool's back. Grids are shown as
// text, one line per row.
TEST_F(InspectionCommandsTest, ReportOnAlteredTunes) {
  note("the connection is a TCP bridge to 192.168.4.1");
  editProject([](project::ProjectManager& m) {
    m.mutableProject()->connection.protocol = QStringLiteral("TcpBridge");
    m.mutableProject()->connection.host = QStringLiteral("192.168.4.1");
  });
  run({"open-project"});

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
  run({"list-scalars"});
  run({"get-scalar", "--name", "orphan"});

  struct Grid {
    const char* name;
    const char* table;
    const char* constant;
    QList<double> values;
    std::optional<int> rows;
    std::optional<int> cols;
  };
  const auto upTo = [](int n) {
    QList<double> values;
    for (int i = 0; i < n; ++i) {
      values.append(i);
    }
    return values;
  };
  const Grid grids[] = {
      {"sparkGrid: 9 values, no stored shape", "sparkTbl", "sparkGrid", upTo(9), {}, {}},
      {"sparkGrid: 10 values, no stored shape", "sparkTbl", "sparkGrid", upTo(10), {}, {}},
      {"sparkGrid: 10 values, 4 columns", "sparkTbl", "sparkGrid", upTo(10), {}, 4},
      {"sparkGrid: 10 values, 3 rows of 4 columns", "sparkTbl", "sparkGrid", upTo(10), 3, 4},
      {"sparkGrid: no values", "sparkTbl", "sparkGrid", {}, {}, {}},
      {"sparkGrid: 4 values, -1 rows of 2 columns", "sparkTbl", "sparkGrid", upTo(4), -1, 2},
      {"veGrid: 256 values of 7, no stored shape", "veTbl", "veGrid", QList<double>(256, 7.0), {}, {}},
      {"veGrid: claims 100000 rows of 100000 columns", "veTbl", "veGrid", upTo(16), 100000, 100000},
  };
  for (const Grid& grid : grids) {
    note(grid.name);
    editProject([&grid](project::ProjectManager& m) {
      TuneValue* z = m.mutableTune()->find(QString::fromLatin1(grid.constant));
      z->arrayValues = grid.values;
      z->rows = grid.rows;
      z->cols = grid.cols;
    });
    run({"get-table", "--id", QString::fromLatin1(grid.table), "-f", "text"});
  }
  EXPECT_TRUE(transcriptMatches("inspection-altered.txt"));
}

}  // namespace
}  // namespace tk::cli::test
