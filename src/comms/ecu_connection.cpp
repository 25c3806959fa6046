#include "comms/ecu_connection.h"

namespace tk::comms {

EcuConnection::EcuConnection(QObject* parent) : QObject(parent) {}

EcuConnection::~EcuConnection() = default;

qint64 EcuConnection::bytesAvailable() { return 0; }

void EcuConnection::clearError() {
  error_ = ConnectionError::None;
  errorString_.clear();
}

void EcuConnection::setError(ConnectionError error, const QString& message) {
  error_ = error;
  errorString_ = message;
  Q_EMIT errorOccurred(message);
}

}  // namespace tk::comms
