#include "dashboard/chart_data.h"

#include <gtest/gtest.h>

#include "formats/mlg_reader.h"
#include "support/test_support.h"

namespace tk {
namespace {

TEST(ChartDataTest, TicksAreRoundStepsInsideTheRange) {
  EXPECT_EQ(niceTicks(0.0, 7000.0, 4), (std::vector<double>{0, 2000, 4000, 6000}));
  EXPECT_EQ(niceTicks(-25.0, 25.0, 4), (std::vector<double>{-20, 0, 20}));
  EXPECT_EQ(niceTicks(12.5, 13.5, 2), (std::vector<double>{12.5, 13.0, 13.5}));
  EXPECT_EQ(niceTicks(5.0, 5.0, 4), (std::vector<double>{5.0, 5.0}));
}

TEST(ChartDataTest, TimeChartKeepsTheRecordsAndMarkersOfItsSpan) {
  const MlgLog log = readMlgFile(test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg")));
  const TimeChart all = timeChartOf(log, {QStringLiteral("clt"), QStringLiteral("TPS")}, {}, {});
  ASSERT_EQ(all.series.size(), 2u);
  EXPECT_EQ(all.series[0].name, QStringLiteral("CLT"));
  EXPECT_NEAR(all.series[0].values[0], 16.0, 1e-5);  // stored 200: (200 - 40) x 0.1 degrees
  EXPECT_EQ(all.times.size(), log.records.size());
  EXPECT_EQ(all.markers.size(), log.markers.size());
  const double from = log.records[1].absoluteTimestamp;
  const double to = log.records[3].absoluteTimestamp;
  const TimeChart span = timeChartOf(log, {QStringLiteral("TPS")}, from, to);
  EXPECT_EQ(span.times, (std::vector<double>{from, log.records[2].absoluteTimestamp, to}));
  EXPECT_EQ(span.series[0].values.size(), 3u);
  EXPECT_EQ(
      test::thrownMessage<ChartError>([&] { timeChartOf(log, {QStringLiteral("x")}, {}, {}); }),
      QStringLiteral("Channel 'x' not found in log"));
}

}  // namespace
}  // namespace tk
