#include "tune/fuel_analysis.h"

#include <gtest/gtest.h>

#include <cmath>

#include "json/json_writer.h"
#include "support/test_support.h"
#include "tune/field_codec.h"
#include "tune/fuel_analysis_report.h"
#include "tune/fuel_analysis_setup.h"
#include "tune_test_helpers.h"

namespace tk {
namespace {

// Columns of the synthetic logs: log labels for rpm, map and coolant, channel names otherwise.
const QStringList kColumns = {"RPM", "MAP", "afr", "ego", "CLT", "engine", "pw"};

// A 2 x 2 VE table (rpm 1000/3000 by load 20/100) with an AFR target of 14 everywhere, the
// definition filters of a Speeduino ([VeAnalyze]) and every built-in filter.
AnalysisSetup setup() {
  AnalysisSetup s;
  s.tableId = QStringLiteral("ve");
  s.constantName = QStringLiteral("veTable");
  s.table = {{1000, 3000}, {20, 100}, {50, 60, 70, 80}};
  s.target = {{1000, 3000}, {20, 100}, {14, 14, 14, 14}};
  s.xChannel = s.targetXChannel = QStringLiteral("rpm");
  s.yChannel = s.targetYChannel = QStringLiteral("map");
  s.measuredChannel = QStringLiteral("afr");
  s.egoChannel = QStringLiteral("ego");
  s.filters = {{"minCltFilter", "coolant", FilterOperator::Less, 70},
               {"accelFilter", "engine", FilterOperator::BitsSet, 16},
               {"overrunFilter", "pw", FilterOperator::Equal, 0}};
  return s;
}

QString label(const QString& channel) {
  return channel == QLatin1String("coolant") ? QStringLiteral("CLT") : channel.toUpper();
}

// Feeds rows (rpm, map, afr, ego, clt, engine, pw) 0.1 s apart.
void feed(FuelAnalysis& analysis, const std::vector<std::vector<double>>& rows) {
  std::vector<double> values;
  std::vector<double> times;
  for (const auto& row : rows) {
    values.insert(values.end(), row.begin(), row.end());
    times.push_back(0.1 * static_cast<double>(times.size()));
  }
  analysis.addLog({"log", kColumns, values, times, {}, {}, label});
}

TEST(FuelAnalysisTest, FiltersSpreadsAndProposesWithinLimits) {
  FuelAnalysis analysis(setup());
  feed(analysis, {
                     {1000, 20, 15.4, 100, 80, 0, 3},   // lean by 10 %: all on cell (0, 0)
                     {2000, 60, 14.0, 110, 80, 0, 3},   // EGO adds 10 %: a quarter on each cell
                     {2000, 60, 14.0, 100, 60, 0, 3},   // coolant below 70
                     {2000, 60, 14.0, 100, 80, 17, 3},  // accel flag (16) set
                     {2000, 60, 14.0, 100, 80, 0, 0},   // overrun
                     {500, 60, 14.0, 100, 80, 0, 3},    // below the rpm axis
                     {2000, 110, 14.0, 100, 80, 0, 3},  // above the load axis
                     {2000, 60, 30.0, 100, 80, 0, 3},   // a wideband at its lean end
                 });
  EXPECT_EQ(analysis.counts().read, 8);
  EXPECT_EQ(analysis.counts().kept, 2);

  ProposalLimits limits;
  limits.minWeight = 1.0;
  limits.maxChangePercent = 5.0;
  limits.minimum = 0;
  limits.maximum = 255;
  limits.quantum = 1.0;
  limits.quantize = [](double v) { return std::round(v); };
  const std::vector<CellProposal> proposals = proposeCorrections(analysis, limits);
  ASSERT_EQ(proposals.size(), 4U);
  EXPECT_DOUBLE_EQ(proposals[0].cell.weight, 1.25);
  EXPECT_NEAR(proposals[0].cell.meanFactor, 1.1, 1e-12);
  // 55 is limited to 52.5, which rounds to 53, past the limit: one step back.
  EXPECT_EQ(proposals[0].proposed, 52.0);
  EXPECT_FALSE(proposals[3].proposed.has_value());  // weight 0.25 < 1

  EXPECT_TRUE(test::matchesGolden(serialize(analysisReport(analysis, proposals, false)),
                                  "tune/fuel-analysis-report.json"));
  EXPECT_TRUE(test::matchesGolden(serialize(analysisReport(analysis, proposals, true)),
                                  "tune/fuel-analysis-grids.json"));
  const QList<BatchEdit> edits = proposalEdits(analysis, proposals);
  ASSERT_EQ(edits.size(), 1);
  EXPECT_EQ(edits.at(0), (BatchEdit{"veTable", 0, 50.0, 52.0}));
}

TEST(FuelAnalysisTest, LagPairsLaterMeasurementAndCustomFilterExcludes) {
  AnalysisSetup s = setup();
  s.lagSeconds = 0.1;
  s.custom = [](const QStringList& columns) {
    const auto map = columns.indexOf(QStringLiteral("MAP"));
    return [map](std::span<const double> v) { return v[static_cast<std::size_t>(map)] < 90; };
  };
  FuelAnalysis analysis(s);
  feed(analysis, {{1000, 20, 14.0, 100, 80, 0, 3},
                  {1000, 95, 14.0, 100, 80, 0, 3},  // excluded by the custom filter
                  {1000, 20, 15.4, 100, 80, 0, 3},
                  {1000, 20, 16.8, 100, 80, 0, 3}});
  const AnalysisCounts& counts = analysis.counts();
  EXPECT_EQ(counts.excluded[static_cast<std::size_t>(counts.filterNames.indexOf("std_Custom"))], 1);
  // The last record has no measurement 0.1 s later.
  EXPECT_EQ(counts.excluded[static_cast<std::size_t>(counts.filterNames.indexOf("noMeasurement"))],
            1);
  // Record 0 pairs with record 1's 14.0, record 2 with record 3's 16.8.
  ASSERT_EQ(analysis.cells().size(), 1U);
  EXPECT_NEAR(analysis.cells()[0].meanFactor, (1.0 + 1.2) / 2, 1e-12);

  AnalysisSetup missing = setup();
  missing.measuredChannel = QStringLiteral("lambda");
  FuelAnalysis without(missing);
  EXPECT_EQ(test::thrownMessage<AnalysisError>([&] {
              feed(without, {{1000, 20, 14, 100, 80, 0, 3}});
            }),
            QStringLiteral("Log 'log' has no column for channel 'lambda'"));
}

TEST(FuelAnalysisTest, OperatorsAndAxisPositions) {
  const struct {
    const char* op;
    double channel;
    double value;
    bool excluded;
  } cases[] = {{"<", 1, 2, true}, {">", 1, 2, false},  {"<=", 2, 2, true},  {">=", 1, 2, false},
               {"=", 0, 0, true}, {"!=", 0, 0, false}, {"&", 20, 16, true}, {"&", 15, 16, false}};
  for (const auto& c : cases) {
    const std::optional<FilterOperator> op = parseFilterOperator(QString::fromLatin1(c.op));
    ASSERT_TRUE(op.has_value()) << c.op;
    EXPECT_EQ(filterExcludes(*op, c.channel, c.value), c.excluded) << c.op << " " << c.channel;
  }
  EXPECT_FALSE(parseFilterOperator(QStringLiteral("~")).has_value());
  const std::vector<double> bins = {0, 10, 30};
  EXPECT_EQ(axisPosition(bins, -5).index, 0);
  EXPECT_EQ(axisPosition(bins, 20).index, 1);
  EXPECT_DOUBLE_EQ(axisPosition(bins, 20).fraction, 0.5);
  EXPECT_EQ(axisPosition(bins, 40).index, 2);
  EXPECT_DOUBLE_EQ(AnalysisGrid({{0, 10}, {0, 10}, {0, 10, 20, 30}}).interpolate(5, 5), 15.0);
}

// tune/fuel-setup.txt: for each case of tune/fuel-setup.cases (a set-up asked of
// tune/fuel-setup.ini), what it takes from the definition and the tune, or the error that stops it.
TEST(FuelAnalysisSetupTest, TakesTablesCurvesAndFiltersFromTheDefinition) {
  const EcuDefinition definition = test::tuneDefinition("fuel-setup.ini");
  TuneEditor editor(definition, decodePages(encodeTune(Tune(), definition), definition));
  const TuneEditor empty;
  QByteArray out;
  for (const QString& line : test::caseLines(QStringLiteral("tune/fuel-setup.cases"))) {
    // "KIND NAME FILTER=VALUE...": NAME "-" for none, KIND "no-" first for no definition.
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    const QString kind = words.value(0).remove(QStringLiteral("no-"));
    const TuneEditor& used = words.value(0).startsWith(u"no-") ? empty : editor;
    const QString name = words.value(1) == u"-" ? QString() : words.value(1);
    QHash<QString, double> filters;
    for (const QString& word : words.mid(2)) {
      filters.insert(word.section(u'=', 0, 0), word.section(u'=', 1).toDouble());
    }
    QString result;
    try {
      AnalysisSetup s;
      if (kind == u"ve") {
        editor.mutableDefinition()->VeAnalyze.VeTableName = name;
        s = veAnalysisSetup(used, filters);
      } else if (kind == u"wue") {
        editor.mutableDefinition()->WueAnalyze.WueTableName = name;
        s = wueAnalysisSetup(used, filters);
      } else if (kind == u"grid") {
        s.table = tableAnalysisGrid(used, name);
      } else {
        s.constantName = name;
        proposalLimits(used, s, 5, 15);
      }
      QStringList taken;
      for (const RecordFilter& f : s.filters) {
        taken.append(QStringLiteral("%1=%2").arg(f.name).arg(f.value));
      }
      result =
          QStringLiteral("%1 (%2, %3 values) over %4, %5 against %6, filters %7")
              .arg(s.tableId, s.constantName, QString::number(s.table.values.size()), s.xChannel,
                   s.measuredChannel, QString::number(s.target.values.size()), taken.join(u' '));
    } catch (const AnalysisError& e) {
      result = QString::fromUtf8(e.what());
    }
    out += (line + QStringLiteral(": ") + result + u'\n').toUtf8();
  }
  EXPECT_TRUE(test::matchesGolden(out, QStringLiteral("tune/fuel-setup.txt")));
}

}  // namespace
}  // namespace tk
