// read-channels and datalog end to end against torvik-ecu-sim over loopback TCP: what the
// commands give and write, and how a recording ends. What each value holds is checked against the
// simulated engine on a fake clock in tests/comms/datalog_recorder_test.cpp.

#include <signal.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "cli/agent_runner.h"
#include "definition/ini_parser.h"
#include "formats/mlg_reader.h"
#include "sim/sim_engine.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli::test {
namespace {

const EcuDefinition& definition() {
  static const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  return d;
}

class LiveSimTest : public tk::test::AppTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    projectPath = tk::test::makeProject(dir.filePath(QStringLiteral("p")));
    tk::test::SimOptions options;
    options.ini = tk::test::demoIni();
    sim.emplace(options);
    ASSERT_TRUE(sim->ready()) << sim->standardError().toStdString();
    tk::test::connectProject(projectPath, *sim);
  }

  // Runs an agent command in-process; its progress lines stay in the result's diagnostics.
  QJsonObject run(const QStringList& args) {
    const std::optional<CommandResult> result =
        runCommand(QStringList{QStringLiteral("prog")} + args, agentCommands());
    EXPECT_TRUE(result && result->exitCode == 0)
        << (result ? result->output.bytes.toStdString() : "");
    diagnostics = result ? result->diagnostics : QByteArray();
    return QJsonDocument::fromJson(result ? result->output.bytes : QByteArray()).object();
  }

  QTemporaryDir dir;
  QString projectPath;
  std::optional<tk::test::SimProcess> sim;
  QByteArray diagnostics;
};

// The front page's gauges, the computed duty cycle included, sorted by name with their units;
// a datalog of the demo's 19 entries whose file holds the records the envelope counts; the
// analyses' live recordings.
TEST_F(LiveSimTest, ReadChannelsAndDatalogOverTheSimulator) {
  const QJsonObject channels = run({"read-channels", "-p", projectPath}).value("data").toObject();
  QStringList names;
  for (const QJsonValue& channel : channels.value("channels").toArray()) {
    const QString name = channel["name"].toString();
    names.append(name);
    EXPECT_EQ(channel["units"].toString(), definition().OutputChannels.find(name)->Units);
  }
  EXPECT_EQ(names, QStringList({"advance", "afr", "batteryVoltage", "coolant", "dutyCycle", "map",
                                "rpm", "tps"}));

  const QString output = dir.filePath(QStringLiteral("logs/run.csv"));
  const QJsonObject data =
      run({"datalog", "-p", projectPath, "--duration", "1", "--output", output})
          .value("data")
          .toObject();
  const QString file = dir.filePath(QStringLiteral("logs/run.mlg"));
  EXPECT_EQ(data.value("file").toString(), file);
  EXPECT_EQ(data.value("durationSeconds").toInt(), 1);
  EXPECT_EQ(data.value("channels").toInt(), 19);
  const int records = data.value("records").toInt();
  const double elapsed = data.value("elapsedSeconds").toDouble();
  EXPECT_GE(elapsed, 1.0);
  EXPECT_GT(records, 0);
  EXPECT_EQ(diagnostics, QStringLiteral("[CLI] Datalogging for 1s to %1...\n"
                                        "[CLI] Datalog complete: %2 records in %3s\n")
                             .arg(file)
                             .arg(records)
                             .arg(elapsed, 0, 'f', 1)
                             .toUtf8());
  const MlgLog log = readMlgFile(file);
  EXPECT_EQ(log.formatVersion, 2);
  EXPECT_EQ(log.infoData, QStringLiteral("Torvik CLI Datalog"));
  EXPECT_EQ(log.records.size(), static_cast<std::size_t>(records));
  EXPECT_EQ(log.fields.size(), 19u);

  // The analyses record live into the file their data names, then read it back.
  for (const QString& command : {QStringLiteral("ve-analyze"), QStringLiteral("wue-analyze")}) {
    const QString mlg = dir.filePath(command + ".mlg");
    const QJsonObject analysed =
        run({command, "-p", projectPath, "--live", "1", "--output", mlg})["data"].toObject();
    EXPECT_EQ(analysed["live"]["file"].toString(), mlg);
    EXPECT_GT(analysed["recordsRead"].toInt(), 0);
    EXPECT_EQ(analysed["recordsRead"], analysed["live"]["records"]) << command.toStdString();
  }
}

// A recording stopped by a signal keeps what it has: the file holds exactly the records the
// envelope counts, and a second signal right after the first changes nothing.
struct StopCase {
  const char* name;
  std::vector<int> signals;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class DatalogSignalTest : public LiveSimTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(DatalogSignalTest, SignalEndsTheRecordingAndTheFileIsWritten) {
  const QString file = dir.filePath(QStringLiteral("stopped.mlg"));
  QProcess cli;
  cli.setReadChannel(QProcess::StandardError);
  cli.start(QString::fromUtf8(TK_CLI_EXE),
            {"datalog", "-p", projectPath, "--duration", "30", "--output", file});
  QByteArray err;
  while (!err.contains("[CLI] Datalogging") && cli.waitForReadyRead(10000)) {
    err += cli.readAllStandardError();
  }
  ASSERT_TRUE(err.contains("[CLI] Datalogging for 30s")) << err.toStdString();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (const int signal : GetParam().signals) {
    ::kill(static_cast<pid_t>(cli.processId()), signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // However loaded the machine, the signal and not the 30 s duration ends the recording.
  ASSERT_TRUE(cli.waitForFinished(20000));
  err += cli.readAllStandardError();
  ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(cli.exitCode(), 0);

  const QJsonObject envelope = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
  EXPECT_TRUE(envelope.value("success").toBool());
  const QJsonObject data = envelope.value("data").toObject();
  const int records = data.value("records").toInt();
  EXPECT_EQ(data.value("durationSeconds").toInt(), 30);
  EXPECT_LT(data.value("elapsedSeconds").toDouble(), 25.0);
  EXPECT_TRUE(
      err.contains(QStringLiteral("[CLI] Datalog complete: %1 records in ").arg(records).toUtf8()))
      << err.toStdString();
  EXPECT_EQ(readMlgFile(file).records.size(), static_cast<std::size_t>(records));
}

// A log that cannot be written whole (here a file-size limit, as a full disk) leaves the previous
// one as it was and fails; a stop that comes before the link is up still ends with the envelope
// and a header-only file. The simulator is held stopped until the signal has arrived.
TEST_F(LiveSimTest, DatalogNeverLeavesAHalfWrittenFile) {
  const QString file = dir.filePath(QStringLiteral("run.mlg"));
  tk::test::writeFile(file, "the previous log");
  QProcess limited;
  limited.start(
      QStringLiteral("/bin/sh"),
      {"-c",
       "trap '' XFSZ; ulimit -f 2; exec \"$0\" datalog -p \"$1\" --duration 1 --output \"$2\"",
       QString::fromUtf8(TK_CLI_EXE), projectPath, file});
  ASSERT_TRUE(limited.waitForFinished(20000));
  EXPECT_EQ(limited.exitCode(), 1);
  EXPECT_TRUE(limited.readAllStandardOutput().contains("Cannot write MLG file: " + file.toUtf8()));
  EXPECT_EQ(tk::test::readFile(file), "the previous log");
  EXPECT_EQ(QDir(dir.path()).entryList({"run.mlg*"}, QDir::Files), QStringList{"run.mlg"});

  ::kill(static_cast<pid_t>(sim->pid()), SIGSTOP);
  QProcess cli;
  cli.start(QString::fromUtf8(TK_CLI_EXE),
            {"datalog", "-p", projectPath, "--duration", "30", "--output", file});
  ASSERT_TRUE(cli.waitForStarted(10000));
  // Long enough for the project to load; the link cannot open while the simulator is stopped.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ::kill(static_cast<pid_t>(sim->pid()), SIGCONT);
  ASSERT_TRUE(cli.waitForFinished(20000));
  const QJsonObject envelope = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  EXPECT_EQ(envelope.value("data").toObject().value("records").toInt(-1), 0);
  const MlgLog log = readMlgFile(file);
  EXPECT_TRUE(log.records.empty());
  EXPECT_EQ(log.fields.size(), static_cast<std::size_t>(definition().DatalogEntries.size()));
}

INSTANTIATE_TEST_SUITE_P(Signals, DatalogSignalTest,
                         ::testing::Values(StopCase{"Interrupt", {SIGINT}},
                                           StopCase{"TerminateTwice", {SIGTERM, SIGTERM}}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tk::cli::test
