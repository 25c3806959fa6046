#include "cli/edit_commands.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "cli/project_fixture.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

class EditCommandsTest : public CliProjectTest {
 protected:
  // The stored elements of a constant, read from the saved tune file.
  QList<double> savedArray(const char* name) {
    const Tune tune = project::readTuneFile(tunePath());
    const TuneValue* value = tune.find(QString::fromLatin1(name));
    return value && value->arrayValues ? *value->arrayValues : QList<double>();
  }
  std::optional<double> savedScalar(const char* name) {
    const Tune tune = project::readTuneFile(tunePath());
    const TuneValue* value = tune.find(QString::fromLatin1(name));
    return value ? value->scalarValue : std::nullopt;
  }
};

TEST(CommandTableTest, RowsInDocumentedOrderWithRequiredOptions) {
  const std::pair<const char*, std::vector<std::string>> expected[] = {
      {"open-project", {"project"}},
      {"create-project", {"name", "ini", "folder"}},
      {"list-tables", {"project"}},
      {"list-curves", {"project"}},
      {"list-scalars", {"project"}},
      {"list-fields", {"project"}},
      {"list-channels", {"project"}},
      {"list-commands", {"project"}},
      {"get-table", {"project", "id"}},
      {"get-curve", {"project", "id"}},
      {"get-scalar", {"project", "name"}},
      {"get-field", {"project", "name"}},
      {"set-scalar", {"project", "name", "value"}},
      {"set-field", {"project", "name", "value"}},
      {"set-table", {"project", "id", "values"}},
      {"set-table-cell", {"project", "id", "row", "col", "value"}},
      {"set-curve", {"project", "id", "values"}},
      {"set-curve-point", {"project", "id", "index", "value"}},
      {"set-bits", {"project", "name", "value"}},
      {"save", {"project"}},
  };
  const std::span<const AgentCommand> table = agentCommands();
  ASSERT_EQ(table.size(), std::size(expected));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_STREQ(table[i].name, expected[i].first);
    const std::vector<std::string> required(table[i].requiredOptions.begin(),
                                            table[i].requiredOptions.end());
    EXPECT_EQ(required, expected[i].second) << expected[i].first;
  }
}

// Each edit command once with JSON output: the envelope, then what the saved tune holds.
struct EditCase {
  const char* command;
  QStringList args;
  QByteArray dataMembers;  // the envelope's data, as written
  const char* savedName;   // the constant to read back from the saved tune
  QList<double> saved;     // its first stored values (the scalar value for scalars)
};

class EditEnvelopeTest : public EditCommandsTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditEnvelopeTest, ReportsAndSaves) {
  const EditCase& c = GetParam();
  const CommandRun r = run(QString::fromLatin1(c.command), c.args);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(r.out, successEnvelope(c.command, c.dataMembers));
  const std::optional<double> scalar = savedScalar(c.savedName);
  const QList<double> stored =
      scalar ? QList<double>{*scalar} : savedArray(c.savedName).mid(0, c.saved.size());
  EXPECT_EQ(stored, c.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EditEnvelopeTest,
    ::testing::Values(
        // Quantised to 0.1 ms when stored, but the request is reported.
        EditCase{"set-scalar",
                 {"--name", "reqFuel", "--value", " 12.34 "},
                 "    \"name\": \"reqFuel\",\n    \"oldValue\": 8.5,\n    \"newValue\": 12.34,\n"
                 "    \"units\": \"ms\",\n    \"saved\": true\n",
                 "reqFuel",
                 {12.3}},
        EditCase{"set-field",
                 {"--name", "veGrid", "--index", "5", "--value", "7.6"},
                 "    \"name\": \"veGrid\",\n    \"index\": 5,\n    \"oldValue\": 5,\n"
                 "    \"newValue\": 7.6,\n    \"saved\": true\n",
                 "veGrid",
                 {0, 1, 2, 3, 4, 8, 6}},
        // Row-major without a shape check.
        EditCase{"set-table",
                 {"--id", "veTbl", "--values", "[[1,2],[3]]"},
                 "    \"id\": \"veTbl\",\n    \"zVariable\": \"veGrid\",\n    \"rows\": 2,\n"
                 "    \"cols\": 2,\n    \"cellsWritten\": 3,\n    \"saved\": true\n",
                 "veGrid",
                 {1, 2, 3, 3, 4}},
        EditCase{"set-table-cell",
                 {"--id", "veTbl", "--row", "2", "--col", "3", "--value", "99"},
                 "    \"id\": \"veTbl\",\n    \"row\": 2,\n    \"col\": 3,\n"
                 "    \"oldValue\": 11,\n    \"newValue\": 99,\n    \"saved\": true\n",
                 "veGrid",
                 {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 99, 12}},
        // Clamped to the constant's limits 100..200; texts and booleans store 0.
        EditCase{"set-curve",
                 {"--id", "wueCurve", "--values", "[150, \"x\", true, 300]"},
                 "    \"id\": \"wueCurve\",\n    \"yVariable\": \"wueRates\",\n"
                 "    \"pointsWritten\": 4,\n    \"saved\": true\n",
                 "wueRates",
                 {150, 100, 100, 200}},
        EditCase{"set-curve-point",
                 {"--id", "wueCurve", "--index", "1", "--value", "120"},
                 "    \"id\": \"wueCurve\",\n    \"index\": 1,\n    \"oldValue\": 160,\n"
                 "    \"newValue\": 120,\n    \"saved\": true\n",
                 "wueRates",
                 {180, 120, 140, 100}}),
    [](const ::testing::TestParamInfo<EditCase>& p) {
      return QString::fromLatin1(p.param.command).remove(u'-').toStdString();
    });

TEST_F(EditCommandsTest, SetScalarReadsBackQuantisedAndFindsNamesIgnoringCase) {
  run("set-scalar", {"--name", "reqFuel", "--value", "12.34"});
  EXPECT_TRUE(
      runText("get-scalar", {"--name", "reqFuel"}).out.startsWith("name: reqFuel\nvalue: 12.3\n"));
  EXPECT_EQ(runText("set-scalar", {"--name", "WARMTEMP", "--value", "85"}).out,
            "name: WARMTEMP\noldValue: -40\nnewValue: 85\nunits: C\nsaved: True\n");
  EXPECT_EQ(savedScalar("warmTemp"), 85.0);
}

// Value texts and what set-scalar reports and stores for reqFuel (U08, 0.1 ms, 0..25.5).
struct ValueCase {
  const char* text;
  const char* reported;  // newValue as written in the text output
  double stored;
};

class SetScalarValueTest : public CliProjectTest,
                           public ::testing::WithParamInterface<ValueCase> {};

TEST_P(SetScalarValueTest, ConvertsAndClamps) {
  const ValueCase& c = GetParam();
  const CommandRun r =
      runText("set-scalar", {"--name", "reqFuel", "--value", QString::fromUtf8(c.text)});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QByteArray("name: reqFuel\noldValue: 8.5\nnewValue: ") + c.reported +
                       "\nunits: ms\nsaved: True\n");
  const Tune tune = project::readTuneFile(tunePath());
  EXPECT_EQ(tune.find("reqFuel")->scalarValue, c.stored) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetScalarValueTest,
    ::testing::Values(ValueCase{"abc", "0", 0.0}, ValueCase{"1e3", "1000", 25.5},
                      ValueCase{"-3", "-3", 0.0},
                      ValueCase{"12.25", "12.25", 0.1 * 122},  // scale x raw, raw half-to-even
                      ValueCase{"nan", "0", 0.0}, ValueCase{"1e999", "0", 0.0},
                      ValueCase{"", "0", 0.0}));

TEST_F(EditCommandsTest, SetFieldWithoutOrOutsideTheIndex) {
  // No index means element 0; an index outside the array stores nothing and still succeeds.
  EXPECT_EQ(runText("set-field", {"--name", "veGrid", "--value", "9"}).out,
            "name: veGrid\nindex: 0\noldValue: 0\nnewValue: 9\nsaved: True\n");
  EXPECT_EQ(runText("set-field", {"--name", "veGrid", "--index", "16", "--value", "9"}).out,
            "name: veGrid\nindex: 16\noldValue: 0\nnewValue: 9\nsaved: True\n");
  EXPECT_EQ(savedArray("veGrid").size(), 16);
  EXPECT_EQ(savedArray("veGrid").first(), 9.0);
}

TEST_F(EditCommandsTest, SetBitsReportsLabels) {
  const CommandRun r = run("set-bits", {"--name", "mode", "--value", "2"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("set-bits",
                                   "    \"name\": \"mode\",\n    \"oldValue\": 0,\n"
                                   "    \"oldLabel\": \"Off\",\n    \"newValue\": 2,\n"
                                   "    \"newLabel\": \"Auto\",\n    \"saved\": true\n"));
  const Tune tune = project::readTuneFile(tunePath());
  EXPECT_EQ(tune.find("mode")->bitsRawValue, 2);
  EXPECT_EQ(tune.find("mode")->enumValue, QStringLiteral("Auto"));

  // 3 has no label; a bit field without labels reports none.
  EXPECT_EQ(runText("set-bits", {"--name", "mode", "--value", "3"}).out,
            "name: mode\noldValue: 2\noldLabel: Auto\nnewValue: 3\nsaved: True\n");
  EXPECT_EQ(runText("set-bits", {"--name", "flags", "--value", "9"}).out,
            "name: flags\noldValue: 0\nnewValue: 9\nsaved: True\n");
  // The value is an integer option: "2.5" is not one, so 0 is stored.
  EXPECT_EQ(runText("set-bits", {"--name", "flags", "--value", "2.5"}).out,
            "name: flags\noldValue: 9\nnewValue: 0\nsaved: True\n");
}

TEST_F(EditCommandsTest, SetTableConvertsElementsAndCountsCellsBeyondTheConstant) {
  // Elements that are not numbers store 0; 4.5 is quantised half to even.
  EXPECT_EQ(runText("set-table",
                    {"--id", "veTbl", "--values", "[[\"a\", true, null, 4.5, [1], {}, 300]]"})
                .out,
            "id: veTbl\nzVariable: veGrid\nrows: 1\ncols: 7\ncellsWritten: 7\nsaved: True\n");
  EXPECT_EQ(savedArray("veGrid").mid(0, 8), (QList<double>{0, 0, 0, 4, 0, 0, 255, 7}));

  // Cells beyond the constant are counted but not stored.
  EXPECT_EQ(runText("set-table", {"--id", "veTbl", "--values",
                                  "[[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1],[2,2,2,2]]"})
                .out,
            "id: veTbl\nzVariable: veGrid\nrows: 5\ncols: 4\ncellsWritten: 20\nsaved: True\n");
  EXPECT_EQ(savedArray("veGrid"), QList<double>(16, 1.0));

  EXPECT_EQ(runText("set-table", {"--id", "veTbl", "--values", "[]"}).out,
            "id: veTbl\nzVariable: veGrid\nrows: 0\ncols: 0\ncellsWritten: 0\nsaved: True\n");
}

TEST_F(EditCommandsTest, EditErrorsChangeNothing) {
  struct Case {
    const char* command;
    QStringList args;
    QByteArray message;
  };
  const Case cases[] = {
      {"set-table", {"--id", "veTbl", "--values", "[1,2]"}, "Invalid JSON 2D array"},
      {"set-table", {"--id", "veTbl", "--values", "[[1],2]"}, "Invalid JSON 2D array"},
      {"set-table", {"--id", "veTbl", "--values", "not json"}, "Invalid JSON 2D array"},
      {"set-table", {"--id", "veTbl", "--values", "{\"a\": [1]}"}, "Invalid JSON 2D array"},
      {"set-table",
       {"--id", "nope", "--values", "[[1]]"},
       "Table \\u0027nope\\u0027 not found in INI"},
      {"set-table",
       {"--id", "ghostTbl", "--values", "[[1]]"},
       "Table data field \\u0027missingGrid\\u0027 not found in tune"},
      {"set-table-cell",
       {"--id", "nope", "--row", "0", "--col", "0", "--value", "1"},
       "Table \\u0027nope\\u0027 not found in INI"},
      {"set-table-cell",
       {"--id", "ghostTbl", "--row", "0", "--col", "0", "--value", "1"},
       "Table data field \\u0027missingGrid\\u0027 not found in tune"},
      {"set-curve", {"--id", "wueCurve", "--values", "{}"}, "Invalid JSON array"},
      {"set-curve", {"--id", "wueCurve", "--values", "[1,"}, "Invalid JSON array"},
      {"set-curve", {"--id", "zz", "--values", "[1]"}, "Curve \\u0027zz\\u0027 not found in INI"},
      {"set-curve",
       {"--id", "noYCurve", "--values", "[1]"},
       "Curve \\u0027noYCurve\\u0027 has no Y bin variable"},
      {"set-curve-point",
       {"--id", "noYCurve", "--index", "0", "--value", "1"},
       "Curve \\u0027noYCurve\\u0027 has no Y bin variable"},
      {"set-curve-point",
       {"--id", "zz", "--index", "0", "--value", "1"},
       "Curve \\u0027zz\\u0027 not found in INI"},
      {"set-field",
       {"--name", "nothing", "--value", "1"},
       "Field \\u0027nothing\\u0027 not found in INI"},
      {"set-scalar",
       {"--name", "nope", "--value", "1"},
       "Field \\u0027nope\\u0027 not found in INI"},
      {"set-bits", {"--name", "nope", "--value", "1"}, "Field \\u0027nope\\u0027 not found in INI"},
  };
  // An old modification time shows that the file was not even rewritten.
  const QDateTime old = QDateTime::fromString(QStringLiteral("2001-02-03T04:05:06Z"), Qt::ISODate);
  for (const QString& file : {tunePath(), projectPath_}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  }
  const QByteArray tuneBefore = tk::test::readFile(tunePath());
  const QByteArray projectBefore = tk::test::readFile(projectPath_);
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromLatin1(c.command).toStdString() + " " +
                 c.args.join(u' ').toStdString());
    const CommandRun r = run(QString::fromLatin1(c.command), c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, errorEnvelope(c.command, c.message));
  }
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(QFileInfo(tunePath()).lastModified().toUTC(), old);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
  EXPECT_EQ(QFileInfo(projectPath_).lastModified().toUTC(), old);
}

TEST_F(EditCommandsTest, SetTableCellIndexesTheStoredElements) {
  EXPECT_EQ(
      run("set-table-cell", {"--id", "veTbl", "--row", "2", "--col", "3", "--value", "99"}).code,
      0);
  EXPECT_TRUE(runText("get-table", {"--id", "veTbl"}).out.contains("    [8, 9, 10, 99]\n"));

  // The stored column count of sparkGrid (3) decides the index, not the table's look.
  runText("set-table-cell", {"--id", "sparkTbl", "--row", "1", "--col", "0", "--value", "-9"});
  EXPECT_EQ(savedArray("sparkGrid"), (QList<double>{-5, 0, 5, -9, 15, 20}));

  // flatTbl's data is the scalar reqFuel: the index is the column, and a scalar store ignores it.
  EXPECT_EQ(
      runText("set-table-cell", {"--id", "flatTbl", "--row", "4", "--col", "0", "--value", "3"})
          .out,
      "id: flatTbl\nrow: 4\ncol: 0\noldValue: 8.5\nnewValue: 3\nsaved: True\n");
  EXPECT_EQ(savedScalar("reqFuel"), 3.0);
}

TEST_F(EditCommandsTest, SetTableCellWithoutStoredShapeTakesTheSquareRoot) {
  editProject([](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find("veGrid");
    z->arrayValues = QList<double>(256, 0.0);
    z->rows.reset();
    z->cols.reset();
  });
  // Row 2, column 3 of 256 values without a stored shape is element 35.
  EXPECT_EQ(
      runText("set-table-cell", {"--id", "veTbl", "--row", "2", "--col", "3", "--value", "6"}).out,
      "id: veTbl\nrow: 2\ncol: 3\noldValue: 0\nnewValue: 6\nsaved: True\n");
  QList<double> expected(256, 0.0);
  expected[35] = 6;
  EXPECT_EQ(savedArray("veGrid"), expected);
}

TEST_F(EditCommandsTest, SetCurveOnAYVariableTheTuneLacksStoresNothing) {
  const QList<TuneValue> before = project::readTuneFile(tunePath()).fields;
  EXPECT_EQ(runText("set-curve", {"--id", "ghostCurve", "--values", "[1, 2]"}).out,
            "id: ghostCurve\nyVariable: missingY\npointsWritten: 2\nsaved: True\n");
  EXPECT_EQ(project::readTuneFile(tunePath()).fields, before);
}

TEST_F(EditCommandsTest, SaveRewritesTheFilesAndNamesTheProject) {
  editProject([](project::ProjectManager& m) {
    m.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  });
  const CommandRun r = run("save");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, successEnvelope("save", "    \"projectFile\": \"" + projectPath_.toUtf8() +
                                               "\",\n    \"saved\": true\n"));
  const project::ProjectFile saved = project::readProjectFile(projectPath_);
  EXPECT_NE(saved.lastModified, QStringLiteral("2000-01-01T00:00:00.000Z"));
  EXPECT_EQ(project::readTuneFile(tunePath()).lastSaved, saved.lastModified);
  EXPECT_EQ(runText("save", {"--offline"}).out,
            "projectFile: " + projectPath_.toUtf8() + "\nsaved: True\n");
}

TEST_F(EditCommandsTest, OfflineEditSavesAndPrintsNothingAboutTheEcu) {
  const CommandRun r = run("set-scalar", {"--offline", "--name", "idleRpm", "--value", "900"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(savedScalar("idleRpm"), 900.0);
}

}  // namespace
}  // namespace tk::cli::test
