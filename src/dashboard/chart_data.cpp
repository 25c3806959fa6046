#include "dashboard/chart_data.h"

#include <algorithm>
#include <cmath>

namespace tk {
namespace {

// A grid far beyond any real table is refused rather than drawn until memory runs out.
constexpr qint64 kMaxCells = 1 << 20;

std::vector<double> binsOf(const Tune& tune, const QString& variable, int* digits) {
  const TuneValue* value = variable.isEmpty() ? nullptr : tune.find(variable);
  if (value == nullptr || !value->arrayValues) {
    return {};
  }
  *digits = value->digits;
  return {value->arrayValues->begin(), value->arrayValues->end()};
}

}  // namespace

TimeChart timeChartOf(const MlgLog& log, const QStringList& channels, std::optional<double> from,
                      std::optional<double> to) {
  std::vector<int> columns;
  TimeChart chart;
  for (const QString& name : channels) {
    const int column = findField(log, name);
    if (column < 0) {
      throw ChartError(QStringLiteral("Channel '%1' not found in log").arg(name));
    }
    columns.push_back(column);
    const MlgField& field = log.fields[static_cast<std::size_t>(column)];
    chart.series.push_back({field.name, field.units, {}});
  }
  const double low = from.value_or(-std::numeric_limits<double>::infinity());
  const double high = to.value_or(std::numeric_limits<double>::infinity());
  for (std::size_t r = 0; r < log.records.size(); ++r) {
    const double time = log.records[r].absoluteTimestamp;
    if (time < low || time > high) {
      continue;
    }
    chart.times.push_back(time);
    const std::span<const double> values = log.recordValues(r);
    for (std::size_t s = 0; s < columns.size(); ++s) {
      const auto column = static_cast<std::size_t>(columns[s]);
      chart.series[s].values.push_back(physicalValue(log.fields[column], values[column]));
    }
  }
  for (const MlgMarker& marker : log.markers) {
    if (marker.absoluteTimestamp >= low && marker.absoluteTimestamp <= high) {
      chart.markers.push_back({marker.absoluteTimestamp, marker.message});
    }
  }
  return chart;
}

HeatMap heatMapOf(const EcuDefinition& definition, const Tune& tune, const QString& tableId) {
  const TableDef* table = definition.Tables.find(tableId);
  if (table == nullptr) {
    throw ChartError(QStringLiteral("Table '%1' not found in INI").arg(tableId));
  }
  const TuneValue* z = table->ZBinVariable.isEmpty() ? nullptr : tune.find(table->ZBinVariable);
  if (z == nullptr) {
    throw ChartError(
        QStringLiteral("Table data field '%1' not found in tune").arg(table->ZBinVariable));
  }
  if (!z->arrayValues || z->arrayValues->isEmpty()) {
    throw ChartError(QStringLiteral("Table has no data"));
  }
  HeatMap map;
  map.title = table->Title.isEmpty() ? table->Id : table->Title;
  map.units = z->units.value_or(QString());
  map.digits = z->digits;
  map.xBins = binsOf(tune, table->XBinVariable, &map.xDigits);
  map.yBins = binsOf(tune, table->YBinVariable, &map.yDigits);
  map.xName = table->XyLabels.value(0, table->XBinVariable);
  map.yName = table->XyLabels.value(1, table->YBinVariable);
  map.xChannel = table->XBinSource;
  map.yChannel = table->YBinSource;
  const qsizetype n = z->arrayValues->size();
  map.cols = z->cols ? *z->cols : static_cast<int>(std::sqrt(static_cast<double>(n)));
  map.cols = std::max(map.cols, 1);
  map.rows = z->rows ? *z->rows : static_cast<int>(n / map.cols);
  if (map.rows <= 0 || qint64{map.rows} * map.cols > kMaxCells) {
    throw ChartError(QStringLiteral("Table data field '%1' has an unusable shape of %2 rows and "
                                    "%3 columns")
                         .arg(table->ZBinVariable)
                         .arg(map.rows)
                         .arg(map.cols));
  }
  map.values.assign(static_cast<std::size_t>(map.rows) * map.cols, 0.0);
  std::copy_n(z->arrayValues->begin(), std::min<qsizetype>(n, std::ssize(map.values)),
              map.values.begin());
  return map;
}

JsonValue heatMapJson(const HeatMap& map) {
  const auto numbers = [](const std::vector<double>& values) {
    JsonValue list = JsonValue::array();
    for (double v : values) {
      list.append(std::isfinite(v) ? JsonValue(v) : JsonValue());
    }
    return list;
  };
  JsonValue object = JsonValue::object();
  object.insert(QStringLiteral("title"), map.title);
  object.insert(QStringLiteral("units"), map.units);
  object.insert(QStringLiteral("xName"), map.xName);
  object.insert(QStringLiteral("yName"), map.yName);
  object.insert(QStringLiteral("xChannel"), map.xChannel);
  object.insert(QStringLiteral("yChannel"), map.yChannel);
  object.insert(QStringLiteral("xBins"), numbers(map.xBins));
  object.insert(QStringLiteral("yBins"), numbers(map.yBins));
  object.insert(QStringLiteral("rows"), map.rows);
  object.insert(QStringLiteral("cols"), map.cols);
  object.insert(QStringLiteral("values"), numbers(map.values));
  object.insert(QStringLiteral("digits"), map.digits);
  object.insert(QStringLiteral("xDigits"), map.xDigits);
  object.insert(QStringLiteral("yDigits"), map.yDigits);
  return object;
}

}  // namespace tk
