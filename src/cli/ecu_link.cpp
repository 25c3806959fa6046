#include "cli/ecu_link.h"

#include "cli/command_context.h"
#include "cli/console.h"
#include "comms/command_builder.h"
#include "comms/mock_ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"

namespace tk::cli {
namespace {

const QString kSerial = QStringLiteral("Serial");

QString notConnectedMessage() {
  return QStringLiteral("Not connected to ECU. Connect first or check connection settings.");
}

// Serial without a port name means that the project names no controller at all.
bool noEcuConfigured(const project::ConnectionSettings& settings) {
  return settings.protocol == kSerial && settings.port.isEmpty();
}

// The type names are compared exactly: anything that is not a bridge or the mock, "Serial" and
// misspellings alike, is a serial port.
std::unique_ptr<comms::EcuConnection> createConnection(const project::ConnectionSettings& settings,
                                                       const EcuDefinition& definition) {
  if (settings.protocol == QLatin1String("TcpBridge")) {
    // A port number out of range (a hand-edited file) becomes 0, which no connection reaches.
    const quint16 port =
        settings.tcpPort >= 1 && settings.tcpPort <= 65535 ? quint16(settings.tcpPort) : 0;
    return std::make_unique<comms::TcpBridgeConnection>(settings.host, port);
  }
  if (settings.protocol == QLatin1String("Mock")) {
    const int blockSize = definition.OchBlockSize < 1 ? 100 : definition.OchBlockSize;
    return std::make_unique<comms::MockEcuConnection>(
        definition.Signature, QByteArray(blockSize, '\0'),
        comms::decodeHexEscapes(definition.OchGetCommand));
  }
  return std::make_unique<comms::SerialEcuConnection>(settings.port,
                                                      static_cast<quint32>(settings.baudRate));
}

SignatureCheck compareSignatures(EcuLink& link) {
  const comms::SignatureReplies replies = link.tuneComms()->querySignatureReplies();
  return {replies.matches(link.manager().definition()->Signature), replies.shown()};
}

// How a push ended: both empty once the tune went out whole.
struct PushOutcome {
  std::optional<QString> skipped;  // why nothing was written
  std::optional<QString> failed;   // why a write that began did not complete
};

PushOutcome pushOutcome(EcuLink& link) {
  if (std::optional<QString> failure = link.open()) {
    return {failure, {}};
  }
  if (!isConnected(link)) {
    return {notConnectedMessage(), {}};
  }
  const EcuDefinition& definition = *link.manager().definition();
  // Unlike a plain push of the pages, an edit never reaches a controller made for another
  // definition: the same guard as burn's.
  const SignatureCheck check = compareSignatures(link);
  if (!check.match) {
    return {signatureMismatchMessage(check, definition), {}};
  }
  const Tune* tune = link.manager().tune();
  if (tune == nullptr) {
    return {QStringLiteral("No tune loaded"), {}};
  }
  const int errorsBefore = link.errorCount();
  try {
    link.tuneComms()->writeTune(definition, *tune, true);
  } catch (const comms::PageWriteError& e) {
    // The connection's own reason (a lost peer) says more than the unanswered write it caused.
    return {{}, link.errorCount() > errorsBefore ? link.lastError() : QString::fromUtf8(e.what())};
  }
  return {{}, transferFailure(link, errorsBefore)};
}

void warnUnknownCommand(const EcuDefinition& definition, const QByteArray& request) {
  const QString line =
      QStringLiteral("[CLI] warning: the controller does not know the command for %1\n")
          .arg(describeRequest(definition, request));
  write({Stream::Err, line.toUtf8()});
}

}  // namespace

QString describeRequest(const EcuDefinition& definition, const QByteArray& request) {
  const QMap<QString, QString> named = definition.agentCommands();
  for (auto it = named.cbegin(); it != named.cend(); ++it) {
    if (comms::decodeEscapes(it.value(), 0) == request) {
      return QStringLiteral("'%1'").arg(it.key());
    }
  }
  const auto is = [&request](const QString& text) {
    return !text.isEmpty() && comms::decodeEscapes(text, 0) == request;
  };
  if (is(definition.versionInfoCommand()) || request == "V") {
    return QStringLiteral("the firmware version");
  }
  if (is(definition.QueryCommand) || request == "Q") {
    return QStringLiteral("the signature");
  }
  if (request == "S") {
    return QStringLiteral("the product text");
  }
  if (is(definition.RetrieveConfigErrorCommand)) {
    return QStringLiteral("the configuration error");
  }
  QString shown;
  for (const char byte : request) {
    const auto code = static_cast<unsigned char>(byte);
    shown += code >= 0x20 && code < 0x7F && code != '\\'
                 ? QString(QChar(code))
                 : QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
  }
  return QStringLiteral("the request \"%1\"").arg(shown);
}

EcuLink::~EcuLink() {
  if (connection_) {
    connection_->close();
  }
}

std::optional<QString> EcuLink::open() {
  const project::ProjectFile* project = manager_.project();
  if (project == nullptr) {
    return QStringLiteral("No project loaded");
  }
  const EcuDefinition* definition = manager_.definition();
  if (definition == nullptr) {
    return QStringLiteral("No INI loaded");
  }
  const project::ConnectionSettings& settings = project->connection;
  if (noEcuConfigured(settings)) {
    return QStringLiteral("No COM port configured in project connection settings");
  }
  connection_ = createConnection(settings, *definition);
  QObject::connect(connection_.get(), &comms::EcuConnection::errorOccurred,
                   [this](const QString& message) {
                     ++errorCount_;
                     lastError_ = message;
                   });
  if (!connection_->open()) {
    // The serial port name is named for every connection type, a bridge's too (often empty).
    return QStringLiteral("Failed to open connection on %1: %2")
        .arg(settings.port, lastError_.isEmpty() ? QStringLiteral("unknown error") : lastError_);
  }
  commands_ = std::make_unique<comms::EcuCommandService>(connection_.get());
  commands_->setUnknownCommandObserver(
      [definition](const QByteArray& request) { warnUnknownCommand(*definition, request); });
  tuneComms_ = std::make_unique<comms::TuneCommsService>(*commands_, *connection_);
  tuneComms_->forceCrcProtocol();
  return std::nullopt;
}

void openEcuLink(EcuLink& link) {
  if (std::optional<QString> failure = link.open()) {
    throw CommandError(*failure);
  }
}

bool isConnected(const EcuLink& link) {
  return link.connection() != nullptr &&
         link.connection()->status() == comms::ConnectionStatus::Connected &&
         link.tuneComms() != nullptr;
}

void requireConnected(const EcuLink& link) {
  if (!isConnected(link)) {
    throw CommandError(notConnectedMessage());
  }
}

std::optional<QString> transferFailure(const EcuLink& link, int errorsBefore) {
  if (link.errorCount() > errorsBefore) {
    return link.lastError();
  }
  if (!isConnected(link)) {
    return notConnectedMessage();
  }
  return std::nullopt;
}

SignatureCheck checkSignature(EcuLink& link) {
  requireConnected(link);
  return compareSignatures(link);
}

QString signatureMismatchMessage(const SignatureCheck& check, const EcuDefinition& definition) {
  return QStringLiteral("Signature mismatch: ECU='%1', INI='%2'")
      .arg(check.ecuSignature.value_or(QString()), definition.Signature);
}

QByteArray pushEditsToEcu(project::ProjectManager& manager, const QString& label) {
  const project::ProjectFile* project = manager.project();
  if (project == nullptr || noEcuConfigured(project->connection)) {
    return {};
  }
  // The link lives only inside this block: it is closed before the line is handed back.
  const PushOutcome outcome = [&manager] {
    EcuLink link(manager);
    return pushOutcome(link);
  }();
  QString line = QStringLiteral("[CLI] ECU sync: pushed changes for ") + label;
  if (outcome.skipped) {
    line = QStringLiteral("[CLI] ECU sync skipped: ") + *outcome.skipped;
  } else if (outcome.failed) {
    line = QStringLiteral(
               "[CLI] ECU sync failed: %1; the edit is saved, the controller keeps its "
               "previous tune")
               .arg(*outcome.failed);
  }
  return (line + QLatin1Char('\n')).toUtf8();
}

QByteArray unchangedEditLine(const project::ProjectManager& manager) {
  const project::ProjectFile* project = manager.project();
  if (project == nullptr || noEcuConfigured(project->connection)) {
    return {};
  }
  return QByteArrayLiteral("[CLI] ECU sync skipped: nothing changed\n");
}

}  // namespace tk::cli
