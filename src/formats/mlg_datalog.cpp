#include "formats/mlg_datalog.h"

#include <QHash>

namespace tk {
namespace {

constexpr int kTimestampUnitsPerSecond = 100000;  // MLG record times count 10 us
constexpr int kTimestampModulus = 65536;
constexpr int kDefaultDigits = 2;

bool isTimeChannel(const QString& name) {
  return name.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0;
}

std::uint8_t mlgTypeOf(const QString& type) {
  static const QHash<QString, MlgDataType> kTypes = {
      {QStringLiteral("int"), MlgDataType::S32},    {QStringLiteral("s32"), MlgDataType::S32},
      {QStringLiteral("int32"), MlgDataType::S32},  {QStringLiteral("u32"), MlgDataType::U32},
      {QStringLiteral("uint"), MlgDataType::U32},   {QStringLiteral("uint32"), MlgDataType::U32},
      {QStringLiteral("short"), MlgDataType::S16},  {QStringLiteral("int16"), MlgDataType::S16},
      {QStringLiteral("s16"), MlgDataType::S16},    {QStringLiteral("ushort"), MlgDataType::U16},
      {QStringLiteral("uint16"), MlgDataType::U16}, {QStringLiteral("u16"), MlgDataType::U16},
      {QStringLiteral("byte"), MlgDataType::S08},   {QStringLiteral("int8"), MlgDataType::S08},
      {QStringLiteral("s08"), MlgDataType::S08},    {QStringLiteral("ubyte"), MlgDataType::U08},
      {QStringLiteral("uint8"), MlgDataType::U08},  {QStringLiteral("u08"), MlgDataType::U08},
  };
  return static_cast<std::uint8_t>(kTypes.value(type.toLower(), MlgDataType::F32));
}

// Decimal places from a printf-like format; the first of ".1", ".2", ".3" and "d" found wins in
// that order, whatever comes first in the text.
std::int8_t digitsOf(const QString& format) {
  if (format.contains(QLatin1String(".1"))) {
    return 1;
  }
  if (format.contains(QLatin1String(".2"))) {
    return 2;
  }
  if (format.contains(QLatin1String(".3"))) {
    return 3;
  }
  if (format.contains(QLatin1Char('d'))) {
    return 0;
  }
  return kDefaultDigits;
}

}  // namespace

std::vector<MlgField> datalogFields(const EcuDefinition& definition) {
  std::vector<MlgField> fields;
  for (const DatalogEntry& entry : definition.DatalogEntries) {
    MlgField field;
    field.name = entry.Label;
    field.units = QStringLiteral("s");
    field.scale = 1.0f;
    field.transform = 0.0f;
    field.digits = kDefaultDigits;
    field.category = QStringLiteral("Datalog");
    field.dataType = mlgTypeOf(entry.Type);
    if (isTimeChannel(entry.ChannelName)) {
      field.dataType = static_cast<std::uint8_t>(MlgDataType::F32);
    } else if (const ConstantDef* channel = definition.OutputChannels.find(entry.ChannelName)) {
      field.units = channel->Units;
      field.digits = digitsOf(entry.Format);
    }
    fields.push_back(field);
  }
  return fields;
}

void datalogValues(const EcuDefinition& definition, double seconds,
                   const QList<std::pair<QString, double>>& channels, std::vector<double>& values) {
  QHash<QString, double> byName;
  for (const auto& [name, value] : channels) {
    byName.insert(name, value);
  }
  values.resize(static_cast<std::size_t>(definition.DatalogEntries.size()));
  for (qsizetype i = 0; i < definition.DatalogEntries.size(); ++i) {
    const QString& channel = definition.DatalogEntries.at(i).ChannelName;
    values[static_cast<std::size_t>(i)] =
        isTimeChannel(channel) ? seconds : byName.value(channel, 0.0);
  }
}

std::uint16_t mlgTimestamp(double seconds) {
  // From the seconds as a double, truncated: 0.58 s gives 57999, not 58000. Readers use this
  // 16-bit clock only for differences between records, so the unit lost does not matter.
  const auto units = static_cast<qint64>(kTimestampUnitsPerSecond * seconds);
  return static_cast<std::uint16_t>(units % kTimestampModulus);
}

}  // namespace tk
