#include "cli/edit_commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "cli/command_support.h"
#include "tune/field_codec.h"
#include "tune/store_audit.h"

namespace tk::cli {
namespace {

QStringList constantNames(const EcuDefinition* definition) {
  QStringList names;
  if (definition != nullptr) {
    for (const PageGroup& group : definition->Pages) {
      for (const ConstantDef& constant : group.Fields) {
        names.append(constant.Name);
      }
    }
  }
  return names;
}

const ConstantDef& requireField(CommandContext& context, const QString& name) {
  const std::optional<FieldRef> field = context.manager().findField(name);
  if (!field) {
    context.hintName(name, constantNames(context.manager().definition()));
    throw CommandError(QStringLiteral("Field '%1' not found in INI").arg(name));
  }
  return *field->constant;
}

const TableDef& requireTable(CommandContext& context, const EcuDefinition& definition,
                             const QString& id) {
  const TableDef* table = definition.Tables.find(id);
  if (table == nullptr) {
    context.hintName(id, idsOf(definition.Tables));
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
QString requireCurveY(CommandContext& context, const EcuDefinition& definition, const QString& id) {
  const CurveDef* curve = definition.Curves.find(id);
  if (curve == nullptr) {
    context.hintName(id, idsOf(definition.Curves));
    throw CommandError(QStringLiteral("Curve '%1' not found in INI").arg(id));
  }
  if (curve->YBinVariable.isEmpty()) {
    throw CommandError(QStringLiteral("Curve '%1' has no Y bin variable").arg(id));
  }
  return curve->YBinVariable;
}

// A JSON element as a stored number: numbers as they are, anything else 0 (counted).
double elementValue(const QJsonValue& element, qint64& notNumbers) {
  if (!element.isDouble()) {
    ++notNumbers;
    return 0.0;
  }
  return element.toDouble();
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

// A text quoted in a warning, cut short: an option's value can be of any length.
QString quoted(const QString& text) {
  constexpr qsizetype kShown = 40;
  return u'\'' + (text.size() > kShown ? text.left(kShown) + QStringLiteral("...") : text) + u'\'';
}

QString elementsText(qint64 count) {
  return count == 1 ? QStringLiteral("1 element") : QStringLiteral("%1 elements").arg(count);
}

// The value option as a number. Text that is not one stores 0, and the user hears of it.
double valueOption(CommandContext& context) {
  const QString text = context.options().value(QStringLiteral("value"));
  const std::optional<double> value = parseDecimal(text);
  if (!value) {
    context.warn(QStringLiteral("value %1 is not a number; 0 was used").arg(quoted(text)));
  }
  return value.value_or(0.0);
}

// An integer option (default 0). Text that is not a 32-bit decimal integer gives 0, said out loud.
int integerOption(CommandContext& context, const QString& name) {
  const CommandOptions& options = context.options();
  if (!options.intAbsentOrValid(name)) {
    context.warn(QStringLiteral("%1 %2 is not a whole number; 0 was used")
                     .arg(name, quoted(options.value(name))));
  }
  return options.intOrZero(name, 0);
}

// What a store into a constant reaches. Arrays take elements 0 to count - 1 (those the tune
// holds, else those declared); scalars and bit fields take the value whatever the index; text
// constants and names the definition lacks take nothing.
struct StoreReach {
  QString name;
  bool known = false;
  qint64 count = 0;
  bool indexed = false;

  // The element a store at index writes, or nothing.
  std::optional<qint64> landing(qint64 index) const {
    if (count == 0) {
      return std::nullopt;
    }
    if (!indexed) {
      return 0;
    }
    return index >= 0 && index < count ? std::optional<qint64>(index) : std::nullopt;
  }
};

StoreReach storeReach(const project::ProjectManager& manager, const QString& name) {
  StoreReach reach{name};
  const std::optional<FieldRef> field = manager.findField(name);
  if (!field) {
    return reach;
  }
  const ConstantDef& constant = *field->constant;
  reach.name = constant.Name;
  reach.known = true;
  switch (constant.Type) {
    case ConstantType::Array: {
      const Tune* tune = manager.tune();
      const TuneValue* record = tune != nullptr ? tune->find(constant.Name) : nullptr;
      reach.count = record != nullptr && record->arrayValues ? record->arrayValues->size()
                                                             : elementCount(constant);
      reach.indexed = true;
      break;
    }
    case ConstantType::Scalar:
    case ConstantType::Bits:
      reach.count = 1;
      break;
    case ConstantType::String:
      break;
  }
  return reach;
}

void warnNothingWritten(CommandContext& context, const StoreReach& reach) {
  context.warn(reach.known
                   ? QStringLiteral("'%1' is a text constant; nothing was written").arg(reach.name)
                   : QStringLiteral("'%1' is not a constant of the definition; nothing was written")
                         .arg(reach.name));
}

// Says so when a single store at index does not write element index.
void warnSingleStore(CommandContext& context, const StoreReach& reach, qint64 index) {
  const std::optional<qint64> landing = reach.landing(index);
  if (reach.count == 0) {
    warnNothingWritten(context, reach);
  } else if (landing != index) {
    context.warn(QStringLiteral("index %1 lies outside '%2', which holds %3; %4")
                     .arg(QString::number(index), reach.name, elementsText(reach.count),
                          landing ? QStringLiteral("element 0 was written instead")
                                  : QStringLiteral("nothing was written")));
  }
}

// Says so when a run of stores (elements 0 to given - 1, notNumbers of them stored as 0) does
// not fit the constant.
void warnStoreRun(CommandContext& context, const StoreReach& reach, qint64 given,
                  qint64 notNumbers) {
  if (notNumbers > 0) {
    context.warn(QStringLiteral("%1 of the %2 values are not numbers; 0 was used for them")
                     .arg(QString::number(notNumbers), QString::number(given)));
  }
  if (given == 0) {
    return;
  }
  if (reach.count == 0) {
    warnNothingWritten(context, reach);
  } else if (!reach.indexed && given > 1) {
    context.warn(
        QStringLiteral("%1 values given for '%2', which holds 1 element; each was written over "
                       "the one before")
            .arg(QString::number(given), reach.name));
  } else if (given > reach.count) {
    context.warn(QStringLiteral("%1 values given for '%2', which holds %3; the last %4 were not "
                                "written")
                     .arg(QString::number(given), reach.name, elementsText(reach.count),
                          QString::number(given - reach.count)));
  }
}

// The labels of a bit field's options, for a warning.
QString labelList(const ConstantDef& constant) {
  QStringList labels;
  for (const BitValue& option : constant.BitValues) {
    labels.append(option.second);
  }
  return labels.join(QStringLiteral(", "));
}

// The value option of a bit field given as one of its option labels; nothing when the text is a
// number (isNumber) or the field has no labels. Any other text gives 0 as before, and the warning
// names the labels.
std::optional<int> labelledValue(CommandContext& context, const ConstantDef& constant,
                                 bool isNumber, const QString& numberKind) {
  const QString text = context.options().value(QStringLiteral("value"));
  if (isNumber || constant.BitValues.isEmpty()) {
    return std::nullopt;
  }
  if (const std::optional<int> raw = constant.bitValueOf(text.trimmed())) {
    return raw;
  }
  context.warn(QStringLiteral("value %1 is neither %2 nor an option of '%3' (%4); 0 was used")
                   .arg(quoted(text), numberKind, constant.Name, labelList(constant)));
  return 0;
}

// set-field's value: a number, or for a bit field one of its option labels.
double fieldValueOption(CommandContext& context, const ConstantDef& constant) {
  const bool isNumber = parseDecimal(context.options().value(QStringLiteral("value"))).has_value();
  if (const std::optional<int> raw =
          labelledValue(context, constant, isNumber, QStringLiteral("a number"))) {
    return *raw;
  }
  return valueOption(context);
}

// A bit field's value option: a whole number, or one of the field's option labels.
int bitsValueOption(CommandContext& context, const ConstantDef& constant) {
  bool isNumber = false;
  context.options().value(QStringLiteral("value")).toInt(&isNumber, 10);
  if (const std::optional<int> raw =
          labelledValue(context, constant, isNumber, QStringLiteral("a whole number"))) {
    return *raw;
  }
  return integerOption(context, QStringLiteral("value"));
}

// Stores of one edit, each compared with what the store kept; the warnings say where they differ.
class AuditedStores {
 public:
  AuditedStores(project::ProjectManager& manager, const QString& name) : manager_(manager) {
    if (const std::optional<FieldRef> field = manager.findField(name)) {
      constant_ = field->constant;
      audit_.emplace(manager.editor(), *constant_);
    }
  }

  // Stores value at index; a store the constant takes is audited.
  void store(const StoreReach& reach, int index, double value) {
    manager_.setValue(reach.name, index, value);
    if (audit_ && reach.landing(index) == index) {
      audit_->record(index, value, manager_.getValue(reach.name, index));
    }
  }

  // Warns of the values not kept as given, and of an axis the edit left out of order.
  void report(CommandContext& context) const {
    if (!audit_) {
      return;
    }
    for (const QString& line : audit_->warnings()) {
      context.warn(line);
    }
    for (const QString& line : axisOrderWarnings(manager_.editor(), {constant_->Name})) {
      context.warn(line);
    }
  }

 private:
  project::ProjectManager& manager_;
  const ConstantDef* constant_ = nullptr;
  std::optional<StoreAudit> audit_;
};

// Says which elements a run of given values wrote when the constant holds more.
void warnShortRun(CommandContext& context, const StoreReach& reach, qint64 given,
                  const QString& what, const std::function<QString(qint64)>& place) {
  if (!reach.indexed || given <= 0 || given >= reach.count) {
    return;
  }
  context.warn(QStringLiteral("%1 values given for %2, which holds %3: only %4 to %5 were "
                              "written; the other %6 kept their values")
                   .arg(QString::number(given), what, QString::number(reach.count), place(0),
                        place(given - 1), QString::number(reach.count - given)));
}

}  // namespace

JsonValue setScalar(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const QString name = options.value(QStringLiteral("name"));
  const ConstantDef& constant = requireField(context, name);
  const QString units = constant.Units;
  const double value = valueOption(context);
  warnSingleStore(context, storeReach(manager, name), 0);

  const double oldValue = manager.getValue(name, 0);
  AuditedStores stores(manager, name);
  stores.store(storeReach(manager, name), 0, value);
  stores.report(context);
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
  const ConstantDef& constant = requireField(context, name);
  const int index = integerOption(context, QStringLiteral("index"));
  const double value = fieldValueOption(context, constant);
  const StoreReach reach = storeReach(manager, name);
  warnSingleStore(context, reach, index);

  const double oldValue = manager.getValue(name, index);
  AuditedStores stores(manager, name);
  stores.store(reach, index, value);
  stores.report(context);
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
  const ConstantDef& constant = requireField(context, name);
  const QList<BitValue> labels = constant.BitValues;
  const int value = bitsValueOption(context, constant);
  const StoreReach reach = storeReach(manager, name);
  warnSingleStore(context, reach, 0);

  const int oldValue = truncateToInt(manager.getValue(name, 0));
  AuditedStores stores(manager, name);
  stores.store(reach, 0, value);
  stores.report(context);
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
  const TuneValue& z = requireTableData(tune, requireTable(context, definition, id));
  const QString zName = z.name;
  const int zCols = z.cols.value_or(
      static_cast<int>(std::sqrt(static_cast<double>(z.arrayValues ? z.arrayValues->size() : 0))));

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
  qint64 notNumbers = 0;
  const StoreReach reach = storeReach(manager, zName);
  AuditedStores stores(manager, zName);
  manager.beginDeferredEdits();
  for (const QJsonValue& row : rows) {
    const QJsonArray elements = row.toArray();
    for (const QJsonValue& element : elements) {
      stores.store(reach, cells, elementValue(element, notNumbers));
      ++cells;
    }
  }
  manager.endDeferredEdits();
  warnStoreRun(context, reach, cells, notNumbers);
  warnShortRun(context, reach, cells, QStringLiteral("table '%1'").arg(id), [zCols](qint64 k) {
    return zCols > 0 ? QStringLiteral("cell (%1, %2)").arg(k / zCols).arg(k % zCols)
                     : QStringLiteral("element %1").arg(k);
  });
  stores.report(context);
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
  const TuneValue& z = requireTableData(tune, requireTable(context, definition, id));
  const QString zName = z.name;
  const int row = integerOption(context, QStringLiteral("row"));
  const int col = integerOption(context, QStringLiteral("col"));
  const double value = valueOption(context);

  // Row-major; without a stored column count the grid is taken as square. A table over a scalar
  // is one cell, and its element is the column.
  qint64 index = col;
  qint64 rows = 1;
  qint64 cols = 1;
  const qint64 size = z.arrayValues ? z.arrayValues->size() : 0;
  if (z.cols) {
    cols = *z.cols;
    rows = z.rows.value_or(cols > 0 ? size / cols : 0);
    index = qint64{row} * cols + col;
  } else if (z.arrayValues) {
    cols = static_cast<qint64>(std::sqrt(static_cast<double>(size)));
    rows = cols;
    index = qint64{row} * cols + col;
  }
  const StoreReach reach = storeReach(manager, zName);
  const std::optional<qint64> landing = reach.landing(elementIndex(index));
  if (reach.count > 0 && (row < 0 || row >= rows || col < 0 || col >= cols)) {
    context.warn(QStringLiteral("cell (%1, %2) lies outside table '%3' (%4 rows x %5 columns); %6")
                     .arg(QString::number(row), QString::number(col), id, QString::number(rows),
                          QString::number(cols),
                          landing ? QStringLiteral("element %1 of '%2' was written instead")
                                        .arg(QString::number(*landing), reach.name)
                                  : QStringLiteral("nothing was written")));
  } else {
    warnSingleStore(context, reach, elementIndex(index));
  }

  const double oldValue = manager.getValue(zName, elementIndex(index));
  AuditedStores stores(manager, zName);
  stores.store(reach, elementIndex(index), value);
  stores.report(context);
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
  const QString yName = requireCurveY(context, definition, id);

  QJsonParseError error{};
  const QJsonDocument document =
      QJsonDocument::fromJson(options.value(QStringLiteral("values")).toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) {
    throw CommandError(QStringLiteral("Invalid JSON array"));
  }
  const QJsonArray points = document.array();

  int index = 0;
  qint64 notNumbers = 0;
  const StoreReach reach = storeReach(manager, yName);
  AuditedStores stores(manager, yName);
  manager.beginDeferredEdits();
  for (const QJsonValue& point : points) {
    stores.store(reach, index, elementValue(point, notNumbers));
    ++index;
  }
  manager.endDeferredEdits();
  warnStoreRun(context, reach, index, notNumbers);
  warnShortRun(context, reach, index, QStringLiteral("curve '%1'").arg(id),
               [](qint64 k) { return QStringLiteral("point %1").arg(k); });
  stores.report(context);
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
  const QString yName = requireCurveY(context, definition, id);
  const int index = integerOption(context, QStringLiteral("index"));
  const double value = valueOption(context);
  const StoreReach reach = storeReach(manager, yName);
  warnSingleStore(context, reach, index);

  const double oldValue = manager.getValue(yName, index);
  AuditedStores stores(manager, yName);
  stores.store(reach, index, value);
  stores.report(context);
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
