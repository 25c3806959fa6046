#pragma once

#include <QHash>
#include <QString>
#include <stdexcept>

#include "expr/expression_host.h"
#include "expr/expression_state.h"
#include "json/json_value.h"

namespace tk::conformance {

/// A vector-script line with an unknown keyword; what() is the whole error line without its line
/// feed ("ERROR: bad vector script line <n>: <line>").
class VectorScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The expression host of vector scripts: a variable table and a lookup table filled by the
/// script, the loaded definition, always off-line. Its recording and cycle steps update the
/// expression state it was given.
class ScriptHost : public expr::ExpressionHost {
 public:
  /// A host over definition (may be null) that records into state.
  ScriptHost(const expr::DefinitionView* definition, expr::ExpressionState& state);

  /// The active table's value of name; 0 when absent.
  double getValue(const QString& name) const override;
  /// The definition given at construction.
  const expr::DefinitionView* definition() const override { return definition_; }
  /// Always false: scripts run without a controller.
  bool isOnline() const override { return false; }

  /// Sets a variable of the main table.
  void setVariable(const QString& name, double value) { variables_.insert(name, value); }
  /// Sets a value of the lookup table.
  void setLookup(const QString& name, double value) { lookups_.insert(name, value); }
  /// Makes getValue() read the lookup table (true) or the variable table (false).
  void useLookupTable(bool on) { lookupActive_ = on; }

  /// The recording step: one new value of a channel.
  void record(const QString& name, double value) { state_.record(name, value); }
  /// The cycle step: every variable of the main table is recorded with its current value and the
  /// log time advances by one second (a script has no clock; one cycle counts as one second).
  void cycle();

 private:
  const expr::DefinitionView* definition_;
  expr::ExpressionState& state_;
  QHash<QString, double> variables_;
  QHash<QString, double> lookups_;
  bool lookupActive_ = false;
};

/// Runs a vector script (the file's text) against one host and one state over definition and
/// returns the array of result objects. Throws VectorScriptError on an unknown keyword.
JsonValue runVectorScript(const QString& script, const expr::DefinitionView* definition);

/// dump-expr: reads the definition and the vector script and writes the result array. Returns 0,
/// or 2 after an "ERROR: " line on standard error for a missing or unreadable input, a bad script
/// line (no output file then) or an unwritable output.
int dumpExpr(const QString& iniPath, const QString& scriptPath, const QString& outPath);

}  // namespace tk::conformance
