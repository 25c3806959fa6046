#include "cli/command_context.h"

namespace tk::cli {

int optionInt(const CommandOptions& options, const QString& name, int fallback) {
  if (!options.has(name)) {
    return fallback;
  }
  bool ok = false;
  const int value = options.value(name).toInt(&ok, 10);
  return ok ? value : 0;
}

void CommandContext::loadProject() {
  loader_.emplace();
  loader_->load(options_.value(QStringLiteral("project")));
}

// A row that forgot to need the project is a programming error; in a release build it still
// ends in the error envelope (bad optional access) rather than in undefined behaviour.
project::ProjectManager& CommandContext::manager() {
  Q_ASSERT(loader_.has_value());
  return loader_.value().manager();
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
