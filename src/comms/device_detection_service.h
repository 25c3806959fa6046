#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tk::comms {

class Clock;
class ConnectionProvider;
class EcuConnection;

/// One controller found by a scan; the field names are those of a project's connection.
struct DetectedDevice {
  QString port;          ///< the serial port name, or "TCP:host:port"
  quint32 baudRate = 0;  ///< the rate that answered; 0 for a bridge
  QString signature;     ///< the controller's answer
  QString host;          ///< the bridge's host; empty for a serial port
  int tcpPort = 0;       ///< the bridge port that answered; 0 for a serial port
  QString protocol;      ///< "Serial" or "TcpBridge"
};

/// What the scan needs to know of one network interface.
struct NetworkInterfaceInfo {
  bool isUp = false;              ///< the interface is up
  bool isLoopback = false;        ///< the interface is a loopback interface
  QList<QHostAddress> addresses;  ///< its addresses, of any protocol
};

/// Lists the machine's network interfaces.
using InterfaceLister = std::function<QList<NetworkInterfaceInfo>()>;

/// The machine's interfaces as the system reports them.
QList<NetworkInterfaceInfo> systemInterfaces();

/// The text of a probe reply: the text inside it when it looks like a frame, else the whole
/// reply, with NUL, CR, LF and blanks trimmed when that is needed to make it printable.
QString detectionReplyText(const QByteArray& reply);
/// Whether a reply text looks like a controller's answer: 3 or more characters, all of codes 10
/// to 126.
bool isAcceptedAnswer(const QString& text);
/// The rates in the order a serial port is probed: 115200, then 38400, then the rest in their
/// given order; none twice.
QList<quint32> serialBaudOrder(const QList<quint32>& rates);
/// The /24 prefixes ("a.b.c") of a blank-separated list of "a.b.c.d[/n]" entries, in the order
/// given and without repeats; entries with fewer than three numbers are left out.
QStringList subnetPrefixes(const QString& subnetText);
/// The /24 prefixes of the IPv4 addresses of the interfaces that are up and not loopback, in
/// order and without repeats.
QStringList interfacePrefixes(const QList<NetworkInterfaceInfo>& interfaces);

/// Finds controllers without a project: serial ports probed at a few baud rates with "Q", and
/// TCP bridges on given hosts or on /24 subnets. Every step reports a progress line.
class DeviceDetectionService {
 public:
  /// A service listing and opening serial ports through provider (not owned); waits and sleeps
  /// of the serial probe use clock. Scans local interfaces from the system's list.
  explicit DeviceDetectionService(ConnectionProvider& provider, Clock& clock);
  /// The same on the machine's clock.
  explicit DeviceDetectionService(ConnectionProvider& provider);

  /// Receives each progress line.
  void setProgressCallback(std::function<void(const QString&)> callback);
  /// Receives each device as it is found.
  void setDeviceFoundCallback(std::function<void(const DetectedDevice&)> callback);
  /// The bridge ports tried on every host, in order (29001 and 29002 unless changed).
  void setBridgePorts(const QList<quint16>& ports);
  /// Where the local subnets come from when no subnet is given.
  void setInterfaceLister(InterfaceLister lister);

  /// The serial rates as stored (115200, 57600, 38400, 9600).
  const QList<quint32>& baudRates() const { return baudRates_; }

  /// Probes every serial port the provider lists.
  QList<DetectedDevice> detectSerialDevices();
  /// Probes the host when one is given; else every host of the given subnets (or of the local
  /// /24 subnets when none is given) that accepts a connection on a bridge port.
  QList<DetectedDevice> detectTcpDevices(const QString& host, const QString& subnets);

  /// The serial probe of one port: the first rate whose answer is accepted. At each rate the
  /// unframed "Q" goes first; when its answer is not accepted the framed "Q" follows on the same
  /// connection, for a controller that stopped taking unframed commands after framed traffic.
  std::optional<DetectedDevice> probeSerialPort(const QString& portName);
  /// The bridge probe of one host: the first bridge port whose answer is accepted.
  std::optional<DetectedDevice> probeTcpHost(const QString& host);
  /// Whether host accepts a connection on a bridge port within 500 ms per port; safe from any
  /// thread.
  static bool isReachable(const QString& host, const QList<quint16>& ports);

 private:
  void report(const QString& line) const;
  QByteArray collectSerialReply(EcuConnection& connection, const QByteArray& request);
  std::optional<QString> tcpExchange(EcuConnection& connection, const QByteArray& request);
  QStringList reachableHosts(const QString& prefix);

  ConnectionProvider& provider_;
  Clock& clock_;
  std::function<void(const QString&)> progress_;
  std::function<void(const DetectedDevice&)> deviceFound_;
  QList<quint32> baudRates_{115200, 57600, 38400, 9600};
  QList<quint16> bridgePorts_{29001, 29002};
  InterfaceLister interfaces_;
};

}  // namespace tk::comms
