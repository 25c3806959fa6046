#include "comms/ecu_connection.h"

namespace tk::comms {

EcuConnection::EcuConnection(QObject* parent) : QObject(parent) {}

EcuConnection::~EcuConnection() = default;

qint64 EcuConnection::bytesAvailable() { return 0; }

QByteArray EcuConnection::readPending(qint64 maxBytes) { return read(maxBytes); }

}  // namespace tk::comms
