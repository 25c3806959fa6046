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
  /// Writes and flushes within 100 ms; a failure closes the connection and returns 0.
  qint64 write(const QByteArray& bytes) override;
  /// Waits up to 100 ms when nothing is pending, then reads up to maxBytes; a lost peer ends
  /// the connection.
  QByteArray read(qint64 maxBytes) override;
  /// Reads what has arrived without waiting, as read does after its wait.
  QByteArray readPending(qint64 maxBytes) override;
  /// Bytes received and not yet read.
  qint64 bytesAvailable() override;

 private:
  /// read with a wait of waitMs when nothing is pending.
  QByteArray readWithin(qint64 maxBytes, int waitMs);
  void setStatus(ConnectionStatus status);
  void onSocketDisconnected();
  void tearDown();

  std::unique_ptr<QTcpSocket> socket_;
  QString host_;
  quint16 port_;
  EcuCommsMonitor* monitor_;
  ConnectionStatus status_ = ConnectionStatus::Disconnected;
};

}  // namespace tk::comms
