#include "cli/command_context.h"

#include <QDir>
#include <optional>

#include "cli/ecu_link.h"
#include "definition/name_hint.h"

namespace tk::cli {

CommandContext::CommandContext(const CommandOptions& options, QByteArray& diagnostics,
                               ProgressSink progressSink)
    : options_(options), diagnostics_(diagnostics), progressSink_(std::move(progressSink)) {}

CommandContext::~CommandContext() = default;

int CommandOptions::intOrZero(const QString& name, int fallback) const {
  if (!has(name)) {
    return fallback;
  }
  bool ok = false;
  const int number = value(name).toInt(&ok, 10);
  return ok ? number : 0;
}

bool CommandOptions::intAbsentOrValid(const QString& name) const {
  bool ok = true;
  if (has(name)) {
    value(name).toInt(&ok, 10);
  }
  return ok;
}

int CommandOptions::intInRangeOrThrow(const QString& name, int fallback, int low, int high,
                                      const QString& message) const {
  if (!has(name)) {
    return fallback;
  }
  bool ok = false;
  const int number = value(name).trimmed().toInt(&ok, 10);
  if (!ok || number < low || number > high) {
    throw CommandError(QString(message).arg(value(name)));
  }
  return number;
}

void CommandContext::loadProject(ProjectAccess access) {
  CliProjectLoader& loader = loader_.emplace();
  loader.load(options_.value(QStringLiteral("project")), access);
  // A definition replaced by another controller's would otherwise edit the tune silently.
  for (const QString& warning : loader.warnings()) {
    warn(warning);
  }
  const project::ProjectManager& loaded = loader.manager();
  // What the definition reader left out to stay within its memory budget: the command goes on
  // without it, and says so.
  if (loaded.definition() != nullptr) {
    for (const QString& refusal : loaded.definition()->Refused) {
      warn(refusal);
    }
  }
  if (loaded.tune() != nullptr && loaded.definition() != nullptr &&
      loaded.tune()->signature != loaded.definition()->Signature) {
    warn(QStringLiteral("tune signature '%1' differs from the definition's '%2'")
             .arg(loaded.tune()->signature, loaded.definition()->Signature));
  }
}

// A row that forgot to need the project is a programming error; in a release build it still
// ends in the error envelope (bad optional access) rather than in undefined behaviour.
project::ProjectManager& CommandContext::manager() {
  Q_ASSERT(loader_.has_value());
  if (!loader_) {
    throw std::bad_optional_access();
  }
  return loader_->manager();
}

void CommandContext::requireTuneFile() const {
  if (loader_ && loader_->tuneFileMissing()) {
    throw CommandError(
        QStringLiteral("Tune file not found: %1. Use read-tune or import-msq to create it.")
            .arg(QDir::toNativeSeparators(project::tunePathFor(loader_->manager().projectPath()))));
  }
}

void CommandContext::progress(const QString& text) {
  diagnostics_ += text.toUtf8() + '\n';
  if (progressSink_) {
    progressSink_(diagnostics_);
    diagnostics_.clear();
  }
}

void CommandContext::warn(const QString& text) {
  diagnostics_ += QByteArrayLiteral("[CLI] warning: ") + text.toUtf8() + '\n';
}

void CommandContext::hintName(const QString& name, const QStringList& names) {
  if (const std::optional<QString> similar = similarName(name, names)) {
    diagnostics_ += QByteArrayLiteral("[CLI] hint: did you mean '") + similar->toUtf8() + "'?\n";
  }
}

EcuLink& CommandContext::openLink() {
  link_ = std::make_unique<EcuLink>(manager());
  openEcuLink(*link_);
  return *link_;
}

EcuLink& CommandContext::link() {
  Q_ASSERT(link_ != nullptr);
  if (link_ == nullptr) {
    throw std::bad_optional_access();
  }
  return *link_;
}

}  // namespace tk::cli
