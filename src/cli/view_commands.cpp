#include "cli/view_commands.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <vector>

#include "cli/command_support.h"
#include "cli/project_loader.h"
#include "cli/project_lock.h"
#include "project/new_project_check.h"
#include "tune/field_codec.h"

namespace tk::cli {
namespace {

// Lists shown to users: stable, on the case-folded key compared by UTF-16 code unit, so
// entries whose keys differ only in case keep the definition's order.
template <typename T, typename Key>
std::vector<const T*> sortedByKey(const std::vector<std::pair<QString, T>>& entries, Key key) {
  std::vector<std::pair<QString, const T*>> keyed;
  keyed.reserve(entries.size());
  for (const auto& entry : entries) {
    keyed.emplace_back(key(entry.second).toCaseFolded(), &entry.second);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<const T*> sorted;
  sorted.reserve(keyed.size());
  for (const auto& entry : keyed) {
    sorted.push_back(entry.second);
  }
  return sorted;
}

JsonValue listResult(const char* member, JsonValue list) {
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("count"), static_cast<long long>(list.size()));
  data.insert(QString::fromLatin1(member), std::move(list));
  return data;
}

// The axis object of a table or curve: only when the variable is named and the tune holds an
// array of that name.
std::optional<JsonValue> axisBins(const Tune& tune, const QString& variable) {
  if (variable.isEmpty()) {
    return std::nullopt;
  }
  const TuneValue* value = tune.find(variable);
  if (value == nullptr || !value->arrayValues) {
    return std::nullopt;
  }
  JsonValue bins = JsonValue::object();
  bins.insert(QStringLiteral("variable"), variable);
  bins.insert(QStringLiteral("values"), numberArray(*value->arrayValues));
  return bins;
}

const TuneValue& requireTuneValue(CommandContext& context, const Tune& tune, const QString& name) {
  const TuneValue* value = tune.find(name);
  if (value == nullptr) {
    QStringList names;
    for (const TuneValue& record : tune.fields) {
      names.append(record.name);
    }
    context.hintName(name, names);
    throw CommandError(
        QStringLiteral("Field '%1' not found in tune. Use list-fields to see available fields.")
            .arg(name));
  }
  return *value;
}

}  // namespace

JsonValue openProject(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const project::ProjectFile* project = manager.project();
  if (project == nullptr) {
    throw CommandError(QStringLiteral("Project not loaded"));
  }
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune* tune = manager.tune();

  JsonValue connection = JsonValue::object();
  connection.insert(QStringLiteral("protocol"), project->connection.protocol);
  connection.insert(QStringLiteral("port"), project->connection.port);
  connection.insert(QStringLiteral("baudRate"), project->connection.baudRate);
  connection.insert(QStringLiteral("host"), project->connection.host);
  connection.insert(QStringLiteral("tcpPort"), project->connection.tcpPort);

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), project->name);
  data.insert(QStringLiteral("iniSignature"), definition.Signature);
  data.insert(QStringLiteral("pages"), definition.NPages);
  data.insert(QStringLiteral("tables"), static_cast<long long>(definition.Tables.size()));
  data.insert(QStringLiteral("curves"), static_cast<long long>(definition.Curves.size()));
  data.insert(QStringLiteral("scalars"), static_cast<long long>(definition.Scalars.size()));
  data.insert(QStringLiteral("fields"), tune ? static_cast<long long>(tune->fields.size()) : 0LL);
  data.insert(QStringLiteral("outputChannels"),
              static_cast<long long>(definition.OutputChannels.size()));
  data.insert(QStringLiteral("connection"), std::move(connection));
  return data;
}

JsonValue createProject(CommandContext& context) {
  const CommandOptions& options = context.options();
  const QString name = options.value(QStringLiteral("name"));
  const QString iniPath = absoluteNativePath(options.value(QStringLiteral("ini")));
  const QString folder = absoluteNativePath(options.value(QStringLiteral("folder")));
  project::checkNewProject(folder, name);
  if (!QFileInfo(iniPath).isFile()) {
    throw CommandError(QStringLiteral("INI file not found: ") + iniPath);
  }
  // A folder that cannot be made shows up as the project layer's write error.
  QDir().mkpath(folder);
  // Two commands creating the same project at once: the second finds the first's files.
  ProjectLock lock(project::newProjectPath(folder, name));
  lock.acquire();
  project::checkNewProject(folder, name);

  project::ProjectManager manager;
  manager.createProject(name, iniPath, folder);
  const project::ProjectFile* project = manager.project();
  if (project == nullptr) {
    throw CommandError(QStringLiteral("Project not created"));
  }
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune* tune = manager.tune();

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), project->name);
  data.insert(QStringLiteral("projectFile"), QDir::toNativeSeparators(manager.projectPath()));
  data.insert(QStringLiteral("iniSignature"), definition.Signature);
  data.insert(QStringLiteral("fields"), tune ? static_cast<long long>(tune->fields.size()) : 0LL);
  return data;
}

JsonValue listTables(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  JsonValue tables = JsonValue::array();
  for (const TableDef* table :
       sortedByKey(definition.Tables.entries(), [](const TableDef& t) { return t.Title; })) {
    JsonValue entry = JsonValue::object();
    entry.insert(QStringLiteral("id"), table->Id);
    entry.insert(QStringLiteral("title"), table->Title);
    entry.insert(QStringLiteral("xBinVariable"), table->XBinVariable);
    entry.insert(QStringLiteral("yBinVariable"), table->YBinVariable);
    entry.insert(QStringLiteral("zBinVariable"), table->ZBinVariable);
    tables.append(std::move(entry));
  }
  return listResult("tables", std::move(tables));
}

JsonValue listCurves(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  JsonValue curves = JsonValue::array();
  for (const CurveDef* curve :
       sortedByKey(definition.Curves.entries(), [](const CurveDef& c) { return c.Title; })) {
    JsonValue entry = JsonValue::object();
    entry.insert(QStringLiteral("id"), curve->Id);
    entry.insert(QStringLiteral("title"), curve->Title);
    entry.insert(QStringLiteral("xBinVariable"), curve->XBinVariable);
    entry.insert(QStringLiteral("yBinVariable"), curve->YBinVariable);
    curves.append(std::move(entry));
  }
  return listResult("curves", std::move(curves));
}

JsonValue listScalars(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  JsonValue scalars = JsonValue::array();
  for (const ScalarDef* scalar :
       sortedByKey(definition.Scalars.entries(), [](const ScalarDef& s) { return s.Title; })) {
    JsonValue entry = JsonValue::object();
    entry.insert(QStringLiteral("name"), scalar->Name);
    entry.insert(QStringLiteral("title"), scalar->Title);
    const TuneValue* value = tune.find(scalar->Name);
    if (value != nullptr && value->scalarValue) {
      entry.insert(QStringLiteral("value"), *value->scalarValue);
    }
    entry.insert(QStringLiteral("units"), scalar->Units);
    entry.insert(QStringLiteral("min"), scalar->Min);
    entry.insert(QStringLiteral("max"), scalar->Max);
    entry.insert(QStringLiteral("digits"), scalar->Digits);
    scalars.append(std::move(entry));
  }
  return listResult("scalars", std::move(scalars));
}

JsonValue listFields(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const std::optional<int> page =
      options.has(QStringLiteral("page"))
          ? std::optional<int>(options.intOrZero(QStringLiteral("page"), 0))
          : std::nullopt;
  JsonValue fields = JsonValue::array();
  for (const PageGroup& group : definition.Pages) {
    if (page && group.PageNumber != *page) {
      continue;
    }
    for (const ConstantDef& constant : group.Fields) {
      JsonValue entry = JsonValue::object();
      entry.insert(QStringLiteral("name"), constant.Name);
      entry.insert(QStringLiteral("type"), constantTypeText(constant.Type));
      entry.insert(QStringLiteral("dataType"), constant.DataType);
      entry.insert(QStringLiteral("page"), group.PageNumber);
      entry.insert(QStringLiteral("offset"), constant.Offset);
      entry.insert(QStringLiteral("units"), constant.Units);
      entry.insert(QStringLiteral("scale"), constant.Scale);
      entry.insert(QStringLiteral("translate"), constant.Translate);
      entry.insert(QStringLiteral("min"), constant.Min);
      entry.insert(QStringLiteral("max"), constant.Max);
      if (!constant.Shape.isEmpty()) {
        JsonValue shape = JsonValue::array();
        for (const int dimension : constant.Shape) {
          shape.append(dimension);
        }
        entry.insert(QStringLiteral("shape"), std::move(shape));
      }
      fields.append(std::move(entry));
    }
  }
  return listResult("fields", std::move(fields));
}

JsonValue listChannels(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  JsonValue channels = JsonValue::array();
  for (const ConstantDef* channel : sortedByKey(definition.OutputChannels.entries(),
                                                [](const ConstantDef& c) { return c.Name; })) {
    JsonValue entry = JsonValue::object();
    entry.insert(QStringLiteral("name"), channel->Name);
    entry.insert(QStringLiteral("dataType"), channel->DataType);
    entry.insert(QStringLiteral("units"), channel->Units);
    entry.insert(QStringLiteral("offset"), channel->Offset);
    entry.insert(QStringLiteral("scale"), channel->Scale);
    entry.insert(QStringLiteral("translate"), channel->Translate);
    channels.append(std::move(entry));
  }
  return listResult("channels", std::move(channels));
}

JsonValue listCommands(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  // Commands sit in a map ordered by exact name; names that differ only in case keep that order.
  const QMap<QString, QString> all = definition.agentCommands();
  std::vector<std::pair<QString, QString>> entries;
  for (auto it = all.cbegin(); it != all.cend(); ++it) {
    entries.emplace_back(it.key().toCaseFolded(), it.key());
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  JsonValue commands = JsonValue::array();
  for (const auto& entry : entries) {
    const QString& name = entry.second;
    JsonValue command = JsonValue::object();
    command.insert(QStringLiteral("name"), name);
    command.insert(QStringLiteral("raw"), all.value(name));
    commands.append(std::move(command));
  }
  return listResult("commands", std::move(commands));
}

JsonValue getTable(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  const QString id = options.value(QStringLiteral("id"));
  const TableDef* table = definition.Tables.find(id);
  if (table == nullptr) {
    context.hintName(id, idsOf(definition.Tables));
    throw CommandError(
        QStringLiteral("Table '%1' not found in INI. Use list-tables to see available tables.")
            .arg(id));
  }
  const TuneValue* z = table->ZBinVariable.isEmpty() ? nullptr : tune.find(table->ZBinVariable);
  if (z == nullptr) {
    throw CommandError(
        QStringLiteral("Table data field '%1' not found in tune").arg(table->ZBinVariable));
  }
  if (!z->arrayValues) {
    throw CommandError(QStringLiteral("Table has no data"));
  }
  const QList<double>& values = *z->arrayValues;
  const qsizetype n = values.size();
  const int cols = z->cols ? *z->cols : static_cast<int>(std::sqrt(static_cast<double>(n)));
  const int rows = z->rows ? *z->rows : static_cast<int>(n / std::max(cols, 1));
  // A tune file may claim any shape; a grid far beyond any real table is refused rather than
  // padded with zeros until memory runs out.
  if (rows > 0 && qint64{rows} * std::max(cols, 1) > kMaxElementCount) {
    throw CommandError(
        QStringLiteral("Table data field '%1' has an unusable shape of %2 rows and %3 columns")
            .arg(table->ZBinVariable)
            .arg(rows)
            .arg(cols));
  }

  JsonValue grid = JsonValue::array();
  for (int r = 0; r < rows; ++r) {
    JsonValue row = JsonValue::array();
    for (int c = 0; c < cols; ++c) {
      const qint64 index = qint64{r} * cols + c;
      row.append(index < n ? values.at(index) : 0.0);
    }
    grid.append(std::move(row));
  }

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), table->Id);
  data.insert(QStringLiteral("title"), table->Title);
  data.insert(QStringLiteral("rows"), rows);
  data.insert(QStringLiteral("cols"), cols);
  if (std::optional<JsonValue> x = axisBins(tune, table->XBinVariable)) {
    data.insert(QStringLiteral("xBins"), std::move(*x));
  }
  if (std::optional<JsonValue> y = axisBins(tune, table->YBinVariable)) {
    data.insert(QStringLiteral("yBins"), std::move(*y));
  }
  data.insert(QStringLiteral("zVariable"), table->ZBinVariable);
  data.insert(QStringLiteral("units"), z->units.value_or(QString()));
  data.insert(QStringLiteral("values"), std::move(grid));
  return data;
}

JsonValue getCurve(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  const QString id = options.value(QStringLiteral("id"));
  const CurveDef* curve = definition.Curves.find(id);
  if (curve == nullptr) {
    context.hintName(id, idsOf(definition.Curves));
    throw CommandError(
        QStringLiteral("Curve '%1' not found in INI. Use list-curves to see available curves.")
            .arg(id));
  }
  const TuneValue* y = curve->YBinVariable.isEmpty() ? nullptr : tune.find(curve->YBinVariable);
  if (y == nullptr) {
    throw CommandError(
        QStringLiteral("Curve data field '%1' not found in tune").arg(curve->YBinVariable));
  }
  if (!y->arrayValues) {
    throw CommandError(QStringLiteral("Curve has no Y data"));
  }
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("id"), curve->Id);
  data.insert(QStringLiteral("title"), curve->Title);
  data.insert(QStringLiteral("length"), static_cast<long long>(y->arrayValues->size()));
  if (std::optional<JsonValue> x = axisBins(tune, curve->XBinVariable)) {
    data.insert(QStringLiteral("xBins"), std::move(*x));
  }
  data.insert(QStringLiteral("yVariable"), curve->YBinVariable);
  data.insert(QStringLiteral("yUnits"), y->units.value_or(QString()));
  data.insert(QStringLiteral("yValues"), numberArray(*y->arrayValues));
  return data;
}

JsonValue getScalar(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const Tune& tune = requireTune(manager);
  requireDefinition(manager);
  const TuneValue& value = requireTuneValue(context, tune, options.value(QStringLiteral("name")));
  const std::optional<FieldRef> field = manager.findField(value.name);

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), value.name);
  if (value.scalarValue) {
    data.insert(QStringLiteral("value"), *value.scalarValue);
  }
  data.insert(QStringLiteral("units"), value.units.value_or(QString()));
  data.insert(QStringLiteral("digits"), value.digits);
  if (field) {
    data.insert(QStringLiteral("min"), field->constant->Min);
    data.insert(QStringLiteral("max"), field->constant->Max);
    data.insert(QStringLiteral("type"), constantTypeText(field->constant->Type));
  }
  return data;
}

JsonValue getField(CommandContext& context) {
  const project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const Tune& tune = requireTune(manager);
  const TuneValue& value = requireTuneValue(context, tune, options.value(QStringLiteral("name")));
  const std::optional<FieldRef> field = manager.findField(value.name);

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("name"), value.name);
  if (field) {
    data.insert(QStringLiteral("type"), constantTypeText(field->constant->Type));
  }
  if (value.scalarValue) {
    data.insert(QStringLiteral("scalarValue"), *value.scalarValue);
  }
  if (value.arrayValues) {
    data.insert(QStringLiteral("arrayValues"), numberArray(*value.arrayValues));
  }
  if (value.stringValue) {
    data.insert(QStringLiteral("stringValue"), *value.stringValue);
  }
  if (value.enumValue) {
    data.insert(QStringLiteral("enumValue"), *value.enumValue);
  }
  data.insert(QStringLiteral("units"), value.units.value_or(QString()));
  data.insert(QStringLiteral("digits"), value.digits);
  if (value.rows) {
    data.insert(QStringLiteral("rows"), *value.rows);
  }
  if (value.cols) {
    data.insert(QStringLiteral("cols"), *value.cols);
  }
  if (field) {
    data.insert(QStringLiteral("min"), field->constant->Min);
    data.insert(QStringLiteral("max"), field->constant->Max);
  }
  // The values a bit field takes, so that set-bits can be given a label or its number.
  if (field && field->constant->Type == ConstantType::Bits &&
      !field->constant->BitValues.isEmpty()) {
    JsonValue choices = JsonValue::array();
    for (const BitValue& option : field->constant->BitValues) {
      JsonValue choice = JsonValue::object();
      choice.insert(QStringLiteral("value"), option.first);
      choice.insert(QStringLiteral("label"), option.second);
      choices.append(std::move(choice));
    }
    data.insert(QStringLiteral("options"), std::move(choices));
  }
  return data;
}

}  // namespace tk::cli
