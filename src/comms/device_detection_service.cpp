#include "comms/device_detection_service.h"

#include <QNetworkInterface>
#include <QTcpSocket>
#include <algorithm>
#include <future>
#include <memory>
#include <utility>
#include <vector>

#include "comms/clock.h"
#include "comms/connection_provider.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/tcp_bridge_connection.h"
#include "json/ascii_text.h"

namespace tk::comms {
namespace {

constexpr qsizetype kReplyMax = 256;
constexpr qint64 kSerialReplyMs = 1000;
constexpr qint64 kSerialQuietMs = 500;
// Before the framed probe, what is left of an earlier answer is read until the line is quiet.
constexpr qint64 kDrainQuietMs = 50;
constexpr qint64 kTcpReplyMs = 800;
constexpr qint64 kTcpQuietMs = 200;
constexpr qint64 kAfterFoundMs = 500;
constexpr qint64 kTcpSettleMs = 50;
constexpr int kReachMs = 500;
constexpr int kBatchSize = 30;
constexpr int kLastHost = 254;

bool isTrimmed(QChar c) { return c == QChar(0) || c == u'\r' || c == u'\n' || c == u' '; }

// Only NUL, CR, LF and blank count here; a tab or other control stays and makes the text
// unprintable.
QString trimReplyEnds(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && isTrimmed(text.at(begin))) {
    ++begin;
  }
  while (end > begin && isTrimmed(text.at(end - 1))) {
    --end;
  }
  return text.mid(begin, end - begin);
}

bool isPrintable(const QString& text) {
  return std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() >= 10 && c.unicode() <= 126; });
}

// Whether reply holds a whole frame: its two length bytes, the payload and the CRC.
bool holdsWholeFrame(const QByteArray& reply) {
  if (reply.size() < 2) {
    return false;
  }
  const qsizetype length =
      (static_cast<quint8>(reply.at(0)) << 8) | static_cast<quint8>(reply.at(1));
  return reply.size() >= 2 + length + 4;
}

// The bytes the controller sends until the deadline passes, the buffer is full, a NUL ends the
// answer (a whole frame, for a framed request: its length and status bytes are often NUL) or the
// line falls quiet after the first byte. Each read waits at most until the sooner of the deadline
// and the end of the quiet time.
QByteArray collectReply(EcuConnection& connection, Clock& clock, qint64 deadlineMs, qint64 quietMs,
                        bool framed = false) {
  QByteArray reply;
  const Deadline deadline(clock, deadlineMs);
  qint64 lastByteMs = clock.nowMs();
  while (!deadline.hasExpired() && reply.size() < kReplyMax &&
         connection.error() != ConnectionError::Lost) {
    const qint64 quietLeft = quietMs - (clock.nowMs() - lastByteMs);
    if (!reply.isEmpty() && quietLeft <= 0) {
      break;
    }
    const qint64 waitMs =
        reply.isEmpty() ? deadline.remainingMs() : std::min(deadline.remainingMs(), quietLeft);
    const QByteArray chunk = connection.read(kReplyMax - reply.size(), waitMs);
    if (!chunk.isEmpty()) {
      reply.append(chunk);
      lastByteMs = clock.nowMs();
      if (framed ? holdsWholeFrame(reply) : reply.endsWith('\0')) {
        break;
      }
    }
  }
  return reply;
}

}  // namespace

QList<NetworkInterfaceInfo> systemInterfaces() {
  QList<NetworkInterfaceInfo> result;
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    NetworkInterfaceInfo info;
    info.isUp = nic.flags().testFlag(QNetworkInterface::IsUp);
    info.isLoopback = nic.flags().testFlag(QNetworkInterface::IsLoopBack);
    for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
      info.addresses.append(entry.ip());
    }
    result.append(info);
  }
  return result;
}

QString detectionReplyText(const QByteArray& reply) {
  const QString whole = asciiText(reply);
  QString candidate = whole;
  if (reply.size() >= 7) {
    const int length = (static_cast<quint8>(reply.at(0)) << 8) | static_cast<quint8>(reply.at(1));
    if (length != 0 && length + 6 <= reply.size()) {
      candidate = trimReplyEnds(asciiText(QByteArrayView(reply).sliced(2, length)));
    }
  }
  if (!candidate.trimmed().isEmpty() && isPrintable(candidate)) {
    return candidate;
  }
  return trimReplyEnds(whole);
}

bool isAcceptedAnswer(const QString& text) { return text.size() >= 3 && isPrintable(text); }

QList<quint32> serialBaudOrder(const QList<quint32>& rates) {
  const auto priority = [](quint32 rate) { return rate == 115200 ? 0 : rate == 38400 ? 1 : 2; };
  QList<quint32> ordered = rates;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](quint32 a, quint32 b) { return priority(a) < priority(b); });
  QList<quint32> unique;
  for (const quint32 rate : ordered) {
    if (!unique.contains(rate)) {
      unique.append(rate);
    }
  }
  return unique;
}

QStringList subnetPrefixes(const QString& subnetText) {
  QStringList prefixes;
  for (const QString& entry : subnetText.split(u' ', Qt::SkipEmptyParts)) {
    const QStringList numbers = entry.section(u'/', 0, 0).split(u'.');
    // An entry without three numbers names no /24 subnet and is passed over.
    if (numbers.size() < 3) {
      continue;
    }
    const QString prefix = numbers.mid(0, 3).join(u'.');
    if (!prefixes.contains(prefix)) {
      prefixes.append(prefix);
    }
  }
  return prefixes;
}

QStringList interfacePrefixes(const QList<NetworkInterfaceInfo>& interfaces) {
  QStringList prefixes;
  for (const NetworkInterfaceInfo& nic : interfaces) {
    if (!nic.isUp || nic.isLoopback) {
      continue;
    }
    for (const QHostAddress& address : nic.addresses) {
      if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        continue;
      }
      const QString prefix = address.toString().section(u'.', 0, 2);
      if (!prefixes.contains(prefix)) {
        prefixes.append(prefix);
      }
    }
  }
  return prefixes;
}

DeviceDetectionService::DeviceDetectionService(ConnectionProvider& provider, Clock& clock)
    : provider_(provider), clock_(clock), interfaces_(systemInterfaces) {}

DeviceDetectionService::DeviceDetectionService(ConnectionProvider& provider)
    : DeviceDetectionService(provider, Clock::real()) {}

void DeviceDetectionService::setProgressCallback(std::function<void(const QString&)> callback) {
  progress_ = std::move(callback);
}

void DeviceDetectionService::setDeviceFoundCallback(
    std::function<void(const DetectedDevice&)> callback) {
  deviceFound_ = std::move(callback);
}

void DeviceDetectionService::setBridgePorts(const QList<quint16>& ports) { bridgePorts_ = ports; }

void DeviceDetectionService::setInterfaceLister(InterfaceLister lister) {
  interfaces_ = std::move(lister);
}

void DeviceDetectionService::report(const QString& line) const {
  if (progress_) {
    progress_(line);
  }
}

QByteArray DeviceDetectionService::collectSerialReply(EcuConnection& connection,
                                                      const QByteArray& request) {
  if (connection.write(request) <= 0) {
    return {};
  }
  return collectReply(connection, clock_, kSerialReplyMs, kSerialQuietMs,
                      request.size() > 1);  // more than the bare "Q": the framed request
}

std::optional<DetectedDevice> DeviceDetectionService::probeSerialPort(const QString& portName) {
  for (const quint32 rate : serialBaudOrder(baudRates_)) {
    const std::unique_ptr<EcuConnection> connection =
        provider_.createConnection(portName, rate, nullptr);
    if (!connection || !connection->open()) {
      continue;
    }
    QString text = detectionReplyText(collectSerialReply(*connection, QByteArrayLiteral("Q")));
    if (!isAcceptedAnswer(text)) {
      // Speeduino ignores unframed commands once it has seen a framed one, until it restarts;
      // it takes the "Q" as the first length byte of a frame and, 400 ms later, answers with a
      // timeout frame whose first byte (NUL) ended the reply above. The rest of that frame is
      // read away first, so that it does not end up in front of the framed answer.
      // A device that never stops talking is given up on after the quiet time.
      const Deadline drain(clock_, kSerialQuietMs);
      while (!drain.hasExpired() && !connection->read(kReplyMax, kDrainQuietMs).isEmpty()) {
      }
      text = detectionReplyText(
          collectSerialReply(*connection, EcuCommandService::wrapFrame(QByteArrayLiteral("Q"))));
    }
    connection->close();
    if (isAcceptedAnswer(text)) {
      DetectedDevice device;
      device.port = portName;
      device.baudRate = rate;
      device.signature = text;
      device.protocol = QStringLiteral("Serial");
      return device;
    }
  }
  return std::nullopt;
}

QList<DetectedDevice> DeviceDetectionService::detectSerialDevices() {
  const QStringList ports = provider_.availablePorts();
  if (ports.isEmpty()) {
    report(QStringLiteral("No COM ports found."));
    return {};
  }
  QList<DetectedDevice> found;
  for (const QString& port : ports) {
    report(QStringLiteral("Scanning %1...").arg(port));
    if (const std::optional<DetectedDevice> device = probeSerialPort(port)) {
      found.append(*device);
      if (deviceFound_) {
        deviceFound_(*device);
      }
      report(QStringLiteral("FOUND: %1").arg(device->signature));
      clock_.sleepMs(kAfterFoundMs);
    }
  }
  report(found.isEmpty()
             ? QStringLiteral("Serial scan complete. No ECUs found on COM ports.")
             : QStringLiteral("Serial scan complete. Found %1 device(s).").arg(found.size()));
  return found;
}

std::optional<QString> DeviceDetectionService::tcpExchange(EcuConnection& connection,
                                                           const QByteArray& request) {
  if (connection.write(request) <= 0) {
    return std::nullopt;
  }
  const QByteArray reply = collectReply(connection, clock_, kTcpReplyMs, kTcpQuietMs);
  const QString text = detectionReplyText(reply);
  if (!isAcceptedAnswer(text)) {
    return std::nullopt;
  }
  return text;
}

std::optional<DetectedDevice> DeviceDetectionService::probeTcpHost(const QString& host) {
  const QByteArray q = QByteArrayLiteral("Q");
  const QByteArray s = QByteArrayLiteral("S");
  const QByteArray framedQ = EcuCommandService::wrapFrame(q);
  const QByteArray framedS = EcuCommandService::wrapFrame(s);
  for (const quint16 port : bridgePorts_) {
    TcpBridgeConnection connection(host, port);
    if (!connection.open()) {
      continue;
    }
    clock_.sleepMs(kTcpSettleMs);
    std::optional<QString> answer;
    for (const QByteArray& request : {q, s, framedQ, framedS}) {
      answer = tcpExchange(connection, request);
      if (answer) {
        break;
      }
    }
    if (!answer) {
      // A bridge may sit in the unframed mode until an "F" wakes the framed protocol.
      connection.write(QByteArrayLiteral("F"));
      clock_.sleepMs(kTcpSettleMs);
      connection.read(kReplyMax, EcuConnection::kDefaultWaitMs);
      for (const QByteArray& request : {framedQ, framedS}) {
        answer = tcpExchange(connection, request);
        if (answer) {
          break;
        }
      }
    }
    connection.close();
    if (answer) {
      report(QStringLiteral("FOUND: %1 at %2:%3").arg(*answer, host).arg(port));
      DetectedDevice device;
      device.port = QStringLiteral("TCP:%1:%2").arg(host).arg(port);
      device.signature = *answer;
      device.host = host;
      device.tcpPort = port;
      device.protocol = QStringLiteral("TcpBridge");
      return device;
    }
  }
  return std::nullopt;
}

bool DeviceDetectionService::isReachable(const QString& host, const QList<quint16>& ports) {
  for (const quint16 port : ports) {
    QTcpSocket socket;
    socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    const bool connected = socket.waitForConnected(kReachMs);
    socket.abort();
    if (connected) {
      return true;
    }
  }
  return false;
}

QStringList DeviceDetectionService::reachableHosts(const QString& prefix) {
  QStringList reachable;
  for (int first = 1; first <= kLastHost; first += kBatchSize) {
    const int last = std::min(first + kBatchSize - 1, kLastHost);
    report(QStringLiteral("TCP: Scanning %1.0/24... (%2/254)").arg(prefix).arg(last));
    std::vector<std::future<std::optional<QString>>> batch;
    for (int n = first; n <= last; ++n) {
      const QString host = QStringLiteral("%1.%2").arg(prefix).arg(n);
      batch.push_back(
          std::async(std::launch::async, [host, ports = bridgePorts_]() -> std::optional<QString> {
            if (isReachable(host, ports)) {
              return host;
            }
            return std::nullopt;
          }));
    }
    for (std::future<std::optional<QString>>& task : batch) {
      if (const std::optional<QString> host = task.get()) {
        reachable.append(*host);
      }
    }
  }
  return reachable;
}

QList<DetectedDevice> DeviceDetectionService::detectTcpDevices(const QString& host,
                                                               const QString& subnets) {
  if (!host.trimmed().isEmpty()) {
    report(QStringLiteral("Probing %1...").arg(host));
    if (const std::optional<DetectedDevice> device = probeTcpHost(host)) {
      return {*device};
    }
    return {};
  }
  const QStringList prefixes =
      subnets.isEmpty()
          ? interfacePrefixes(interfaces_ ? interfaces_() : QList<NetworkInterfaceInfo>())
          : subnetPrefixes(subnets);
  if (prefixes.isEmpty()) {
    report(QStringLiteral("No subnets to scan."));
    return {};
  }
  QStringList reachable;
  for (const QString& prefix : prefixes) {
    report(QStringLiteral("TCP: Scanning subnet %1.0/24...").arg(prefix));
    reachable += reachableHosts(prefix);
  }
  report(
      QStringLiteral("TCP: Found %1 reachable host(s), probing for ECU...").arg(reachable.size()));
  QList<DetectedDevice> found;
  for (const QString& candidate : reachable) {
    if (const std::optional<DetectedDevice> device = probeTcpHost(candidate)) {
      found.append(*device);
    }
  }
  report(found.isEmpty()
             ? QStringLiteral("TCP scan complete. No ECUs found.")
             : QStringLiteral("TCP scan complete. Found %1 device(s).").arg(found.size()));
  return found;
}

}  // namespace tk::comms
