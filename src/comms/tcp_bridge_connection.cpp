#include "comms/tcp_bridge_connection.h"

#include <algorithm>
#include <climits>

#include "comms/ecu_comms_monitor.h"

namespace tk::comms {
namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr int kDisconnectWaitMs = 500;
constexpr int kIoWaitMs = 100;

}  // namespace

TcpBridgeConnection::TcpBridgeConnection(const QString& host, quint16 port,
                                         EcuCommsMonitor* monitor, QObject* parent)
    : EcuConnection(parent), host_(host), port_(port), monitor_(monitor) {}

TcpBridgeConnection::~TcpBridgeConnection() { close(); }

QString TcpBridgeConnection::id() const {
  return QStringLiteral("TCP:%1:%2").arg(host_).arg(port_);
}

QString TcpBridgeConnection::displayName() const {
  return QStringLiteral("TCP Bridge (%1:%2)").arg(host_).arg(port_);
}

void TcpBridgeConnection::setStatus(ConnectionStatus status) {
  if (status_ != status) {
    status_ = status;
    Q_EMIT statusChanged(status);
  }
}

void TcpBridgeConnection::lose(const QString& message) {
  if (status_ == ConnectionStatus::Connected) {
    setError(ConnectionError::Lost, message);
    setStatus(ConnectionStatus::Disconnected);
  }
}

void TcpBridgeConnection::onSocketDisconnected() {
  lose(QStringLiteral("TCP connection lost: peer disconnected"));
}

bool TcpBridgeConnection::open() {
  if (status_ == ConnectionStatus::Connecting || status_ == ConnectionStatus::Connected) {
    return true;
  }
  setStatus(ConnectionStatus::Connecting);
  tearDown();
  socket_ = std::make_unique<QTcpSocket>();
  // Emitted from inside the socket's blocking waits, so no event loop is needed to notice a peer
  // that goes away.
  connect(socket_.get(), &QAbstractSocket::disconnected, this,
          &TcpBridgeConnection::onSocketDisconnected);
  socket_->connectToHost(host_, port_, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
  if (socket_->waitForConnected(kConnectTimeoutMs)) {
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->readAll();
    setStatus(ConnectionStatus::Connected);
    return true;
  }
  setStatus(ConnectionStatus::Error);
  if (socket_->error() == QAbstractSocket::SocketTimeoutError) {
    setError(ConnectionError::Timeout, QStringLiteral("TCP Bridge connection attempt timed out."));
  } else {
    setError(ConnectionError::Io, QStringLiteral("Failed to connect to %1:%2: %3")
                                      .arg(host_)
                                      .arg(port_)
                                      .arg(socket_->errorString()));
  }
  tearDown();
  return false;
}

void TcpBridgeConnection::tearDown() {
  if (!socket_) {
    return;
  }
  if (socket_->state() != QAbstractSocket::UnconnectedState) {
    socket_->disconnectFromHost();
    if (socket_->state() != QAbstractSocket::UnconnectedState) {
      socket_->waitForDisconnected(kDisconnectWaitMs);
    }
  }
  socket_.reset();
}

void TcpBridgeConnection::close() {
  if (status_ == ConnectionStatus::Disconnected) {
    return;
  }
  setStatus(ConnectionStatus::Disconnected);
  tearDown();
}

qint64 TcpBridgeConnection::write(const QByteArray& bytes) {
  if (status_ != ConnectionStatus::Connected || !socket_ ||
      socket_->state() != QAbstractSocket::ConnectedState) {
    return 0;
  }
  if (monitor_ != nullptr) {
    monitor_->log(EcuCommsMonitor::kTransmit, bytes, QStringLiteral("TCP Tx"));
  }
  const qint64 written = socket_->write(bytes);
  if (written < 0) {
    setError(ConnectionError::Io, QStringLiteral("Write error: %1").arg(socket_->errorString()));
    close();
    return 0;
  }
  if (socket_->waitForBytesWritten(kIoWaitMs) || socket_->bytesToWrite() == 0) {
    socket_->flush();
    return written;
  }
  if (socket_->state() != QAbstractSocket::ConnectedState) {
    // The peer-lost handler may already have run inside the wait and reported the loss.
    lose(QStringLiteral("TCP connection lost: %1").arg(socket_->errorString()));
    return 0;
  }
  // A bridge that does not take bytes in time (its buffer full) is slow, not gone: the socket
  // stays open so that the caller can retry or drain.
  setError(ConnectionError::Timeout,
           QStringLiteral("Write timeout on %1:%2").arg(host_).arg(port_));
  return 0;
}

QByteArray TcpBridgeConnection::read(qint64 maxBytes, qint64 waitMs) {
  if (status_ != ConnectionStatus::Connected || !socket_) {
    return {};
  }
  if (socket_->bytesAvailable() == 0 &&
      !socket_->waitForReadyRead(static_cast<int>(std::clamp<qint64>(waitMs, 0, INT_MAX))) &&
      socket_->state() != QAbstractSocket::ConnectedState && socket_->bytesAvailable() == 0) {
    lose(QStringLiteral("TCP connection lost: %1").arg(socket_->errorString()));
    return {};
  }
  const QByteArray bytes = socket_->read(maxBytes);
  if (monitor_ != nullptr && !bytes.isEmpty()) {
    monitor_->log(EcuCommsMonitor::kReceive, bytes, QStringLiteral("TCP Rx"));
  }
  return bytes;
}

qint64 TcpBridgeConnection::bytesAvailable() {
  if (!socket_) {
    return 0;
  }
  // Without an event loop the socket only learns of bytes the kernel holds when asked; a
  // zero-time wait pulls them in so that stale input is seen before the next command.
  if (socket_->bytesAvailable() == 0 && socket_->state() == QAbstractSocket::ConnectedState) {
    socket_->waitForReadyRead(0);
  }
  return socket_->bytesAvailable();
}

}  // namespace tk::comms
