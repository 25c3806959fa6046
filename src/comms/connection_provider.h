#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace tk::comms {

class EcuCommsMonitor;
class EcuConnection;

/// A source of connections of one kind, with the ports it can offer.
class ConnectionProvider {
 public:
  virtual ~ConnectionProvider();
  /// The kind's name.
  virtual QString name() const = 0;
  /// The port names on offer, in the system's order.
  virtual QStringList availablePorts() const = 0;
  /// A new closed connection; monitor may be null. The caller owns it.
  virtual std::unique_ptr<EcuConnection> createConnection(const QString& portName, quint32 baudRate,
                                                          EcuCommsMonitor* monitor) = 0;
};

/// Serial ports as the system reports them.
class SerialConnectionProvider : public ConnectionProvider {
 public:
  /// "Serial Port".
  QString name() const override;
  /// The names of all serial ports the system reports.
  QStringList availablePorts() const override;
  /// A SerialEcuConnection for the port at the baud rate, without parent.
  std::unique_ptr<EcuConnection> createConnection(const QString& portName, quint32 baudRate,
                                                  EcuCommsMonitor* monitor) override;
};

}  // namespace tk::comms
