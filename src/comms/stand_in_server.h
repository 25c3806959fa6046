#pragma once

#include <QString>
#include <atomic>
#include <memory>

class QIODevice;
class QThread;

namespace tk::comms {

class EcuConnection;

/// Puts a stand-in ECU (a simulated or scripted connection) behind a real transport: a TCP
/// listener on 127.0.0.1 or a serial device (one end of a pseudo-terminal pair), served from a
/// thread of its own. Bytes from the client are written to the ECU and its replies sent back;
/// when the ECU closes, the client is dropped, as when a bridge loses its controller.
class StandInServer {
 public:
  /// A server for ecu (not owned); the ECU must not be used elsewhere while the server runs.
  explicit StandInServer(EcuConnection& ecu);
  /// Stops serving.
  ~StandInServer();
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  /// Listens on 127.0.0.1 (port 0: any free port) and serves one client at a time; the port
  /// listened on, or 0 when listening failed or the server already runs.
  quint16 listenOnLoopback(quint16 port = 0);
  /// Serves the serial device at the baud rate; false when it cannot be opened or the server
  /// already runs.
  bool serveSerialPort(const QString& portName, quint32 baudRate);
  /// Stops serving, closes the transport and waits for the serving thread.
  void stop();

 private:
  void pump(QIODevice& device, bool (*alive)(QIODevice&));

  EcuConnection& ecu_;
  std::unique_ptr<QThread> thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace tk::comms
