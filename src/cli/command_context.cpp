#include "cli/command_context.h"

#include <QDir>

#include "definition/name_hint.h"

namespace tk::cli {

int optionInt(const CommandOptions& options, const QString& name, int fallback) {
  if (!options.has(name)) {
    return fallback;
  }
  bool ok = false;
  const int value = options.value(name).toInt(&ok, 10);
  return ok ? value : 0;
}

void CommandContext::loadProject(ProjectAccess access) {
  loader_.emplace();
  loader_->load(options_.value(QStringLiteral("project")), access);
  // A definition replaced by another controller's would otherwise edit the tune silently.
  for (const QString& warning : loader_->warnings()) {
    warn(warning);
  }
  const project::ProjectManager& loaded = loader_->manager();
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
  return loader_.value().manager();
}

void CommandContext::requireTuneFile() const {
  if (tuneFileMissing()) {
    throw CommandError(
        QStringLiteral("Tune file not found: %1. Use read-tune or import-msq to create it.")
            .arg(QDir::toNativeSeparators(project::tunePathFor(loader_->manager().projectPath()))));
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
  link_.emplace(manager());
  openEcuLink(*link_);
  return *link_;
}

EcuLink& CommandContext::link() {
  Q_ASSERT(link_.has_value());
  return link_.value();
}

}  // namespace tk::cli
