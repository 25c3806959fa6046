#include "dashboard/gauge_face.h"

#include <algorithm>
#include <cmath>

namespace tk {
namespace {

constexpr int kDefaultGaugeCount = 8;

GaugeFace specOf(const GaugeDef& gauge) {
  GaugeFace face;
  face.channel = gauge.Channel;
  face.title = gauge.Title.isEmpty() ? gauge.Name : gauge.Title;
  face.units = gauge.Units;
  face.min = gauge.Min;
  face.max = gauge.Max > gauge.Min ? gauge.Max : gauge.Min + 1.0;
  // A zone limit at or beyond the scale's end marks no zone.
  if (gauge.LowDanger > gauge.Min) {
    face.lowDanger = gauge.LowDanger;
  }
  if (gauge.LowWarning > gauge.Min) {
    face.lowWarning = gauge.LowWarning;
  }
  if (gauge.HighWarning < gauge.Max) {
    face.highWarning = gauge.HighWarning;
  }
  if (gauge.HighDanger < gauge.Max) {
    face.highDanger = gauge.HighDanger;
  }
  face.digits = static_cast<int>(std::clamp(gauge.ValueDigits, 0.0, 6.0));
  return face;
}

void insertZone(JsonValue& object, const char* name, const std::optional<double>& value) {
  if (value && std::isfinite(*value)) {
    object.insert(QString::fromLatin1(name), *value);
  }
}

}  // namespace

QList<GaugeFace> gaugesFromDefinition(const EcuDefinition& definition) {
  QList<GaugeFace> gauges;
  for (const QString& ref : definition.FrontPage.GaugeRefs) {
    if (const GaugeDef* gauge = definition.Gauges.find(ref)) {
      gauges.append(specOf(*gauge));
    }
  }
  if (gauges.isEmpty()) {
    for (const auto& entry : definition.Gauges) {
      if (gauges.size() == kDefaultGaugeCount) {
        break;
      }
      gauges.append(specOf(entry.second));
    }
  }
  return gauges;
}

QList<GaugeFace> gaugesFromLayout(const DashboardLayout& layout) {
  QList<GaugeFace> gauges;
  if (layout.activePageIndex < 0 || layout.activePageIndex >= layout.pages.size()) {
    return gauges;
  }
  for (const DashboardWidget& widget : layout.pages.at(layout.activePageIndex).widgets) {
    if (widget.channel.isEmpty()) {
      continue;
    }
    GaugeFace face;
    face.channel = widget.channel;
    face.title = widget.title.isEmpty() ? widget.channel : widget.title;
    face.units = widget.units;
    face.min = widget.min;
    face.max = widget.max > widget.min ? widget.max : widget.min + 1.0;
    face.lowDanger = widget.lowCritical;
    face.lowWarning = widget.lowWarning;
    face.highWarning = widget.highWarning;
    face.highDanger = widget.highCritical;
    face.digits = std::clamp(widget.decimalPlaces, 0, 6);
    gauges.append(face);
  }
  return gauges;
}

JsonValue gaugesJson(const QList<GaugeFace>& gauges) {
  JsonValue list = JsonValue::array();
  for (const GaugeFace& gauge : gauges) {
    JsonValue object = JsonValue::object();
    object.insert(QStringLiteral("channel"), gauge.channel);
    object.insert(QStringLiteral("title"), gauge.title);
    object.insert(QStringLiteral("units"), gauge.units);
    object.insert(QStringLiteral("min"), std::isfinite(gauge.min) ? gauge.min : 0.0);
    object.insert(QStringLiteral("max"), std::isfinite(gauge.max) ? gauge.max : 100.0);
    insertZone(object, "lowDanger", gauge.lowDanger);
    insertZone(object, "lowWarning", gauge.lowWarning);
    insertZone(object, "highWarning", gauge.highWarning);
    insertZone(object, "highDanger", gauge.highDanger);
    object.insert(QStringLiteral("digits"), gauge.digits);
    list.append(std::move(object));
  }
  return list;
}

JsonValue liveFrame(const QList<std::pair<QString, double>>& values) {
  JsonValue map = JsonValue::object();
  for (const auto& [name, value] : values) {
    map.insert(name, std::isfinite(value) ? JsonValue(value) : JsonValue());
  }
  JsonValue frame = JsonValue::object();
  frame.insert(QStringLiteral("connected"), true);
  frame.insert(QStringLiteral("values"), std::move(map));
  return frame;
}

JsonValue noControllerFrame(const QString& reason) {
  JsonValue frame = JsonValue::object();
  frame.insert(QStringLiteral("connected"), false);
  frame.insert(QStringLiteral("reason"), reason);
  return frame;
}

}  // namespace tk
