#include "sim/stand_in_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QHostAddress>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "comms/ecu_connection.h"

namespace tk::sim {

// The simulator speaks the controller's protocol, so it uses the link's vocabulary throughout.
using namespace comms;

// Short waits keep the thread responsive to stop() without spinning.
constexpr int kPollMs = 20;
constexpr int kFlushMs = 1000;
constexpr qint64 kReadChunk = 65536;
// Clients waiting for their turn on the TCP port.
constexpr int kMaxQueuedClients = 16;
// How long a silent client keeps the controller while others wait for it.
constexpr std::chrono::milliseconds kIdleWhileOthersWait{2000};

class StandInServer::Link {
 public:
  virtual ~Link() = default;
  /// Whether the client can still be served.
  virtual bool alive() = 0;
  /// The request bytes that came within ms; empty when none did.
  virtual QByteArray take(int ms) = 0;
  /// Writes bytes and waits (a bounded time) until they have left.
  virtual void send(const QByteArray& bytes) = 0;
};

namespace {

// A socket or serial port, served through its blocking waits.
class DeviceLink : public StandInServer::Link {
 public:
  DeviceLink(QIODevice& device, bool (*isAlive)(QIODevice&)) : device_(device), alive_(isAlive) {}
  bool alive() override { return alive_(device_); }
  QByteArray take(int ms) override {
    if (device_.bytesAvailable() == 0 && !device_.waitForReadyRead(ms)) {
      return {};
    }
    return device_.readAll();
  }
  void send(const QByteArray& bytes) override {
    device_.write(bytes);
    device_.waitForBytesWritten(kFlushMs);
  }

 private:
  QIODevice& device_;
  bool (*alive_)(QIODevice&);
};

bool socketAlive(QIODevice& device) {
  return static_cast<QTcpSocket&>(device).state() == QAbstractSocket::ConnectedState;
}

bool serialAlive(QIODevice& device) {
  const auto& port = static_cast<QSerialPort&>(device);
  return port.isOpen() && port.error() != QSerialPort::ResourceError;
}

// The controlling side of a pseudo-terminal. The server keeps the terminal side open as well, so
// a client closing it is no hang-up and the next client finds the same terminal.
class TerminalLink : public StandInServer::Link {
 public:
  TerminalLink(int controller, int terminal) : controller_(controller), terminal_(terminal) {}
  ~TerminalLink() override {
    ::close(terminal_);
    ::close(controller_);
  }
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

  bool alive() override { return true; }
  QByteArray take(int ms) override {
    pollfd p{controller_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) {
      return {};
    }
    QByteArray bytes(kReadChunk, Qt::Uninitialized);
    const ssize_t n = ::read(controller_, bytes.data(), static_cast<size_t>(bytes.size()));
    bytes.resize(std::max<ssize_t>(n, 0));
    return bytes;
  }
  void send(const QByteArray& bytes) override {
    // With nobody reading the terminal its buffer fills up; what does not fit in time is lost,
    // as on a line with nothing plugged in.
    for (qsizetype sent = 0; sent < bytes.size();) {
      const ssize_t n =
          ::write(controller_, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
      if (n > 0) {
        sent += n;
        continue;
      }
      pollfd p{controller_, POLLOUT, 0};
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || ::poll(&p, 1, kFlushMs) <= 0) {
        return;
      }
    }
  }

 private:
  int controller_;
  int terminal_;
};

// Sends bytes over link no faster than a line of bytesPerSecond: byte k leaves once the line
// would have delivered it, lineFree telling when the previous reply has left the line. The
// thread wakes at most about once a millisecond, sending what has come due: one byte at a time
// on a slow line, a few on a fast one, as a USB-serial adapter hands them on.
void sendPaced(StandInServer::Link& link, const QByteArray& bytes, int bytesPerSecond,
               std::chrono::steady_clock::time_point& lineFree, const std::atomic<bool>& stopping) {
  using Clock = std::chrono::steady_clock;
  const auto perByte = std::chrono::nanoseconds(1'000'000'000LL / bytesPerSecond);
  const qsizetype step = std::max(1, bytesPerSecond / 1000);
  const Clock::time_point start = std::max(Clock::now(), lineFree);
  qsizetype sent = 0;
  while (sent < bytes.size() && !stopping) {
    std::this_thread::sleep_until(start + std::min(sent + step, bytes.size()) * perByte);
    const auto due = static_cast<qsizetype>((Clock::now() - start) / perByte);
    const qsizetype n = std::clamp<qsizetype>(due - sent, 1, bytes.size() - sent);
    link.send(bytes.mid(sent, n));
    sent += n;
  }
  lineFree = start + bytes.size() * perByte;
}

}  // namespace

StandInServer::StandInServer(EcuConnection& ecu) : ecu_(ecu) {}

StandInServer::~StandInServer() { stop(); }

void StandInServer::setReplyRate(int bytesPerSecond) { replyRate_ = std::max(bytesPerSecond, 0); }

void StandInServer::stop() {
  if (!thread_) {
    return;
  }
  stopping_ = true;
  thread_->wait();
  thread_.reset();
  stopping_ = false;
}

void StandInServer::pump(Link& link, const std::function<bool()>& othersWait) {
  auto lineFree = std::chrono::steady_clock::now();
  auto lastRequest = std::chrono::steady_clock::now();
  while (!stopping_ && link.alive()) {
    const QByteArray request = link.take(kPollMs);
    if (request.isEmpty()) {
      // A client that holds the line without a word would keep the others out for ever.
      if (othersWait && std::chrono::steady_clock::now() - lastRequest > kIdleWhileOthersWait &&
          othersWait()) {
        return;
      }
      continue;
    }
    lastRequest = std::chrono::steady_clock::now();
    ecu_.write(request);
    while (ecu_.bytesAvailable() > 0) {
      const QByteArray reply = ecu_.read(kReadChunk, 0);
      if (replyRate_ > 0) {
        sendPaced(link, reply, replyRate_, lineFree, stopping_);
      } else {
        link.send(reply);
      }
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
    // Clients beyond those queued are not taken from the system's backlog until a place is
    // free; one that gave up meanwhile is served a reply nobody reads and dropped.
    server.setMaxPendingConnections(kMaxQueuedClients);
    listening->set_value(server.serverPort());
    while (!stopping_) {
      // Connections that arrived together are all taken from the system's queue at once, so
      // those already taken are served before waiting for another.
      if (!server.hasPendingConnections() && !server.waitForNewConnection(kPollMs)) {
        continue;
      }
      const std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
      if (!client) {
        continue;
      }
      client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
      ecu_.open();
      DeviceLink link(*client, socketAlive);
      pump(link,
           [&server] { return server.hasPendingConnections() || server.waitForNewConnection(0); });
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
    DeviceLink link(port, serialAlive);
    pump(link);
    port.close();
  }));
  thread_->start();
  const bool ok = result.get();
  if (!ok) {
    stop();
  }
  return ok;
}

QString StandInServer::servePseudoTerminal() {
  if (thread_) {
    return {};
  }
  const int controller = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (controller < 0) {
    return {};
  }
  char name[128];
  int terminal = -1;
  if (::grantpt(controller) == 0 && ::unlockpt(controller) == 0 &&
      ::ptsname_r(controller, name, sizeof name) == 0) {
    terminal = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  termios t{};
  if (terminal < 0 || ::tcgetattr(terminal, &t) != 0) {
    if (terminal >= 0) {
      ::close(terminal);
    }
    ::close(controller);
    return {};
  }
  // Raw and without echo from the start: an echo would hand the ECU its own replies back before
  // a client has set the line up.
  ::cfmakeraw(&t);
  ::tcsetattr(terminal, TCSANOW, &t);
  auto link = std::make_shared<TerminalLink>(controller, terminal);
  ecu_.open();
  thread_.reset(QThread::create([this, link] { pump(*link); }));
  thread_->start();
  return QString::fromLocal8Bit(name);
}

}  // namespace tk::sim
