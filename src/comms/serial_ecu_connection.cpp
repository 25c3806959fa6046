#include "comms/serial_ecu_connection.h"

#include <algorithm>
#include <climits>

#include "comms/ecu_comms_monitor.h"

namespace tk::comms {
namespace {

constexpr int kIoWaitMs = 100;

}  // namespace

SerialEcuConnection::SerialEcuConnection(const QString& portName, quint32 baudRate,
                                         EcuCommsMonitor* monitor, QObject* parent)
    : EcuConnection(parent),
      port_(std::make_unique<QSerialPort>(portName)),
      portName_(portName),
      monitor_(monitor) {
  // Only the speed is set; data bits, parity, stop bits and flow control keep the library's
  // defaults (8N1, none), which is what the controllers expect.
  port_->setBaudRate(static_cast<qint32>(baudRate), QSerialPort::AllDirections);
}

SerialEcuConnection::~SerialEcuConnection() {
  if (port_->isOpen()) {
    port_->close();
  }
}

QString SerialEcuConnection::id() const { return QStringLiteral("SERIAL:%1").arg(portName_); }

QString SerialEcuConnection::displayName() const {
  return QStringLiteral("Serial Connection (%1)").arg(portName_);
}

void SerialEcuConnection::setStatus(ConnectionStatus status) {
  if (status_ != status) {
    status_ = status;
    Q_EMIT statusChanged(status);
  }
}

bool SerialEcuConnection::usable() const {
  return status_ == ConnectionStatus::Connected && port_->isOpen();
}

bool SerialEcuConnection::open() {
  if (status_ == ConnectionStatus::Connected) {
    return true;
  }
  setStatus(ConnectionStatus::Connecting);
  if (!port_->open(QIODevice::ReadWrite)) {
    setStatus(ConnectionStatus::Error);
    setError(ConnectionError::Io,
             QStringLiteral("Failed to open port: %1").arg(port_->errorString()));
    return false;
  }
  // Many boards reset or only start talking once DTR is raised. Adapters without modem lines
  // (and pseudo-terminals) refuse these; that is not an error for the data path.
  port_->setDataTerminalReady(true);
  port_->setRequestToSend(true);
  port_->clear(QSerialPort::AllDirections);
  port_->clearError();
  setStatus(ConnectionStatus::Connected);
  return true;
}

void SerialEcuConnection::close() {
  if (status_ == ConnectionStatus::Disconnected) {
    return;
  }
  if (port_->isOpen()) {
    port_->clear(QSerialPort::AllDirections);
    port_->close();
  }
  setStatus(ConnectionStatus::Disconnected);
}

// A pulled USB adapter shows as a resource error from the wait, a terminal whose far end closed
// as a read that finds the end of input; either way the port is of no further use.
bool SerialEcuConnection::lostAfterWait() {
  const QSerialPort::SerialPortError error = port_->error();
  if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
    port_->clearError();  // a wait that ran out
    return false;
  }
  setError(ConnectionError::Lost,
           QStringLiteral("Serial connection lost: %1")
               .arg(error == QSerialPort::ResourceError ? port_->errorString()
                                                        : QStringLiteral("end of input")));
  close();
  return true;
}

qint64 SerialEcuConnection::write(const QByteArray& bytes) {
  if (!usable()) {
    return 0;
  }
  if (monitor_ != nullptr) {
    monitor_->log(EcuCommsMonitor::kTransmit, bytes, QStringLiteral("Serial Tx"));
  }
  const qint64 written = port_->write(bytes);
  if (written < 0) {
    setError(ConnectionError::Io, QStringLiteral("Write error: %1").arg(port_->errorString()));
    close();
    return 0;
  }
  if (port_->waitForBytesWritten(kIoWaitMs) || port_->bytesToWrite() == 0) {
    return written;
  }
  if (lostAfterWait()) {
    return 0;
  }
  // The driver took the bytes but could not pass them on in time; the port stays open so the
  // caller can retry or drain.
  setError(ConnectionError::Timeout, QStringLiteral("Write timeout on %1").arg(portName_));
  return 0;
}

QByteArray SerialEcuConnection::read(qint64 maxBytes, qint64 waitMs) {
  if (!usable()) {
    return {};
  }
  if (port_->bytesAvailable() == 0 &&
      !port_->waitForReadyRead(static_cast<int>(std::clamp<qint64>(waitMs, 0, INT_MAX))) &&
      lostAfterWait()) {
    return {};
  }
  const QByteArray bytes = port_->read(maxBytes);
  if (monitor_ != nullptr && !bytes.isEmpty()) {
    monitor_->log(EcuCommsMonitor::kReceive, bytes, QStringLiteral("Serial Rx"));
  }
  return bytes;
}

qint64 SerialEcuConnection::bytesAvailable() {
  if (!port_->isOpen()) {
    return 0;
  }
  // Without an event loop the port only learns of bytes the driver holds when asked; a
  // zero-time wait pulls them in so that stale input is seen before the next command.
  if (port_->bytesAvailable() == 0) {
    port_->waitForReadyRead(0);
  }
  return port_->bytesAvailable();
}

}  // namespace tk::comms
