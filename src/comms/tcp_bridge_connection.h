#pragma once

#include <QTcpSocket>
#include <memory>

#include "comms/ecu_connection.h"

namespace tk::comms {

class EcuCommsMonitor;

/// A connection to a TCP bridge that relays bytes to the ECU's serial line.
class TcpBridgeConnection : public EcuConnection {
  Q_OBJECT

 public:
  /// A closed connection to host:port; monitor may be null.
  TcpBridgeConnection(const QString& host, quint16 port, EcuCommsMonitor* monitor = nullptr,
                      QObject* parent = nullptr);
  /// Closes the socket when connected.
  ~TcpBridgeConnection() override;

  /// "TCP:" host ":" port.
  QString id() const override;
  /// "TCP Bridge (" host ":" port ")".
  QString displayName() const override;
  ConnectionStatus status() const override { return status_; }
  /// Connects within 3000 ms with Nagle's delay off; true when already connecting or connected.
  bool open() override;
  /// Disconnects (waiting up to 500 ms) and deletes the socket.
  void close() override;
  /// Writes and flushes within 100 ms; 0 when the socket refuses the bytes (Io, closed), the
  /// peer is gone (Lost, closed) or nothing could leave within the wait (Timeout, left open).
  qint64 write(const QByteArray& bytes) override;
  /// Waits up to waitMs when nothing is pending, then reads up to maxBytes; a lost peer ends the
  /// wait and the connection (Lost).
  QByteArray read(qint64 maxBytes, qint64 waitMs) override;
  /// Bytes received and not yet read.
  qint64 bytesAvailable() override;

 private:
  void setStatus(ConnectionStatus status);
  void onSocketDisconnected();
  /// Reports the peer as gone (once) and ends the connection.
  void lose(const QString& message);
  void tearDown();

  std::unique_ptr<QTcpSocket> socket_;
  QString host_;
  quint16 port_;
  EcuCommsMonitor* monitor_;
  ConnectionStatus status_ = ConnectionStatus::Disconnected;
};

}  // namespace tk::comms
