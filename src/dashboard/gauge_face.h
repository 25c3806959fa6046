#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "dashboard/dashboard_layout.h"
#include "definition/ecu_definition.h"
#include "json/json_value.h"

namespace tk {

/// What the dashboard page needs to draw one gauge of a live channel.
struct GaugeFace {
  QString channel;
  QString title;
  QString units;
  double min = 0.0;
  double max = 100.0;
  std::optional<double> lowDanger;
  std::optional<double> lowWarning;
  std::optional<double> highWarning;
  std::optional<double> highDanger;
  int digits = 0;

  bool operator==(const GaugeFace&) const = default;
};

/// The definition's front-page gauges in their order, each from its gauge configuration (a
/// reference to no configuration is left out); the first eight configurations when the front
/// page names none.
QList<GaugeFace> gaugesFromDefinition(const EcuDefinition& definition);

/// The widgets of the layout's active page that show a channel, in their order.
QList<GaugeFace> gaugesFromLayout(const DashboardLayout& layout);

/// The gauges as the page reads them: an array of objects with the members of GaugeFace, the
/// zones left out when absent.
JsonValue gaugesJson(const QList<GaugeFace>& gauges);

/// One live frame for the page: {"connected": true, "values": {channel: value, ...}}, a value
/// that is not finite written as null.
JsonValue liveFrame(const QList<std::pair<QString, double>>& values);

/// The frame saying the controller is not reachable, with the reason:
/// {"connected": false, "reason": "<text>"}.
JsonValue noControllerFrame(const QString& reason);

}  // namespace tk
