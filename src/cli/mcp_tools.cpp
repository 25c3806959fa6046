#include "cli/mcp_tools.h"

#include <QJsonArray>
#include <cmath>
#include <string_view>

#include "json/json_writer.h"

namespace tk::cli::mcp {
namespace {

// What an option's value is as a tool argument; it becomes the option's text on the command line.
enum class Kind { Text, Integer, Value, Json, Flag };

struct OptionInfo {
  const char* name;
  Kind kind;
  const char* description;
};

// Every option a command reads, with its type and one line for the agent. An option of a later
// command that is missing here is offered as text.
constexpr OptionInfo kOptions[] = {
    {"id", Kind::Text, "the table's or curve's name in the definition"},
    {"name", Kind::Text, "the constant's, command's or new project's name"},
    {"value", Kind::Value, "the value in physical units, or an option's label"},
    {"values", Kind::Json,
     "the values as JSON: an array of rows for a table, a flat array for a "
     "curve"},
    {"row", Kind::Integer, "the row, from 0"},
    {"col", Kind::Integer, "the column, from 0"},
    {"index", Kind::Integer, "the element, from 0"},
    {"page", Kind::Integer, "only the constants of this page, from 1"},
    {"count", Kind::Integer, "how many readings to take (default 1)"},
    {"channels", Kind::Text, "the channel names to keep, separated by commas (default all)"},
    {"duration", Kind::Integer, "how many seconds to record"},
    {"output", Kind::Text, "the file to write"},
    {"file", Kind::Text, "the MSQ file to read"},
    {"force", Kind::Flag, "go on although the file does not match the project"},
    {"text", Kind::Text, "the console text to send"},
    {"ini", Kind::Text, "the definition file to copy into the project"},
    {"folder", Kind::Text, "the folder to make the project in"},
    {"protocol", Kind::Text, "Serial, TcpBridge or Mock"},
    {"port", Kind::Text, "the serial port"},
    {"host", Kind::Text, "the TCP bridge's host"},
    {"baud", Kind::Integer, "the serial baud rate"},
    {"tcp-port", Kind::Integer, "the TCP bridge's port"},
    {"edits", Kind::Json, "the edits as a JSON array of {name, value} objects"},
    {"edits-file", Kind::Text, "a file holding the edits' JSON"},
    {"dry-run", Kind::Flag, "check the edits and store nothing"},
    {"group", Kind::Text, "the setting group's name"},
    {"option", Kind::Text, "the option of the setting group to choose"},
    {"ecu", Kind::Flag, "compare with the controller's tune"},
    {"msq", Kind::Text, "compare with this MSQ file"},
    {"other-project", Kind::Text, "compare with this project file"},
    {"max", Kind::Integer, "list at most this many differences"},
    {"offline", Kind::Flag, "save the edit without pushing it to the controller"},
};

// Options a command reads beyond its required ones and its flags.
struct OptionalOptions {
  const char* command;
  const char* options;
};

constexpr OptionalOptions kOptional[] = {
    {"list-fields", "page"},
    {"read-channels", "count channels"},
    {"set-connection", "protocol port host baud tcp-port"},
    {"apply-edits", "edits edits-file"},
    {"diff", "msq other-project max"},
};

// Commands that act on the controller beyond what their needs say.
constexpr std::string_view kControllerActions[] = {"burn", "send-command", "send-console"};
// Commands that write a file of their own but change neither the tune nor the controller.
constexpr std::string_view kFileWriters[] = {"create-project", "export-msq", "datalog"};

template <typename List>
bool listed(const List& list, const char* name) {
  for (const std::string_view entry : list) {
    if (entry == name) {
      return true;
    }
  }
  return false;
}

const OptionInfo* optionInfo(const QString& name) {
  for (const OptionInfo& info : kOptions) {
    if (name == QLatin1String(info.name)) {
      return &info;
    }
  }
  return nullptr;
}

QStringList words(const char* text) {
  return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

// The options of a row as tool parameters, in order: required ones, optional ones, flags.
struct Parameters {
  QStringList required;
  QStringList optional;
  QStringList flags;
};

Parameters parameters(const AgentCommand& row) {
  Parameters p;
  for (const QString& name : words(row.requiredOptions)) {
    if (name != QLatin1String("project")) {
      p.required.append(name);
    }
  }
  for (const OptionalOptions& entry : kOptional) {
    if (std::string_view(entry.command) == row.name) {
      p.optional = words(entry.options);
    }
  }
  p.flags = words(row.flags);
  if (row.needs.testFlag(Need::PushToEcu)) {
    p.flags.append(QStringLiteral("offline"));
  }
  return p;
}

Kind kindOf(const QString& name, const Parameters& p) {
  if (p.flags.contains(name)) {
    return Kind::Flag;
  }
  const OptionInfo* info = optionInfo(name);
  // A known flag name taken by a command as a value option is text there.
  return info && info->kind != Kind::Flag ? info->kind : Kind::Text;
}

JsonValue propertySchema(const QString& name, Kind kind) {
  JsonValue schema = JsonValue::object();
  switch (kind) {
    case Kind::Text:
      schema.insert(QStringLiteral("type"), QStringLiteral("string"));
      break;
    case Kind::Integer:
      schema.insert(QStringLiteral("type"), QStringLiteral("integer"));
      break;
    case Kind::Value: {
      JsonValue types = JsonValue::array();
      types.append(QStringLiteral("number"));
      types.append(QStringLiteral("string"));
      schema.insert(QStringLiteral("type"), std::move(types));
      break;
    }
    case Kind::Json: {
      JsonValue types = JsonValue::array();
      types.append(QStringLiteral("array"));
      types.append(QStringLiteral("string"));
      schema.insert(QStringLiteral("type"), std::move(types));
      break;
    }
    case Kind::Flag:
      schema.insert(QStringLiteral("type"), QStringLiteral("boolean"));
      break;
  }
  const OptionInfo* info = optionInfo(name);
  schema.insert(QStringLiteral("description"), info ? QString::fromLatin1(info->description)
                                                    : QStringLiteral("the --%1 option").arg(name));
  return schema;
}

// Why value cannot be the option's text, or its text.
std::variant<QString, ArgumentProblem> optionText(const QString& name, Kind kind,
                                                  const QJsonValue& value) {
  const auto problem = [&](const char* expected) {
    return ArgumentProblem{QStringLiteral("Invalid params: argument '%1' must be %2")
                               .arg(name, QLatin1String(expected))};
  };
  switch (kind) {
    case Kind::Text:
      if (!value.isString()) {
        return problem("a string");
      }
      return value.toString();
    case Kind::Integer: {
      const double d = value.toDouble();
      if (!value.isDouble() || d != std::floor(d) || std::fabs(d) > 2147483647.0) {
        return problem("an integer");
      }
      return QString::number(static_cast<qint64>(d));
    }
    case Kind::Value:
      if (value.isString()) {
        return value.toString();
      }
      if (!value.isDouble()) {
        return problem("a number or a string");
      }
      return QString::fromUtf8(serialize(fromQJson(value)));
    case Kind::Json:
      if (value.isString()) {
        return value.toString();
      }
      if (!value.isArray()) {
        return problem("an array or a JSON string");
      }
      return QString::fromUtf8(serialize(fromQJson(value)));
    case Kind::Flag:
      break;
  }
  return problem("a boolean");
}

}  // namespace

bool isTool(const AgentCommand& row) {
  // The dashboard serves a web page until it is stopped: as a tool its call would never end.
  return !row.needs.testFlag(Need::OwnOutput) && row.name != std::string_view("dashboard");
}

JsonValue toolDescription(const AgentCommand& row) {
  const Parameters p = parameters(row);
  JsonValue properties = JsonValue::object();
  for (const QStringList* names : {&p.required, &p.optional, &p.flags}) {
    for (const QString& name : *names) {
      properties.insert(name, propertySchema(name, kindOf(name, p)));
    }
  }
  JsonValue required = JsonValue::array();
  for (const QString& name : p.required) {
    required.append(name);
  }
  JsonValue schema = JsonValue::object();
  schema.insert(QStringLiteral("type"), QStringLiteral("object"));
  schema.insert(QStringLiteral("properties"), std::move(properties));
  schema.insert(QStringLiteral("required"), std::move(required));
  schema.insert(QStringLiteral("additionalProperties"), false);

  // An edit, a save, a change of the project file and a tune read from the controller replace
  // what was there; so do the controller actions.
  const bool destructive = row.needs.testFlag(Need::ProjectLock) ||
                           row.needs.testFlag(Need::PushToEcu) ||
                           listed(kControllerActions, row.name);
  const bool readOnly = !destructive && !listed(kFileWriters, row.name);
  JsonValue annotations = JsonValue::object();
  annotations.insert(QStringLiteral("readOnlyHint"), readOnly);
  annotations.insert(QStringLiteral("destructiveHint"), destructive);

  JsonValue tool = JsonValue::object();
  tool.insert(QStringLiteral("name"), QString::fromLatin1(row.name));
  tool.insert(QStringLiteral("description"), QString::fromLatin1(row.summary));
  tool.insert(QStringLiteral("inputSchema"), std::move(schema));
  tool.insert(QStringLiteral("annotations"), std::move(annotations));
  return tool;
}

JsonValue toolList(std::span<const AgentCommand> table) {
  JsonValue tools = JsonValue::array();
  for (const AgentCommand& row : table) {
    if (isTool(row)) {
      tools.append(toolDescription(row));
    }
  }
  return tools;
}

const AgentCommand* findTool(std::span<const AgentCommand> table, const QString& name) {
  for (const AgentCommand& row : table) {
    if (isTool(row) && name == QLatin1String(row.name)) {
      return &row;
    }
  }
  return nullptr;
}

std::variant<QStringList, ArgumentProblem> commandLine(const AgentCommand& row,
                                                       const QJsonObject& arguments,
                                                       const QString& projectPath) {
  const Parameters p = parameters(row);
  QStringList line{QStringLiteral("torvik-cli"), QString::fromLatin1(row.name),
                   QStringLiteral("-p"), projectPath};
  for (auto it = arguments.begin(); it != arguments.end(); ++it) {
    const QString& name = it.key();
    if (!p.required.contains(name) && !p.optional.contains(name) && !p.flags.contains(name)) {
      return ArgumentProblem{QStringLiteral("Invalid params: unknown argument '%1' for tool '%2'")
                                 .arg(name, QString::fromLatin1(row.name))};
    }
    const Kind kind = kindOf(name, p);
    if (kind == Kind::Flag) {
      if (!it.value().isBool()) {
        return ArgumentProblem{
            QStringLiteral("Invalid params: argument '%1' must be a boolean").arg(name)};
      }
      if (it.value().toBool()) {
        line.append(QStringLiteral("--") + name);
      }
      continue;
    }
    auto text = optionText(name, kind, it.value());
    if (auto* problem = std::get_if<ArgumentProblem>(&text)) {
      return *problem;
    }
    line.append(QStringLiteral("--") + name);
    line.append(std::get<QString>(text));
  }
  for (const QString& name : p.required) {
    if (!arguments.contains(name)) {
      return ArgumentProblem{
          QStringLiteral("Invalid params: missing required argument '%1'").arg(name)};
    }
  }
  return line;
}

JsonValue fromQJson(const QJsonValue& value) {
  switch (value.type()) {
    case QJsonValue::Bool:
      return value.toBool();
    case QJsonValue::Double: {
      const double d = value.toDouble();
      constexpr double kExact = 9007199254740992.0;  // 2^53
      if (d == std::floor(d) && std::fabs(d) <= kExact) {
        return static_cast<long long>(d);
      }
      return d;
    }
    case QJsonValue::String:
      return value.toString();
    case QJsonValue::Array: {
      JsonValue array = JsonValue::array();
      for (const QJsonValue& element : value.toArray()) {
        array.append(fromQJson(element));
      }
      return array;
    }
    case QJsonValue::Object: {
      JsonValue object = JsonValue::object();
      const QJsonObject members = value.toObject();
      for (auto it = members.begin(); it != members.end(); ++it) {
        object.insert(it.key(), fromQJson(it.value()));
      }
      return object;
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
      break;
  }
  return {};
}

}  // namespace tk::cli::mcp
