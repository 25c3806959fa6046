#include "cli/edit_commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/command_support.h"

namespace tk::cli {
namespace {

const ConstantDef& requireField(const project::ProjectManager& manager, const QString& name) {
  const std::optional<FieldRef> field = manager.findField(name);
  if (!field) {
    throw CommandError(QStringLiteral("Field '%1' not found in INI").arg(name));
  }
  return *field->constant;
}

const TableDef& requireTable(const EcuDefinition& definition, const QString& id) {
  const TableDef* table = definition.Tables.find(id);
  if (table == nullptr) {
    throw CommandError(QStringLiteral("Table '%1' not found in INI").arg(id));
  }
  return *table;
}

// The tune value holding the table's cells.
const TuneValue& requireTableData(const Tune& tune, const TableDef& table) {
  const TuneValue* z = table.ZBinVariable.isEmpty() ? nullptr : tune.find(table.ZBinVariable);
  if (z == nullptr) {
    throw CommandError(
        QStringLiteral("Table data field '%1' not found in tune").arg(table.ZBinVariable));
  }
  return *z;
}

// The curve's Y-bins variable; whether the tune holds it is not checked (a store to an unknown
// name does nothing).
QString requireCurveY(const EcuDefinition& definition, const QString& id) {
  const CurveDef* curve = definition.Curves.find(id);
  if (curve == nullptr) {
    throw CommandError(QStringLiteral("Curve '%1' not found in INI").arg(id));
  }
  if (curve->YBinVariable.isEmpty()) {
    throw CommandError(QStringLiteral("Curve '%1' has no Y bin variable").arg(id));
  }
  return curve->YBinVariable;
}

// A JSON element as a stored number: numbers as they are, anything else 0.
double elementValue(const QJsonValue& element) {
  return element.isDouble() ? element.toDouble() : 0.0;
}

int truncateToInt(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  const double clamped =
      std::clamp(std::trunc(value), static_cast<double>(std::numeric_limits<int>::min()),
                 static_cast<double>(std::numeric_limits<int>::max()));
  return static_cast<int>(clamped);
}

// An element position beyond the int range is outside every array, so the store ignores it.
int elementIndex(qint64 index) {
  return static_cast<int>(
      std::clamp<qint64>(index, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

JsonValue setScalar(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const QString name = options.value(QStringLiteral("name"));
  const ConstantDef& constant = requireField(manager, name);
  const QString units = constant.Units;
  const double value = parseDecimal(options.value(QStringLiteral("value")));

  const double oldValue = manager.getValue(name, 0);
  manager.setValue(name, 0, value);
  context.setEditLabel(QStringLiteral("set-scalar(%1)").arg(name));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), name);
  data.insert(QStringLiteral("oldValue"), oldValue);
  data.insert(QStringLiteral("newValue"), value);
  data.insert(QStringLiteral("units"), units);
  return data;
}

JsonValue setField(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const QString name = options.value(QStringLiteral("name"));
  requireField(manager, name);
  const int index = optionInt(options, QStringLiteral("index"), 0);
  const double value = parseDecimal(options.value(QStringLiteral("value")));

  const double oldValue = manager.getValue(name, index);
  manager.setValue(name, index, value);
  context.setEditLabel(QStringLiteral("set-field(%1[%2])").arg(name, QString::number(index)));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), name);
  data.insert(QStringLiteral("index"), index);
  data.insert(QStringLiteral("oldValue"), oldValue);
  data.insert(QStringLiteral("newValue"), value);
  return data;
}

JsonValue setBits(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const QString name = options.value(QStringLiteral("name"));
  const QList<BitValue> labels = requireField(manager, name).BitValues;
  const int value = optionInt(options, QStringLiteral("value"), 0);

  const int oldValue = truncateToInt(manager.getValue(name, 0));
  manager.setValue(name, 0, value);
  context.setEditLabel(QStringLiteral("set-bits(%1)").arg(name));

  auto labelOf = [&labels](int raw) -> std::optional<QString> {
    for (const BitValue& entry : labels) {
      if (entry.first == raw) {
        return entry.second;
      }
    }
    return std::nullopt;
  };
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), name);
  data.insert(QStringLiteral("oldValue"), oldValue);
  if (const std::optional<QString> label = labelOf(oldValue)) {
    data.insert(QStringLiteral("oldLabel"), *label);
  }
  data.insert(QStringLiteral("newValue"), value);
  if (const std::optional<QString> label = labelOf(value)) {
    data.insert(QStringLiteral("newLabel"), *label);
  }
  return data;
}

JsonValue setTable(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  const QString id = options.value(QStringLiteral("id"));
  const QString zName = requireTableData(tune, requireTable(definition, id)).name;

  QJsonParseError error{};
  const QJsonDocument document =
      QJsonDocument::fromJson(options.value(QStringLiteral("values")).toUtf8(), &error);
  const QJsonArray rows = document.array();
  const bool valid =
      error.error == QJsonParseError::NoError && document.isArray() &&
      std::all_of(rows.begin(), rows.end(), [](const QJsonValue& row) { return row.isArray(); });
  if (!valid) {
    throw CommandError(QStringLiteral("Invalid JSON 2D array"));
  }

  int cells = 0;
  manager.beginDeferredEdits();
  for (const QJsonValue& row : rows) {
    const QJsonArray elements = row.toArray();
    for (const QJsonValue& element : elements) {
      manager.setValue(zName, cells++, elementValue(element));
    }
  }
  manager.endDeferredEdits();
  context.setEditLabel(QStringLiteral("set-table(%1)").arg(id));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), id);
  data.insert(QStringLiteral("zVariable"), zName);
  data.insert(QStringLiteral("rows"), static_cast<long long>(rows.size()));
  data.insert(QStringLiteral("cols"),
              rows.isEmpty() ? 0LL : static_cast<long long>(rows.first().toArray().size()));
  data.insert(QStringLiteral("cellsWritten"), cells);
  return data;
}

JsonValue setTableCell(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  const QString id = options.value(QStringLiteral("id"));
  const TuneValue& z = requireTableData(tune, requireTable(definition, id));
  const QString zName = z.name;
  const int row = optionInt(options, QStringLiteral("row"), 0);
  const int col = optionInt(options, QStringLiteral("col"), 0);
  const double value = parseDecimal(options.value(QStringLiteral("value")));

  // Row-major; without a stored column count the grid is taken as square.
  qint64 index = col;
  if (z.cols) {
    index = qint64{row} * *z.cols + col;
  } else if (z.arrayValues) {
    const auto side = static_cast<qint64>(std::sqrt(static_cast<double>(z.arrayValues->size())));
    index = qint64{row} * side + col;
  }

  const double oldValue = manager.getValue(zName, elementIndex(index));
  manager.setValue(zName, elementIndex(index), value);
  context.setEditLabel(QStringLiteral("set-table-cell(%1[%2,%3])")
                           .arg(id, QString::number(row), QString::number(col)));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), id);
  data.insert(QStringLiteral("row"), row);
  data.insert(QStringLiteral("col"), col);
  data.insert(QStringLiteral("oldValue"), oldValue);
  data.insert(QStringLiteral("newValue"), value);
  return data;
}

JsonValue setCurve(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  requireTune(manager);
  const QString id = options.value(QStringLiteral("id"));
  const QString yName = requireCurveY(definition, id);

  QJsonParseError error{};
  const QJsonDocument document =
      QJsonDocument::fromJson(options.value(QStringLiteral("values")).toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) {
    throw CommandError(QStringLiteral("Invalid JSON array"));
  }
  const QJsonArray points = document.array();

  int index = 0;
  manager.beginDeferredEdits();
  for (const QJsonValue& point : points) {
    manager.setValue(yName, index++, elementValue(point));
  }
  manager.endDeferredEdits();
  context.setEditLabel(QStringLiteral("set-curve(%1)").arg(id));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), id);
  data.insert(QStringLiteral("yVariable"), yName);
  data.insert(QStringLiteral("pointsWritten"), index);
  return data;
}

JsonValue setCurvePoint(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const QString id = options.value(QStringLiteral("id"));
  const QString yName = requireCurveY(definition, id);
  const int index = optionInt(options, QStringLiteral("index"), 0);
  const double value = parseDecimal(options.value(QStringLiteral("value")));

  const double oldValue = manager.getValue(yName, index);
  manager.setValue(yName, index, value);
  context.setEditLabel(QStringLiteral("set-curve-point(%1[%2])").arg(id, QString::number(index)));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), id);
  data.insert(QStringLiteral("index"), index);
  data.insert(QStringLiteral("oldValue"), oldValue);
  data.insert(QStringLiteral("newValue"), value);
  return data;
}

JsonValue save(CommandContext& context) {
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("projectFile"), context.manager().projectPath());
  return data;
}

}  // namespace tk::cli
