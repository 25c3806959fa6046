#include "project/math_channels.h"

namespace tk::project {
namespace {

ConstantDef computedChannel(const MathChannel& m) {
  // The same record a computed [OutputChannels] line produces.
  ConstantDef channel;
  channel.Name = m.name;
  channel.Type = ConstantType::Scalar;
  channel.DataType = QStringLiteral("F32");
  channel.Units = m.units;
  channel.Digits = m.digits;
  channel.Expression = m.expression;
  return channel;
}

GaugeDef gauge(const MathChannel& m) {
  GaugeDef g;
  g.Name = QStringLiteral("MathGauge") + m.name;
  g.Channel = m.name;
  g.Title = m.gaugeTitle.isEmpty() ? m.name : m.gaugeTitle;
  g.Units = m.units;
  g.Min = m.gaugeMin;
  g.Max = m.gaugeMax;
  g.Category = m.gaugeCategory;
  g.LowDanger = m.gaugeLowCritical;
  g.LowWarning = m.gaugeLowWarning;
  g.HighWarning = m.gaugeHighWarning;
  g.HighDanger = m.gaugeHighCritical;
  g.ValueDigits = m.gaugeDecimalPlaces;
  g.LabelDigits = m.gaugeDecimalPlaces;
  return g;
}

DatalogEntry datalogEntry(const MathChannel& m) {
  const bool integer = m.logValueFormat == QLatin1String("int");
  DatalogEntry e;
  e.ChannelName = m.name;
  e.Label = m.logFieldName.isEmpty() ? m.name : m.logFieldName;
  e.Type = integer ? QStringLiteral("int") : QStringLiteral("float");
  e.Format = integer ? QStringLiteral("%d") : QStringLiteral("%.%1f").arg(m.logDecimalPlaces);
  e.Category = QLatin1String(kMathChannelsGroup);
  e.EnabledCondition = m.logEnabledExpression;
  e.Lag = m.logRecordLag;
  return e;
}

}  // namespace

void registerMathChannels(EcuDefinition& definition, const QList<MathChannel>& channels) {
  for (const MathChannel& m : channels) {
    // The controller's own channels win: a math channel never replaces one of them.
    if (m.name.trimmed().isEmpty() || m.expression.trimmed().isEmpty() ||
        definition.OutputChannels.contains(m.name)) {
      continue;
    }
    definition.OutputChannels.insert(m.name, computedChannel(m));
    definition.ExpressionDefinitions.insert(m.name, m.expression);
    if (m.addGauge) {
      const GaugeDef g = gauge(m);
      definition.Gauges.insert(g.Name, g);
    }
    if (m.addDatalogField) {
      definition.DatalogEntries.append(datalogEntry(m));
    }
  }
}

}  // namespace tk::project
