#pragma once

// A TCP peer on 127.0.0.1 for connection tests, written on plain POSIX sockets so that it shares
// no code with the connections under test. It accepts one client and runs a script on its own
// thread; every wait of the script is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <chrono>
#include <functional>
#include <thread>

namespace tk::test {

/// The far end of a stream (an accepted TCP client or a terminal device) as a script sees it.
class PeerStream {
 public:
  PeerStream(int fd, bool isSocket) : fd_(fd), isSocket_(isSocket) {}

  /// Up to n bytes, waiting at most timeoutMs in total; fewer when the client closed or time ran
  /// out.
  QByteArray readExactly(qsizetype n, int timeoutMs) {
    QByteArray bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !waitReadable(static_cast<int>(left.count()))) {
        break;
      }
      char buf[4096];
      const ssize_t got = ::read(fd_, buf, std::min<qsizetype>(sizeof buf, n - bytes.size()));
      if (got <= 0) {
        break;
      }
      bytes.append(buf, got);
    }
    return bytes;
  }

  /// One whole request frame (length, payload, CRC), or what arrived of it in time.
  QByteArray readFrame(int timeoutMs = 5000) {
    QByteArray frame = readExactly(2, timeoutMs);
    if (frame.size() == 2) {
      const int n = (quint8(frame[0]) << 8) | quint8(frame[1]);
      frame += readExactly(n + 4, timeoutMs);
    }
    return frame;
  }

  /// True when the client has closed its side (or reset) within timeoutMs.
  bool waitForClientClose(int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      if (!waitReadable(50)) {
        continue;
      }
      char buf[4096];
      if (::read(fd_, buf, sizeof buf) <= 0) {
        return true;
      }
    }
    return false;
  }

  void send(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
      const char* from = bytes.constData() + done;
      const std::size_t left = static_cast<std::size_t>(bytes.size() - done);
      // Sockets must not raise SIGPIPE when the client is gone.
      const ssize_t n =
          isSocket_ ? ::send(fd_, from, left, MSG_NOSIGNAL) : ::write(fd_, from, left);
      if (n <= 0) {
        return;
      }
      done += n;
    }
  }

  /// Sends one byte at a time with a pause before each.
  void sendSlowly(const QByteArray& bytes, int pauseMs) {
    for (const char b : bytes) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      send(QByteArray(1, b));
    }
  }

  /// Whether the script has not closed the connection yet.
  bool isOpen() const { return fd_ >= 0; }

  /// Closes the connection (an orderly FIN).
  void close() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  bool waitReadable(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
  }

  int fd_;
  bool isSocket_;
};

/// A listener on 127.0.0.1 with a free port that serves one client with a script.
class LoopbackPeer {
 public:
  using Script = std::function<void(PeerStream&)>;

  explicit LoopbackPeer(Script script) : listenFd_(listenOnLoopback(8)) {
    thread_ = std::thread([this, s = std::move(script)] {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) {
        return;
      }
      PeerStream client(::accept(listenFd_, nullptr, nullptr), true);
      s(client);
      client.close();
    });
  }
  ~LoopbackPeer() {
    thread_.join();
    ::close(listenFd_);
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  quint16 port() const { return portOf(listenFd_); }

  /// A listening socket on a free loopback port with the given backlog.
  static int listenOnLoopback(int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, backlog);
    return fd;
  }

  static quint16 portOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

 private:
  int listenFd_;
  std::thread thread_;
};

/// A loopback listener that never accepts and whose accept queue is already full, so that
/// further connection attempts get no answer and time out (the kernel drops their SYNs).
class BlackholeListener {
 public:
  BlackholeListener() : listenFd_(LoopbackPeer::listenOnLoopback(0)) {
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port());
    ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~BlackholeListener() {
    ::close(filler_);
    ::close(listenFd_);
  }
  BlackholeListener(const BlackholeListener&) = delete;
  BlackholeListener& operator=(const BlackholeListener&) = delete;

  quint16 port() const { return LoopbackPeer::portOf(listenFd_); }

 private:
  int listenFd_;
  int filler_ = -1;
};

/// A free loopback port with nothing listening on it (connections are refused).
inline quint16 refusedLoopbackPort() {
  const int fd = LoopbackPeer::listenOnLoopback(1);
  const quint16 port = LoopbackPeer::portOf(fd);
  ::close(fd);
  return port;
}

}  // namespace tk::test
