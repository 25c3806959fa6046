#pragma once

#include <QSerialPort>
#include <memory>

#include "comms/ecu_connection.h"

namespace tk::comms {

class EcuCommsMonitor;

/// A connection over a serial port (a USB virtual COM port in practice), 8N1 without flow control.
class SerialEcuConnection : public EcuConnection {
  Q_OBJECT

 public:
  /// A closed connection to portName at baudRate in both directions; monitor may be null.
  SerialEcuConnection(const QString& portName, quint32 baudRate, EcuCommsMonitor* monitor = nullptr,
                      QObject* parent = nullptr);
  /// Closes the port when open.
  ~SerialEcuConnection() override;

  /// "SERIAL:" and the port name.
  QString id() const override;
  /// "Serial Connection (" port name ")".
  QString displayName() const override;
  ConnectionStatus status() const override { return status_; }
  /// Opens the port, raises DTR and RTS and clears both buffers; true when already open.
  bool open() override;
  /// Clears both buffers and closes the port.
  void close() override;
  /// Writes and waits up to 100 ms for the bytes to leave; 0 on a port error or a stuck write.
  qint64 write(const QByteArray& bytes) override;
  /// Waits up to 100 ms when nothing is pending, then reads up to maxBytes.
  QByteArray read(qint64 maxBytes) override;
  /// Reads what has arrived without waiting, as read does after its wait.
  QByteArray readPending(qint64 maxBytes) override;
  /// Bytes received and not yet read.
  qint64 bytesAvailable() override;

 private:
  /// read with a wait of waitMs when nothing is pending.
  QByteArray readWithin(qint64 maxBytes, int waitMs);
  void setStatus(ConnectionStatus status);
  bool usable() const;

  std::unique_ptr<QSerialPort> port_;
  QString portName_;
  EcuCommsMonitor* monitor_;
  ConnectionStatus status_ = ConnectionStatus::Disconnected;
};

}  // namespace tk::comms
