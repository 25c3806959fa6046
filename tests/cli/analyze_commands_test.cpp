#include "cli/analyze_commands.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "cli/agent_runner.h"
#include "project/project_manager.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

QJsonObject run(QStringList arguments) {
  arguments.prepend(QStringLiteral("prog"));
  const std::optional<CommandResult> result = runCommand(arguments, agentCommands());
  return result ? QJsonDocument::fromJson(result->output.bytes).object() : QJsonObject();
}

// The real logs with the definitions nearest their firmware: each analyses, and a cell gets a
// proposal exactly when its weight reaches the minimum. The passat log with its own tune is
// applied; a second analysis then starts from the stored proposals.
TEST(AnalyzeCorpusTest, RealLogsAnalyseAndApply) {
  const QString corpus = tk::test::corpusDir();
  if (corpus.isEmpty()) {
    GTEST_SKIP() << "corpus not found: the real-file tests need ../shared/corpus";
  }
  QTemporaryDir dir;
  const struct {
    const char* ini;
    const char* msq;
    const char* log;
  } cases[] = {{"speeduino-202501.ini", "usertune-passat-202501.msq", "passat-202501-v2.mlg"},
               {"speeduino-202207.ini", nullptr, "mlgconv-v2.mlg"},
               {"speeduino-202008.ini", nullptr, "miata-202012-v1-markers.mlg"}};
  for (const auto& c : cases) {
    project::ProjectManager m;
    m.createProject("P", corpus + "/ini/" + QLatin1String(c.ini),
                    dir.filePath(QLatin1String(c.log)));
    const QString project = m.projectPath();
    if (c.msq) {
      run({"import-msq", "-p", project, "--file", corpus + "/msq/" + QLatin1String(c.msq),
           "--offline"});
    }
    const QString log = corpus + "/mlg/" + QLatin1String(c.log);
    for (const char* command : {"ve-analyze", "wue-analyze"}) {
      QStringList args = {QLatin1String(command), "-p", project, "--log", log, "--min-weight", "2"};
      if (QLatin1String(command) == QLatin1String("ve-analyze")) {
        args << "--filter"
             << "minCltFilter=0";
      }
      const QJsonObject out = run(args);
      if (QLatin1String(c.log).startsWith(QLatin1String("miata"))) {
        // That firmware's datalog entries do not log the load channel its tables are over.
        EXPECT_EQ(out["error"].toString(),
                  "Log '" + log + "' has no column for channel 'fuelLoad'");
        continue;
      }
      ASSERT_TRUE(out["success"].toBool())
          << c.log << " " << command << ": " << out["error"].toString().toStdString();
      for (const QJsonValue cell : out["data"]["cells"].toArray()) {
        EXPECT_EQ(cell["proposed"].isNull(), cell["weight"].toDouble() < 2) << c.log;
      }
    }
  }

  const QString passat = dir.filePath("passat-202501-v2.mlg") + "/P.tkproj";
  const QString log = corpus + "/mlg/passat-202501-v2.mlg";
  const QStringList args = {"ve-analyze",     "-p",           passat, "--log", log, "--filter",
                            "minCltFilter=0", "--min-weight", "2"};
  const QJsonObject applied = run(args + QStringList{"--apply", "--offline"});
  ASSERT_TRUE(applied["success"].toBool()) << applied["error"].toString().toStdString();
  const int changes = applied["data"]["changes"].toInt();
  EXPECT_GT(changes, 0);
  EXPECT_EQ(applied["data"]["applied"].toInt(), changes);
  EXPECT_TRUE(applied["data"]["saved"].toBool());
  project::ProjectManager m;
  m.openProject(passat);
  for (const QJsonValue cell : applied["data"]["cells"].toArray()) {
    const int index = cell["row"].toInt() * 16 + cell["column"].toInt();
    const QJsonValue proposed = cell["proposed"];
    EXPECT_EQ(m.getValue("veTable", index),
              proposed.isNull() ? cell["current"].toDouble() : proposed.toDouble());
  }
  // The custom filter reads log columns by channel name or label.
  const QJsonObject custom = run(args + QStringList{"--custom", "rpm > 100000 || CLT < -100"});
  EXPECT_EQ(custom["data"]["recordsKept"].toInt(), 0);
  EXPECT_EQ(custom["data"]["excluded"]["std_Custom"].toInt(),
            custom["data"]["recordsRead"].toInt());
  const QJsonObject again = run(args);
  EXPECT_EQ(again["data"]["cells"].toArray().first()["current"],
            applied["data"]["cells"].toArray().first()["proposed"]);
}

}  // namespace
}  // namespace tk::cli
