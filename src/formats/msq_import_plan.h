#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

#include "definition/ecu_definition.h"
#include "formats/msq_document.h"
#include "json/json_value.h"

namespace tk {

class AttributeScope;
class TuneEditor;

/// Names an import reports: each once, the first kMaxListed of them listed, all counted.
class NameReport {
 public:
  /// Reports stay readable for an agent even when a whole foreign tune is skipped.
  static constexpr qsizetype kMaxListed = 50;

  void add(const QString& name);
  qsizetype size() const { return seen_.size(); }
  /// The listed names, comma-separated.
  QString names() const { return listed_.join(QStringLiteral(", ")); }
  /// {"count": <all>, "names": [<listed>]}.
  JsonValue json() const;

 private:
  QSet<QString> seen_;
  QStringList listed_;
};

/// One entry of an MSQ file as the definition's constant takes it.
struct PlannedStore {
  const ConstantDef* constant = nullptr;
  /// Scalar: its value; Array: every element in storage order; Bits: the raw value.
  QList<double> numbers;
  /// String constants only.
  QString text;
};

/// What entry becomes for constant, or nothing when the constant cannot take it: a number count
/// other than its element count (a table of another size from another firmware would land
/// scrambled), a skipped token, a text where a number belongs, a bit label it does not list that
/// is no number, a NaN. An infinity ends at the largest double of its sign.
std::optional<PlannedStore> planStore(const ConstantDef& constant, const MsqConstant& entry);

/// True when the store cannot keep value: not finite, outside the limits in force, or beyond
/// what the field's storage holds (kept further away than rounding to a step would move it; for
/// a bit field a step is 1).
bool outsideLimits(const ConstantDef& constant, double value, const AttributeScope& scope);

/// Every entry of an MSQ document checked against a definition before the first store.
struct MsqImportPlan {
  /// The entries a constant takes, in file order (constants, then PC variables).
  QList<PlannedStore> stores;
  /// Entries no constant is named by or that their constant cannot take.
  NameReport skipped;
  /// Constants whose temperatures were converted into the project's units.
  NameReport converted;
  /// Constants whose other units differ from the project's; their numbers are taken as they are.
  NameReport unitsDiffer;
  /// Constants of the definition no entry named (names equal but for case count once).
  long long missing = 0;
};

/// The plan for importing document through editor: each entry looked up by name (ignoring case),
/// adapted to the units the editor shows and checked by planStore.
MsqImportPlan planMsqImport(const MsqDocument& document, const TuneEditor& editor);

}  // namespace tk
