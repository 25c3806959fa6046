#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <stdexcept>

#include "cli/ecu_link.h"
#include "cli/project_loader.h"
#include "project/project_manager.h"

namespace tk::cli {

/// Parsed options of one agent command: name (without dashes) to its last value.
struct CommandOptions {
  QHash<QString, QString> values;
  bool offline = false;

  bool has(const QString& name) const { return values.contains(name); }
  /// The option's value, or an empty text when absent.
  QString value(const QString& name) const { return values.value(name); }
};

/// The option as a decimal 32-bit integer: fallback when absent, 0 when not a valid integer.
int optionInt(const CommandOptions& options, const QString& name, int fallback);

/// A failure a command reports to its caller; the message is the user-facing text.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// What a handler works with: its options and what its command-table row asked the runner to
/// provide. It lives for one command inside the runner's guarded block, so whatever it holds is
/// released on success and on failure alike.
class CommandContext {
 public:
  /// A context holding only the options.
  explicit CommandContext(const CommandOptions& options) : options_(options) {}

  /// The command's options.
  const CommandOptions& options() const { return options_; }

  /// Loads the project named by the project option; throws the loader's errors.
  void loadProject();
  /// The loaded project's manager; only for handlers whose row needs the project.
  project::ProjectManager& manager();

  /// Opens the ECU link of the loaded project (see openEcuLink) and returns it; throws the
  /// link's errors.
  EcuLink& openLink();
  /// The link opened before; only for handlers whose row needs it or that opened it.
  EcuLink& link();

  /// Names the edit for the push that follows its save (an edit handler sets it).
  void setEditLabel(const QString& label) { editLabel_ = label; }
  /// The edit's label, or no value when the handler stored nothing to push.
  const std::optional<QString>& editLabel() const { return editLabel_; }

 private:
  const CommandOptions& options_;
  std::optional<CliProjectLoader> loader_;
  // Declared after the loader so that the connection is closed before the project goes.
  std::optional<EcuLink> link_;
  std::optional<QString> editLabel_;
};

}  // namespace tk::cli
