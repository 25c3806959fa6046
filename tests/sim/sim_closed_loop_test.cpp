// VE tuning in a closed loop, in-process on one fake clock: the simulated engine's true VE is
// 12 % off its tune's; its drive is recorded as datalog records it, then analysed and corrected
// as ve-analyze --lag-ms 100 --apply does, twice.

#include <gtest/gtest.h>

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

struct ClosedLoop {
  comms::FakeClock clock;
  SimEcuConnection sim{demo()};
  comms::EcuCommandService service{&sim, clock};
  TuneEditor editor{demo(), newTune(demo())};
  QStringList columns;
  std::vector<double> values;
  std::vector<double> times;

  void load() {
    const PageImages images = editor.pageImages();
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
      sim.loadPage(it.key() - 1, it.value());
    }
  }

  // Records three laps of the drive; the mean over visited VE cells (nearest bins 400 rpm and
  // 6 kPa apart) of |AFR - target| in warm records at a steady operating point: fuelled, rpm
  // and load nearly as half a second before.
  double record(bool closedLoop) {
    editor.setValue("egoType", 0, closedLoop ? 2 : 0);
    load();
    const std::unique_ptr<expr::ComputedChannels> computed = cli::computedChannels(demo(), nullptr);
    values.clear();
    times.clear();
    comms::DatalogRecording recording;
    recording.durationMs = 120000;
    recording.stopRequested = [] { return false; };
    recording.complete = [&computed](const comms::ChannelValues& v) {
      return computed->complete(v);
    };
    recording.record = [this](double t, const comms::ChannelValues& channels) {
      columns.clear();
      for (const auto& [name, value] : channels) {
        columns.append(name);
        values.push_back(value);
      }
      times.push_back(t);
    };
    comms::recordDatalog(demo(), service, recording);
    const auto at = [this](std::size_t r, const char* name) {
      return values[r * static_cast<std::size_t>(columns.size()) +
                    static_cast<std::size_t>(columns.indexOf(QLatin1String(name)))];
    };
    std::map<std::pair<long, long>, std::pair<double, int>> cells;
    for (std::size_t r = 25, fuelledSince = 0; r < times.size(); ++r) {
      fuelledSince = at(r - 25, "pulseWidth") == 0 ? r - 24 : fuelledSince;
      if (at(r, "coolant") >= 71 && r >= fuelledSince && at(r, "pulseWidth") > 0 &&
          std::abs(at(r, "map") - at(r - 25, "map")) < 3 &&
          std::abs(at(r, "rpm") - at(r - 25, "rpm")) < 150) {
        auto& cell = cells[{std::lround(at(r, "rpm") / 400), std::lround(at(r, "map") / 6)}];
        cell.first += std::abs(at(r, "afr") - at(r, "afrTarget"));
        ++cell.second;
      }
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
    setup.lagSeconds = 0.1;  // the wideband lags the mixture by about that
    FuelAnalysis analysis(setup);
    analysis.addLog(
        {"drive", columns, values, times, {}, {}, [](const QString&) { return QString(); }});
    const QList<BatchEdit> edits =
        proposalEdits(analysis, proposeCorrections(analysis, proposalLimits(editor, setup, 5, 15)));
    for (qsizetype i = 0; i < edits.size(); i += kMaxBatchEdits) {
      EXPECT_EQ(applyBatchEdits(editor, edits.mid(i, kMaxBatchEdits), true), QString());
    }
    return analysis.weights();
  }
};

TEST(ClosedLoopTest, TwoPassesOfAnalysisCorrectTheVisitedCells) {
  ClosedLoop loop;
  TuneEditor& editor = loop.editor;
  // A tune by rules of thumb: VE rising with load, a richer target at high load.
  editor.beginDeferredEdits();
  for (int i = 0; i < 256; ++i) {
    editor.setValue("rpmBins", i % 16, 500 + 400 * (i % 16));
    editor.setValue("fuelLoadBins", i % 16, 20 + 6 * (i % 16));
    editor.setValue("veTable", i,
                    35 + 0.5 * (20 + 6 * (i / 16)) * (1 - std::pow(i % 16 / 20.0 - 0.4, 2)));
    editor.setValue("rpmBinsAFR", i % 8, 500 + 900 * (i % 8));
    editor.setValue("loadBinsAFR", i % 8, 20 + 12 * (i % 8));
    editor.setValue("afrTable", i % 64, 14.7 - std::max(0, 12 * (i % 64 / 8) - 40) / 20.0);
  }
  editor.endDeferredEdits();
  loop.sim.setClock(loop.clock);
  loop.sim.open();
  loop.load();
  ASSERT_TRUE(loop.sim.setVeError(SimVeError(12.0)));
  loop.clock.advance(300000);  // warming up

  const QList<double> start = *editor.tune()->find("veTable")->arrayValues;
  const double before = loop.record(false);
  // The EGO correction pulls the mixture towards the target; the analysis sees through it.
  const double withEgo = loop.record(true);
  const std::vector<double> first = loop.analyseAndApply();
  const double afterFirst = loop.record(false);
  const std::vector<double> second = loop.analyseAndApply();
  const double afterSecond = loop.record(false);
  std::cout << "mean |AFR - target| over visited cells: " << before << " before, " << withEgo
            << " with EGO, " << afterFirst << " after pass 1, " << afterSecond << " after pass 2\n";
  EXPECT_LT(withEgo, before * 0.7);
  EXPECT_LE(afterFirst, before / 2);
  EXPECT_LT(afterSecond, afterFirst);
  const QList<double> end = *editor.tune()->find("veTable")->arrayValues;
  int changed = 0;
  for (qsizetype cell = 0; cell < end.size(); ++cell) {
    changed += end[cell] != start[cell] ? 1 : 0;
    const auto i = static_cast<std::size_t>(cell);
    EXPECT_TRUE(first[i] + second[i] > 0 || end[cell] == start[cell]) << "unvisited " << cell;
  }
  EXPECT_GT(changed, 10);
}

}  // namespace
}  // namespace tk::sim
