#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "comms/clock.h"

namespace tk::comms {

class EcuConnection;

/// How a framed exchange ended. Each failure keeps its own message text in EcuResponse::error;
/// callers decide on the outcome, never on the text.
enum class FrameOutcome {
  Ok,            ///< a well-formed response with an accepted status
  NotConnected,  ///< "Not connected": no connection, or it is not Connected
  Busy,          ///< "Command lock timeout": another exchange is under way
  WriteFailed,   ///< "Command write failed"
  Timeout,       ///< "Response timeout after %1ms": header or body incomplete at the deadline
  BadHeader,     ///< "Failed to read response header (timeout)": more header bytes than asked
  BadLength,     ///< "Invalid payload size: %1": length 0 or above 32768
  Incomplete,    ///< "Incomplete response: got %1, expected %2": more body bytes than asked
  BadCrc,        ///< "CRC mismatch": no coverage mode matched
  EcuError,      ///< the ECU's status byte refused the request
  Lost,          ///< the connection was lost on the way; the error is the connection's message
};

/// The result of one framed exchange.
struct EcuResponse {
  bool ok = false;    ///< a well-formed response with an accepted status arrived
  quint8 status = 0;  ///< the ECU's status byte, or the failure code (0xFF local, 0x82 CRC)
  QByteArray data;    ///< the payload after the status byte (success only)
  QString error;      ///< the failure message (failure only)
  /// How the exchange ended; a response never filled in counts as no exchange at all.
  FrameOutcome outcome = FrameOutcome::NotConnected;

  bool operator==(const EcuResponse& other) const = default;
};

/// Which bytes an ECU's response CRC covers, numbered in the order they are tried.
enum class CrcCoverage {
  Unknown = 0,           ///< not yet detected
  Payload = 1,           ///< status byte and data
  Data = 2,              ///< data only (CRC 0 when there is none)
  LengthAndPayload = 3,  ///< the two length bytes, status byte and data
  LengthAndData = 4,     ///< the two length bytes and data (CRC 0 when there is no data)
};

/// The framed request/response protocol over one connection: 2-byte big-endian length, payload,
/// CRC-32. Blocking with deadlines on its clock, no event loop; never throws for I/O or protocol
/// failures. Every read inside a deadline waits at most the time left on it, so an exchange ends
/// on its deadline, and at once when the connection is lost.
class EcuCommandService {
 public:
  /// Status bytes the ECU uses.
  static constexpr quint8 kStatusOk = 0x00;
  static constexpr quint8 kStatusBurnOk = 0x04;
  static constexpr quint8 kStatusUnderrun = 0x80;
  static constexpr quint8 kStatusOverrun = 0x81;
  static constexpr quint8 kStatusCrcFailure = 0x82;
  static constexpr quint8 kStatusUnrecognized = 0x83;
  static constexpr quint8 kStatusOutOfRange = 0x84;
  static constexpr quint8 kStatusFramingError = 0x8D;
  /// The failure code of local failures.
  static constexpr quint8 kLocalFailure = 0xFF;
  /// The largest response payload accepted.
  static constexpr int kMaxPayload = 32768;

  /// A service over connection (not owned, may be null) that waits and sleeps on clock (which
  /// must outlive it). Real connections need the real clock: their reads wait in real time.
  explicit EcuCommandService(EcuConnection* connection = nullptr, Clock& clock = Clock::real());

  /// Attaches a connection (not owned, may be null) and restarts CRC detection.
  void setConnection(EcuConnection* connection);
  /// The attached connection, or null.
  EcuConnection* connection() const { return connection_; }
  /// The detected response CRC coverage; Unknown until a response matched.
  CrcCoverage crcCoverage() const { return crcCoverage_; }
  /// Whether the ECU was found to send its CRC least significant byte first.
  bool crcLittleEndian() const { return crcLittleEndian_; }
  /// Whether an exchange is under way.
  bool isBusy() const { return busy_; }
  /// The clock that deadlines and sleeps use.
  Clock& clock() const { return clock_; }

  /// Length (big-endian), payload, CRC-32 of the payload (big-endian).
  static QByteArray wrapFrame(const QByteArray& payload);
  /// The response timeout for a transfer of byteCount bytes: max(byteCount / 8 + 300, 500) ms.
  static int scaledTimeoutMs(int byteCount);

  /// Frames the payload and runs transact.
  EcuResponse sendCommand(const QByteArray& payload, int timeoutMs);
  /// Purges stale input, writes the frame and reads one response; drains the input after a
  /// failure so that the next exchange starts on a clean stream.
  EcuResponse transact(const QByteArray& frame, int timeoutMs);
  /// Reads and checks one framed response within timeoutMs.
  EcuResponse readResponse(int timeoutMs);
  /// Purges stale input and writes the framed payload; reads nothing.
  void sendWithoutResponse(const QByteArray& payload);
  /// Like transact, but copies up to maxCount data bytes to destination[offset...] (which must
  /// hold offset + maxCount bytes) and returns their count; -1 on any failure or a status other
  /// than 0x00 or 0x04.
  int readResponseInto(const QByteArray& frame, QByteArray& destination, int offset, int maxCount,
                       int timeoutMs);
  /// Wakes an ECU that lost frame alignment with an unframed "F"; true when it answered.
  bool resync();
  /// Sends a line of console text unframed and returns the reply without trailing NUL/CR/LF;
  /// no value on failure or an empty reply.
  std::optional<QString> sendConsoleCommand(const QString& text, int timeoutMs);
  /// Discards pending input (up to ten reads of 4096 bytes).
  void drainInput();
  /// Called with the request's payload whenever a framed response carries status 0x83 (the ECU
  /// does not know the command); results are unchanged. Empty: nobody is told.
  void setUnknownCommandObserver(std::function<void(const QByteArray& request)> observer) {
    unknownCommandObserver_ = std::move(observer);
  }

 private:
  struct ExactRead;
  struct Frame;
  class BusyScope;

  bool isConnected() const;
  ExactRead readExactly(qsizetype wanted, const Deadline& deadline);
  Frame readFrame(int timeoutMs);
  bool checkCrc(const QByteArray& header, const QByteArray& payload, const QByteArray& crcField);
  void purgeStaleInput();
  void drainAfterFailure();
  /// Reads and drops input, at most ten reads, up to the first empty one; with pendingOnly set
  /// the reads take what has arrived without waiting for more.
  void discardReads(bool pendingOnly);
  bool connectionLost() const;

  EcuConnection* connection_ = nullptr;
  Clock& clock_;
  CrcCoverage crcCoverage_ = CrcCoverage::Unknown;
  bool crcLittleEndian_ = false;
  bool busy_ = false;
  std::function<void(const QByteArray&)> unknownCommandObserver_;
  QByteArray lastRequest_;  // the payload of the frame written last
};

}  // namespace tk::comms
