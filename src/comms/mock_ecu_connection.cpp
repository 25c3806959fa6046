#include "comms/mock_ecu_connection.h"

#include <QRandomGenerator>
#include <algorithm>

#include "comms/ecu_comms_monitor.h"
#include "comms/ecu_text.h"

namespace tk::comms {
namespace {

constexpr qsizetype kFirstPageSize = 1024;
constexpr qsizetype kNewPageSize = 65536;

QByteArray randomBytes(qsizetype size) {
  QByteArray bytes(size, '\0');
  for (char& b : bytes) {
    b = static_cast<char>(QRandomGenerator::global()->bounded(256));
  }
  return bytes;
}

int bigEndian16(const QByteArray& b, qsizetype at) {
  return (quint8(b[at]) << 8) | quint8(b[at + 1]);
}

}  // namespace

MockEcuConnection::MockEcuConnection(const QString& signature, const QByteArray& realtimeTemplate,
                                     const QByteArray& realtimeCommand, EcuCommsMonitor* monitor,
                                     QObject* parent)
    : EcuConnection(parent),
      signature_(asciiBytes(signature)),
      realtimeCommand_(realtimeCommand),
      realtimeTemplate_(realtimeTemplate),
      monitor_(monitor) {
  pages_[1] = randomBytes(kFirstPageSize);
}

QString MockEcuConnection::id() const { return QStringLiteral("MOCK:ECU"); }

QString MockEcuConnection::displayName() const { return QStringLiteral("Mock ECU Connection"); }

void MockEcuConnection::setStatus(ConnectionStatus status) {
  if (status_ != status) {
    status_ = status;
    Q_EMIT statusChanged(status);
  }
}

bool MockEcuConnection::open() {
  setStatus(ConnectionStatus::Connected);
  return true;
}

void MockEcuConnection::close() { setStatus(ConnectionStatus::Disconnected); }

QByteArray MockEcuConnection::read(qint64 /*maxBytes*/, qint64 waitMs) {
  if (status_ == ConnectionStatus::Connected) {
    clock_->sleepMs(waitMs);
  }
  return {};
}

QByteArray MockEcuConnection::page(quint8 pageNumber) const {
  const auto it = pages_.find(pageNumber);
  return it == pages_.end() ? QByteArray() : it->second;
}

void MockEcuConnection::reply(const QByteArray& bytes, const QString& label) {
  if (monitor_ != nullptr) {
    monitor_->log(EcuCommsMonitor::kReceive, bytes, label);
  }
  Q_EMIT dataReceived(bytes);
}

QByteArray MockEcuConnection::pageRead(const QByteArray& command) {
  const auto pageNumber = static_cast<quint8>(command[1]);
  const int offset = bigEndian16(command, 2);
  const int count = bigEndian16(command, 4);
  auto it = pages_.find(pageNumber);
  if (it == pages_.end()) {
    it = pages_.emplace(pageNumber, randomBytes(kNewPageSize)).first;
  }
  const QByteArray& page = it->second;
  QByteArray bytes(count, '\0');
  const qsizetype available = std::clamp<qsizetype>(page.size() - offset, 0, count);
  std::copy_n(page.constData() + offset, available, bytes.data());
  return bytes;
}

qint64 MockEcuConnection::write(const QByteArray& bytes) {
  if (status_ != ConnectionStatus::Connected) {
    return 0;
  }
  if (monitor_ != nullptr) {
    monitor_->log(EcuCommsMonitor::kTransmit, bytes, QStringLiteral("Mock ECU Rx"));
  }
  if (bytes.isEmpty()) {
    return 0;
  }
  switch (bytes.at(0)) {
    case 'S':
      reply(signature_, QStringLiteral("Mock Signature Response"));
      break;
    case 'V':
      reply(QByteArrayLiteral("Torvik-Mock-1.0"), QStringLiteral("Mock Version Response"));
      break;
    case 'R':
      if (bytes.size() >= 6) {
        reply(pageRead(bytes), QStringLiteral("Mock Page Read Response (P%1 O%2 C%3)")
                                   .arg(quint8(bytes[1]))
                                   .arg(bigEndian16(bytes, 2))
                                   .arg(bigEndian16(bytes, 4)));
      }
      break;
    default:
      if (bytes == realtimeCommand_) {
        reply(randomBytes(realtimeTemplate_.size()), QStringLiteral("Mock OCH Response"));
      }
      break;
  }
  return bytes.size();
}

}  // namespace tk::comms
