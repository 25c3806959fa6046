#include "cli/view_commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "cli/project_fixture.h"

namespace tk::cli::test {
namespace {

using InspectionCommandsTest = CliProjectTest;

TEST_F(InspectionCommandsTest, OpenProjectSummarisesTheProject) {
  const CommandRun r = run("open-project");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            successEnvelope("open-project",
                            "    \"name\": \"Car\",\n    \"iniSignature\": \"cli-test 1.0\",\n"
                            "    \"pages\": 2,\n    \"tables\": 4,\n    \"curves\": 4,\n"
                            "    \"scalars\": 4,\n    \"fields\": 14,\n    \"outputChannels\": 4,\n"
                            "    \"connection\": {\n"
                            "      \"protocol\": \"Serial\",\n      \"port\": \"\",\n"
                            "      \"baudRate\": 115200,\n      \"host\": \"\",\n"
                            "      \"tcpPort\": 29001\n    }\n"));
  EXPECT_TRUE(r.err.isEmpty());

  editProject([](project::ProjectManager& m) {
    m.mutableProject()->connection.protocol = QStringLiteral("TcpBridge");
    m.mutableProject()->connection.host = QStringLiteral("192.168.4.1");
  });
  const CommandRun text = runText("open-project");
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out,
            "name: Car\niniSignature: cli-test 1.0\npages: 2\ntables: 4\ncurves: 4\nscalars: 4\n"
            "fields: 14\noutputChannels: 4\n"
            "connection:\n  protocol: TcpBridge\n  port: \n  baudRate: 115200\n"
            "  host: 192.168.4.1\n  tcpPort: 29001\n");
}

TEST_F(InspectionCommandsTest, MissingProjectFileNamesTheAbsolutePath) {
  const QString relative = QStringLiteral("no/such/dir/x.tkproj");
  const CommandRun r = runRaw({"get-table", "-p", relative, "--id", "veTbl"});
  EXPECT_EQ(r.code, 1);
  const QString absolute = QDir::current().absoluteFilePath(relative);
  EXPECT_EQ(r.out, errorEnvelope("get-table", "Project file not found: " + absolute.toUtf8()));

  const CommandRun text = runRaw({"list-tables", "-p", dir_.path(), "-f", "text"});
  EXPECT_EQ(text.code, 1);
  EXPECT_TRUE(text.out.isEmpty());
  EXPECT_EQ(text.err,
            "ERROR [list-tables]: Project file not found: " + dir_.path().toUtf8() + "\n");
}

TEST_F(InspectionCommandsTest, CreateProjectMakesTheFolderAndReportsIt) {
  const QString folder = dir_.filePath(QStringLiteral("a/b/c"));
  const CommandRun r =
      runRaw({"create-project", "--name", "Demo", "--ini",
              tk::test::dataPath(QStringLiteral("project/cli.ini")), "--folder", folder});
  EXPECT_EQ(r.code, 0) << r.out.toStdString();
  EXPECT_EQ(r.out,
            successEnvelope("create-project", "    \"name\": \"Demo\",\n    \"projectFile\": \"" +
                                                  folder.toUtf8() +
                                                  "/Demo.tkproj\",\n"
                                                  "    \"iniSignature\": \"cli-test 1.0\",\n"
                                                  "    \"fields\": 14\n"));
  EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/Demo.tktune")).isFile());
  EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/mainController.ini")).isFile());

  const QString missingFolder = dir_.filePath(QStringLiteral("d"));
  const CommandRun missing =
      runRaw({"create-project", "--name", "D", "--ini", "missing.ini", "--folder", missingFolder});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(
      missing.out,
      errorEnvelope("create-project",
                    "INI file not found: " +
                        QDir::current().absoluteFilePath(QStringLiteral("missing.ini")).toUtf8()));
  EXPECT_FALSE(QFileInfo::exists(missingFolder));
}

TEST_F(InspectionCommandsTest, ListTablesSortedByTitleStably) {
  const CommandRun r = run("list-tables");
  EXPECT_EQ(r.code, 0);
  const auto table = [](const char* id, const char* title, const char* x, const char* y,
                        const char* z, const char* end) {
    return QByteArray("      {\n        \"id\": \"") + id + "\",\n        \"title\": \"" + title +
           "\",\n        \"xBinVariable\": \"" + x + "\",\n        \"yBinVariable\": \"" + y +
           "\",\n        \"zBinVariable\": \"" + z + "\"\n      }" + end + "\n";
  };
  EXPECT_EQ(r.out, successEnvelope(
                       "list-tables",
                       "    \"count\": 4,\n    \"tables\": [\n" +
                           table("flatTbl", "Base", "", "", "reqFuel", ",") +
                           table("veTbl", "Fuel", "rpmAxis", "loadAxis", "veGrid", ",") +
                           table("sparkTbl", "Spark", "sparkRpm", "missingAxis", "sparkGrid", ",") +
                           table("ghostTbl", "spark", "", "", "missingGrid", "") + "    ]\n"));

  const CommandRun text = runText("list-tables");
  EXPECT_EQ(text.code, 0);
  EXPECT_TRUE(
      text.out.startsWith("count: 4\ntables:\n  [0]:\n    id: flatTbl\n    title: Base\n"
                          "    xBinVariable: \n    yBinVariable: \n"
                          "    zBinVariable: reqFuel\n  [1]:\n    id: veTbl\n"))
      << text.out.toStdString();
  EXPECT_TRUE(
      text.out.endsWith("  [3]:\n    id: ghostTbl\n    title: spark\n    xBinVariable: \n"
                        "    yBinVariable: \n    zBinVariable: missingGrid\n"));
}

// The text listings, one source line per listed item.
struct ListingCase {
  const char* name;
  QStringList args;
  QByteArray expected;
};

class ListingTest : public CliProjectTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, PrintsTheSortedItems) {
  // rpmWarn loses its tune record: list-scalars then shows it without a value.
  editProject([](project::ProjectManager& m) {
    m.mutableTune()->fields.removeIf(
        [](const TuneValue& v) { return v.name == QLatin1String("rpmWarn"); });
  });
  const CommandRun r = runText(QString::fromLatin1(GetParam().name), GetParam().args);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ListingTest,
    ::testing::Values(
        ListingCase{"list-curves",
                    {},
                    "count: 4\ncurves:\n"
                    "  [0]:\n    id: flatCurve\n    title: Flat\n    xBinVariable: reqFuel\n"
                    "    yBinVariable: idleRpm\n"
                    "  [1]:\n    id: ghostCurve\n    title: Ghost\n    xBinVariable: \n"
                    "    yBinVariable: missingY\n"
                    "  [2]:\n    id: noYCurve\n    title: No Y\n    xBinVariable: wueBins\n"
                    "    yBinVariable: \n"
                    "  [3]:\n    id: wueCurve\n    title: Warmup\n    xBinVariable: wueBins\n"
                    "    yBinVariable: wueRates\n"},
        ListingCase{"list-scalars",
                    {},
                    "count: 4\nscalars:\n"
                    "  [0]:\n    name: idleRpm\n    title: Idle speed\n    value: 0\n"
                    "    units: rpm\n    min: 500\n    max: 2000\n    digits: 0\n"
                    "  [1]:\n    name: reqFuel\n    title: Required fuel\n    value: 8.5\n"
                    "    units: ms\n    min: 0\n    max: 25.5\n    digits: 1\n"
                    "  [2]:\n    name: rpmWarn\n    title: rpmWarn\n"
                    "    units: rpm\n    min: 0\n    max: 10000\n    digits: 0\n"
                    "  [3]:\n    name: warmTemp\n    title: warmTemp\n    value: -40\n"
                    "    units: C\n    min: -40\n    max: 215\n    digits: 0\n"},
        ListingCase{"list-fields",
                    {"--page", "2"},
                    "count: 3\nfields:\n"
                    "  [0]:\n    name: wueRates\n    type: Array\n    dataType: U08\n"
                    "    page: 2\n    offset: 0\n    units: %\n    scale: 1\n    translate: 0\n"
                    "    min: 100\n    max: 200\n    shape:\n        4\n"
                    "  [1]:\n    name: wueBins\n    type: Array\n    dataType: U08\n"
                    "    page: 2\n    offset: 4\n    units: C\n    scale: 1\n    translate: -40\n"
                    "    min: -40\n    max: 215\n    shape:\n        4\n"
                    "  [2]:\n    name: idleRpm\n    type: Scalar\n    dataType: U16\n"
                    "    page: 2\n    offset: 8\n    units: rpm\n    scale: 1\n    translate: 0\n"
                    "    min: 500\n    max: 2000\n"},
        ListingCase{"list-channels",
                    {},
                    "count: 4\nchannels:\n"
                    "  [0]:\n    name: Afr\n    dataType: U08\n    units: AFR\n    offset: 3\n"
                    "    scale: 0.1\n    translate: 0\n"
                    "  [1]:\n    name: lambda\n    dataType: F32\n    units: lambda\n"
                    "    offset: 0\n    scale: 1\n    translate: 0\n"
                    "  [2]:\n    name: map\n    dataType: U08\n    units: kPa\n    offset: 2\n"
                    "    scale: 1\n    translate: 0\n"
                    "  [3]:\n    name: rpm\n    dataType: U16\n    units: rpm\n    offset: 0\n"
                    "    scale: 1\n    translate: 0\n"}),
    [](const ::testing::TestParamInfo<ListingCase>& p) {
      QString name = QString::fromLatin1(p.param.name).remove(u'-');
      for (const QString& arg : p.param.args) {
        name += arg.mid(arg.startsWith(u'-') ? 2 : 0);
      }
      return name.toStdString();
    });

TEST_F(InspectionCommandsTest, ListFieldsWithoutFilterAndWithOddFilters) {
  const CommandRun all = run("list-fields");
  EXPECT_EQ(all.code, 0);
  EXPECT_TRUE(all.out.contains("    \"count\": 14,\n"));
  EXPECT_TRUE(all.out.contains(
      "      {\n        \"name\": \"reqFuel\",\n        \"type\": \"Scalar\",\n"
      "        \"dataType\": \"U08\",\n        \"page\": 1,\n        \"offset\": 0,\n"
      "        \"units\": \"ms\",\n        \"scale\": 0.1,\n        \"translate\": 0,\n"
      "        \"min\": 0,\n        \"max\": 25.5\n      },\n"));
  EXPECT_TRUE(all.out.contains("        \"name\": \"veGrid\",\n"));
  EXPECT_TRUE(all.out.contains("        \"shape\": [\n          4,\n          4\n        ]\n"));
  EXPECT_TRUE(all.out.contains("        \"name\": \"mode\",\n        \"type\": \"Bits\",\n"));
  EXPECT_TRUE(all.out.contains("        \"name\": \"vehicle\",\n        \"type\": \"String\",\n"));
  // Not a number: the filter is 0, the PC-variable group.
  const CommandRun zero = runText("list-fields", {"--page", "two"});
  EXPECT_EQ(zero.code, 0);
  EXPECT_TRUE(zero.out.startsWith("count: 1\nfields:\n  [0]:\n    name: rpmWarn\n"));
  EXPECT_EQ(run("list-fields", {"--page", "9"}).out,
            successEnvelope("list-fields", "    \"count\": 0,\n    \"fields\": []\n"));
}

TEST_F(InspectionCommandsTest, ListCommandsSortedIgnoringCaseWithRawText) {
  const CommandRun r = run("list-commands");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("list-commands",
                                   "    \"count\": 5,\n    \"commands\": [\n"
                                   "      {\n        \"name\": \"cmd_alpha\",\n"
                                   "        \"raw\": \"A\"\n      },\n"
                                   "      {\n        \"name\": \"cmd_Beta\",\n"
                                   "        \"raw\": \"B\"\n      },\n"
                                   "      {\n        \"name\": \"cmd_stop\",\n"
                                   "        \"raw\": \"E\\\\x01\\\\x00\"\n      },\n"
                                   "      {\n        \"name\": \"cmd_X\",\n"
                                   "        \"raw\": \"X\"\n      },\n"
                                   "      {\n        \"name\": \"cmd_x\",\n"
                                   "        \"raw\": \"x\"\n      }\n    ]\n"));
}

TEST_F(InspectionCommandsTest, GetTable) {
  const CommandRun text = runText("get-table", {"--id", "veTbl"});
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out,
            "id: veTbl\ntitle: Fuel\nrows: 4\ncols: 4\n"
            "xBins:\n  variable: rpmAxis\n  values:\n      1000\n      2000\n      3000\n"
            "      4000\n"
            "yBins:\n  variable: loadAxis\n  values:\n      20\n      40\n      60\n      80\n"
            "zVariable: veGrid\nunits: %\nvalues:\n"
            "    [0, 1, 2, 3]\n    [4, 5, 6, 7]\n    [8, 9, 10, 11]\n    [12, 13, 14, 15]\n");

  // sparkTbl's Y axis is not in the tune: no yBins.
  const CommandRun r = run("get-table", {"--id", "sparkTbl"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("get-table",
                                   "    \"id\": \"sparkTbl\",\n    \"title\": \"Spark\",\n"
                                   "    \"rows\": 2,\n    \"cols\": 3,\n"
                                   "    \"xBins\": {\n      \"variable\": \"sparkRpm\",\n"
                                   "      \"values\": [\n        1000,\n        3000,\n"
                                   "        5000\n      ]\n    },\n"
                                   "    \"zVariable\": \"sparkGrid\",\n    \"units\": \"deg\",\n"
                                   "    \"values\": [\n"
                                   "      [\n        -5,\n        0,\n        5\n      ],\n"
                                   "      [\n        10,\n        15,\n        20\n      ]\n"
                                   "    ]\n"));
}

// How the grid is shaped from the stored rows and columns of the Z value.
struct GridCase {
  const char* name;
  int count;                 // number of Z values (0, 1, 2, ...)
  std::optional<int> rows;   // stored row count
  std::optional<int> cols;   // stored column count
  const char* expectedText;  // the get-table text lines from "rows:" to the end
};

class GetTableGridTest : public CliProjectTest, public ::testing::WithParamInterface<GridCase> {};

TEST_P(GetTableGridTest, ShapesTheGrid) {
  const GridCase& c = GetParam();
  editProject([&c](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find("sparkGrid");
    QList<double> values;
    for (int i = 0; i < c.count; ++i) {
      values.append(i);
    }
    z->arrayValues = values;
    z->rows = c.rows;
    z->cols = c.cols;
  });
  const CommandRun r = runText("get-table", {"--id", "sparkTbl"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const qsizetype from = r.out.indexOf("rows:");
  const qsizetype axisFrom = r.out.indexOf("xBins:");
  const qsizetype axisTo = r.out.indexOf("zVariable:");
  const QByteArray shape = r.out.mid(from, axisFrom - from) + r.out.mid(axisTo);
  EXPECT_EQ(shape, QByteArray(c.expectedText)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GetTableGridTest,
    ::testing::Values(GridCase{"square without shape", 9, std::nullopt, std::nullopt,
                               "rows: 3\ncols: 3\nzVariable: sparkGrid\nunits: deg\nvalues:\n"
                               "    [0, 1, 2]\n    [3, 4, 5]\n    [6, 7, 8]\n"},
                      GridCase{"no shape, not square", 10, std::nullopt, std::nullopt,
                               "rows: 3\ncols: 3\nzVariable: sparkGrid\nunits: deg\nvalues:\n"
                               "    [0, 1, 2]\n    [3, 4, 5]\n    [6, 7, 8]\n"},
                      GridCase{"columns only", 10, std::nullopt, 4,
                               "rows: 2\ncols: 4\nzVariable: sparkGrid\nunits: deg\nvalues:\n"
                               "    [0, 1, 2, 3]\n    [4, 5, 6, 7]\n"},
                      GridCase{"shape beyond the values pads zeros", 10, 3, 4,
                               "rows: 3\ncols: 4\nzVariable: sparkGrid\nunits: deg\nvalues:\n"
                               "    [0, 1, 2, 3]\n    [4, 5, 6, 7]\n    [8, 9, 0, 0]\n"},
                      GridCase{"no values", 0, std::nullopt, std::nullopt,
                               "rows: 0\ncols: 0\nzVariable: sparkGrid\nunits: deg\nvalues:\n"},
                      GridCase{"negative rows", 4, -1, 2,
                               "rows: -1\ncols: 2\nzVariable: sparkGrid\nunits: deg\nvalues:\n"}));

TEST_F(InspectionCommandsTest, GetTableWith256UnshapedValuesIsSixteenSquare) {
  editProject([](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find("veGrid");
    z->arrayValues = QList<double>(256, 7.0);
    z->rows.reset();
    z->cols.reset();
  });
  const CommandRun r = runText("get-table", {"--id", "veTbl"});
  EXPECT_TRUE(r.out.contains("rows: 16\ncols: 16\n"));
  EXPECT_EQ(r.out.count("    [7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7]\n"), 16);
}

TEST_F(InspectionCommandsTest, GetCurve) {
  const CommandRun r = run("get-curve", {"--id", "wueCurve"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("get-curve",
                                   "    \"id\": \"wueCurve\",\n    \"title\": \"Warmup\",\n"
                                   "    \"length\": 4,\n"
                                   "    \"xBins\": {\n      \"variable\": \"wueBins\",\n"
                                   "      \"values\": [\n        -40,\n        0,\n        40,\n"
                                   "        80\n      ]\n    },\n"
                                   "    \"yVariable\": \"wueRates\",\n    \"yUnits\": \"%\",\n"
                                   "    \"yValues\": [\n      180,\n      160,\n      140,\n"
                                   "      100\n    ]\n"));
  // A curve without a Y variable names the empty variable.
  EXPECT_EQ(runText("get-curve", {"--id", "noYCurve"}).err,
            "ERROR [get-curve]: Curve data field '' not found in tune\n");
}

// Failing look-ups: the command, its arguments and the message as written in JSON.
struct LookupErrorCase {
  const char* command;
  QStringList args;
  QByteArray message;
};

class LookupErrorTest : public CliProjectTest,
                        public ::testing::WithParamInterface<LookupErrorCase> {};

TEST_P(LookupErrorTest, FailsWithTheMessage) {
  const CommandRun r = run(QString::fromLatin1(GetParam().command), GetParam().args);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, errorEnvelope(GetParam().command, GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LookupErrorTest,
    ::testing::Values(
        LookupErrorCase{"get-table",
                        {"--id", "nope"},
                        "Table \\u0027nope\\u0027 not found in INI. Use list-tables to see "
                        "available tables."},
        LookupErrorCase{"get-table",
                        {"--id", "VETBL"},
                        "Table \\u0027VETBL\\u0027 not found in INI. Use list-tables to see "
                        "available tables."},
        LookupErrorCase{"get-table",
                        {"--id", "ghostTbl"},
                        "Table data field \\u0027missingGrid\\u0027 not found in tune"},
        LookupErrorCase{"get-table", {"--id", "flatTbl"}, "Table has no data"},
        LookupErrorCase{"get-curve",
                        {"--id", "x"},
                        "Curve \\u0027x\\u0027 not found in INI. Use list-curves to see "
                        "available curves."},
        LookupErrorCase{"get-curve",
                        {"--id", "ghostCurve"},
                        "Curve data field \\u0027missingY\\u0027 not found in tune"},
        LookupErrorCase{"get-curve", {"--id", "flatCurve"}, "Curve has no Y data"},
        // The tune is looked up by exact name.
        LookupErrorCase{"get-scalar",
                        {"--name", "REQFUEL"},
                        "Field \\u0027REQFUEL\\u0027 not found in tune. Use list-fields to see "
                        "available fields."},
        LookupErrorCase{"get-field",
                        {"--name", "Mode"},
                        "Field \\u0027Mode\\u0027 not found in tune. Use list-fields to see "
                        "available fields."}),
    [](const ::testing::TestParamInfo<LookupErrorCase>& p) {
      return (QString::fromLatin1(p.param.command).remove(u'-') + p.param.args.at(1)).toStdString();
    });

TEST_F(InspectionCommandsTest, GetTableRefusesAHostileShape) {
  editProject([](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find("veGrid");
    z->rows = 100000;
    z->cols = 100000;
  });
  const CommandRun r = run("get-table", {"--id", "veTbl"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, errorEnvelope("get-table",
                                 "Table data field \\u0027veGrid\\u0027 has an "
                                 "unusable shape of 100000 rows and 100000 columns"));
}

TEST_F(InspectionCommandsTest, GetScalarAndGetFieldOfEachKind) {
  const CommandRun r = run("get-scalar", {"--name", "reqFuel"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("get-scalar",
                                   "    \"name\": \"reqFuel\",\n    \"value\": 8.5,\n"
                                   "    \"units\": \"ms\",\n    \"digits\": 1,\n    \"min\": 0,\n"
                                   "    \"max\": 25.5,\n    \"type\": \"Scalar\"\n"));
  EXPECT_EQ(runText("get-scalar", {"--name", "wueBins"}).out,
            "name: wueBins\nunits: C\ndigits: 0\nmin: -40\nmax: 215\ntype: Array\n");
  EXPECT_EQ(run("get-field", {"--name", "mode"}).out,
            successEnvelope("get-field",
                            "    \"name\": \"mode\",\n    \"type\": \"Bits\",\n"
                            "    \"enumValue\": \"Off\",\n    \"units\": \"\",\n"
                            "    \"digits\": 0,\n    \"min\": 0,\n    \"max\": 0\n"));
  EXPECT_EQ(runText("get-field", {"--name", "sparkRpm"}).out,
            "name: sparkRpm\ntype: Array\narrayValues:\n    1000\n    3000\n    5000\n"
            "units: rpm\ndigits: 0\nrows: 1\ncols: 3\nmin: 0\nmax: 25500\n");
  // A string constant's length item is read as its units.
  EXPECT_EQ(runText("get-field", {"--name", "vehicle"}).out,
            "name: vehicle\ntype: String\nstringValue: \nunits: 8\ndigits: 0\nmin: 0\nmax: 0\n");
  EXPECT_EQ(runText("get-field", {"--name", "warmTemp"}).out,
            "name: warmTemp\ntype: Scalar\nscalarValue: -40\nunits: C\ndigits: 0\n"
            "min: -40\nmax: 215\n");

  // A tune value the definition does not declare has no limits and no type.
  editProject([](project::ProjectManager& m) {
    TuneValue orphan;
    orphan.name = QStringLiteral("orphan");
    orphan.scalarValue = 2.5;
    orphan.digits = 2;
    m.mutableTune()->fields.append(orphan);
  });
  EXPECT_EQ(runText("get-scalar", {"--name", "orphan"}).out,
            "name: orphan\nvalue: 2.5\nunits: \ndigits: 2\n");
}

TEST_F(InspectionCommandsTest, InspectionWritesNothing) {
  const QByteArray before = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  for (const char* command : {"open-project", "list-tables", "list-curves", "list-scalars",
                              "list-fields", "list-channels", "list-commands"}) {
    EXPECT_EQ(run(QString::fromLatin1(command)).code, 0) << command;
  }
  EXPECT_EQ(tk::test::readFile(tunePath()), before);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
}

}  // namespace
}  // namespace tk::cli::test
