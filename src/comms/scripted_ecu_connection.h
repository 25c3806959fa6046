#pragma once

#include <QList>
#include <QQueue>

#include "comms/ecu_connection.h"

namespace tk::comms {

/// A deterministic test double: records every write, and each write releases the next queued
/// reply into the input that read and bytesAvailable serve.
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
  /// Takes up to maxBytes from the pending input.
  QByteArray read(qint64 maxBytes) override;
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

 private:
  void setStatus(ConnectionStatus status);

  ConnectionStatus status_ = ConnectionStatus::Disconnected;
  int forcedWriteResult_ = -1;
  int readCalls_ = 0;
  QByteArray pendingInput_;
  QQueue<QByteArray> queuedReplies_;
  QList<QByteArray> writes_;
};

}  // namespace tk::comms
