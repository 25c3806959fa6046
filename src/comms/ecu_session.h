#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "comms/clock.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/tune_comms_service.h"
#include "tune/tune_value.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

/// Where a controller is reached: the communications side's copy of a project's connection
/// settings, filled in by whoever reads them.
struct EcuEndpoint {
  /// "Serial", "TcpBridge" or "Mock", compared exactly; any other text is a serial port.
  QString protocol = QStringLiteral("Serial");
  /// The serial port name. Open failures name it for every protocol (a bridge's is often empty).
  QString port;
  int baudRate = 115200;  ///< the serial speed
  QString host;           ///< the TCP bridge's host
  int tcpPort = 29001;    ///< the TCP bridge's port; outside 1..65535 it reaches nothing

  /// False for "Serial" without a port name: no controller is named at all.
  bool isConfigured() const;
};

/// A new, closed connection for endpoint: a TcpBridgeConnection, a MockEcuConnection (with the
/// definition's signature, a zero-filled realtime block of its output-channel block size or 100
/// bytes, its realtime command, waiting on clock) or a SerialEcuConnection.
std::unique_ptr<EcuConnection> createConnection(const EcuEndpoint& endpoint,
                                                const EcuDefinition& definition,
                                                Clock& clock = Clock::real());

/// The outcome of comparing the ECU's signature with the definition's.
struct SignatureCheck {
  /// The "Q" or the "S" reply, trimmed, equals the definition's signature, trimmed.
  bool match = false;
  /// The signature text to show (the "S" product text when it names the firmware), when one
  /// was read.
  std::optional<QString> ecuSignature;
};

/// "Signature mismatch: ECU='<shown text>', INI='<definition's signature>'".
QString signatureMismatchMessage(const SignatureCheck& check, const EcuDefinition& definition);

/// How a write of pages through a session ended.
struct WriteOutcome {
  /// The controller refused or left unanswered a chunk write or burn (PageWrite::error); empty
  /// when every page was taken.
  QString refused;
  /// The connection's own failure during the write (a lost peer, a pulled adapter, a write that
  /// could not leave), when it reported one.
  std::optional<QString> connectionError;
  /// The session was no longer open after the write.
  bool closedAfter = false;

  /// Why the write did not get through, the connection's own reason first (it says more than
  /// the unanswered write it caused), then the refusal, then "not connected"; no value when
  /// every page was taken on a connection that reported nothing.
  std::optional<QString> failure() const;
};

/// How a guarded push of a tune ended; both empty once the tune went out whole.
struct PushOutcome {
  /// Why nothing was written: the open failure, not connected, a signature mismatch, or
  /// "No tune loaded".
  std::optional<QString> skipped;
  /// Why a write that began did not complete (WriteOutcome::failure).
  std::optional<QString> failed;
};

/// What a session is doing.
enum class SessionState {
  Closed,  ///< never opened, closed, or the last open failed
  Open,    ///< the connection is Connected and the services are built
  Lost,    ///< opened, but the connection has gone (a lost peer, a pulled adapter, a write error)
};

/// One controller behind one connection, with the framed protocol (EcuCommandService) and the
/// tune service (TuneCommsService) over it. Built from an endpoint and a definition; opened
/// (with the ECU woken and CRC framing forced), used for any number of operations, reopened
/// after a loss, closed. Single-threaded and blocking, like the services it owns.
///
/// The services and the connection exist only while the session is opened (Open or Lost);
/// their pointers change on every open, so hold the session, not them. Closing (also by
/// destruction) closes the connection, then destroys the tune service, the command service and
/// the connection.
class EcuSession {
 public:
  /// A closed session for endpoint; definition and clock must outlive it. The clock is what the
  /// services (and a mock connection) wait on: the real one for serial and TCP connections.
  EcuSession(EcuEndpoint endpoint, const EcuDefinition& definition, Clock& clock = Clock::real());
  ~EcuSession();
  EcuSession(const EcuSession&) = delete;
  EcuSession& operator=(const EcuSession&) = delete;

  /// The endpoint the session opens.
  const EcuEndpoint& endpoint() const { return endpoint_; }
  /// The definition commands are built from.
  const EcuDefinition& definition() const { return definition_; }

  /// Closes whatever was open, creates the endpoint's connection and opens it; on success
  /// builds the services and wakes the ECU with CRC framing forced. No value on success, else
  /// "No COM port configured in project connection settings" (endpoint not configured) or
  /// "Failed to open connection on <port>: <the connection's error, or unknown error>".
  std::optional<QString> open();
  /// open again, after a loss or at any time.
  std::optional<QString> reopen() { return open(); }
  /// Closes the connection and drops the services; harmless when closed.
  void close();
  /// See SessionState.
  SessionState state() const;
  /// state() is Open.
  bool isOpen() const { return state() == SessionState::Open; }

  /// The connection, or null when closed.
  EcuConnection* connection() const { return connection_.get(); }
  /// The framed protocol over the connection, or null when closed.
  EcuCommandService* commands() const { return commands_.get(); }
  /// The tune service over the command service, or null when closed.
  TuneCommsService* tuneComms() const { return tuneComms_.get(); }

  /// The connection's failure since its error was last cleared (its message), or "Not
  /// connected to ECU..." when the session is not open; no value when open and clean.
  std::optional<QString> connectionFailure() const;
  /// Forgets the connection's last failure (see EcuConnection::clearError).
  void clearError();

  /// Asks the ECU for its signature ("Q", then "S") and compares it with the definition's; no
  /// match and no signature when the session is not open.
  SignatureCheck checkSignature();
  /// Writes the pages (numbers from 1) in ascending order, burning each when asked, and says how
  /// it ended; the connection's error is cleared first. Nothing is checked beforehand: see push.
  WriteOutcome writePages(const PageImages& pages, bool burn);
  /// The guarded push after an edit: (re)opens the session unless it is open, refuses an ECU
  /// whose signature does not match, then writes and burns pages (null: "No tune loaded").
  /// Never fails otherwise: see PushOutcome.
  PushOutcome push(const PageImages* pages);

  /// Called with the request whenever the ECU answers status 0x83 (it does not know the
  /// command); kept across reopening.
  void setUnknownCommandObserver(std::function<void(const QByteArray& request)> observer);

  /// "Not connected to ECU. Connect first or check connection settings."
  static QString notConnectedMessage();

 private:
  EcuEndpoint endpoint_;
  const EcuDefinition& definition_;
  Clock& clock_;
  std::function<void(const QByteArray&)> unknownCommandObserver_;
  std::unique_ptr<EcuConnection> connection_;
  std::unique_ptr<EcuCommandService> commands_;
  std::unique_ptr<TuneCommsService> tuneComms_;
};

}  // namespace tk::comms
