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
  QList<double> firstValues(const QList<double>& all, int n) { return all.mid(0, n); }
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

TEST_F(EditCommandsTest, SetScalarQuantisesButReportsTheRequest) {
  const CommandRun r =
      run(QStringLiteral("set-scalar"), {QStringLiteral("--name"), QStringLiteral("reqFuel"),
                                         QStringLiteral("--value"), QStringLiteral(" 12.34 ")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-scalar\",\n"
            "  \"data\": {\n"
            "    \"name\": \"reqFuel\",\n"
            "    \"oldValue\": 8.5,\n"
            "    \"newValue\": 12.34,\n"
            "    \"units\": \"ms\",\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(savedScalar("reqFuel"), 12.3);
  const CommandRun back =
      runText(QStringLiteral("get-scalar"), {QStringLiteral("--name"), QStringLiteral("reqFuel")});
  EXPECT_TRUE(back.out.startsWith("name: reqFuel\nvalue: 12.3\n"));
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
      runText(QStringLiteral("set-scalar"), {QStringLiteral("--name"), QStringLiteral("reqFuel"),
                                             QStringLiteral("--value"), QString::fromUtf8(c.text)});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QByteArray("name: reqFuel\noldValue: 8.5\nnewValue: ") + c.reported +
                       "\nunits: ms\nsaved: True\n");
  const Tune tune = project::readTuneFile(tunePath());
  EXPECT_EQ(tune.find(QStringLiteral("reqFuel"))->scalarValue, c.stored) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetScalarValueTest,
    ::testing::Values(ValueCase{"abc", "0", 0.0}, ValueCase{"1e3", "1000", 25.5},
                      ValueCase{"-3", "-3", 0.0},
                      ValueCase{"12.25", "12.25", 0.1 * 122},  // scale x raw, raw half-to-even
                      ValueCase{"nan", "0", 0.0}, ValueCase{"1e999", "0", 0.0},
                      ValueCase{"", "0", 0.0}));

TEST_F(EditCommandsTest, SetScalarFindsNamesIgnoringCase) {
  const CommandRun r =
      runText(QStringLiteral("set-scalar"), {QStringLiteral("--name"), QStringLiteral("WARMTEMP"),
                                             QStringLiteral("--value"), QStringLiteral("85")});
  EXPECT_EQ(r.out, "name: WARMTEMP\noldValue: -40\nnewValue: 85\nunits: C\nsaved: True\n");
  EXPECT_EQ(savedScalar("warmTemp"), 85.0);

  const CommandRun missing =
      run(QStringLiteral("set-scalar"), {QStringLiteral("--name"), QStringLiteral("nope"),
                                         QStringLiteral("--value"), QStringLiteral("1")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, errorEnvelope("set-scalar", "Field \\u0027nope\\u0027 not found in INI"));
}

TEST_F(EditCommandsTest, SetFieldStoresOneElement) {
  const CommandRun r =
      run(QStringLiteral("set-field"),
          {QStringLiteral("--name"), QStringLiteral("veGrid"), QStringLiteral("--index"),
           QStringLiteral("5"), QStringLiteral("--value"), QStringLiteral("7.6")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-field\",\n"
            "  \"data\": {\n"
            "    \"name\": \"veGrid\",\n"
            "    \"index\": 5,\n"
            "    \"oldValue\": 5,\n"
            "    \"newValue\": 7.6,\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  EXPECT_EQ(firstValues(savedArray("veGrid"), 7), (QList<double>{0, 1, 2, 3, 4, 8, 6}));

  // No index means element 0; an index outside the array stores nothing and still succeeds.
  const CommandRun first =
      runText(QStringLiteral("set-field"), {QStringLiteral("--name"), QStringLiteral("veGrid"),
                                            QStringLiteral("--value"), QStringLiteral("9")});
  EXPECT_EQ(first.out, "name: veGrid\nindex: 0\noldValue: 0\nnewValue: 9\nsaved: True\n");
  const CommandRun outside =
      runText(QStringLiteral("set-field"),
              {QStringLiteral("--name"), QStringLiteral("veGrid"), QStringLiteral("--index"),
               QStringLiteral("16"), QStringLiteral("--value"), QStringLiteral("9")});
  EXPECT_EQ(outside.out, "name: veGrid\nindex: 16\noldValue: 0\nnewValue: 9\nsaved: True\n");
  EXPECT_EQ(savedArray("veGrid").size(), 16);
  EXPECT_EQ(savedArray("veGrid").first(), 9.0);
}

TEST_F(EditCommandsTest, SetBitsReportsLabels) {
  const CommandRun r =
      run(QStringLiteral("set-bits"), {QStringLiteral("--name"), QStringLiteral("mode"),
                                       QStringLiteral("--value"), QStringLiteral("2")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-bits\",\n"
            "  \"data\": {\n"
            "    \"name\": \"mode\",\n"
            "    \"oldValue\": 0,\n"
            "    \"oldLabel\": \"Off\",\n"
            "    \"newValue\": 2,\n"
            "    \"newLabel\": \"Auto\",\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  const Tune tune = project::readTuneFile(tunePath());
  EXPECT_EQ(tune.find(QStringLiteral("mode"))->bitsRawValue, 2);
  EXPECT_EQ(tune.find(QStringLiteral("mode"))->enumValue, QStringLiteral("Auto"));

  // 3 has no label; a bit field without labels reports none.
  EXPECT_EQ(runText(QStringLiteral("set-bits"), {QStringLiteral("--name"), QStringLiteral("mode"),
                                                 QStringLiteral("--value"), QStringLiteral("3")})
                .out,
            "name: mode\noldValue: 2\noldLabel: Auto\nnewValue: 3\nsaved: True\n");
  EXPECT_EQ(runText(QStringLiteral("set-bits"), {QStringLiteral("--name"), QStringLiteral("flags"),
                                                 QStringLiteral("--value"), QStringLiteral("9")})
                .out,
            "name: flags\noldValue: 0\nnewValue: 9\nsaved: True\n");
  // The value is an integer option: "2.5" is not one, so 0 is stored.
  EXPECT_EQ(runText(QStringLiteral("set-bits"), {QStringLiteral("--name"), QStringLiteral("flags"),
                                                 QStringLiteral("--value"), QStringLiteral("2.5")})
                .out,
            "name: flags\noldValue: 9\nnewValue: 0\nsaved: True\n");
  EXPECT_EQ(run(QStringLiteral("set-bits"), {QStringLiteral("--name"), QStringLiteral("nope"),
                                             QStringLiteral("--value"), QStringLiteral("1")})
                .out,
            errorEnvelope("set-bits", "Field \\u0027nope\\u0027 not found in INI"));
}

TEST_F(EditCommandsTest, SetTableStoresRowMajorWithoutShapeCheck) {
  const CommandRun r =
      run(QStringLiteral("set-table"), {QStringLiteral("--id"), QStringLiteral("veTbl"),
                                        QStringLiteral("--values"), QStringLiteral("[[1,2],[3]]")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-table\",\n"
            "  \"data\": {\n"
            "    \"id\": \"veTbl\",\n"
            "    \"zVariable\": \"veGrid\",\n"
            "    \"rows\": 2,\n"
            "    \"cols\": 2,\n"
            "    \"cellsWritten\": 3,\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  EXPECT_EQ(firstValues(savedArray("veGrid"), 5), (QList<double>{1, 2, 3, 3, 4}));

  // Elements that are not numbers store 0; 4.5 is quantised half to even.
  const CommandRun mixed =
      runText(QStringLiteral("set-table"),
              {QStringLiteral("--id"), QStringLiteral("veTbl"), QStringLiteral("--values"),
               QStringLiteral("[[\"a\", true, null, 4.5, [1], {}, 300]]")});
  EXPECT_EQ(mixed.out,
            "id: veTbl\nzVariable: veGrid\nrows: 1\ncols: 7\ncellsWritten: 7\n"
            "saved: True\n");
  EXPECT_EQ(firstValues(savedArray("veGrid"), 8), (QList<double>{0, 0, 0, 4, 0, 0, 255, 7}));

  // Cells beyond the constant are counted but not stored.
  const CommandRun big =
      runText(QStringLiteral("set-table"),
              {QStringLiteral("--id"), QStringLiteral("veTbl"), QStringLiteral("--values"),
               QStringLiteral("[[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1],[2,2,2,2]]")});
  EXPECT_EQ(big.out,
            "id: veTbl\nzVariable: veGrid\nrows: 5\ncols: 4\ncellsWritten: 20\n"
            "saved: True\n");
  EXPECT_EQ(savedArray("veGrid"), QList<double>(16, 1.0));

  const CommandRun empty =
      runText(QStringLiteral("set-table"), {QStringLiteral("--id"), QStringLiteral("veTbl"),
                                            QStringLiteral("--values"), QStringLiteral("[]")});
  EXPECT_EQ(empty.out,
            "id: veTbl\nzVariable: veGrid\nrows: 0\ncols: 0\ncellsWritten: 0\n"
            "saved: True\n");
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
    const CommandRun r = run(QString::fromLatin1(c.command), c.args);
    EXPECT_EQ(r.code, 1) << c.command << " " << c.args.join(u' ').toStdString();
    EXPECT_EQ(r.out, errorEnvelope(c.command, c.message))
        << c.command << " " << c.args.join(u' ').toStdString();
  }
  EXPECT_EQ(tk::test::readFile(tunePath()), tuneBefore);
  EXPECT_EQ(QFileInfo(tunePath()).lastModified().toUTC(), old);
  EXPECT_EQ(tk::test::readFile(projectPath_), projectBefore);
  EXPECT_EQ(QFileInfo(projectPath_).lastModified().toUTC(), old);
}

TEST_F(EditCommandsTest, SetTableCellIndexesRowMajor) {
  const CommandRun r = run(QStringLiteral("set-table-cell"),
                           {QStringLiteral("--id"), QStringLiteral("veTbl"),
                            QStringLiteral("--row"), QStringLiteral("2"), QStringLiteral("--col"),
                            QStringLiteral("3"), QStringLiteral("--value"), QStringLiteral("99")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-table-cell\",\n"
            "  \"data\": {\n"
            "    \"id\": \"veTbl\",\n"
            "    \"row\": 2,\n"
            "    \"col\": 3,\n"
            "    \"oldValue\": 11,\n"
            "    \"newValue\": 99,\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  const CommandRun table =
      runText(QStringLiteral("get-table"), {QStringLiteral("--id"), QStringLiteral("veTbl")});
  EXPECT_TRUE(table.out.contains("    [8, 9, 10, 99]\n"));

  // The stored column count of sparkGrid (3) decides the index, not the table's look.
  runText(QStringLiteral("set-table-cell"),
          {QStringLiteral("--id"), QStringLiteral("sparkTbl"), QStringLiteral("--row"),
           QStringLiteral("1"), QStringLiteral("--col"), QStringLiteral("0"),
           QStringLiteral("--value"), QStringLiteral("-9")});
  EXPECT_EQ(savedArray("sparkGrid"), (QList<double>{-5, 0, 5, -9, 15, 20}));
}

TEST_F(EditCommandsTest, SetTableCellWithoutStoredShapeTakesTheSquareRoot) {
  editProject([](project::ProjectManager& m) {
    TuneValue* z = m.mutableTune()->find(QStringLiteral("veGrid"));
    z->arrayValues = QList<double>(256, 0.0);
    z->rows.reset();
    z->cols.reset();
  });
  // Row 2, column 3 of 256 values without a stored shape is element 35.
  const CommandRun r =
      runText(QStringLiteral("set-table-cell"),
              {QStringLiteral("--id"), QStringLiteral("veTbl"), QStringLiteral("--row"),
               QStringLiteral("2"), QStringLiteral("--col"), QStringLiteral("3"),
               QStringLiteral("--value"), QStringLiteral("6")});
  EXPECT_EQ(r.out, "id: veTbl\nrow: 2\ncol: 3\noldValue: 0\nnewValue: 6\nsaved: True\n");
  QList<double> expected(256, 0.0);
  expected[35] = 6;
  EXPECT_EQ(savedArray("veGrid"), expected);
}

TEST_F(EditCommandsTest, SetTableCellOnScalarDataUsesTheColumn) {
  // flatTbl's data is the scalar reqFuel: the index is the column, and a scalar store ignores it.
  const CommandRun r =
      runText(QStringLiteral("set-table-cell"),
              {QStringLiteral("--id"), QStringLiteral("flatTbl"), QStringLiteral("--row"),
               QStringLiteral("4"), QStringLiteral("--col"), QStringLiteral("0"),
               QStringLiteral("--value"), QStringLiteral("3")});
  EXPECT_EQ(r.out, "id: flatTbl\nrow: 4\ncol: 0\noldValue: 8.5\nnewValue: 3\nsaved: True\n");
  EXPECT_EQ(savedScalar("reqFuel"), 3.0);
}

TEST_F(EditCommandsTest, SetCurveStoresEveryPoint) {
  const CommandRun r = run(QStringLiteral("set-curve"),
                           {QStringLiteral("--id"), QStringLiteral("wueCurve"),
                            QStringLiteral("--values"), QStringLiteral("[150, \"x\", true, 300]")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-curve\",\n"
            "  \"data\": {\n"
            "    \"id\": \"wueCurve\",\n"
            "    \"yVariable\": \"wueRates\",\n"
            "    \"pointsWritten\": 4,\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  // Clamped to the constant's limits 100..200.
  EXPECT_EQ(savedArray("wueRates"), (QList<double>{150, 100, 100, 200}));

  // A Y variable the tune does not hold: nothing is stored, the command still succeeds.
  const QList<TuneValue> before = project::readTuneFile(tunePath()).fields;
  const CommandRun ghost =
      runText(QStringLiteral("set-curve"), {QStringLiteral("--id"), QStringLiteral("ghostCurve"),
                                            QStringLiteral("--values"), QStringLiteral("[1, 2]")});
  EXPECT_EQ(ghost.out, "id: ghostCurve\nyVariable: missingY\npointsWritten: 2\nsaved: True\n");
  EXPECT_EQ(project::readTuneFile(tunePath()).fields, before);
}

TEST_F(EditCommandsTest, SetCurvePoint) {
  const CommandRun r =
      run(QStringLiteral("set-curve-point"),
          {QStringLiteral("--id"), QStringLiteral("wueCurve"), QStringLiteral("--index"),
           QStringLiteral("1"), QStringLiteral("--value"), QStringLiteral("120")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"set-curve-point\",\n"
            "  \"data\": {\n"
            "    \"id\": \"wueCurve\",\n"
            "    \"index\": 1,\n"
            "    \"oldValue\": 160,\n"
            "    \"newValue\": 120,\n"
            "    \"saved\": true\n"
            "  }\n"
            "}\n");
  EXPECT_EQ(savedArray("wueRates"), (QList<double>{180, 120, 140, 100}));
}

TEST_F(EditCommandsTest, SaveRewritesTheFilesAndNamesTheProject) {
  editProject([](project::ProjectManager& m) {
    m.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  });
  const CommandRun r = run(QStringLiteral("save"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\n"
            "  \"success\": true,\n"
            "  \"command\": \"save\",\n"
            "  \"data\": {\n"
            "    \"projectFile\": \"" +
                projectPath_.toUtf8() +
                "\",\n"
                "    \"saved\": true\n"
                "  }\n"
                "}\n");
  const project::ProjectFile saved = project::readProjectFile(projectPath_);
  EXPECT_NE(saved.lastModified, QStringLiteral("2000-01-01T00:00:00.000Z"));
  EXPECT_EQ(project::readTuneFile(tunePath()).lastSaved, saved.lastModified);
  EXPECT_EQ(runText(QStringLiteral("save"), {QStringLiteral("--offline")}).out,
            "projectFile: " + projectPath_.toUtf8() + "\nsaved: True\n");
}

TEST_F(EditCommandsTest, OfflineEditSavesAndPrintsNothingAboutTheEcu) {
  const CommandRun r =
      run(QStringLiteral("set-scalar"),
          {QStringLiteral("--offline"), QStringLiteral("--name"), QStringLiteral("idleRpm"),
           QStringLiteral("--value"), QStringLiteral("900")});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(savedScalar("idleRpm"), 900.0);
}

}  // namespace
}  // namespace tk::cli::test
