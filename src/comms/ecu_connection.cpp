#include "comms/ecu_connection.h"

namespace tk::comms {

EcuConnection::EcuConnection(QObject* parent) : QObject(parent) {}

EcuConnection::~EcuConnection() = default;

qint64 EcuConnection::bytesAvailable() { return 0; }

}  // namespace tk::comms
