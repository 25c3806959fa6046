#include "cli/agent_runner.h"

#include "cli/console.h"
#include "cli/envelope.h"

namespace tk::cli {
namespace {

const AgentCommand* findCommand(std::span<const AgentCommand> table, const QString& name) {
  for (const AgentCommand& row : table) {
    if (name == QLatin1String(row.name)) {
      return &row;
    }
  }
  return nullptr;
}

// Any exception of the standard family becomes the error envelope with its message unchanged.
int runHandler(const AgentCommand& command, const CommandOptions& options) {
  const QString name = QString::fromLatin1(command.name);
  try {
    const std::optional<JsonValue> data = command.handler(options);
    emitSuccess(name, data);
    return 0;
  } catch (const std::exception& e) {
    emitError(name, QString::fromUtf8(e.what()));
    return 1;
  }
}

}  // namespace

std::optional<int> runAgentCommand(const QStringList& arguments) {
  return runAgentCommand(arguments, agentCommands());
}

std::optional<int> runAgentCommand(const QStringList& arguments,
                                   std::span<const AgentCommand> table) {
  if (arguments.size() < 2) {
    return std::nullopt;
  }
  const QString& commandName = arguments.at(1);
  const AgentCommand* command = findCommand(table, commandName);
  if (!command) {
    return std::nullopt;
  }

  CommandOptions options;
  for (qsizetype i = 2; i < arguments.size(); ++i) {
    const QString& arg = arguments.at(i);
    QString name;
    if (arg == QLatin1String("-p")) {
      name = QStringLiteral("project");
    } else if (arg == QLatin1String("-f")) {
      name = QStringLiteral("format");
    } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
      name = arg.mid(2);
    } else {
      printErr(
          QStringLiteral("Unrecognized argument '%1' for command '%2'.").arg(arg, commandName));
      return 1;
    }
    if (name == QLatin1String("offline")) {
      options.offline = true;
      continue;
    }
    if (i + 1 >= arguments.size()) {
      printErr(QStringLiteral("Option '--%1' requires a value.").arg(name));
      return 1;
    }
    options.values.insert(name, arguments.at(++i));
  }

  for (const char* required : command->requiredOptions) {
    const QString name = QString::fromLatin1(required);
    if (!options.has(name)) {
      printErr(QStringLiteral("Option '--%1' is required.").arg(name));
      return 1;
    }
  }

  setTextOutput(options.value(QStringLiteral("format")) == QLatin1String("text"));
  return runHandler(*command, options);
}

int optionInt(const CommandOptions& options, const QString& name, int fallback) {
  if (!options.has(name)) {
    return fallback;
  }
  bool ok = false;
  const int value = options.value(name).toInt(&ok, 10);
  return ok ? value : 0;
}

}  // namespace tk::cli
