// VE tuning in a closed loop, in-process on one fake clock: the simulated engine's true VE is
// 12 % off its tune's; its drive is recorded as datalog records it, analysed and corrected as
// ve-analyze --apply does, twice. The mixture error must fall at every pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

#include "cli/live_commands.h"
#include "comms/datalog_recorder.h"
#include "comms/ecu_command_service.h"
#include "definition/ini_parser.h"
#include "expr/computed_channels.h"
#include "sim/sim_ecu_connection.h"
#include "support/sim_process.h"
#include "tune/batch_edits.h"
#include "tune/field_codec.h"
#include "tune/fuel_analysis_report.h"
#include "tune/fuel_analysis_setup.h"

namespace tk::sim {
namespace {

const EcuDefinition& demo() {
  static const EcuDefinition d = IniParser().parse(tk::test::demoIni());
  return d;
}

class ClosedLoopTest : public ::testing::Test {
 protected:
  // A tune as a tuner would start it: the engine's VE by a rule of thumb, a richer target at
  // high load, open loop; the engine warms up for five minutes.
  ClosedLoopTest() {
    editor.beginDeferredEdits();
    for (int i = 0; i < 16; ++i) {
      editor.setValue("rpmBins", i, 500 + 400 * i);
      editor.setValue("fuelLoadBins", i, 20 + 6 * i);
    }
    for (int i = 0; i < 8; ++i) {
      editor.setValue("rpmBinsAFR", i, 500 + 900 * i);
      editor.setValue("loadBinsAFR", i, 20 + 12 * i);
    }
    for (int cell = 0; cell < 256; ++cell) {
      const double rpm = editor.getValue("rpmBins", cell % 16);
      const double load = editor.getValue("fuelLoadBins", cell / 16);
      editor.setValue("veTable", cell, 35 + 50 * load / 100 * (1 - std::pow(rpm / 9000 - 0.5, 2)));
    }
    for (int cell = 0; cell < 64; ++cell) {
      const double load = editor.getValue("loadBinsAFR", cell / 8);
      editor.setValue("afrTable", cell, load < 60 ? 14.7 : 14.7 - 2 * (load - 60) / 40);
    }
    editor.endDeferredEdits();
    sim.setClock(clock);
    sim.open();
    load();
    EXPECT_TRUE(sim.setVeError(SimVeError(12.0)));
    clock.advance(300000);
  }

  void load() {
    const PageImages images = editor.pageImages();
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
      sim.loadPage(it.key() - 1, it.value());
    }
  }

  // Records 120 s (three laps of the drive) with closed loop on or off; the mean over visited
  // VE cells (nearest bin) of the mean |AFR - target| of warm records at a steady operating
  // point, where the VE table and not a transient sets the mixture.
  double record(bool closedLoop) {
    editor.setValue("egoType", 0, closedLoop ? 2 : 0);
    load();
    log = {};
    const std::unique_ptr<expr::ComputedChannels> computed =
        cli::computedChannels(demo(), editor.tune());
    comms::DatalogRecording recording;
    recording.durationMs = 120000;
    recording.stopRequested = [] { return false; };
    recording.complete = [&computed](const comms::ChannelValues& v) {
      return computed->complete(v);
    };
    recording.record = [this](double t, const comms::ChannelValues& channels) {
      if (log.columns.isEmpty()) {
        for (const auto& channel : channels) {
          log.columns.append(channel.first);
        }
      }
      for (const auto& channel : channels) {
        values.push_back(channel.second);
      }
      times.push_back(t);
    };
    values.clear();
    times.clear();
    comms::recordDatalog(demo(), service, recording);
    const auto column = [this](const char* name) {
      return log.columns.indexOf(QLatin1String(name));
    };
    const auto width = log.columns.size();
    std::map<std::pair<int, int>, std::pair<double, int>> cells;
    const auto at = [&](std::size_t r, const char* name) {
      return values[r * static_cast<std::size_t>(width) + static_cast<std::size_t>(column(name))];
    };
    // Steady: fuelled for the last half second, rpm and load nearly where they were then.
    std::size_t fuelledSince = 0;
    for (std::size_t r = 0; r < times.size(); ++r) {
      const double* v = values.data() + r * static_cast<std::size_t>(width);
      if (v[column("pulseWidth")] == 0) {
        fuelledSince = r + 1;
      }
      const std::size_t back = r >= 25 ? r - 25 : 0;
      if (v[column("coolant")] < 71 || back < fuelledSince || r < 25 ||
          std::abs(at(back, "map") - v[column("map")]) > 3 ||
          std::abs(at(back, "rpm") - v[column("rpm")]) > 150) {
        continue;
      }
      const auto bin = [](double value, double first, double step) {
        return std::clamp(static_cast<int>(std::lround((value - first) / step)), 0, 15);
      };
      const std::pair<int, int> cell{bin(v[column("rpm")], 500, 400), bin(v[column("map")], 20, 6)};
      cells[cell].first += std::abs(v[column("afr")] - v[column("afrTarget")]);
      ++cells[cell].second;
    }
    double sum = 0;
    for (const auto& [cell, total] : cells) {
      sum += total.first / total.second;
    }
    return sum / static_cast<double>(cells.size());
  }

  // Analyses the last recording and applies the proposals; the cells' weights.
  std::vector<double> analyseAndApply() {
    AnalysisSetup setup = veAnalysisSetup(editor, {});
    setup.lagSeconds = 0.1;  // --lag-ms 100: the wideband lags the mixture by about that
    FuelAnalysis analysis(setup);
    log.name = QStringLiteral("drive");
    log.values = values;
    log.times = times;
    log.labelOf = [](const QString&) { return QString(); };
    analysis.addLog(log);
    const QList<BatchEdit> edits = proposalEdits(
        analysis, proposeCorrections(analysis, proposalLimits(editor, analysis.setup(), 5, 15)));
    EXPECT_FALSE(edits.isEmpty());
    for (qsizetype i = 0; i < edits.size(); i += kMaxBatchEdits) {
      EXPECT_EQ(applyBatchEdits(editor, edits.mid(i, kMaxBatchEdits), true), QString());
    }
    return analysis.weights();
  }

  comms::FakeClock clock;
  SimEcuConnection sim{demo()};
  comms::EcuCommandService service{&sim, clock};
  TuneEditor editor{demo(), newTune(demo())};
  AnalysisLog log;
  std::vector<double> values;
  std::vector<double> times;
};

TEST_F(ClosedLoopTest, TwoPassesOfAnalysisCorrectTheVisitedCells) {
  const QList<double> start = *editor.tune()->find("veTable")->arrayValues;
  const double before = record(false);
  // The EGO correction pulls the mixture towards the target; the analysis sees through it.
  const double withEgo = record(true);
  EXPECT_LT(withEgo, before * 0.7);
  std::vector<double> weights = analyseAndApply();
  const double afterFirst = record(false);
  const std::vector<double> second = analyseAndApply();
  const double afterSecond = record(false);
  std::cout << "mean |AFR - target| over visited cells: " << before << " before, " << withEgo
            << " with EGO, " << afterFirst << " after pass 1, " << afterSecond << " after pass 2\n";
  EXPECT_LE(afterFirst, before / 2);
  // The second pass stays at the floor that the sensor's noise and resolution and the table's
  // whole-percent steps leave (about 0.18 AFR); it does not reliably go below the first.
  EXPECT_LE(afterSecond, before / 2);

  const QList<double> end = *editor.tune()->find("veTable")->arrayValues;
  int changed = 0;
  for (std::size_t cell = 0; cell < weights.size(); ++cell) {
    const auto i = static_cast<qsizetype>(cell);
    changed += end[i] != start[i] ? 1 : 0;
    if (weights[cell] + second[cell] == 0) {
      EXPECT_EQ(end[i], start[i]) << "cell " << cell << " was never visited";
    }
  }
  EXPECT_GT(changed, 10);
}

// The pattern stays within its percentage, reaches well into it, and its seed picks it.
TEST(SimVeErrorTest, BoundedAndPickedBySeed) {
  const SimVeError pattern(12.0);
  double reach = 0;
  for (int rpm = 0; rpm <= 7000; rpm += 250) {
    for (int load = 0; load <= 110; load += 5) {
      EXPECT_LE(std::abs(pattern.at(rpm, load)), 12.0);
      reach = std::max(reach, std::abs(pattern.at(rpm, load)));
    }
  }
  EXPECT_GT(reach, 6.0);
  EXPECT_EQ(pattern.at(3000, 60), SimVeError(12.0, SimVeError::kDefaultSeed).at(3000, 60));
  EXPECT_NE(pattern.at(3000, 60), SimVeError(12.0, 28).at(3000, 60));
}

}  // namespace
}  // namespace tk::sim
