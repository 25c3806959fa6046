#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tk::comms {

/// The states of a byte connection, with their fixed numeric values.
enum class ConnectionStatus { Disconnected = 0, Connecting = 1, Connected = 2, Error = 3 };

/// A byte pipe to one ECU. Blocking with short waits; never throws; reports through signals.
class EcuConnection : public QObject {
  Q_OBJECT

 public:
  /// A connection owned by parent (may be null).
  explicit EcuConnection(QObject* parent = nullptr);
  ~EcuConnection() override;

  /// The endpoint's identity for logs and JSON.
  virtual QString id() const = 0;
  /// A human-readable name.
  virtual QString displayName() const = 0;
  /// The current state.
  virtual ConnectionStatus status() const = 0;
  /// Opens the endpoint; true when it is usable afterwards.
  virtual bool open() = 0;
  /// Closes the endpoint; harmless when already closed.
  virtual void close() = 0;
  /// Writes bytes; the count written, 0 on failure.
  virtual qint64 write(const QByteArray& bytes) = 0;
  /// Reads up to maxBytes, waiting briefly when nothing is pending; possibly empty.
  virtual QByteArray read(qint64 maxBytes) = 0;
  /// Bytes that a read would return at once; 0 unless a connection knows better.
  virtual qint64 bytesAvailable();
  /// Reads up to maxBytes of what has already arrived, without the wait of read; possibly
  /// empty. Connections whose read does not wait keep this default, which is read.
  virtual QByteArray readPending(qint64 maxBytes);

 Q_SIGNALS:
  /// The state changed to status.
  void statusChanged(tk::comms::ConnectionStatus status);
  /// Bytes arrived outside of read (used by the mock ECU).
  void dataReceived(const QByteArray& data);
  /// A failure, with its user-readable message.
  void errorOccurred(const QString& message);
};

}  // namespace tk::comms
