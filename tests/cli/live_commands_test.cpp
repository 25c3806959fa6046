// The live-data commands' rules on a fake clock: requested names, the two result shapes and
// their pacing, datalog file names, and computed channels over the simulated controller
// in-process, whose engine runs on the same clock.

#include "cli/live_commands.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "cli/command_transcript.h"
#include "cli/stop_signals.h"
#include "comms/comms_fakes.h"
#include "definition/default_setting_groups.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "sim/sim_ecu_connection.h"
#include "sim/sim_engine.h"
#include "support/sim_process.h"
#include "tune/tune_value.h"

namespace tk::cli::test {
namespace {

using tk::test::okFrame;

ConstantDef channel(const char* dataType, int offset, const char* units = "") {
  ConstantDef c;
  c.DataType = QString::fromLatin1(dataType);
  c.Offset = offset;
  c.Units = QString::fromLatin1(units);
  return c;
}

QStringList sorted(const QSet<QString>& names) {
  QStringList list(names.cbegin(), names.cend());
  list.sort();
  return list;
}

struct NamesCase {
  const char* name;
  const char* option;  // nullptr: no channels option
  bool gauges;
  QStringList expected;
};

const NamesCase kNames[] = {
    {"BlanksAndEmptyPartsDropped", " rpm , ,MAP", true, {"MAP", "rpm"}},
    {"RepeatedOnce", "RPM,RPM", false, {"RPM"}},
    {"OnlyBlanksFallToGauges", " , ,", true, {"map", "rpm"}},
    {"NoOptionGaugeChannels", nullptr, true, {"map", "rpm"}},
    {"NoGaugesTheFixedSeven",
     nullptr,
     false,
     {"AFR", "Advance", "CLT", "IAT", "MAP", "RPM", "TPS"}},
    {"EmptyOptionNoGauges", "", false, {"AFR", "Advance", "CLT", "IAT", "MAP", "RPM", "TPS"}},
};

TEST(RequestedChannelsTest, OptionThenFrontPageGaugesThenTheFixedSet) {
  EcuDefinition withGauges;
  GaugeDef g;
  g.Channel = QStringLiteral("rpm");
  withGauges.Gauges.insert(QStringLiteral("tach"), g);
  g.Channel.clear();
  withGauges.Gauges.insert(QStringLiteral("blank"), g);
  g.Channel = QStringLiteral("map");
  withGauges.Gauges.insert(QStringLiteral("mapGauge"), g);
  g.Channel = QStringLiteral("clt");
  withGauges.Gauges.insert(QStringLiteral("notOnFrontPage"), g);
  withGauges.FrontPage.GaugeRefs = {QStringLiteral("tach"), QStringLiteral("blank"),
                                    QStringLiteral("missing"), QStringLiteral("mapGauge")};
  for (const NamesCase& c : kNames) {
    SCOPED_TRACE(c.name);
    CommandOptions options;
    if (c.option != nullptr) {
      options.values.insert(QStringLiteral("channels"), QString::fromLatin1(c.option));
    }
    EXPECT_EQ(sorted(requestedChannels(c.gauges ? withGauges : EcuDefinition(), options)),
              c.expected);
  }
}

// A block of six bytes behind channels named so that sorting ignoring case differs from a plain
// sort; "gamma" is not requested and "nope" is not declared.
class SampleTest : public ::testing::Test {
 protected:
  SampleTest() {
    definition.OchGetCommand = QStringLiteral("A");
    definition.OchBlockSize = 6;
    definition.OutputChannels.insert(QStringLiteral("Zeta"), channel("U08", 0, "kPa"));
    definition.OutputChannels.insert(QStringLiteral("alpha"), channel("S08", 1));
    definition.OutputChannels.insert(QStringLiteral("gamma"), channel("U08", 2, "V"));
    definition.OutputChannels.insert(QStringLiteral("Beta"), channel("U16", 3, "rpm"));
    definition.OutputChannels.insert(QStringLiteral("computed"), channel("F32", 0));
    definition.OutputChannels.find(QStringLiteral("computed"))->Expression = QStringLiteral("1");
  }

  // Runs a sample with one reply per snapshot (an empty one stays silent) and records the data,
  // the requests sent and the milliseconds it took.
  void sample(const char* title, int count, const QList<QByteArray>& blocks) {
    tk::test::LapClock clock;
    tk::test::TimedEcu ecu{clock};
    comms::EcuCommandService service{&ecu, clock};
    for (const QByteArray& block : blocks) {
      ecu.queueTimed(block.isEmpty() ? QList<tk::test::TimedEcu::Piece>{}
                                     : QList<tk::test::TimedEcu::Piece>{{0, okFrame(block)}});
    }
    const QSet<QString> names = {"Zeta", "alpha", "Beta", "nope", "computed"};
    const JsonValue data = sampleChannels(definition, service, count, names);
    text += QByteArray("== ") + title + ": " + QByteArray::number(ecu.writes().size()) +
            " requests, " + QByteArray::number(clock.nowMs()) + " ms\n" + serialize(data) + '\n';
  }

  EcuDefinition definition;
  QByteArray text;
};

TEST_F(SampleTest, ShapesAndPacing) {
  const QByteArray block = QByteArray::fromHex("07ff09e803aa");
  sample("count 1, answered", 1, {block});
  sample("count 1, no answer", 1, {{}});
  sample("count 3, the second unanswered", 3, {block, {}, QByteArray::fromHex("0102030405")});
  sample("count 2, both answered", 2, {block, block});
  sample("count 0", 0, {block});
  sample("count -2", -2, {block});
  EXPECT_TRUE(tk::test::matchesGolden(text, QStringLiteral("cli/live-samples.txt")));
}

struct PathCase {
  const char* output;
  const char* expected;  // relative to the working folder
};

const PathCase kPaths[] = {
    {"run.csv", "run.mlg"},
    {"logs.d/run", "logs.d/run.mlg"},
    {"RUN.MLG", "RUN.MLG"},
    {"run.Mlg", "run.Mlg"},
    {"a.b/c.tar.gz", "a.b/c.tar.mlg"},
    {"dir.x\\run", "dir.x\\run.mlg"},
    {"run.", "run.mlg"},
    {"", ".mlg"},
};

TEST(DatalogPathTest, ExtensionBecomesMlgAndThePathAbsolute) {
  for (const PathCase& c : kPaths) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(datalogPath(QString::fromLatin1(c.output)),
              QDir::current().absoluteFilePath(QString::fromLatin1(c.expected)));
  }
  EXPECT_EQ(datalogPath(QStringLiteral("/var/log.d/run")), QStringLiteral("/var/log.d/run.mlg"));
}

// Without a signal the previous handling comes back; after a signalled stop the process is
// ending, and a second signal (here SIGTERM's default, death) must not cut off its envelope.
TEST(StopSignalsTest, ASignalledStopKeepsFurtherSignalsAway) {
  struct sigaction before {};
  sigaction(SIGTERM, nullptr, &before);
  struct sigaction after {};
  { const StopSignals unused; }
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  {
    StopSignals stop;
    ::raise(SIGTERM);
    EXPECT_TRUE(stop.requested());
    stop.ignore();
  }
  sigaction(SIGTERM, &before, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
}

// Speeduino's computed channels over the simulated controller: the eight front-page gauges,
// coolant and lambda in every reading.
TEST(LiveCorpusTest, ComputedChannelsOverTheSimulatedSpeeduino) {
  if (tk::test::corpusDir().isEmpty()) {
    GTEST_SKIP() << "corpus not found: the real-file tests need ../shared/corpus";
  }
  IniParser parser;  // temperatures in Celsius: coolant is coolantRaw - 40
  parser.setSettingsSource(defaultSettingGroups());
  parser.setGroupSelections(GroupSelections{{"temperatureDisplay", "CELSIUS"}});
  const EcuDefinition d = parser.parse(tk::test::corpusDir() + "/ini/speeduino-202501.ini");
  Tune tune;
  tune.fields.append({QStringLiteral("stoich"), {}, 1, 14.7, {}, {}, {}, {}, {}, {}});
  comms::FakeClock clock{5000};
  sim::SimEcuConnection sim{d};
  sim.setClock(clock);
  sim.open();
  comms::EcuCommandService service{&sim, clock};
  const JsonValue front = sampleChannels(d, service, 1, requestedChannels(d, {}), &tune);
  EXPECT_EQ(front.find(QStringLiteral("channels"))->size(), 8u);
  const JsonValue data =
      sampleChannels(d, service, 5, {"coolant", "coolantRaw", "afr", "lambda"}, &tune);
  ASSERT_EQ(data.find(QStringLiteral("readCount"))->toInt(), 5);
  for (const JsonValue& r : data.find(QStringLiteral("readings"))->elements()) {
    const auto at = [&r](const char* name) { return r.find(QLatin1String(name))->toDouble(); };
    EXPECT_EQ(at("coolant"), at("coolantRaw") - 40);
    EXPECT_DOUBLE_EQ(at("lambda"), at("afr") / 14.7);
  }
}

// The commands' own checks, the link's errors and what happens without a fetch, through the
// runner.
TEST(LiveCommandsTest, ChecksAndRunsWithoutFetching) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  CommandTranscript transcript;
  transcript.define(QStringLiteral("<project>"),
                    tk::test::makeProject(dir.filePath(QStringLiteral("live"))));
  transcript.define(QStringLiteral("<bare>"),
                    tk::test::makeProject(dir.filePath(QStringLiteral("bare")),
                                          tk::test::dataPath(QStringLiteral("tunefields.ini"))));
  transcript.define(QStringLiteral("<tmp>"), dir.path());
  transcript.runScript("live-commands.cmds");
  EXPECT_TRUE(transcript.matches("live-commands.txt"));
}

}  // namespace
}  // namespace tk::cli::test
