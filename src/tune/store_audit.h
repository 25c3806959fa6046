#pragma once

#include <QString>
#include <QStringList>

#include "definition/ecu_definition.h"
#include "tune/tune_editor.h"

namespace tk {

/// Compares the values asked for in stores into one constant with the values the store kept,
/// and words one warning per kind of difference: a value clamped to a limit, a value kept other
/// than it would be shown with the constant's digits.
class StoreAudit {
 public:
  /// An audit of stores into constant, whose limits and digits editor holds.
  StoreAudit(const TuneEditor& editor, const ConstantDef& constant);

  /// Notes that element index was asked to hold requested and holds stored (physical values;
  /// a bit field's raw values). Values that are not finite are not audited.
  void record(int index, double requested, double stored);
  /// The warnings, without prefix: at most one for values above the maximum, one for values
  /// below the minimum, one for values kept differently.
  QStringList warnings() const;

 private:
  struct Example {
    int index = 0;
    double requested = 0.0;
    double stored = 0.0;
    qsizetype count = 0;
  };
  QString where(int index) const;
  QString shown(double value) const;

  const ConstantDef& constant_;
  bool indexed_ = false;
  int digits_ = 0;
  bool lowActive_ = false;
  bool highActive_ = false;
  double low_ = 0.0;
  double high_ = 0.0;
  Example above_;
  Example below_;
  Example rounded_;
};

/// One warning for each table or curve axis among the constants named (the x or y bins of a
/// table, the x bins of a curve) whose values are not in ascending order.
QStringList axisOrderWarnings(const TuneEditor& editor, const QStringList& names);

/// A number as warnings show it: up to 12 significant digits, no trailing zeros.
QString numberText(double value);

}  // namespace tk
