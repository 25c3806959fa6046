#include "cli/agent_runner.h"

#include <new>

#include "cli/ecu_link.h"
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

// An argument error is one plain line on standard error, whatever the format.
CommandResult argumentError(const QString& message) {
  return {{Stream::Err, (message + QLatin1Char('\n')).toUtf8()}, 1, {}};
}

// The handler frame: the row's needs around its handler in one guarded block. Any exception
// becomes the error envelope, a standard one with its message unchanged; what the context holds
// (the project and its lock) is released on both paths before the envelope is written. The
// warnings the command gave on the way are kept on both paths.
CommandResult runHandler(const AgentCommand& row, const CommandOptions& options,
                         const CommandContext::ProgressSink& progressSink) {
  const QString name = QString::fromLatin1(row.name);
  const OutputFormat format = options.value(QStringLiteral("format")) == QLatin1String("text")
                                  ? OutputFormat::Text
                                  : OutputFormat::Json;
  // Kept outside the block: warnings and a push that was reported stay reported whatever follows.
  QByteArray diagnostics;
  QString message;
  try {
    CommandContext context(options, diagnostics, progressSink);
    if (row.needs.testFlag(Need::Project)) {
      context.loadProject(row.needs.testFlag(Need::ProjectLock) ? ProjectAccess::Change
                                                                : ProjectAccess::Read);
      if (row.needs.testFlag(Need::TuneFile)) {
        context.requireTuneFile();
      }
    }
    if (row.needs.testFlag(Need::EcuLink)) {
      context.openLink();
    }
    // An edit that leaves every byte as it was has nothing to tell the controller.
    const bool mayPush = row.needs.testFlag(Need::PushToEcu) && !options.offline;
    const PageImages before = mayPush ? context.manager().pageImages() : PageImages();
    JsonValue data = row.handler(context);
    if (row.needs.testFlag(Need::OwnOutput)) {
      return {{Stream::Out, {}}, 0, diagnostics};
    }
    if (row.needs.testFlag(Need::SavedTune) && !context.saveSkipped()) {
      context.manager().saveProject();
      data.insert(QStringLiteral("saved"), true);
    }
    if (const std::optional<QString>& label = context.editLabel(); mayPush && label) {
      diagnostics += context.manager().pageImages() == before
                         ? unchangedEditLine(context.manager())
                         : pushEditsToEcu(context.manager(), *label);
    }
    return {renderSuccess(format, name, data), 0, diagnostics};
  } catch (const std::bad_alloc&) {
    // Its own text ("std::bad_alloc") means nothing to a user.
    message = QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
  } catch (...) {
    message = QStringLiteral("Unexpected failure");
  }
  return {renderError(format, name, message), 1, diagnostics};
}

}  // namespace

std::optional<CommandResult> runCommand(const QStringList& arguments,
                                        std::span<const AgentCommand> table,
                                        const CommandContext::ProgressSink& progressSink) {
  if (arguments.size() < 2) {
    return std::nullopt;
  }
  const QString& commandName = arguments.at(1);
  const AgentCommand* command = findCommand(table, commandName);
  if (!command) {
    return std::nullopt;
  }

  const QStringList flags = QString::fromLatin1(command->flags).split(u' ', Qt::SkipEmptyParts);
  CommandOptions options;
  for (qsizetype i = 2; i < arguments.size(); ++i) {
    const QString& arg = arguments.at(i);
    QString name;
    if (arg == QLatin1String("-p")) {
      name = QStringLiteral("project");
    } else if (arg == QLatin1String("-f")) {
      name = QStringLiteral("format");
    } else if (arg == QLatin1String("--project")) {
      name = QString::fromLatin1(command->longProject);
    } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
      name = arg.mid(2);
    } else {
      return argumentError(
          QStringLiteral("Unrecognized argument '%1' for command '%2'.").arg(arg, commandName));
    }
    if (name == QLatin1String("offline")) {
      options.offline = true;
      continue;
    }
    if (flags.contains(name)) {
      options.values.insert(name, QString());
      continue;
    }
    if (i + 1 >= arguments.size()) {
      return argumentError(QStringLiteral("Option '--%1' requires a value.").arg(name));
    }
    options.values.insert(name, arguments.at(++i));
    options.repeated[name].append(arguments.at(i));
  }

  const QStringList required =
      QString::fromLatin1(command->requiredOptions).split(u' ', Qt::SkipEmptyParts);
  for (const QString& name : required) {
    if (!options.has(name)) {
      return argumentError(QStringLiteral("Option '--%1' is required.").arg(name));
    }
  }
  return runHandler(*command, options, progressSink);
}

std::optional<int> runAgentCommand(const QStringList& arguments) {
  const std::optional<CommandResult> result =
      runCommand(arguments, agentCommands(), [](const QByteArray& lines) {
        write({Stream::Err, lines});
      });
  if (!result) {
    return std::nullopt;
  }
  if (!result->diagnostics.isEmpty()) {
    write({Stream::Err, result->diagnostics});
  }
  write(result->output);
  return result->exitCode;
}

}  // namespace tk::cli
