#include "cli/ecu_link.h"

#include <QFileInfo>

#include "cli/command_context.h"
#include "cli/console.h"
#include "comms/command_builder.h"

namespace tk::cli {
namespace {

void warnUnknownCommand(const EcuDefinition& definition, const QByteArray& request) {
  const QString line =
      QStringLiteral("[CLI] warning: the controller does not know the command for %1\n")
          .arg(describeRequest(definition, request));
  write({Stream::Err, line.toUtf8()});
}

HeldEcuSession*& lentSessions() {
  static HeldEcuSession* held = nullptr;
  return held;
}

}  // namespace

QString describeRequest(const EcuDefinition& definition, const QByteArray& request) {
  const QMap<QString, QString> named = definition.agentCommands();
  for (auto it = named.cbegin(); it != named.cend(); ++it) {
    if (comms::decodeEscapes(it.value(), 0) == request) {
      return QStringLiteral("'%1'").arg(it.key());
    }
  }
  const auto is = [&request](const QString& text) {
    return !text.isEmpty() && comms::decodeEscapes(text, 0) == request;
  };
  if (is(definition.versionInfoCommand()) || request == "V") {
    return QStringLiteral("the firmware version");
  }
  if (is(definition.QueryCommand) || request == "Q") {
    return QStringLiteral("the signature");
  }
  if (request == "S") {
    return QStringLiteral("the product text");
  }
  if (is(definition.RetrieveConfigErrorCommand)) {
    return QStringLiteral("the configuration error");
  }
  QString shown;
  for (const char byte : request) {
    const auto code = static_cast<unsigned char>(byte);
    shown += code >= 0x20 && code < 0x7F && code != '\\'
                 ? QString(QChar(code))
                 : QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
  }
  return QStringLiteral("the request \"%1\"").arg(shown);
}

comms::EcuEndpoint endpointOf(const project::ConnectionSettings& settings) {
  comms::EcuEndpoint endpoint;
  endpoint.protocol = settings.protocol;
  endpoint.port = settings.port;
  endpoint.baudRate = settings.baudRate;
  endpoint.host = settings.host;
  endpoint.tcpPort = settings.tcpPort;
  return endpoint;
}

comms::EcuConnection* EcuLink::connection() const {
  return session_ ? session_->connection() : nullptr;
}

comms::EcuCommandService* EcuLink::commands() const {
  return session_ ? session_->commands() : nullptr;
}

comms::TuneCommsService* EcuLink::tuneComms() const {
  return session_ ? session_->tuneComms() : nullptr;
}

std::optional<QString> EcuLink::open() {
  const project::ProjectFile* project = manager_.project();
  if (project == nullptr) {
    return QStringLiteral("No project loaded");
  }
  const EcuDefinition* definition = manager_.definition();
  if (definition == nullptr) {
    return QStringLiteral("No INI loaded");
  }
  if (HeldEcuSession* held = lentSessions()) {
    owned_.reset();
    session_ = &held->lend(manager_);
    if (session_->isOpen()) {
      // What went wrong in an earlier command is not this one's failure.
      session_->clearError();
      return std::nullopt;
    }
    return session_->open();
  }
  owned_ = std::make_unique<comms::EcuSession>(endpointOf(project->connection), *definition);
  owned_->setUnknownCommandObserver(
      [definition](const QByteArray& request) { warnUnknownCommand(*definition, request); });
  session_ = owned_.get();
  return session_->open();
}

void lendEcuSessions(HeldEcuSession* held) { lentSessions() = held; }

HeldEcuSession::~HeldEcuSession() { close(); }

HeldEcuSession::Key HeldEcuSession::keyOf(const project::ProjectFile& project) {
  const QFileInfo ini(project.iniFilePath);
  return {project.connection, project.iniFilePath, ini.size(), ini.lastModified(),
          project.iniSettings};
}

comms::EcuSession& HeldEcuSession::lend(const project::ProjectManager& manager) {
  touch();
  const Key key = keyOf(*manager.project());
  if (session_ && key_ == key) {
    return *session_;
  }
  close();
  definition_ = *manager.definition();
  key_ = key;
  session_ = std::make_unique<comms::EcuSession>(endpointOf(key.connection), *definition_);
  const EcuDefinition* definition = &*definition_;
  session_->setUnknownCommandObserver(
      [definition](const QByteArray& request) { warnUnknownCommand(*definition, request); });
  return *session_;
}

void HeldEcuSession::closeIfStale(const QString& projectPath) {
  if (!isOpen() || !key_) {
    return;
  }
  const Key& key = *key_;
  const auto sameController = [&]() {
    try {
      const project::ProjectFile project = project::readProjectFile(projectPath);
      const QFileInfo ini(key.iniPath);
      return project.connection == key.connection && project.iniSettings == key.iniSettings &&
             ini.size() == key.iniSize && ini.lastModified() == key.iniModified;
    } catch (const std::exception&) {
      // An unreadable project names no controller this session may keep.
      return false;
    }
  };
  if (!sameController()) {
    close();
  }
}

void HeldEcuSession::closeIfIdle(qint64 idleMs) {
  if (isOpen() && (!lastUse_.isValid() || lastUse_.elapsed() >= idleMs)) {
    close();
  }
}

bool HeldEcuSession::isOpen() const {
  return session_ && session_->state() != comms::SessionState::Closed;
}

void HeldEcuSession::close() {
  session_.reset();
  definition_.reset();
  key_.reset();
}

void openEcuLink(EcuLink& link) {
  if (std::optional<QString> failure = link.open()) {
    throw CommandError(*failure);
  }
}

bool isConnected(const EcuLink& link) {
  return link.session() != nullptr && link.session()->isOpen();
}

void requireConnected(const EcuLink& link) {
  if (!isConnected(link)) {
    throw CommandError(comms::EcuSession::notConnectedMessage());
  }
}

SignatureCheck checkSignature(EcuLink& link) {
  requireConnected(link);
  return link.session()->checkSignature();
}

QByteArray pushEditsToEcu(project::ProjectManager& manager, const QString& label) {
  const project::ProjectFile* project = manager.project();
  if (project == nullptr || !endpointOf(project->connection).isConfigured()) {
    return {};
  }
  // The link lives only inside this block: its own session is closed before the line is handed
  // back (a held one stays open).
  const comms::PushOutcome outcome = [&manager]() -> comms::PushOutcome {
    EcuLink link(manager);
    if (std::optional<QString> failure = link.open()) {
      return {failure, {}};
    }
    const Tune* tune = manager.tune();
    const std::optional<PageImages> pages =
        tune != nullptr ? std::optional(comms::pagesToWrite(*tune, *manager.definition()))
                        : std::nullopt;
    return link.session()->push(pages ? &*pages : nullptr);
  }();
  QString line = QStringLiteral("[CLI] ECU sync: pushed changes for ") + label;
  if (outcome.skipped) {
    line = QStringLiteral("[CLI] ECU sync skipped: ") + *outcome.skipped;
  } else if (outcome.failed) {
    line = QStringLiteral(
               "[CLI] ECU sync failed: %1; the edit is saved, the controller keeps its "
               "previous tune")
               .arg(*outcome.failed);
  }
  return (line + QLatin1Char('\n')).toUtf8();
}

QByteArray unchangedEditLine(const project::ProjectManager& manager) {
  const project::ProjectFile* project = manager.project();
  if (project == nullptr || !endpointOf(project->connection).isConfigured()) {
    return {};
  }
  return QByteArrayLiteral("[CLI] ECU sync skipped: nothing changed\n");
}

}  // namespace tk::cli
