#include "comms/scripted_ecu_connection.h"

#include <algorithm>

namespace tk::comms {

ScriptedEcuConnection::ScriptedEcuConnection(QObject* parent) : EcuConnection(parent) {}

QString ScriptedEcuConnection::id() const { return QStringLiteral("SCRIPTED"); }

QString ScriptedEcuConnection::displayName() const { return QStringLiteral("Scripted Connection"); }

void ScriptedEcuConnection::setStatus(ConnectionStatus status) {
  if (status_ != status) {
    status_ = status;
    Q_EMIT statusChanged(status);
  }
}

bool ScriptedEcuConnection::open() {
  setStatus(ConnectionStatus::Connected);
  return true;
}

void ScriptedEcuConnection::close() { setStatus(ConnectionStatus::Disconnected); }

qint64 ScriptedEcuConnection::write(const QByteArray& bytes) {
  writes_.append(bytes);
  if (forcedWriteResult_ >= 0) {
    return forcedWriteResult_;
  }
  if (!queuedReplies_.isEmpty()) {
    pendingInput_.append(queuedReplies_.dequeue());
  }
  return bytes.size();
}

void ScriptedEcuConnection::hangUp(const QString& message) {
  setError(ConnectionError::Lost, message);
  close();
}

QByteArray ScriptedEcuConnection::read(qint64 maxBytes, qint64 waitMs) {
  ++readCalls_;
  if (pendingInput_.isEmpty()) {
    if (error() != ConnectionError::Lost) {
      clock_->sleepMs(waitMs);
    }
    return {};
  }
  const qsizetype n = std::clamp<qint64>(maxBytes, 0, pendingInput_.size());
  QByteArray bytes = pendingInput_.left(n);
  pendingInput_.remove(0, n);
  return bytes;
}

qint64 ScriptedEcuConnection::bytesAvailable() { return pendingInput_.size(); }

}  // namespace tk::comms
