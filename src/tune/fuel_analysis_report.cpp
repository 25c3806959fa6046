#include "tune/fuel_analysis_report.h"

#include <cmath>

namespace tk {
namespace {

constexpr int kCellWidth = 7;

double rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

QString cellText(const std::optional<double>& value, int decimals) {
  return (value ? QString::number(*value, 'f', decimals) : QStringLiteral("-"))
      .rightJustified(kCellWidth);
}

}  // namespace

QStringList gridLines(const AnalysisGrid& axes, const std::vector<std::optional<double>>& values,
                      int decimals) {
  QStringList lines;
  QString header = QString(kCellWidth, QLatin1Char(' ')) + QStringLiteral(" |");
  for (const double x : axes.xBins) {
    header += cellText(x, 0);
  }
  lines.append(header);
  const int cols = axes.columns();
  for (int row = axes.rows() - 1; row >= 0; --row) {
    const std::optional<double> y =
        axes.yBins.empty() ? std::nullopt
                           : std::optional<double>(axes.yBins[static_cast<std::size_t>(row)]);
    QString line = cellText(y, 0) + QStringLiteral(" |");
    for (int col = 0; col < cols; ++col) {
      const std::size_t i = static_cast<std::size_t>(row) * cols + col;
      line += cellText(i < values.size() ? values[i] : std::nullopt, decimals);
    }
    lines.append(line);
  }
  return lines;
}

JsonValue analysisReport(const FuelAnalysis& analysis, const std::vector<CellProposal>& proposals,
                         bool asGrids) {
  const AnalysisSetup& setup = analysis.setup();
  const AnalysisCounts& counts = analysis.counts();
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("table"), setup.tableId);
  data.insert(QStringLiteral("constant"), setup.constantName);
  data.insert(QStringLiteral("recordsRead"), static_cast<long long>(counts.read));
  data.insert(QStringLiteral("recordsKept"), static_cast<long long>(counts.kept));
  JsonValue excluded = JsonValue::object();
  for (qsizetype i = 0; i < counts.filterNames.size(); ++i) {
    excluded.insert(counts.filterNames.at(i),
                    static_cast<long long>(counts.excluded[static_cast<std::size_t>(i)]));
  }
  data.insert(QStringLiteral("excluded"), std::move(excluded));
  qint64 proposed = 0;
  for (const CellProposal& p : proposals) {
    proposed += p.proposed && *p.proposed != p.current ? 1 : 0;
  }
  data.insert(QStringLiteral("changes"), static_cast<long long>(proposed));
  if (asGrids) {
    const std::size_t n = setup.table.values.size();
    std::vector<std::optional<double>> current(setup.table.values.begin(),
                                               setup.table.values.end());
    std::vector<std::optional<double>> next(n);
    std::vector<std::optional<double>> weights(n);
    for (const CellProposal& p : proposals) {
      const std::size_t i =
          static_cast<std::size_t>(p.cell.row) * setup.table.columns() + p.cell.column;
      next[i] = p.proposed;
      weights[i] = p.cell.weight;
    }
    const auto lines = [](const QStringList& texts) {
      JsonValue array = JsonValue::array();
      for (const QString& text : texts) {
        array.append(text);
      }
      return array;
    };
    data.insert(QStringLiteral("current"), lines(gridLines(setup.table, current, 1)));
    data.insert(QStringLiteral("proposed"), lines(gridLines(setup.table, next, 1)));
    data.insert(QStringLiteral("weights"), lines(gridLines(setup.table, weights, 1)));
    return data;
  }
  JsonValue cells = JsonValue::array();
  for (const CellProposal& p : proposals) {
    JsonValue cell = JsonValue::object();
    cell.insert(QStringLiteral("row"), p.cell.row);
    cell.insert(QStringLiteral("column"), p.cell.column);
    cell.insert(QStringLiteral("current"), p.current);
    cell.insert(QStringLiteral("proposed"), p.proposed ? JsonValue(*p.proposed) : JsonValue());
    const bool change = p.proposed && p.current != 0.0;
    cell.insert(QStringLiteral("changePercent"),
                change ? JsonValue(rounded((*p.proposed - p.current) / p.current * 100.0, 2))
                       : JsonValue());
    cell.insert(QStringLiteral("weight"), rounded(p.cell.weight, 2));
    cell.insert(QStringLiteral("factor"), rounded(p.cell.meanFactor, 4));
    cell.insert(QStringLiteral("spread"), rounded(p.cell.spread, 4));
    cells.append(std::move(cell));
  }
  data.insert(QStringLiteral("cells"), std::move(cells));
  return data;
}

QList<BatchEdit> proposalEdits(const FuelAnalysis& analysis,
                               const std::vector<CellProposal>& proposals) {
  QList<BatchEdit> edits;
  const int cols = analysis.setup().table.columns();
  for (const CellProposal& p : proposals) {
    if (p.proposed && *p.proposed != p.current) {
      edits.append({analysis.setup().constantName, p.cell.row * cols + p.cell.column, p.current,
                    *p.proposed});
    }
  }
  return edits;
}

}  // namespace tk
