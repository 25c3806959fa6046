#pragma once

#include <QList>
#include <QString>

#include "tune/tune_editor.h"

namespace tk {

/// Most edits one batch may hold.
inline constexpr int kMaxBatchEdits = 64;
/// Source label of the page writes a committed batch announces.
inline constexpr char kBatchEditLabel[] = "Plugin edit";

/// One requested element edit, guarded by the value the caller believes is stored.
struct BatchEdit {
  /// Constant name as the caller wrote it (found ignoring case).
  QString name;
  /// Element index; 0 for scalars and bit fields.
  int index = 0;
  /// The physical value the caller believes is stored now.
  double expectedValue = 0.0;
  /// The requested physical value.
  double value = 0.0;

  bool operator==(const BatchEdit&) const = default;
};

/// One confirmed edit: name, index and expectedValue as requested, value as actually stored
/// (quantised and read back through the page images).
struct AppliedEdit {
  /// Constant name as the caller wrote it.
  QString name;
  /// Element index.
  int index = 0;
  /// The value the edit replaced, as the caller gave it.
  double expectedValue = 0.0;
  /// The physical value stored.
  double value = 0.0;

  bool operator==(const AppliedEdit&) const = default;
};

/// Applies 1..kMaxBatchEdits edits to editor's tune as one unit: each is checked against the
/// definition and its expected value, all are tried on a scratch copy whose tune is then read
/// back through its page images, and only when every edit survived is the scratch tune swapped
/// in (with commit) and announced: modified flag, tune-changed and units-refreshed observers,
/// and one page write labelled kBatchEditLabel per run of changed bytes. Returns an empty text
/// on success, else the first failure's message with nothing changed. On success applied (when
/// given) receives the confirmed edits in request order, for a dry run too.
QString applyBatchEdits(TuneEditor& editor, const QList<BatchEdit>& edits, bool commit,
                        QList<AppliedEdit>* applied = nullptr);

}  // namespace tk
