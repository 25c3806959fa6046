#pragma once

#include <map>

#include "comms/clock.h"
#include "comms/ecu_connection.h"

namespace tk::comms {

class EcuCommsMonitor;

/// A hardware-free ECU that answers a few unframed commands ("S", "V", "R", the realtime
/// request) with canned or random bytes, delivered only through dataReceived.
class MockEcuConnection : public EcuConnection {
  Q_OBJECT

 public:
  /// Page 1 starts as 1024 random bytes; the realtime reply is random bytes as long as
  /// realtimeTemplate; monitor may be null.
  MockEcuConnection(const QString& signature, const QByteArray& realtimeTemplate,
                    const QByteArray& realtimeCommand, EcuCommsMonitor* monitor = nullptr,
                    QObject* parent = nullptr);

  /// "MOCK:ECU".
  QString id() const override;
  /// "Mock ECU Connection".
  QString displayName() const override;
  ConnectionStatus status() const override { return status_; }
  /// Always succeeds.
  bool open() override;
  void close() override;
  /// Answers the command through dataReceived; the input's length, or 0 when closed or empty.
  qint64 write(const QByteArray& bytes) override;
  /// Always empty, after waiting waitMs on the clock: replies travel only through dataReceived.
  QByteArray read(qint64 maxBytes, qint64 waitMs) override;
  /// Waits on clock (which must outlive the connection) instead of the machine's clock.
  void setClock(Clock& clock) { clock_ = &clock; }

  /// The stored bytes of a page, empty when the page was never touched.
  QByteArray page(quint8 pageNumber) const;

 private:
  void setStatus(ConnectionStatus status);
  void reply(const QByteArray& bytes, const QString& label);
  QByteArray pageRead(const QByteArray& command);

  ConnectionStatus status_ = ConnectionStatus::Disconnected;
  QByteArray signature_;
  std::map<quint8, QByteArray> pages_;
  QByteArray realtimeCommand_;
  QByteArray realtimeTemplate_;
  EcuCommsMonitor* monitor_;
  Clock* clock_ = &Clock::real();
};

}  // namespace tk::comms
