#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "json/json_value.h"

namespace tk::cli {

/// Parsed options of one agent command: name (without dashes) to its last value.
struct CommandOptions {
  QHash<QString, QString> values;
  bool offline = false;

  bool has(const QString& name) const { return values.contains(name); }
  /// The option's value, or an empty text when absent.
  QString value(const QString& name) const { return values.value(name); }
};

/// A failure a command reports to its caller; the message is the user-facing text.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// A command's work: returns the envelope's data (or none) and throws on failure.
using CommandHandler = std::optional<JsonValue> (*)(const CommandOptions& options);

/// One row of the command table.
struct AgentCommand {
  const char* name;
  CommandHandler handler;
  std::vector<const char*> requiredOptions;
};

/// The tool's command table, in table order.
std::span<const AgentCommand> agentCommands();

/// Runs the command named by arguments[1]; no result when there is none or it is unknown.
std::optional<int> runAgentCommand(const QStringList& arguments);
/// The same against a given table.
std::optional<int> runAgentCommand(const QStringList& arguments,
                                   std::span<const AgentCommand> table);

/// The option as a decimal 32-bit integer: fallback when absent, 0 when not a valid integer.
int optionInt(const CommandOptions& options, const QString& name, int fallback);

}  // namespace tk::cli
