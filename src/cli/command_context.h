#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "cli/command_error.h"
#include "cli/project_loader.h"
#include "project/project_manager.h"

namespace tk::cli {

class EcuLink;

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

  /// The option as a decimal 32-bit integer: fallback when absent, 0 when not a valid integer.
  int intOrZero(const QString& name, int fallback) const;
  /// True when the option is absent or a decimal 32-bit integer (what intOrZero reads as given).
  bool intAbsentOrValid(const QString& name) const;
  /// The option as a decimal 32-bit integer (white space around it ignored) within [low, high]:
  /// fallback when absent; throws CommandError(message with %1 the text) otherwise.
  int intInRangeOrThrow(const QString& name, int fallback, int low, int high,
                        const QString& message) const;
};

/// What a handler works with: its options, what its command-table row asked the runner to
/// provide, and where its warnings go. It lives for one command inside the runner's guarded
/// block, so whatever it holds (the project and its lock) is released on success and on failure
/// alike; the warnings outlive it in the caller's buffer.
class CommandContext {
 public:
  /// Where progress lines go as a command runs: given the lines for standard error so far (the
  /// warnings, then the progress line), it writes them at once.
  using ProgressSink = std::function<void(const QByteArray& lines)>;

  /// A context holding the options; warnings are appended to diagnostics as lines. Progress lines
  /// go to progressSink with the warnings before them, or without one stay in diagnostics after
  /// the warnings given before them.
  CommandContext(const CommandOptions& options, QByteArray& diagnostics,
                 ProgressSink progressSink = {});
  ~CommandContext();
  CommandContext(const CommandContext&) = delete;
  CommandContext& operator=(const CommandContext&) = delete;

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

  /// Gives the line text (e.g. "[CLI] Datalogging for 5s to ...") while the command runs, after
  /// every warning given before it.
  void progress(const QString& text);
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
  ProgressSink progressSink_;
  std::optional<CliProjectLoader> loader_;
  // Declared after the loader so that the connection is closed before the project goes.
  std::unique_ptr<EcuLink> link_;
  std::optional<QString> editLabel_;
  bool saveSkipped_ = false;
};

}  // namespace tk::cli
