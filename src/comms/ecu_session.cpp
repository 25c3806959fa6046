#include "comms/ecu_session.h"

#include "comms/command_builder.h"
#include "comms/mock_ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "definition/ecu_definition.h"

namespace tk::comms {

bool EcuEndpoint::isConfigured() const {
  return !(protocol == QLatin1String("Serial") && port.isEmpty());
}

// The protocol names are compared exactly: anything that is not a bridge or the mock, "Serial"
// and misspellings alike, is a serial port.
std::unique_ptr<EcuConnection> createConnection(const EcuEndpoint& endpoint,
                                                const EcuDefinition& definition, Clock& clock) {
  if (endpoint.protocol == QLatin1String("TcpBridge")) {
    // A port number out of range (a hand-edited file) becomes 0, which no connection reaches.
    const quint16 port =
        endpoint.tcpPort >= 1 && endpoint.tcpPort <= 65535 ? quint16(endpoint.tcpPort) : 0;
    return std::make_unique<TcpBridgeConnection>(endpoint.host, port);
  }
  if (endpoint.protocol == QLatin1String("Mock")) {
    const int blockSize = definition.OchBlockSize < 1 ? 100 : definition.OchBlockSize;
    auto mock =
        std::make_unique<MockEcuConnection>(definition.Signature, QByteArray(blockSize, '\0'),
                                            decodeHexEscapes(definition.OchGetCommand));
    mock->setClock(clock);
    return mock;
  }
  return std::make_unique<SerialEcuConnection>(endpoint.port,
                                               static_cast<quint32>(endpoint.baudRate));
}

QString signatureMismatchMessage(const SignatureCheck& check, const EcuDefinition& definition) {
  return QStringLiteral("Signature mismatch: ECU='%1', INI='%2'")
      .arg(check.ecuSignature.value_or(QString()), definition.Signature);
}

std::optional<QString> WriteOutcome::failure() const {
  if (connectionError) {
    return connectionError;
  }
  if (!refused.isEmpty()) {
    return refused;
  }
  if (closedAfter) {
    return EcuSession::notConnectedMessage();
  }
  return std::nullopt;
}

EcuSession::EcuSession(EcuEndpoint endpoint, const EcuDefinition& definition, Clock& clock)
    : endpoint_(std::move(endpoint)), definition_(definition), clock_(clock) {}

EcuSession::~EcuSession() { close(); }

QString EcuSession::notConnectedMessage() {
  return QStringLiteral("Not connected to ECU. Connect first or check connection settings.");
}

std::optional<QString> EcuSession::open() {
  close();
  if (!endpoint_.isConfigured()) {
    return QStringLiteral("No COM port configured in project connection settings");
  }
  connection_ = createConnection(endpoint_, definition_, clock_);
  if (!connection_->open()) {
    const QString& why = connection_->errorString();
    return QStringLiteral("Failed to open connection on %1: %2")
        .arg(endpoint_.port, why.isEmpty() ? QStringLiteral("unknown error") : why);
  }
  commands_ = std::make_unique<EcuCommandService>(connection_.get(), clock_);
  commands_->setUnknownCommandObserver(unknownCommandObserver_);
  tuneComms_ = std::make_unique<TuneCommsService>(*commands_, *connection_);
  tuneComms_->forceCrcProtocol();
  return std::nullopt;
}

void EcuSession::close() {
  if (connection_) {
    connection_->close();
  }
  tuneComms_.reset();
  commands_.reset();
  connection_.reset();
}

SessionState EcuSession::state() const {
  if (!tuneComms_) {
    return SessionState::Closed;
  }
  return connection_->status() == ConnectionStatus::Connected ? SessionState::Open
                                                              : SessionState::Lost;
}

std::optional<QString> EcuSession::connectionFailure() const {
  if (connection_ && connection_->error() != ConnectionError::None) {
    return connection_->errorString();
  }
  if (!isOpen()) {
    return notConnectedMessage();
  }
  return std::nullopt;
}

void EcuSession::clearError() {
  if (connection_) {
    connection_->clearError();
  }
}

SignatureCheck EcuSession::checkSignature() {
  if (!isOpen()) {
    return {};
  }
  const SignatureReplies replies = tuneComms_->querySignatureReplies();
  return {replies.matches(definition_.Signature), replies.shown()};
}

WriteOutcome EcuSession::writePages(const PageImages& pages, bool burn) {
  WriteOutcome outcome;
  if (!tuneComms_) {
    outcome.closedAfter = true;
    return outcome;
  }
  clearError();
  outcome.refused = tuneComms_->writePages(definition_, pages, burn).error;
  if (connection_->error() != ConnectionError::None) {
    outcome.connectionError = connection_->errorString();
  }
  outcome.closedAfter = !isOpen();
  return outcome;
}

PushOutcome EcuSession::push(const PageImages* pages) {
  if (!isOpen()) {
    if (std::optional<QString> failure = open()) {
      return {failure, {}};
    }
    if (!isOpen()) {
      return {notConnectedMessage(), {}};
    }
  }
  // Unlike a plain write of the pages, a push never reaches a controller made for another
  // definition.
  const SignatureCheck check = checkSignature();
  if (!check.match) {
    return {signatureMismatchMessage(check, definition_), {}};
  }
  if (pages == nullptr) {
    return {QStringLiteral("No tune loaded"), {}};
  }
  return {{}, writePages(*pages, true).failure()};
}

void EcuSession::setUnknownCommandObserver(std::function<void(const QByteArray&)> observer) {
  unknownCommandObserver_ = std::move(observer);
  if (commands_) {
    commands_->setUnknownCommandObserver(unknownCommandObserver_);
  }
}

}  // namespace tk::comms
