#include "comms/stand_in_server.h"

#include <QHostAddress>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <future>
#include <memory>

#include "comms/ecu_connection.h"

namespace tk::comms {
namespace {

// Short waits keep the thread responsive to stop() without spinning.
constexpr int kPollMs = 20;
constexpr int kFlushMs = 1000;
constexpr qint64 kReadChunk = 65536;

bool socketAlive(QIODevice& device) {
  return static_cast<QTcpSocket&>(device).state() == QAbstractSocket::ConnectedState;
}

bool serialAlive(QIODevice& device) {
  const auto& port = static_cast<QSerialPort&>(device);
  return port.isOpen() && port.error() != QSerialPort::ResourceError;
}

}  // namespace

StandInServer::StandInServer(EcuConnection& ecu) : ecu_(ecu) {}

StandInServer::~StandInServer() { stop(); }

void StandInServer::stop() {
  if (!thread_) {
    return;
  }
  stopping_ = true;
  thread_->wait();
  thread_.reset();
  stopping_ = false;
}

void StandInServer::pump(QIODevice& device, bool (*alive)(QIODevice&)) {
  while (!stopping_ && alive(device)) {
    if (device.bytesAvailable() == 0 && !device.waitForReadyRead(kPollMs)) {
      continue;
    }
    const QByteArray request = device.readAll();
    if (!request.isEmpty()) {
      ecu_.write(request);
    }
    bool wrote = false;
    while (ecu_.bytesAvailable() > 0) {
      device.write(ecu_.read(kReadChunk));
      wrote = true;
    }
    if (wrote) {
      device.waitForBytesWritten(kFlushMs);
    }
    if (ecu_.status() != ConnectionStatus::Connected) {
      return;
    }
  }
}

quint16 StandInServer::listenOnLoopback(quint16 port) {
  if (thread_) {
    return 0;
  }
  // Shared with the thread, which may still be inside set_value when this function returns.
  const auto listening = std::make_shared<std::promise<quint16>>();
  std::future<quint16> result = listening->get_future();
  thread_.reset(QThread::create([this, port, listening] {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port)) {
      listening->set_value(0);
      return;
    }
    listening->set_value(server.serverPort());
    while (!stopping_) {
      if (!server.waitForNewConnection(kPollMs)) {
        continue;
      }
      const std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
      client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
      ecu_.open();
      pump(*client, socketAlive);
      client->abort();
    }
  }));
  thread_->start();
  const quint16 bound = result.get();
  if (bound == 0) {
    stop();
  }
  return bound;
}

bool StandInServer::serveSerialPort(const QString& portName, quint32 baudRate) {
  if (thread_) {
    return false;
  }
  const auto opened = std::make_shared<std::promise<bool>>();
  std::future<bool> result = opened->get_future();
  thread_.reset(QThread::create([this, portName, baudRate, opened] {
    QSerialPort port(portName);
    port.setBaudRate(static_cast<qint32>(baudRate));
    if (!port.open(QIODevice::ReadWrite)) {
      opened->set_value(false);
      return;
    }
    ecu_.open();
    opened->set_value(true);
    pump(port, serialAlive);
    port.close();
  }));
  thread_->start();
  const bool ok = result.get();
  if (!ok) {
    stop();
  }
  return ok;
}

}  // namespace tk::comms
