#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <memory>
#include <optional>

#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/ecu_session.h"
#include "comms/tune_comms_service.h"
#include "project/project_manager.h"

namespace tk::cli {

using comms::SignatureCheck;
using comms::signatureMismatchMessage;

/// What a command that talks to the ECU holds while it runs: an EcuSession for the project's
/// connection settings. Empty until opened; destroying it closes the session.
class EcuLink {
 public:
  /// An unopened link for the project held by manager (which must outlive it).
  explicit EcuLink(project::ProjectManager& manager) : manager_(manager) {}

  /// The manager holding the project.
  project::ProjectManager& manager() const { return manager_; }
  /// The session, or null before opening.
  comms::EcuSession* session() const { return session_; }
  /// The connection, or null before opening.
  comms::EcuConnection* connection() const;
  /// The framed protocol over the connection, or null before opening.
  comms::EcuCommandService* commands() const;
  /// The tune service over the command service, or null before opening.
  comms::TuneCommsService* tuneComms() const;

  /// Builds the session from the project's connection settings and opens it (see
  /// comms::EcuSession::open); while sessions are lent (lendEcuSessions), takes the held one
  /// instead, opened unless it is open already. No value on success, else the failure message
  /// (the same texts openEcuLink throws).
  std::optional<QString> open();

 private:
  project::ProjectManager& manager_;
  // The link's own session; empty when it borrowed the held one.
  std::unique_ptr<comms::EcuSession> owned_;
  comms::EcuSession* session_ = nullptr;
};

/// One EcuSession lent to the links of the successive commands of one process (the mcp
/// session): opened by the first link that needs it, left open between commands, opened again
/// after a loss or a failed open, replaced when the project's connection settings or definition
/// change, closed when unused for a while and on destruction.
class HeldEcuSession {
 public:
  HeldEcuSession() = default;
  ~HeldEcuSession();
  HeldEcuSession(const HeldEcuSession&) = delete;
  HeldEcuSession& operator=(const HeldEcuSession&) = delete;

  /// The session for manager's project (which has a definition): the held one while the
  /// project's connection settings and definition are those it was made for, else a new closed
  /// one for them (the old one closed first). Counts as a use.
  comms::EcuSession& lend(const project::ProjectManager& manager);
  /// Closes the session when the project file at projectPath (read again) names other
  /// connection or definition settings, cannot be read, or the definition file changed on disk.
  void closeIfStale(const QString& projectPath);
  /// Closes the session when it was last used at least idleMs ago.
  void closeIfIdle(qint64 idleMs);
  /// Counts as a use (at the end of a command).
  void touch() { lastUse_.start(); }
  /// Whether a session is opened (open or lost).
  bool isOpen() const;
  /// Closes and forgets the session.
  void close();

 private:
  // What a session was made for: the connection and the definition as read.
  struct Key {
    project::ConnectionSettings connection;
    QString iniPath;
    qint64 iniSize = 0;
    QDateTime iniModified;
    project::IniSettings iniSettings;
    bool operator==(const Key&) const = default;
  };
  static Key keyOf(const project::ProjectFile& project);

  std::optional<Key> key_;
  // Declared before the session, which refers to it, so that the session goes first.
  std::optional<EcuDefinition> definition_;
  std::unique_ptr<comms::EcuSession> session_;
  QElapsedTimer lastUse_;
};

/// While held is not null, every EcuLink (and so every push after an edit) opens held's session
/// and leaves it open; null (the default): each link opens and closes a session of its own.
void lendEcuSessions(HeldEcuSession* held);

/// The project's connection settings as the endpoint a session opens.
comms::EcuEndpoint endpointOf(const project::ConnectionSettings& settings);

/// How the warning for a request the controller does not know (status 0x83) names it: a
/// controller command by its name in quotes, the firmware version, signature, product text and
/// configuration-error requests by what they ask for, anything else as "the request" with its
/// bytes (printable ones as text, the others as \xHH).
QString describeRequest(const EcuDefinition& definition, const QByteArray& request);

/// Opens the link (see EcuLink::open); throws "No project loaded", "No INI loaded", "No COM port
/// configured in project connection settings" or "Failed to open connection on <port>: <why>".
void openEcuLink(EcuLink& link);

/// Whether the link's session is open.
bool isConnected(const EcuLink& link);
/// Throws "Not connected to ECU. Connect first or check connection settings." unless connected.
void requireConnected(const EcuLink& link);

/// Requires a connected link, asks the ECU for its signature and compares it.
SignatureCheck checkSignature(EcuLink& link);

/// After a saved edit: writes and burns the whole tune on the project's ECU, unless no ECU is
/// configured (Serial without a port). Never fails: returns the lines for standard error, one
/// saying the push was done for label, why it was skipped (nothing written) or why it failed
/// (a write the controller refused or did not answer); empty when nothing was attempted.
/// Nothing is written to an ECU whose signature does not match.
QByteArray pushEditsToEcu(project::ProjectManager& manager, const QString& label);
/// The line saying an edit that changed no byte of the tune was not pushed ("[CLI] ECU sync
/// skipped: nothing changed"); empty when the project names no ECU, as pushEditsToEcu is silent.
QByteArray unchangedEditLine(const project::ProjectManager& manager);

}  // namespace tk::cli
