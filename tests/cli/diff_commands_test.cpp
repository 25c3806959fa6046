// Setting groups, diff and the ECU push of edits that change nothing, against torvik-ecu-sim
// serving the real speeduino-202501 definition.

#include "cli/diff_commands.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include "cli/command_transcript.h"
#include "project/project_manager.h"
#include "support/sim_process.h"

namespace tk::cli::test {
namespace {

class DiffCommandsSimTest : public tk::test::AppTest {
 protected:
  void SetUp() override {
    ini_ = tk::test::corpusDir() + QStringLiteral("/ini/speeduino-202501.ini");
    if (!QFileInfo::exists(ini_)) {
      GTEST_SKIP() << "corpus (speeduino-202501.ini) not found beside the checkout";
    }
    project_ = tk::test::makeProject(dir_.filePath(QStringLiteral("p")), ini_);
    tk::test::SimOptions options;
    options.ini = ini_;
    sim_.emplace(options);
    ASSERT_TRUE(sim_->ready()) << sim_->standardError().toStdString();
    tk::test::connectProject(project_, *sim_);
  }

  CommandResult run(const QStringList& arguments) {
    return *runCommand(QStringList{"prog", arguments.at(0), "-p", project_} + arguments.mid(1),
                       agentCommands());
  }
  QJsonObject data(const QStringList& arguments) {
    const CommandResult r = run(arguments);
    EXPECT_EQ(r.exitCode, 0) << r.output.bytes.toStdString();
    return dataOf(r);
  }
  PageImages images() {
    project::ProjectManager m;
    m.openProject(project_);
    return m.pageImages();
  }
  QList<double> wueBins() {
    project::ProjectManager m;
    m.openProject(project_);
    return *m.tune()->find("wueBins")->arrayValues;
  }

  QString ini_;
  QTemporaryDir dir_;
  QString project_;
  std::optional<tk::test::SimProcess> sim_;
};

// Celsius and back: the bytes stay, the values follow, get-scalar and list-scalars agree.
TEST_F(DiffCommandsSimTest, SettingGroupReexpressesTheTuneWithItsBytes) {
  ASSERT_EQ(run({"read-tune"}).exitCode, 0);
  const PageImages bytes = images();
  const QStringList celsius = {"set-setting-group", "--group", "temperatureDisplay", "--option",
                               "CELSIUS"};
  const CommandResult r = run(celsius);
  EXPECT_EQ(r.diagnostics, "[CLI] ECU sync skipped: nothing changed\n");
  EXPECT_EQ(images(), bytes);
  const QList<double> bins = {-40, -26, 10, 19, 28, 37, 50, 65, 80, 90};
  {
    project::ProjectManager m;
    m.openProject(project_);
    for (int i = 0; i < bins.size(); ++i) {
      m.setValue("wueBins", i, bins.at(i));
    }
    m.saveProject();
  }
  EXPECT_EQ(wueBins(), bins);
  const PageImages celsiusBytes = images();
  EXPECT_EQ(data({"set-setting-group", "--group", "temperatureDisplay", "--option", "FAHRENHEIT"})
                .value("previous"),
            "CELSIUS");
  EXPECT_EQ(images(), celsiusBytes);
  const QList<double> fahrenheit = wueBins();
  for (int i = 0; i < bins.size(); ++i) {
    EXPECT_NEAR(fahrenheit.at(i), bins.at(i) * 1.8 + 32, 0.9) << i;
  }
  run(celsius);
  EXPECT_EQ(wueBins(), bins);
  EXPECT_EQ(data({"get-scalar", "--name", "egoTemp"}).value("units"), "C");
  QStringList selected;
  for (const QJsonValue& group : data({"list-setting-groups"}).value("groups").toArray()) {
    selected.append(group["name"].toString() + u'=' + group["selected"].toString() + u'/' +
                    QString::number(group["options"].toArray().size()));
  }
  EXPECT_TRUE(selected.contains("temperatureDisplay=CELSIUS/2"))
      << selected.join(u' ').toStdString();
  for (const QJsonValue& scalar : data({"list-scalars"}).value("scalars").toArray()) {
    if (scalar["name"] == "egoTemp") {
      EXPECT_EQ(scalar["units"], "C");
    }
  }
  const CommandResult unknown =
      run({"set-setting-group", "--group", "temperatureDisplay", "--option", "KELVIN"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(unknown.output.bytes.contains("its options are: FAHRENHEIT, CELSIUS"))
      << unknown.output.bytes.toStdString();
}

// Offline edits show in diff --ecu, exactly those; an edit that writes nothing is not pushed.
TEST_F(DiffCommandsSimTest, DiffAgainstTheControllerListsExactlyTheEdits) {
  ASSERT_EQ(run({"read-tune"}).exitCode, 0);
  EXPECT_EQ(data({"diff", "--ecu"}).value("differences"), 0);
  const CommandResult bits =
      run({"set-bits", "--name", "injLayout", "--value", "sequential", "--offline"});
  EXPECT_EQ(bits.diagnostics, "");
  run({"set-table-cell", "--id", "veTable1Tbl", "--row", "2", "--col", "3", "--value", "77",
       "--offline"});
  const CommandResult outside =
      run({"set-table-cell", "--id", "veTable1Tbl", "--row", "16", "--col", "0", "--value", "1"});
  EXPECT_TRUE(outside.diagnostics.endsWith("[CLI] ECU sync skipped: nothing changed\n"))
      << outside.diagnostics.toStdString();

  const QJsonObject diff = data({"diff", "--ecu"});
  EXPECT_EQ(diff.value("differences"), 2);
  const QJsonArray diffs = diff.value("diffs").toArray();
  ASSERT_EQ(diffs.size(), 2);
  EXPECT_EQ(diffs[0]["constant"], "injLayout");
  EXPECT_EQ(diffs[0]["localValue"], 3);
  EXPECT_EQ(diffs[0]["localLabel"], "Sequential");
  EXPECT_EQ(diffs[1]["constant"], "veTable");
  EXPECT_EQ(diffs[1]["index"], 2 * 16 + 3);
  EXPECT_EQ(diffs[1]["table"], "veTable1Tbl");
  EXPECT_EQ(diffs[1]["localValue"], 77);
  const CommandResult text = run({"diff", "--ecu", "--max", "1", "-f", "text"});
  EXPECT_TRUE(text.output.bytes.contains("  injLayout: 3 \"Sequential\" here, "))
      << text.output.bytes.toStdString();
  EXPECT_TRUE(text.output.bytes.endsWith("truncated: True\n"));
}

}  // namespace
}  // namespace tk::cli::test
