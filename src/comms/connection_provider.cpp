#include "comms/connection_provider.h"

#include <QSerialPortInfo>

#include "comms/serial_ecu_connection.h"

namespace tk::comms {

ConnectionProvider::~ConnectionProvider() = default;

QString SerialConnectionProvider::name() const { return QStringLiteral("Serial Port"); }

QStringList SerialConnectionProvider::availablePorts() const {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    names.append(info.portName());
  }
  return names;
}

std::unique_ptr<EcuConnection> SerialConnectionProvider::createConnection(
    const QString& portName, quint32 baudRate, EcuCommsMonitor* monitor) {
  return std::make_unique<SerialEcuConnection>(portName, baudRate, monitor);
}

}  // namespace tk::comms
