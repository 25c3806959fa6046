// The ECU commands end to end: agent commands run in-process against torvik-ecu-sim, a separate
// process reached over loopback TCP or over its pseudo-terminal through the serial connection.

#include "cli/ecu_commands.h"

#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <functional>
#include <thread>

#include "cli/command_transcript.h"
#include "cli/ecu_link.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "definition/ini_parser.h"
#include "project/project_manager.h"
#include "sim/sim_ecu_connection.h"
#include "sim/stand_in_server.h"
#include "support/sim_process.h"

namespace tk::cli::test {
namespace {

enum class Transport { Tcp, Pty };

// How the warning for a request answered 0x83 names it (the demo asks "S" for its version).
TEST(DescribeRequestTest, NamesWhatTheRequestAskedFor) {
  const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  EXPECT_EQ(describeRequest(d, "E\x02\x01"), "'cmd_injector1On'");
  EXPECT_EQ(describeRequest(d, "S"), "the firmware version");
  EXPECT_EQ(describeRequest(d, "V"), "the firmware version");
  EXPECT_EQ(describeRequest(d, "Q"), "the signature");
  EXPECT_EQ(describeRequest(d, QByteArray("p\0\\", 3)), "the request \"p\\x00\\x5c\"");
}

class EcuCommandsTest : public tk::test::AppTest, public ::testing::WithParamInterface<Transport> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    makeProject(tk::test::demoIni());
    transcript.define(QStringLiteral("<tmp>"), dir.path());
  }

  // A project made from ini; the commands' <project>.
  void makeProject(const QString& ini) {
    projectPath = tk::test::makeProject(dir.filePath(QFileInfo(ini).baseName()), ini);
    transcript.define(QStringLiteral("<project>"), projectPath);
  }
  // A copy of the example definition whose signature is signature.
  QString exampleSigned(const QString& signature) {
    QByteArray text = tk::test::readFile(tk::test::demoIni());
    text.replace("\"speeduino 202501-demo\"", '"' + signature.toUtf8() + '"');
    const QString path = dir.filePath(QStringLiteral("signed.ini"));
    tk::test::writeFile(path, text);
    return path;
  }
  // Starts the simulator over the test's transport (on the example definition unless ini names
  // one; flash, baud and product as torvik-ecu-sim's options when given) and points the project
  // at it.
  void startSim(const QString& ini = {}, const QString& flash = {}, int baud = 0,
                const std::optional<QString>& product = {}) {
    tk::test::SimOptions options;
    options.ini = ini.isEmpty() ? tk::test::demoIni() : ini;
    options.pty = GetParam() == Transport::Pty;
    options.flash = flash;
    options.baud = baud;
    options.product = product;
    sim.reset();
    sim.emplace(options);
    ASSERT_TRUE(sim->ready()) << sim->standardError().toStdString();
    tk::test::connectProject(projectPath, *sim);
    transcript.define(QStringLiteral("<connection>"),
                      QStringLiteral("\"protocol\": \"%1\",\n    \"port\": \"%2\"")
                          .arg(options.pty ? QLatin1String("Serial") : QLatin1String("TcpBridge"),
                               sim->ptyPath()));
  }
  void editProject(const std::function<void(project::ProjectManager&)>& fn) {
    project::ProjectManager manager;
    manager.openProject(projectPath);
    fn(manager);
    manager.saveProject();
  }
  QByteArray tuneFile() const { return tk::test::readFile(project::tunePathFor(projectPath)); }

  QTemporaryDir dir;
  QString projectPath;
  std::optional<tk::test::SimProcess> sim;
  CommandTranscript transcript;
};

// Every ECU command once, edits pushed and burned; the burned tune outlives a restart of the
// controller; the program itself writes the push's line before its envelope.
TEST_P(EcuCommandsTest, SessionWithTheSimulatedController) {
  const QString flash = dir.filePath(QStringLiteral("flash.bin"));
  startSim({}, flash);
  editProject([](project::ProjectManager& m) {
    m.mutableTune()->fields.removeIf([](const TuneValue& v) { return v.name == "reqFuel"; });
  });
  transcript.note("reqFuel is missing from the local tune until read-tune adds it");
  transcript.runScript("ecu-session.cmds");
  // The simulator is restarted from its flash file.
  startSim({}, flash);
  transcript.run(QStringLiteral("sync -p <project> -f text"));
  EXPECT_TRUE(transcript.matches("ecu-session.txt"));

  const tk::test::ProcessResult r =
      tk::test::runCli({"set-table-cell", "-p", projectPath, "--id", "veTable1Tbl", "--row", "0",
                        "--col", "1", "--value", "40", "-f", "text"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "[CLI] ECU sync: pushed changes for set-table-cell(veTable1Tbl[0,1])\n");
  EXPECT_TRUE(r.out.startsWith("id: veTable1Tbl\n")) << r.out.toStdString();
}

// A controller made for another definition is never written or read from: burn, an edit's push
// and read-tune refuse, read-tune leaves the tune file alone, and the flash holds the same bytes
// afterwards.
TEST_P(EcuCommandsTest, NothingIsWrittenToAnotherSignature) {
  QByteArray pages(128 + 288 + 288 + 128, '\0');
  for (int i = 0; i < pages.size(); ++i) {
    pages[i] = static_cast<char>(i * 7 % 251);
  }
  const QString flash = dir.filePath(QStringLiteral("flash.bin"));
  tk::test::writeFile(flash, pages);
  startSim(exampleSigned(QStringLiteral("speeduino 202501-other")), flash, 0,
           QStringLiteral("Acme ECU 9"));
  transcript.runScript("ecu-refusals.cmds");
  const QByteArray tune = tuneFile();
  transcript.run(QStringLiteral("read-tune -p <project>"));
  EXPECT_EQ(tuneFile(), tune);
  EXPECT_TRUE(transcript.matches("ecu-refusals.txt"));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_EQ(tk::test::readFile(flash), pages);
}

INSTANTIATE_TEST_SUITE_P(Transports, EcuCommandsTest,
                         ::testing::Values(Transport::Tcp, Transport::Pty),
                         [](const auto& p) { return p.param == Transport::Tcp ? "Tcp" : "Pty"; });

using EcuOverTcpTest = EcuCommandsTest;

// Differences are counted with a tolerance for scalars and exactly for arrays; at most 50 are
// listed.
TEST_P(EcuOverTcpTest, SyncCountsAndListsDifferences) {
  const QString ini = tk::test::dataPath(QStringLiteral("cli/sixty-scalars.ini"));
  makeProject(ini);
  startSim(ini);
  transcript.run(QStringLiteral("sync -p <project> -f text"));
  editProject([](project::ProjectManager& m) {
    Tune& tune = *m.mutableTune();
    tune.find(QStringLiteral("s00"))->scalarValue = 0.00005;
    tune.find(QStringLiteral("s01"))->scalarValue = 0.001;
    (*tune.find(QStringLiteral("grid"))->arrayValues)[2] = 1;
  });
  transcript.note("s00 + 0.00005, s01 + 0.001, grid[2] + 1");
  transcript.run(QStringLiteral("sync -p <project>"));
  EXPECT_TRUE(transcript.matches("ecu-sync.txt"));

  editProject([](project::ProjectManager& m) {
    for (TuneValue& value : m.mutableTune()->fields) {
      if (value.scalarValue) {
        *value.scalarValue += 1;
      }
    }
  });
  const QJsonObject data = dataOf(transcript.run(QStringLiteral("sync -p <project>")));
  EXPECT_EQ(data["differences"].toInt(), 61);
  EXPECT_EQ(data["diffs"].toArray().size(), 50);
  EXPECT_EQ(data["diffs"].toArray().last()["field"].toString(), QStringLiteral("s49"));
  EXPECT_TRUE(data["truncated"].toBool());
}

// Without a controller: no port, a refused bridge, a missing serial device; set-connection's
// checks leave the project file as it was.
TEST_P(EcuOverTcpTest, LinkFailuresAndConnectionSettings) {
  const QByteArray before = tk::test::readFile(projectPath);
  transcript.runScript("set-connection-errors.cmds");
  EXPECT_EQ(tk::test::readFile(projectPath), before);
  transcript.runScript("ecu-link.cmds");
  EXPECT_TRUE(transcript.matches("ecu-link.txt"));
}

// The raw text's "\x" escapes become bytes; a malformed one is sent as it is written. Commands
// that are missing or empty send nothing.
TEST_P(EcuOverTcpTest, SendCommandEncodesTheRawText) {
  QFile ini(QFileInfo(projectPath).dir().filePath(QStringLiteral("mainController.ini")));
  ASSERT_TRUE(ini.open(QIODevice::Append));
  ini.write("   cmd_bang = \"A\\x21B\"\n   cmd_bad = \"A\\xzzB\"\n   cmd_blank = \"\"\n");
  ini.close();
  comms::ScriptedEcuConnection ecu;
  // Per command: the answer to the wake-up byte, then a status-only reply.
  for (int i = 0; i < 2; ++i) {
    ecu.queueReply("001");
    ecu.queueReply(comms::EcuCommandService::wrapFrame(QByteArray(1, '\0')));
  }
  sim::StandInServer server(ecu);
  const quint16 port = server.listenOnLoopback();
  editProject([&](project::ProjectManager& m) {
    m.setConnection({}, 115200, QStringLiteral("TcpBridge"), tk::test::SimProcess::host(), port);
  });
  for (const char* command : {"cmd_bang", "cmd_bad"}) {
    const CommandResult r = transcript.run(QStringLiteral("send-command -p <project> --name ") +
                                           QLatin1String(command));
    EXPECT_TRUE(dataOf(r)["responseSuccess"].toBool()) << r.output.bytes.toStdString();
  }
  for (const char* command : {"cmd_blank", "cmd_none"}) {
    EXPECT_EQ(envelope(transcript.run(QStringLiteral("send-command -p <project> --name ") +
                                      QLatin1String(command)))["error"]
                  .toString(),
              QStringLiteral("Command '%1' not found in INI. Use list-commands to see available "
                             "commands.")
                  .arg(QLatin1String(command)));
  }
  server.stop();
  EXPECT_EQ(ecu.writes().join(), "F" + comms::EcuCommandService::wrapFrame("A!B") + "F" +
                                     comms::EcuCommandService::wrapFrame("A\\xzzB"));
}

// A controller that refuses a burn or a chunk write: burn fails naming the page, an edit is saved
// and its push reported as failed, and the controller's flash is untouched.
TEST_P(EcuOverTcpTest, RefusedWritesAreNotReportedAsDone) {
  const EcuDefinition definition = project::readProjectDefinition(tk::test::demoIni(), {});
  const quint8 refused = comms::EcuCommandService::kStatusOutOfRange;
  double reqFuel = 9.8;  // a new value each time: an edit that changes no byte is not pushed
  for (const sim::SimEcuConnection::Refusals& refusals :
       {sim::SimEcuConnection::Refusals{std::nullopt, refused},
        sim::SimEcuConnection::Refusals{refused, std::nullopt}}) {
    sim::SimEcuConnection ecu(definition);
    ecu.setRefusals(refusals);
    sim::StandInServer server(ecu);
    const quint16 port = server.listenOnLoopback();
    editProject([&](project::ProjectManager& m) {
      m.setConnection({}, 115200, QStringLiteral("TcpBridge"), tk::test::SimProcess::host(), port);
    });
    const CommandResult burned = transcript.run(QStringLiteral("burn -p <project>"));
    const CommandResult edited =
        transcript.run(QStringLiteral("set-scalar -p <project> --name reqFuel --value ") +
                       QString::number(reqFuel));
    reqFuel += 0.1;
    server.stop();
    EXPECT_EQ(burned.exitCode, 1);
    EXPECT_EQ(edited.exitCode, 0);
    EXPECT_EQ(ecu.burnCount(), 0);
    EXPECT_EQ(ecu.burnedPage(0), QByteArray(128, '\0'));
  }
  project::ProjectManager saved;
  saved.openProject(projectPath);
  EXPECT_DOUBLE_EQ(saved.getValue(QStringLiteral("reqFuel"), 0), 9.9);
  EXPECT_TRUE(transcript.matches("ecu-write-refusals.txt"));
}

// A controller lost half-way through a read (killed, as a crash or a pulled plug) leaves the tune
// file as it was. (An edit's push to a lost controller is EcuSession's: its failure is the
// connection's own reason, tests/comms/ecu_session_test.cpp; the report line is in
// ecu-write-refusals.txt.)
TEST_P(EcuOverTcpTest, ControllerLostInTheMiddleOfAReadLeavesTheTuneFile) {
  startSim({}, {}, 1200);  // about 7 s for the whole tune
  const QByteArray before = tuneFile();
  std::thread killer([pid = static_cast<pid_t>(sim->pid())] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(pid, SIGKILL);
  });
  const CommandResult read = transcript.run(QStringLiteral("read-tune -p <project>"));
  killer.join();
  EXPECT_EQ(read.exitCode, 1);
  EXPECT_TRUE(envelope(read).value("error").toString().startsWith("Failed to read page "))
      << read.output.bytes.toStdString();
  EXPECT_EQ(tuneFile(), before);
}

INSTANTIATE_TEST_SUITE_P(Tcp, EcuOverTcpTest, ::testing::Values(Transport::Tcp),
                         [](const auto&) { return "Tcp"; });

}  // namespace
}  // namespace tk::cli::test
