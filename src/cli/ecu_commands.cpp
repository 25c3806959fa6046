#include "cli/ecu_commands.h"

#include <QDir>
#include <algorithm>
#include <limits>

#include "cli/command_support.h"
#include "cli/ecu_link.h"
#include "comms/command_builder.h"
#include "tune/tune_sync.h"

namespace tk::cli {
namespace {

constexpr int kMaxDiffs = 50;
constexpr int kSendCommandTimeoutMs = 5000;
constexpr int kConsoleTimeoutMs = 3000;
constexpr int kMinTcpPort = 1;
constexpr int kMaxTcpPort = 65535;

void insertIfRead(JsonValue& data, const char* key, const std::optional<QString>& text) {
  if (text) {
    data.insert(QString::fromLatin1(key), *text);
  }
}

void insertSide(JsonValue& diff, const char* key, const TuneValue& value) {
  const QString name = QString::fromLatin1(key);
  if (value.scalarValue) {
    diff.insert(name, *value.scalarValue);
  } else if (value.arrayValues) {
    diff.insert(name, QStringLiteral("[array]"));
  } else if (value.stringValue) {
    diff.insert(name, *value.stringValue);
  }
}

const Tune& requireLocalTune(const project::ProjectManager& manager) {
  const Tune* tune = manager.tune();
  if (tune == nullptr) {
    throw CommandError(QStringLiteral("No tune loaded"));
  }
  return *tune;
}

}  // namespace

JsonValue connect(CommandContext& context) {
  EcuLink& link = context.link();
  const SignatureCheck check = checkSignature(link);
  requireConnected(link);
  const EcuDefinition& definition = *link.manager().definition();
  const std::optional<QString> firmware = link.tuneComms()->readFirmwareVersion(definition);
  const project::ConnectionSettings& settings = link.manager().project()->connection;

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("connected"), true);
  insertIfRead(data, "ecuSignature", check.ecuSignature);
  data.insert(QStringLiteral("signatureMatch"), check.match);
  data.insert(QStringLiteral("iniSignature"), definition.Signature);
  data.insert(QStringLiteral("firmwareVersion"), firmware.value_or(QString()));
  data.insert(QStringLiteral("protocol"), settings.protocol);
  data.insert(QStringLiteral("port"), settings.port);
  return data;
}

JsonValue getSignature(CommandContext& context) {
  EcuLink& link = context.link();
  const SignatureCheck check = checkSignature(link);
  JsonValue data = JsonValue::object();
  insertIfRead(data, "ecuSignature", check.ecuSignature);
  data.insert(QStringLiteral("iniSignature"), link.manager().definition()->Signature);
  data.insert(QStringLiteral("match"), check.match);
  return data;
}

JsonValue getFirmware(CommandContext& context) {
  EcuLink& link = context.link();
  requireConnected(link);
  const std::optional<QString> firmware =
      link.tuneComms()->readFirmwareVersion(*link.manager().definition());
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("firmwareVersion"), firmware.value_or(QString()));
  return data;
}

JsonValue getConfigError(CommandContext& context) {
  EcuLink& link = context.link();
  requireConnected(link);
  const std::optional<QString> error =
      link.tuneComms()->readConfigError(*link.manager().definition());
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("hasError"), error.has_value());
  insertIfRead(data, "configError", error);
  return data;
}

JsonValue sync(CommandContext& context) {
  EcuLink& link = context.link();
  const EcuDefinition& definition = *link.manager().definition();
  const SignatureCheck check = checkSignature(link);
  if (!check.match) {
    throw CommandError(signatureMismatchMessage(check, definition));
  }
  requireConnected(link);
  const comms::TuneRead read = link.tuneComms()->readTune(definition);
  if (read.failed()) {
    throw CommandError(read.error);
  }
  const Tune& ecuTune = read.tune;
  const Tune* local = link.manager().tune();

  const QList<SyncDifference> found =
      local != nullptr ? syncDifferences(ecuTune, *local) : QList<SyncDifference>();
  const auto differences = static_cast<int>(found.size());
  JsonValue diffs = JsonValue::array();
  for (const SyncDifference& difference :
       found.first(std::min(found.size(), qsizetype{kMaxDiffs}))) {
    JsonValue diff = JsonValue::object();
    diff.insert(QStringLiteral("field"), difference.ecu->name);
    insertSide(diff, "ecuValue", *difference.ecu);
    insertSide(diff, "localValue", *difference.local);
    diffs.append(std::move(diff));
  }

  JsonValue data = JsonValue::object();
  insertIfRead(data, "ecuSignature", check.ecuSignature);
  data.insert(QStringLiteral("ecuFields"), static_cast<long long>(ecuTune.fields.size()));
  data.insert(QStringLiteral("localFields"),
              local != nullptr ? static_cast<long long>(local->fields.size()) : 0LL);
  data.insert(QStringLiteral("differences"), differences);
  if (differences > 0) {
    data.insert(QStringLiteral("diffs"), std::move(diffs));
  }
  data.insert(QStringLiteral("truncated"), differences > kMaxDiffs);
  return data;
}

JsonValue readTune(CommandContext& context) {
  EcuLink& link = context.link();
  project::ProjectManager& manager = link.manager();
  // Pages of another controller decode in the wrong layout: the same refusal as sync's, and
  // nothing is stored.
  const SignatureCheck check = checkSignature(link);
  if (!check.match) {
    throw CommandError(signatureMismatchMessage(check, *manager.definition()));
  }
  // Everything is read before anything is merged: a failed page leaves the tune file alone.
  const comms::TuneRead read = link.tuneComms()->readTune(*manager.definition());
  if (read.failed()) {
    throw CommandError(read.error);
  }
  const Tune& ecuTune = read.tune;
  if (Tune* local = manager.mutableTune()) {
    for (const TuneValue& value : ecuTune.fields) {
      local->upsert(value);
    }
  }
  manager.saveProject();

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("fields"), static_cast<long long>(ecuTune.fields.size()));
  data.insert(QStringLiteral("signature"), ecuTune.signature);
  data.insert(QStringLiteral("saved"), true);
  data.insert(QStringLiteral("projectFile"), QDir::toNativeSeparators(manager.projectPath()));
  return data;
}

JsonValue burn(CommandContext& context) {
  EcuLink& link = context.link();
  const EcuDefinition& definition = *link.manager().definition();
  const SignatureCheck check = checkSignature(link);
  if (!check.match) {
    throw CommandError(signatureMismatchMessage(check, definition) +
                       QStringLiteral(". Refusing to burn."));
  }
  requireConnected(link);
  const Tune& tune = requireLocalTune(link.manager());
  const comms::WriteOutcome written =
      link.session()->writePages(comms::pagesToWrite(tune, definition), true);
  if (!written.refused.isEmpty()) {
    throw CommandError(QStringLiteral("Burn failed on ") + written.refused);
  }
  if (const std::optional<QString> failure = written.failure()) {
    throw CommandError(*failure);
  }

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("burned"), true);
  data.insert(QStringLiteral("ecuSignature"), check.ecuSignature.value_or(QString()));
  data.insert(QStringLiteral("fields"), static_cast<long long>(tune.fields.size()));
  return data;
}

JsonValue sendCommand(CommandContext& context) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  const QString name = context.options().value(QStringLiteral("name"));
  const QString* found = definition.findCommand(name);
  // Escapes are decoded, but the CAN-id placeholder of a raw text is sent as it is written.
  const QByteArray bytes = found == nullptr ? QByteArray() : comms::decodeHexEscapes(*found);
  if (bytes.isEmpty()) {
    throw CommandError(
        QStringLiteral(
            "Command '%1' not found in INI. Use list-commands to see available commands.")
            .arg(name));
  }
  // The link's state is not checked: a closed link shows as an unsuccessful response.
  EcuLink& link = context.openLink();
  const comms::EcuResponse response = link.commands()->sendCommand(bytes, kSendCommandTimeoutMs);

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("command"), name);
  data.insert(QStringLiteral("sent"), true);
  data.insert(QStringLiteral("responseSuccess"), response.ok);
  data.insert(QStringLiteral("responseBytes"), static_cast<long long>(response.data.size()));
  return data;
}

JsonValue sendConsole(CommandContext& context) {
  EcuLink& link = context.link();
  const QString text = context.options().value(QStringLiteral("text"));
  const std::optional<QString> response =
      link.tuneComms()->sendConsoleCommand(text, kConsoleTimeoutMs);
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("command"), text);
  data.insert(QStringLiteral("response"), response.value_or(QString()));
  return data;
}

JsonValue setConnection(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  project::ConnectionSettings settings = manager.project()->connection;
  // Every option is checked before anything is stored, so a bad one changes nothing.
  if (options.has(QStringLiteral("protocol"))) {
    const QString protocol = options.value(QStringLiteral("protocol"));
    static const QStringList kProtocols = {QStringLiteral("Serial"), QStringLiteral("TcpBridge"),
                                           QStringLiteral("Mock")};
    if (!kProtocols.contains(protocol)) {
      throw CommandError(
          QStringLiteral("Unknown protocol '%1'. Use Serial, TcpBridge or Mock.").arg(protocol));
    }
    settings.protocol = protocol;
  }
  if (options.has(QStringLiteral("port"))) {
    settings.port = options.value(QStringLiteral("port"));
  }
  if (options.has(QStringLiteral("host"))) {
    settings.host = options.value(QStringLiteral("host"));
  }
  settings.baudRate = options.intInRangeOrThrow(
      QStringLiteral("baud"), settings.baudRate, 1, std::numeric_limits<int>::max(),
      QStringLiteral("Invalid baud rate '%1'. Use a whole number above 0."));
  settings.tcpPort = options.intInRangeOrThrow(
      QStringLiteral("tcp-port"), settings.tcpPort, kMinTcpPort, kMaxTcpPort,
      QStringLiteral("Invalid TCP port '%1'. Use a number from 1 to 65535."));
  if (context.tuneFileMissing()) {
    // Only the project file, so that read-tune can reach the ECU: saving the new, all-default
    // tune would make it the project's.
    manager.mutableProject()->connection = settings;
    manager.mutableProject()->lastModified = project::currentTimestamp();
    project::writeProjectFile(manager.projectPath(), *manager.project());
  } else {
    manager.setConnection(settings.port, settings.baudRate, settings.protocol, settings.host,
                          settings.tcpPort);
  }

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("port"), settings.port);
  data.insert(QStringLiteral("baudRate"), settings.baudRate);
  data.insert(QStringLiteral("protocol"), settings.protocol);
  data.insert(QStringLiteral("host"), settings.host);
  data.insert(QStringLiteral("tcpPort"), settings.tcpPort);
  data.insert(QStringLiteral("saved"), true);
  return data;
}

}  // namespace tk::cli
