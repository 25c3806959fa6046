#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tk::comms {

/// The states of a byte connection, with their fixed numeric values.
enum class ConnectionStatus { Disconnected = 0, Connecting = 1, Connected = 2, Error = 3 };

/// The last failure a connection met, kept until clearError (as QSerialPort keeps its error).
/// A read that brings nothing within its wait is no failure: the caller's deadline judges that.
enum class ConnectionError {
  None,     ///< nothing went wrong since the error was last cleared
  Timeout,  ///< a write could not leave within its wait; the connection stays open
  Lost,     ///< the other end went away (a pulled serial adapter, a TCP peer that closed)
  Io,       ///< the endpoint could not be opened, or refused a read or write
};

/// A byte pipe to one ECU. Blocking with waits bounded by the caller; never throws; reports
/// failures through error() and the errorOccurred signal.
class EcuConnection : public QObject {
  Q_OBJECT

 public:
  /// The wait of a read that has no deadline of its own to honour (what every read of a real
  /// connection waited before reads took a wait).
  static constexpr qint64 kDefaultWaitMs = 100;

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
  /// Reads up to maxBytes. When nothing has arrived, waits at most waitMs for bytes (0: takes
  /// only what is there); returns early, empty, once the connection is lost. Callers with a
  /// deadline pass the time left on it, so that no exchange overshoots its timeout.
  virtual QByteArray read(qint64 maxBytes, qint64 waitMs) = 0;
  /// Bytes that a read would return at once; 0 unless a connection knows better.
  virtual qint64 bytesAvailable();

  /// The last failure since clearError (None at start).
  ConnectionError error() const { return error_; }
  /// The message of the last failure; empty with None.
  const QString& errorString() const { return errorString_; }
  /// Forgets the last failure.
  void clearError();

 Q_SIGNALS:
  /// The state changed to status.
  void statusChanged(tk::comms::ConnectionStatus status);
  /// Bytes arrived outside of read (used by the mock ECU).
  void dataReceived(const QByteArray& data);
  /// A failure, with its user-readable message (the same as errorString afterwards).
  void errorOccurred(const QString& message);

 protected:
  /// Records a failure and emits errorOccurred with its message.
  void setError(ConnectionError error, const QString& message);

 private:
  ConnectionError error_ = ConnectionError::None;
  QString errorString_;
};

}  // namespace tk::comms
