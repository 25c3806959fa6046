#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/tune_comms_service.h"
#include "project/project_manager.h"

namespace tk::cli {

/// What a command that talks to the ECU holds while it runs: the project's connection with the
/// framed protocol and the tune service over it. Empty until opened; destroying it closes the
/// connection, then destroys the tune service, the command service and the connection.
class EcuLink {
 public:
  /// An unopened link for the project held by manager (which must outlive it).
  explicit EcuLink(project::ProjectManager& manager) : manager_(manager) {}
  ~EcuLink();
  EcuLink(const EcuLink&) = delete;
  EcuLink& operator=(const EcuLink&) = delete;

  /// The manager holding the project.
  project::ProjectManager& manager() const { return manager_; }
  /// The connection, or null before opening.
  comms::EcuConnection* connection() const { return connection_.get(); }
  /// The framed protocol over the connection, or null before opening.
  comms::EcuCommandService* commands() const { return commands_.get(); }
  /// The tune service over the command service, or null before opening.
  comms::TuneCommsService* tuneComms() const { return tuneComms_.get(); }

  /// Chooses the connection from the project's settings and opens it; on success builds the
  /// services and wakes the ECU with CRC framing forced. No value on success, else the failure
  /// message (the same texts openEcuLink throws).
  std::optional<QString> open();

  /// How many errors the connection has signalled since it was created.
  int errorCount() const { return errorCount_; }
  /// The connection's most recent error message; empty when it signalled none.
  const QString& lastError() const { return lastError_; }

 private:
  project::ProjectManager& manager_;
  std::unique_ptr<comms::EcuConnection> connection_;
  std::unique_ptr<comms::EcuCommandService> commands_;
  std::unique_ptr<comms::TuneCommsService> tuneComms_;
  int errorCount_ = 0;
  QString lastError_;
};

/// How the warning for a request the controller does not know (status 0x83) names it: a
/// controller command by its name in quotes, the firmware version, signature, product text and
/// configuration-error requests by what they ask for, anything else as "the request" with its
/// bytes (printable ones as text, the others as \xHH).
QString describeRequest(const EcuDefinition& definition, const QByteArray& request);

/// Opens the link (see EcuLink::open); throws "No project loaded", "No INI loaded", "No COM port
/// configured in project connection settings" or "Failed to open connection on <port>: <why>".
void openEcuLink(EcuLink& link);

/// Whether the link has a Connected connection and a tune service.
bool isConnected(const EcuLink& link);
/// Throws "Not connected to ECU. Connect first or check connection settings." unless connected.
void requireConnected(const EcuLink& link);

/// Why a transfer that started when the link had signalled errorsBefore errors did not get
/// through: the connection's latest error when it signalled one since (a lost peer, a write that
/// could not leave), the not-connected message when it is no longer connected; no value when
/// neither. Transfers run to the end whatever the ECU answers, so this is what tells.
std::optional<QString> transferFailure(const EcuLink& link, int errorsBefore);

/// The outcome of comparing the ECU's signature with the definition's.
struct SignatureCheck {
  /// The "Q" or the "S" reply, trimmed, equals the definition's signature, trimmed.
  bool match = false;
  /// The signature text to show (the "S" product text when it names the firmware), when one
  /// was read.
  std::optional<QString> ecuSignature;
};

/// Requires a connected link, asks the ECU for its signature and compares it.
SignatureCheck checkSignature(EcuLink& link);
/// "Signature mismatch: ECU='<shown text>', INI='<definition's signature>'".
QString signatureMismatchMessage(const SignatureCheck& check, const EcuDefinition& definition);

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
