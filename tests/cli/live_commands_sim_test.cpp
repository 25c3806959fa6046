// read-channels and datalog end to end against torvik-ecu-sim over loopback TCP. The simulator's
// engine starts when the simulator does, so the test brackets that moment and each command's run
// on the machine's steady clock (the same for both processes) and checks every value against
// what the engine served in that window.

#include <signal.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <thread>

#include "cli/agent_runner.h"
#include "definition/ini_parser.h"
#include "formats/mlg_reader.h"
#include "sim/sim_engine.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli::test {
namespace {

constexpr double kStepSeconds = 0.01;  // the simulated engine's step

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const EcuDefinition& definition() {
  static const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  return d;
}

// Every channel's value as the simulated engine serves it, at each step from 0 to a time.
class ServedValues {
 public:
  explicit ServedValues(double untilSeconds) {
    comms::SimEngine engine;
    for (double t = 0; t <= untilSeconds + kStepSeconds; t += kStepSeconds) {
      steps_.push_back(tk::test::servedAt(definition(), engine, t));
    }
  }

  // The lowest and highest value of a channel (0 for one the block does not hold) over the
  // engine times [from, to], one step of slack on both sides.
  std::pair<double, double> range(const QString& channel, double from, double to) const {
    const auto first = static_cast<std::size_t>(std::max(0.0, std::floor(from / kStepSeconds) - 1));
    const auto last =
        std::min(steps_.size() - 1, static_cast<std::size_t>(std::ceil(to / kStepSeconds) + 1));
    double low = INFINITY;
    double high = -INFINITY;
    for (std::size_t i = first; i <= last; ++i) {
      const double v = steps_[i].value(channel, 0.0);
      low = std::min(low, v);
      high = std::max(high, v);
    }
    return {low, high};
  }

 private:
  std::vector<QHash<QString, double>> steps_;
};

class LiveSimTest : public tk::test::AppTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    projectPath = tk::test::makeProject(dir.filePath(QStringLiteral("p")));
    tk::test::SimOptions options;
    options.ini = tk::test::demoIni();
    simLaunched = steadySeconds();
    sim.emplace(options);
    simReady = steadySeconds();
    ASSERT_TRUE(sim->ready()) << sim->standardError().toStdString();
    tk::test::connectProject(projectPath, *sim);
  }

  // Runs an agent command in-process, bracketing its run on the steady clock; its standard
  // streams are captured.
  QJsonObject run(const QStringList& args) {
    std::optional<CommandResult> result;
    commandStart = steadySeconds();
    captured = tk::test::captureStdio(
        [&] { result = runCommand(QStringList{QStringLiteral("prog")} + args, agentCommands()); });
    commandEnd = steadySeconds();
    EXPECT_TRUE(result && result->exitCode == 0)
        << (result ? result->output.bytes.toStdString() : "");
    return QJsonDocument::fromJson(result ? result->output.bytes : QByteArray()).object();
  }

  QTemporaryDir dir;
  QString projectPath;
  std::optional<tk::test::SimProcess> sim;
  double simLaunched = 0;
  double simReady = 0;
  double commandStart = 0;
  double commandEnd = 0;
  tk::test::Captured captured;
};

TEST_F(LiveSimTest, ReadChannelsShowsWhatTheEngineServed) {
  const QJsonObject data = run({"read-channels", "-p", projectPath}).value("data").toObject();
  // The snapshot was taken while the command ran, on an engine started while the simulator was.
  const double from = commandStart - simReady;
  const double to = commandEnd - simLaunched;
  ASSERT_LT(to - from, 2.0);
  const ServedValues served(to);
  QStringList names;
  for (const QJsonValue& item : data.value("channels").toArray()) {
    const QJsonObject channel = item.toObject();
    const QString channelName = channel.value("name").toString();
    names.append(channelName);
    const auto [low, high] = served.range(channelName, from, to);
    EXPECT_GE(channel.value("value").toDouble(), low) << channelName.toStdString();
    EXPECT_LE(channel.value("value").toDouble(), high) << channelName.toStdString();
    EXPECT_EQ(channel.value("units").toString(),
              definition().OutputChannels.find(channelName)->Units);
  }
  // The front page's gauges, the computed duty cycle included, sorted by name.
  EXPECT_EQ(names, QStringList({"advance", "afr", "batteryVoltage", "coolant", "dutyCycle", "map",
                                "rpm", "tps"}));
}

TEST_F(LiveSimTest, DatalogRecordsWhatTheEngineServed) {
  const QString output = dir.filePath(QStringLiteral("logs/run.csv"));
  const QJsonObject data =
      run({"datalog", "-p", projectPath, "--duration", "2", "--output", output})
          .value("data")
          .toObject();
  const QString file = dir.filePath(QStringLiteral("logs/run.mlg"));
  EXPECT_EQ(data.value("file").toString(), file);
  EXPECT_EQ(data.value("durationSeconds").toInt(), 2);
  EXPECT_EQ(data.value("channels").toInt(), 18);
  const int records = data.value("records").toInt();
  const double elapsed = data.value("elapsedSeconds").toDouble();
  EXPECT_GE(elapsed, 2.0);
  EXPECT_GE(records, 40);  // the bound is 100 at 20 ms each
  EXPECT_EQ(captured.err, QStringLiteral("[CLI] Datalogging for 2s to %1...\n"
                                         "[CLI] Datalog complete: %2 records in %3s\n")
                              .arg(file)
                              .arg(records)
                              .arg(elapsed, 0, 'f', 1)
                              .toUtf8());

  const MlgLog log = readMlgFile(file);
  EXPECT_EQ(log.formatVersion, 2);
  EXPECT_EQ(log.infoData, QStringLiteral("Torvik CLI Datalog"));
  ASSERT_EQ(log.records.size(), static_cast<std::size_t>(records));
  ASSERT_EQ(log.fields.size(), 18u);
  // The loop started after the command did and ended, elapsed later, before it returned.
  const double startFrom = commandStart - simReady;
  const double startTo = commandEnd - elapsed - simLaunched;
  ASSERT_LT(startTo - startFrom, 1.5);
  const ServedValues served(commandEnd - simLaunched);
  double t = log.records[0].timestampRaw / 100000.0;
  double rpmLow = INFINITY;
  double rpmHigh = -INFINITY;
  for (std::size_t r = 0; r < log.records.size(); ++r) {
    if (r > 0) {
      t += ((log.records[r].timestampRaw - log.records[r - 1].timestampRaw) & 0xFFFF) / 100000.0;
    }
    const std::span<const double> values = log.recordValues(r);
    for (std::size_t f = 0; f < log.fields.size(); ++f) {
      const QString& channel =
          definition().DatalogEntries.at(static_cast<qsizetype>(f)).ChannelName;
      // The fetch ends before the record's time is taken and may take a while on a busy machine.
      const auto [low, high] = served.range(channel, startFrom + t - 0.2, startTo + t);
      const bool isFloat = log.fields[f].dataType == static_cast<std::uint8_t>(MlgDataType::F32);
      const auto stored = [isFloat](double v) {
        return isFloat ? static_cast<double>(static_cast<float>(v)) : std::trunc(v);
      };
      EXPECT_GE(values[f], stored(low)) << "record " << r << " " << channel.toStdString();
      EXPECT_LE(values[f], stored(high)) << "record " << r << " " << channel.toStdString();
    }
    const double rpm = values[static_cast<std::size_t>(findField(log, u"RPM"))];
    rpmLow = std::min(rpmLow, rpm);
    rpmHigh = std::max(rpmHigh, rpm);
  }
  EXPECT_GT(rpmHigh - rpmLow, 10.0);  // the engine was starting: its speed moved
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
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double signalled = steadySeconds();
  for (const int signal : GetParam().signals) {
    ::kill(static_cast<pid_t>(cli.processId()), signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(cli.waitForFinished(10000));
  const double stopped = steadySeconds();
  err += cli.readAllStandardError();
  ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(cli.exitCode(), 0);
  EXPECT_LT(stopped - signalled, 1.0);

  const QJsonObject envelope = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
  EXPECT_TRUE(envelope.value("success").toBool());
  const QJsonObject data = envelope.value("data").toObject();
  const int records = data.value("records").toInt();
  EXPECT_GE(records, 10);
  EXPECT_EQ(data.value("durationSeconds").toInt(), 30);
  EXPECT_GT(data.value("elapsedSeconds").toDouble(), 0.9);
  EXPECT_LT(data.value("elapsedSeconds").toDouble(), 5.0);
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
