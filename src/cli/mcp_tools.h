#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <span>
#include <variant>

#include "cli/agent_runner.h"
#include "json/json_value.h"

namespace tk::cli::mcp {

/// Whether a command-table row is offered as a tool (every row but the session command itself).
bool isTool(const AgentCommand& row);

/// The tool description of one row: name, description (the row's summary), inputSchema from its
/// options (the project is the session's and no parameter), and the read-only / destructive
/// annotations.
JsonValue toolDescription(const AgentCommand& row);

/// The "tools" array of tools/list: one description per tool row, in table order.
JsonValue toolList(std::span<const AgentCommand> table);

/// The row of the tool named name, or nullptr when there is no such tool.
const AgentCommand* findTool(std::span<const AgentCommand> table, const QString& name);

/// Why arguments do not match a tool's input schema, naming the offending member.
struct ArgumentProblem {
  QString message;
};

/// The command line that runs the tool with these arguments on the session's project
/// (program name, command, -p project, then one option per argument), or what does not match
/// the tool's schema: a member it does not know, a value of the wrong type, a required one absent.
std::variant<QStringList, ArgumentProblem> commandLine(const AgentCommand& row,
                                                       const QJsonObject& arguments,
                                                       const QString& projectPath);

/// A JSON value read by QJsonDocument as the system's own value: integral numbers within the
/// exactly representable range become integers (object members come in key order).
JsonValue fromQJson(const QJsonValue& value);

}  // namespace tk::cli::mcp
