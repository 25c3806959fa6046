#pragma once

#include <QList>
#include <QQueue>

#include "comms/clock.h"
#include "comms/ecu_connection.h"

namespace tk::comms {

/// A deterministic test double: records every write, and each write releases the next queued
/// reply into the input that read and bytesAvailable serve. Its replies are there at once or
/// never, so a read that finds nothing waits out its whole wait on the connection's clock (a fake
/// clock just moves on).
class ScriptedEcuConnection : public EcuConnection {
  Q_OBJECT

 public:
  /// A disconnected connection with nothing queued.
  explicit ScriptedEcuConnection(QObject* parent = nullptr);

  /// "SCRIPTED".
  QString id() const override;
  /// "Scripted Connection".
  QString displayName() const override;
  ConnectionStatus status() const override { return status_; }
  /// Always succeeds.
  bool open() override;
  void close() override;
  /// Records the bytes; returns the forced result when one is set (releasing nothing), else
  /// releases the next queued reply and returns the byte count. Ignores the status.
  qint64 write(const QByteArray& bytes) override;
  /// Takes up to maxBytes from the pending input; with none, waits waitMs on the clock and
  /// returns empty (at once when the line was hung up).
  QByteArray read(qint64 maxBytes, qint64 waitMs) override;
  /// The pending input's length.
  qint64 bytesAvailable() override;

  /// Queues a reply to be released by a later write.
  void queueReply(const QByteArray& reply) { queuedReplies_.enqueue(reply); }
  /// Replies not yet released.
  const QQueue<QByteArray>& queuedReplies() const { return queuedReplies_; }
  /// Adds bytes the ECU "sent" before anything was asked.
  void appendPendingInput(const QByteArray& bytes) { pendingInput_.append(bytes); }
  /// Bytes released and not yet read.
  const QByteArray& pendingInput() const { return pendingInput_; }
  /// Every write so far, in order.
  const QList<QByteArray>& writes() const { return writes_; }
  /// Makes write return result (0 or more) instead of the byte count; -1 restores normal writes.
  void setForcedWriteResult(int result) { forcedWriteResult_ = result; }
  /// The forced write result, or -1.
  int forcedWriteResult() const { return forcedWriteResult_; }
  /// Number of read calls so far.
  int readCalls() const { return readCalls_; }
  /// Waits on clock (which must outlive the connection) instead of the machine's clock.
  void setClock(Clock& clock) { clock_ = &clock; }
  /// The clock reads wait on.
  Clock& clock() const { return *clock_; }
  /// Ends the connection as a peer that hangs up does: Lost with message, then closed.
  void hangUp(const QString& message);

 private:
  void setStatus(ConnectionStatus status);

  ConnectionStatus status_ = ConnectionStatus::Disconnected;
  int forcedWriteResult_ = -1;
  int readCalls_ = 0;
  Clock* clock_ = &Clock::real();
  QByteArray pendingInput_;
  QQueue<QByteArray> queuedReplies_;
  QList<QByteArray> writes_;
};

}  // namespace tk::comms
