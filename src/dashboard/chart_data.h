#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

#include "dashboard/chart_render.h"
#include "definition/ecu_definition.h"
#include "formats/mlg_model.h"
#include "json/json_value.h"
#include "tune/tune_value.h"

namespace tk {

/// Raised when a chart's data cannot be had; the message is the user-facing text.
class ChartError : public std::runtime_error {
 public:
  explicit ChartError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// The log's named channels (matched ignoring case, in the order asked) over the records whose
/// time lies in [from, to] seconds from the log's start, with the markers of that span. Throws
/// "Channel '<name>' not found in log" for a name the log lacks.
TimeChart timeChartOf(const MlgLog& log, const QStringList& channels, std::optional<double> from,
                      std::optional<double> to);

/// The table's grid in physical units on its axes, at the digits of its value and axis
/// constants, titled and labelled as the definition says. Throws "Table '<id>' not found in
/// INI", "Table data field '<name>' not found in tune" or "Table has no data".
HeatMap heatMapOf(const EcuDefinition& definition, const Tune& tune, const QString& tableId);

/// The heat map as the dashboard page reads it: title, units, axis names and channels, bins,
/// rows, cols, the values row after row and the three digit counts.
JsonValue heatMapJson(const HeatMap& map);

}  // namespace tk
