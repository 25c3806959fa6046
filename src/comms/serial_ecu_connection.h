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
  /// Writes and waits up to 100 ms for the bytes to leave; 0 on a port error (Io, closed), a
  /// pulled adapter (Lost, closed) or a stuck write (Timeout, left open).
  qint64 write(const QByteArray& bytes) override;
  /// Waits up to waitMs when nothing is pending, then reads up to maxBytes; a pulled adapter
  /// ends the wait and the connection (Lost).
  QByteArray read(qint64 maxBytes, qint64 waitMs) override;
  /// Bytes received and not yet read.
  qint64 bytesAvailable() override;

 private:
  void setStatus(ConnectionStatus status);
  bool usable() const;
  /// After a failed wait: true, with the connection closed as Lost, when the adapter is gone.
  bool lostAfterWait();

  std::unique_ptr<QSerialPort> port_;
  QString portName_;
  EcuCommsMonitor* monitor_;
  ConnectionStatus status_ = ConnectionStatus::Disconnected;
};

}  // namespace tk::comms
