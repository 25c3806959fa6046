#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

#include "cli/ecu_link.h"
#include "cli/project_loader.h"
#include "project/project_manager.h"

namespace tk::cli {

/// Parsed options of one agent command: name (without dashes) to its last value.
struct CommandOptions {
  QHash<QString, QString> values;
  /// Every value of each option given with a value, in command-line order.
  QHash<QString, QStringList> repeated;
  bool offline = false;

  bool has(const QString& name) const { return values.contains(name); }
  /// The option's value, or an empty text when absent.
  QString value(const QString& name) const { return values.value(name); }
  /// Every value the option was given, in order; empty when absent.
  QStringList all(const QString& name) const { return repeated.value(name); }
};

/// The option as a decimal 32-bit integer: fallback when absent, 0 when not a valid integer.
int optionInt(const CommandOptions& options, const QString& name, int fallback);

/// A failure a command reports to its caller; the message is the user-facing text.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

/// What a handler works with: its options, what its command-table row asked the runner to
/// provide, and where its warnings go. It lives for one command inside the runner's guarded
/// block, so whatever it holds (the project and its lock) is released on success and on failure
/// alike; the warnings outlive it in the caller's buffer.
class CommandContext {
 public:
  /// A context holding the options; warnings are appended to diagnostics as lines.
  CommandContext(const CommandOptions& options, QByteArray& diagnostics)
      : options_(options), diagnostics_(diagnostics) {}

  /// The command's options.
  const CommandOptions& options() const { return options_; }

  /// Loads the project named by the project option (and warns when its tune was made for
  /// another definition); throws the loader's errors.
  void loadProject(ProjectAccess access);
  /// The loaded project's manager; only for handlers whose row needs the project.
  project::ProjectManager& manager();
  /// Whether the loaded project had no tune file (it holds a new, all-default tune).
  bool tuneFileMissing() const { return loader_ && loader_->tuneFileMissing(); }
  /// Throws "Tune file not found: <path>. Use read-tune or import-msq to create it." when the
  /// loaded project had no tune file.
  void requireTuneFile() const;

  /// Adds the line "[CLI] warning: " + text for standard error; it is written before the
  /// envelope, whatever the outcome.
  void warn(const QString& text);
  /// When a name among names differs from name only in case or by one edit, adds the line
  /// "[CLI] hint: did you mean '<that name>'?" for standard error.
  void hintName(const QString& name, const QStringList& names);

  /// Opens the ECU link of the loaded project (see openEcuLink) and returns it; throws the
  /// link's errors.
  EcuLink& openLink();
  /// The link opened before; only for handlers whose row needs it or that opened it.
  EcuLink& link();

  /// Names the edit for the push that follows its save (an edit handler sets it).
  void setEditLabel(const QString& label) { editLabel_ = label; }
  /// The edit's label, or no value when the handler stored nothing to push.
  const std::optional<QString>& editLabel() const { return editLabel_; }
  /// Asks the runner not to save after the handler (a dry run that changed nothing); the runner
  /// then adds no "saved" to the data either.
  void skipSave() { saveSkipped_ = true; }
  /// True once the handler asked for no save.
  bool saveSkipped() const { return saveSkipped_; }

 private:
  const CommandOptions& options_;
  QByteArray& diagnostics_;
  std::optional<CliProjectLoader> loader_;
  // Declared after the loader so that the connection is closed before the project goes.
  std::optional<EcuLink> link_;
  std::optional<QString> editLabel_;
  bool saveSkipped_ = false;
};

}  // namespace tk::cli
