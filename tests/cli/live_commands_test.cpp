// The live-data commands' rules on a fake clock: requested names, the two result shapes and
// their pacing, datalog file names and fields, and the recording loop against the simulated
// controller in-process, whose engine runs on the same clock.

#include "cli/live_commands.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cmath>

#include "cli/command_transcript.h"
#include "comms/comms_fakes.h"
#include "definition/default_setting_groups.h"
#include "definition/ini_parser.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"
#include "json/json_writer.h"
#include "sim/sim_ecu_connection.h"
#include "sim/sim_engine.h"
#include "support/sim_process.h"
#include "tune/tune_value.h"

namespace tk::cli::test {
namespace {

using tk::test::okFrame;
using tk::test::servedAt;

ConstantDef channel(const char* dataType, int offset, const char* units = "") {
  ConstantDef c;
  c.DataType = QString::fromLatin1(dataType);
  c.Offset = offset;
  c.Units = QString::fromLatin1(units);
  return c;
}

const EcuDefinition& demoDefinition() {
  static const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  return d;
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

// One entry per line of the case file; each field's type, units and digits go to the golden file.
TEST(DatalogFieldsTest, OneFieldPerEntryFromItsTypeFormatAndChannel) {
  static const char* const kTypes[] = {"U08", "S08", "U16", "S16", "U32", "S32", "S64", "F32"};
  EcuDefinition definition;
  definition.OutputChannels.insert(QStringLiteral("rpm"), channel("U16", 0, "rpm"));
  const QStringList lines = tk::test::caseLines(QStringLiteral("cli/datalog-fields.cases"));
  for (const QString& line : lines) {
    const QStringList parts = line.split(u'|');
    definition.DatalogEntries.append({parts.value(0),
                                      QStringLiteral("Label"),
                                      parts.value(1),
                                      parts.value(2),
                                      QStringLiteral("Engine"),
                                      {},
                                      {}});
  }
  const std::vector<MlgField> fields = datalogFields(definition);
  ASSERT_EQ(fields.size(), static_cast<std::size_t>(lines.size()));
  QByteArray text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const MlgField& f = fields[i];
    text += lines[static_cast<qsizetype>(i)].toUtf8() + " -> " +
            (f.dataType < std::size(kTypes) ? kTypes[f.dataType] : "?") + ' ' + f.units.toUtf8() +
            ' ' + QByteArray::number(f.digits) + '\n';
    EXPECT_EQ(f.name, QStringLiteral("Label"));
    EXPECT_EQ(f.category, QStringLiteral("Datalog"));
    EXPECT_EQ(f.scale, 1.0f);
    EXPECT_EQ(f.transform, 0.0f);
  }
  EXPECT_TRUE(tk::test::matchesGolden(text, QStringLiteral("cli/datalog-fields.txt")));
}

// The loop against the simulated controller on one fake clock: the engine's time is the log's
// time, so every record must hold the block the engine served at that moment.
class RecordTest : public ::testing::Test {
 protected:
  RecordTest() {
    sim.setClock(clock);
    sim.open();
  }

  MlgLog record(
      qint64 durationMs, const std::function<bool()>& stop = [] { return false; }) {
    MlgWriter writer(datalogFields(demoDefinition()));
    writer.writeHeader(0, QStringLiteral("test"));
    run = recordDatalog(demoDefinition(), service, writer, durationMs, stop);
    return parseMlg(writer.bytes());
  }

  comms::FakeClock clock{5000};
  comms::SimEcuConnection sim{demoDefinition()};
  comms::EcuCommandService service{&sim, clock};
  DatalogRun run;
};

TEST_F(RecordTest, EveryRecordHoldsWhatTheEngineServedAtItsTime) {
  // Long enough for the 10 us clock to wrap at 655.36 ms.
  const MlgLog log = record(1000);
  ASSERT_EQ(run.records, 50);
  EXPECT_EQ(run.startMs, 5000);
  EXPECT_EQ(run.elapsedMs, 1000);
  ASSERT_EQ(log.records.size(), 50u);
  comms::SimEngine engine;
  double rpmLow = 1e9;
  double rpmHigh = 0;
  for (std::size_t r = 0; r < log.records.size(); ++r) {
    const double t = 0.02 * static_cast<double>(r);
    // Seconds times 100000, truncated: 0.58 s is 57999 units, as a double falls just short.
    EXPECT_NEAR(log.records[r].timestampRaw, (2000 * r) % 65536, 1) << r;
    const QHash<QString, double> byName = tk::test::servedAt(demoDefinition(), engine, t);
    const std::span<const double> values = log.recordValues(r);
    for (std::size_t f = 0; f < log.fields.size(); ++f) {
      const QString& name =
          demoDefinition().DatalogEntries.at(static_cast<qsizetype>(f)).ChannelName;
      const double expected = byName.value(name, 0.0);
      // Integer fields keep the whole part; float fields single precision.
      const double stored = log.fields[f].dataType == static_cast<std::uint8_t>(MlgDataType::F32)
                                ? static_cast<float>(expected)
                                : std::trunc(expected);
      EXPECT_EQ(values[f], stored) << "record " << r << " " << name.toStdString();
    }
    rpmLow = std::min(rpmLow, byName.value(QStringLiteral("rpm")));
    rpmHigh = std::max(rpmHigh, byName.value(QStringLiteral("rpm")));
  }
  EXPECT_EQ(log.records[29].timestampRaw, 57999);
  EXPECT_EQ(log.records[33].timestampRaw, 66000 - 65536);
  EXPECT_GT(rpmHigh - rpmLow, 10.0);  // the engine was cranking: the values moved
}

TEST_F(RecordTest, StopEndsTheLoopAtOnceWithTheRecordsSoFar) {
  const MlgLog log = record(30000, [this] { return clock.nowMs() >= 5200; });
  EXPECT_EQ(run.records, 10);
  EXPECT_EQ(run.elapsedMs, 200);
  EXPECT_EQ(log.records.size(), 10u);
  // A stop during the first exchange: that record is kept and no pause follows.
  int asked = 0;
  const MlgLog stopped = record(30000, [&asked] { return ++asked > 1; });
  EXPECT_EQ(run.records, 1);
  EXPECT_EQ(run.elapsedMs, 0);
  EXPECT_EQ(stopped.records.size(), 1u);
}

TEST_F(RecordTest, SilentControllerRunsTheWholeDurationWithoutRecords) {
  sim.close();
  const MlgLog log = record(5000);
  EXPECT_EQ(run.records, 0);
  EXPECT_GE(run.elapsedMs, 5000);
  EXPECT_TRUE(log.records.empty());
  EXPECT_EQ(log.fields.size(), 18u);
}

// The log's own time and a channel the definition does not declare.
TEST(RecordEntriesTest, TimeEntryHoldsSecondsAndAnUndeclaredChannelZero) {
  EcuDefinition definition;
  definition.OchGetCommand = QStringLiteral("A");
  definition.OchBlockSize = 1;
  definition.OutputChannels.insert(QStringLiteral("rpm"), channel("U08", 0));
  for (const char* name : {"time", "ghost", "rpm"}) {
    definition.DatalogEntries.append({QString::fromLatin1(name),
                                      QString::fromLatin1(name),
                                      QStringLiteral("float"),
                                      QStringLiteral("%.3f"),
                                      {},
                                      {},
                                      {}});
  }
  tk::test::LapClock clock;
  tk::test::TimedEcu ecu{clock};
  comms::EcuCommandService service{&ecu, clock};
  ecu.queueTimed({{7, okFrame(QByteArray(1, '\x21'))}});
  ecu.queueTimed({});
  ecu.queueTimed({{3, okFrame(QByteArray(1, '\x22'))}});
  MlgWriter writer(datalogFields(definition));
  writer.writeHeader(0, {});
  const DatalogRun run = recordDatalog(definition, service, writer, 100, [] { return false; });
  const MlgLog log = parseMlg(writer.bytes());
  // 7 ms exchange, 20 ms pause; 2000 ms timeout and its drain (50 ms, then a read that finds
  // nothing in 100 ms), 20 ms pause; the duration has passed.
  ASSERT_EQ(run.records, 1);
  EXPECT_EQ(run.elapsedMs, 7 + 20 + 2150 + 20);
  ASSERT_EQ(log.records.size(), 1u);
  EXPECT_EQ(log.records[0].timestampRaw, 700);
  const std::vector<double> expected{0.007f, 0.0, 33.0};
  EXPECT_EQ(std::vector<double>(log.recordValues(0).begin(), log.recordValues(0).end()), expected);
}

// Speeduino's computed channels over the simulated controller: the eight front-page gauges,
// coolant and lambda in every reading, and the datalog's CLT column.
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
  comms::SimEcuConnection sim{d};
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
  MlgWriter writer(datalogFields(d));
  writer.writeHeader(0, {});
  comms::SimEngine engine;
  const double start = static_cast<double>(clock.nowMs() - 5000) / 1000.0;
  recordDatalog(
      d, service, writer, 200, [] { return false; }, &tune);
  const MlgLog log = parseMlg(writer.bytes());
  const std::size_t clt = 9;  // the datalog's "CLT" column
  ASSERT_EQ(log.fields.at(clt).name, QStringLiteral("CLT"));
  ASSERT_EQ(log.records.size(), 10u);
  for (std::size_t r = 0; r < log.records.size(); ++r) {
    const double t = start + 0.02 * static_cast<double>(r);
    EXPECT_EQ(log.recordValues(r)[clt], servedAt(d, engine, t).value("coolantRaw") - 40) << r;
  }
}

// The commands' own checks, the link's errors and what happens without a fetch, through the
// runner; a datalog of no duration writes a header-only file.
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

  const QString output = dir.filePath(QStringLiteral("zero/run.log"));
  CommandResult result;
  const tk::test::Captured captured = tk::test::captureStdio(
      [&] { result = transcript.run("datalog -p <project> --duration 0 --output " + output); });
  const QString file = dir.filePath(QStringLiteral("zero/run.mlg"));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(captured.err.startsWith("[CLI] Datalogging for 0s to " + file.toUtf8() +
                                      "...\n[CLI] Datalog complete: 0 records in 0."))
      << captured.err.toStdString();
  const MlgLog log = readMlgFile(file);
  EXPECT_TRUE(log.records.empty());
  EXPECT_EQ(log.fields.size(), 18u);
  EXPECT_EQ(log.fields[1].name, QStringLiteral("RPM"));
  EXPECT_EQ(log.fields[1].units, QStringLiteral("rpm"));
}

}  // namespace
}  // namespace tk::cli::test
