// The datalog loop on one fake clock against the simulated controller, whose engine runs on the
// same clock: every record holds the block the engine served at the record's time.

#include "comms/datalog_recorder.h"

#include <gtest/gtest.h>

#include "comms/comms_fakes.h"
#include "comms/ecu_command_service.h"
#include "definition/ini_parser.h"
#include "sim/sim_ecu_connection.h"
#include "sim/sim_engine.h"
#include "support/sim_process.h"

namespace tk::comms {
namespace {

using sim::SimEcuConnection;
using sim::SimEngine;

const EcuDefinition& demoDefinition() {
  static const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  return d;
}

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() {
    sim.setClock(clock);
    sim.open();
  }

  // Records for durationMs; each record's seconds and channels are kept.
  void record(
      qint64 durationMs, const std::function<bool()>& stop = [] { return false; }) {
    seconds.clear();
    records.clear();
    DatalogRecording recording;
    recording.durationMs = durationMs;
    recording.stopRequested = stop;
    recording.record = [this](double t, const ChannelValues& channels) {
      seconds.append(t);
      records.append(channels);
    };
    run = recordDatalog(demoDefinition(), service, recording);
  }

  FakeClock clock{5000};
  SimEcuConnection sim{demoDefinition()};
  EcuCommandService service{&sim, clock};
  DatalogRun run;
  QList<double> seconds;
  QList<ChannelValues> records;
};

TEST_F(RecorderTest, EveryRecordHoldsWhatTheEngineServedAtItsTime) {
  record(1000);
  ASSERT_EQ(run.records, 50);
  EXPECT_EQ(run.startMs, 5000);
  EXPECT_EQ(clock.nowMs(), 6000);
  ASSERT_EQ(records.size(), 50);
  SimEngine engine;
  for (qsizetype r = 0; r < records.size(); ++r) {
    EXPECT_DOUBLE_EQ(seconds.at(r), 0.02 * static_cast<double>(r));
    const QHash<QString, double> served = tk::test::servedAt(demoDefinition(), engine, seconds[r]);
    for (const auto& [name, value] : records.at(r)) {
      EXPECT_EQ(value, served.value(name)) << r << " " << name.toStdString();
    }
  }
  EXPECT_NE(records.first(), records.last());  // the engine was cranking: the values moved
}

// A stop ends the loop at once with the records so far; one during the first exchange keeps
// that record and skips the pause. A silent controller runs the whole duration without records.
TEST_F(RecorderTest, StopAndSilence) {
  record(30000, [this] { return clock.nowMs() >= 5200; });
  EXPECT_EQ(run.records, 10);
  EXPECT_EQ(clock.nowMs(), 5200);
  int asked = 0;
  const qint64 before = clock.nowMs();
  record(30000, [&asked] { return ++asked > 1; });
  EXPECT_EQ(run.records, 1);
  EXPECT_EQ(clock.nowMs(), before);
  sim.close();
  record(5000);
  EXPECT_EQ(run.records, 0);
  EXPECT_TRUE(records.isEmpty());
  EXPECT_GE(clock.nowMs() - run.startMs, 5000);
}

// Exchanges and timeouts count into the recording's time: 7 ms exchange and 20 ms pause, then a
// 2000 ms timeout with its drain (50 ms, then a read that finds nothing in 100 ms) and a pause;
// the duration has passed. The completion adds its channels after the declared ones.
TEST(RecorderTimingTest, TimeoutsCountAndCompletionAddsChannels) {
  EcuDefinition definition;
  definition.OchGetCommand = QStringLiteral("A");
  definition.OchBlockSize = 1;
  ConstantDef rpm;
  rpm.DataType = QStringLiteral("U08");
  definition.OutputChannels.insert(QStringLiteral("rpm"), rpm);
  tk::test::LapClock clock;
  tk::test::TimedEcu ecu{clock};
  EcuCommandService service{&ecu, clock};
  ecu.queueTimed({{7, tk::test::okFrame(QByteArray(1, '\x21'))}});
  ecu.queueTimed({});
  ecu.queueTimed({{3, tk::test::okFrame(QByteArray(1, '\x22'))}});
  QList<std::pair<double, ChannelValues>> records;
  DatalogRecording recording;
  recording.durationMs = 100;
  recording.complete = [](ChannelValues values) {
    values.append({QStringLiteral("twice"), values.value(0).second * 2});
    return values;
  };
  recording.record = [&records](double t, const ChannelValues& c) { records.append({t, c}); };
  const DatalogRun run = recordDatalog(definition, service, recording);
  ASSERT_EQ(run.records, 1);
  EXPECT_EQ(clock.nowMs() - run.startMs, 7 + 20 + 2150 + 20);
  ASSERT_EQ(records.size(), 1);
  EXPECT_DOUBLE_EQ(records[0].first, 0.007);
  EXPECT_EQ(records[0].second, (ChannelValues{{"rpm", 33.0}, {"twice", 66.0}}));
}

}  // namespace
}  // namespace tk::comms
