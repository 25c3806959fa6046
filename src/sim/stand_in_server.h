#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace tk::comms {
class EcuConnection;
}

namespace tk::sim {

using comms::EcuConnection;

/// Puts a stand-in ECU (a simulated or scripted connection) behind a real transport: a TCP
/// listener on 127.0.0.1, a serial device (one end of a pseudo-terminal pair) or a
/// pseudo-terminal of its own, served from a thread of its own. Bytes from the client are written
/// to the ECU and its replies sent back; when the ECU closes, the client is dropped, as when a
/// bridge loses its controller.
class StandInServer {
 public:
  /// A server for ecu (not owned); the ECU must not be used elsewhere while the server runs.
  explicit StandInServer(EcuConnection& ecu);
  /// Stops serving.
  ~StandInServer();
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  /// Paces replies at bytesPerSecond, each byte sent once a line of that speed would have
  /// delivered it, so that a client may see them arrive one byte at a time; 0 (the default)
  /// sends them as fast as the transport takes them. Set before serving.
  void setReplyRate(int bytesPerSecond);

  /// Listens on 127.0.0.1 (port 0: any free port) and serves one client at a time, the others
  /// in the order they came; a client silent for two seconds gives way to a waiting one. The
  /// port listened on, or 0 when listening failed or the server already runs.
  quint16 listenOnLoopback(quint16 port = 0);
  /// Serves the serial device at the baud rate; false when it cannot be opened or the server
  /// already runs.
  bool serveSerialPort(const QString& portName, quint32 baudRate);
  /// Makes a raw pseudo-terminal, serves its controlling side and gives the path of the terminal
  /// a client opens; empty when none could be made or the server already runs. The server holds
  /// the terminal open itself, so clients may come and go like programs on a serial port.
  QString servePseudoTerminal();
  /// Stops serving after the exchange under way, closes the transport and waits for the
  /// serving thread.
  void stop();

  /// How the serving thread reaches its client; private to the server.
  class Link;

 private:
  // Serves link until it ends or stopping; othersWait, when given, tells whether another client
  // waits, so that a silent client yields to it.
  void pump(Link& link, const std::function<bool()>& othersWait = {});

  EcuConnection& ecu_;
  std::unique_ptr<QThread> thread_;
  std::atomic<bool> stopping_{false};
  int replyRate_ = 0;
};

}  // namespace tk::sim
