#include "project/tune_reconcile.h"

#include <QHash>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "definition/scaling.h"
#include "project/project_error.h"
#include "tune/field_codec.h"
#include "tune/raw_codec.h"

namespace tk::project {
namespace {

// A value of the file as a number: a JSON number or the writer's "NaN", "Infinity" and
// "-Infinity"; a decimal text too, which fromText then records.
std::optional<double> numberOf(const QJsonValue& value, bool& fromText) {
  if (value.isDouble()) {
    return value.toDouble();
  }
  if (!value.isString()) {
    return std::nullopt;
  }
  const QString text = value.toString();
  if (text == QLatin1String("NaN")) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (text == QLatin1String("Infinity") || text == QLatin1String("-Infinity")) {
    return text.startsWith(u'-') ? -std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::infinity();
  }
  bool ok = false;
  const double number = text.trimmed().toDouble(&ok);
  if (!ok) {
    return std::nullopt;
  }
  fromText = true;
  return number;
}

// One entry of the file checked against its constant; notes collects what was changed.
class EntryCheck {
 public:
  EntryCheck(const TuneEditor& editor, const ConstantDef& constant, QStringList& notes)
      : editor_(editor), constant_(constant), notes_(notes) {}

  // x, or the nearest value the constant's storage holds when x lies beyond it. The edit limits
  // are not applied: a controller's tune may hold values outside them, and keeps them.
  double storable(double x) const {
    if (constant_.Type == ConstantType::Bits) {
      const int bits = constant_.BitEnd - constant_.BitStart + 1;
      const double limit = bits >= 1 && bits < 31 ? std::ldexp(1.0, bits) - 1.0 : 2147483647.0;
      return std::clamp(x, 0.0, limit);
    }
    const RawType type = rawTypeOf(constant_.DataType);
    const double scale = editor_.effectiveScale(constant_);
    const double translate = editor_.effectiveTranslate(constant_);
    if (type == RawType::Other || scale == 0.0) {
      return x;
    }
    const double raw = rawFromPhysical(x, scale, translate);
    const double high = type == RawType::F32 ? double(std::numeric_limits<float>::max())
                                             : toStorable(std::numeric_limits<double>::max(), type);
    const double low =
        type == RawType::F32 ? -high : toStorable(std::numeric_limits<double>::lowest(), type);
    // Within half a step of the range a value rounds into it.
    if (raw >= low - 0.5 && raw <= high + 0.5) {
      return x;
    }
    return physicalFromRaw(raw < low ? low : high, scale, translate) + 0.0;
  }

  [[noreturn]] void fail(const QString& what) const {
    throw ProjectError(QStringLiteral("Tune file entry '%1' cannot be used: %2; correct or remove "
                                      "it, or use read-tune or import-msq")
                           .arg(constant_.Name, what));
  }

  // The number at member (or array element) what, fit for the constant.
  double number(const QJsonValue& value, const QString& what) {
    bool fromText = false;
    const std::optional<double> read = numberOf(value, fromText);
    if (!read) {
      fail(what + QStringLiteral(" is not a number"));
    }
    textCount_ += fromText ? 1 : 0;
    double x = *read;
    if (std::isnan(x)) {
      fail(what + QStringLiteral(" is NaN"));
    }
    if (std::isinf(x)) {
      x = std::copysign(std::numeric_limits<double>::max(), x);
    }
    const double kept = storable(x);
    if (kept != x) {
      ++clampedCount_;
      return kept;
    }
    return *read;
  }

  // Notes for the numbers read through number().
  void noteNumbers() {
    if (textCount_ > 0) {
      notes_.append(QStringLiteral("%1 number(s) given as text").arg(textCount_));
    }
    if (clampedCount_ > 0) {
      notes_.append(
          QStringLiteral("%1 value(s) beyond what the constant stores clamped").arg(clampedCount_));
    }
  }

 private:
  const TuneEditor& editor_;
  const ConstantDef& constant_;
  QStringList& notes_;
  int textCount_ = 0;
  int clampedCount_ = 0;
};

// "<cols>x<rows>" of value, "?" for a dimension it lacks.
QString shapeText(const TuneValue& value) {
  return QStringLiteral("%1x%2").arg(
      value.cols ? QString::number(*value.cols) : QStringLiteral("?"),
      value.rows ? QString::number(*value.rows) : QStringLiteral("?"));
}

void conformArray(EntryCheck& check, const ConstantDef& constant, const QJsonObject& entry,
                  TuneValue& value, const std::function<double()>& padding, QStringList& notes) {
  const QJsonValue member = entry.value(QStringLiteral("arrayValues"));
  if (!member.isArray()) {
    check.fail(QStringLiteral("it holds no arrayValues"));
  }
  const QJsonArray elements = member.toArray();
  const int count = elementCount(constant);
  QList<double> values;
  values.reserve(count);
  for (qsizetype i = 0; i < elements.size() && i < count; ++i) {
    values.append(check.number(elements.at(i), QStringLiteral("element %1").arg(i)));
  }
  if (elements.size() != count) {
    notes.append(QStringLiteral("%1 of %2 elements, %3")
                     .arg(QString::number(elements.size()), QString::number(count),
                          elements.size() < count ? QStringLiteral("padded with defaults")
                                                  : QStringLiteral("extra ones dropped")));
  }
  while (values.size() < count) {
    values.append(padding());
  }
  TuneValue shaped;
  setShapeDimensions(shaped, constant);
  if (shaped.cols != value.cols || shaped.rows != value.rows) {
    notes.append(QStringLiteral("shape %1 replaced by the definition's %2")
                     .arg(shapeText(value), shapeText(shaped)));
  }
  value.arrayValues = std::move(values);
  value.cols = shaped.cols;
  value.rows = shaped.rows;
  value.scalarValue.reset();
}

// Conforms value (read from entry) to constant, noting every change.
void conformEntry(const TuneEditor& editor, const ConstantDef& constant, const QJsonObject& entry,
                  TuneValue& value, const std::function<double()>& padding, QStringList& notes) {
  EntryCheck check(editor, constant, notes);
  switch (constant.Type) {
    case ConstantType::Scalar:
      if (!entry.contains(QStringLiteral("scalarValue"))) {
        check.fail(QStringLiteral("it holds no scalarValue"));
      }
      value.scalarValue =
          check.number(entry.value(QStringLiteral("scalarValue")), QStringLiteral("scalarValue"));
      if (value.arrayValues || value.rows || value.cols) {
        notes.append(QStringLiteral("array members dropped"));
        value.arrayValues.reset();
        value.rows.reset();
        value.cols.reset();
      }
      break;
    case ConstantType::Array:
      conformArray(check, constant, entry, value, padding, notes);
      break;
    case ConstantType::Bits: {
      if (!entry.contains(QStringLiteral("bitsRawValue"))) {
        check.fail(QStringLiteral("it holds no bitsRawValue"));
      }
      const double raw =
          check.number(entry.value(QStringLiteral("bitsRawValue")), QStringLiteral("bitsRawValue"));
      if (raw != std::floor(raw)) {
        check.fail(QStringLiteral("bitsRawValue is not a whole number"));
      }
      value.bitsRawValue = static_cast<int>(raw);
      if (const QString* label = constant.bitValueLabel(*value.bitsRawValue)) {
        value.enumValue = *label;
      }
      break;
    }
    case ConstantType::String:
      break;
  }
  check.noteNumbers();
}

}  // namespace

QStringList reconcileTuneWithDefinition(TuneEditor& editor, const QJsonArray& fileFields) {
  const EcuDefinition* definition = editor.definition();
  const Tune* tune = editor.tune();
  if (definition == nullptr || tune == nullptr) {
    return {};
  }
  QList<QJsonObject> entries;
  for (const QJsonValue& field : fileFields) {
    if (field.isObject()) {
      entries.append(field.toObject());
    }
  }
  if (entries.size() != tune->fields.size()) {
    return {};
  }
  for (qsizetype i = 0; i < entries.size(); ++i) {
    if (entries.at(i).value(QStringLiteral("name")).toString() != tune->fields.at(i).name) {
      return {};
    }
  }
  QHash<QString, const ConstantDef*> constants;
  for (const PageGroup& group : definition->Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (!constants.contains(constant.Name)) {
        constants.insert(constant.Name, &constant);
      }
    }
  }

  // What an all-zero page gives, made only when an array needs padding.
  std::optional<Tune> defaults;
  QList<TuneValue> kept;
  kept.reserve(tune->fields.size());
  QHash<QString, QStringList> notes;  // of the fields kept, by name
  QHash<QString, int> duplicates;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    TuneValue value = tune->fields.at(i);
    if (notes.contains(value.name)) {
      ++duplicates[value.name];
      continue;
    }
    QStringList& fieldNotes = notes[value.name];
    const auto constant = constants.constFind(value.name);
    if (constant != constants.cend()) {
      const auto padding = [&]() -> double {
        if (!defaults) {
          defaults = newTune(*definition);
        }
        const TuneValue* fresh = defaults->find(value.name);
        return fresh != nullptr && fresh->arrayValues && !fresh->arrayValues->isEmpty()
                   ? fresh->arrayValues->first()
                   : 0.0;
      };
      conformEntry(editor, **constant, entries.at(i), value, padding, fieldNotes);
    }
    kept.append(std::move(value));
  }
  QStringList warnings;
  for (const TuneValue& value : kept) {
    QStringList fieldNotes = notes.value(value.name);
    if (const int more = duplicates.value(value.name); more > 0) {
      fieldNotes.append(
          QStringLiteral("%1 more entr%2 of this name dropped")
              .arg(QString::number(more), more == 1 ? QStringLiteral("y") : QStringLiteral("ies")));
    }
    if (!fieldNotes.isEmpty()) {
      warnings.append(QStringLiteral("tune file entry '%1' brought to the definition's terms: %2")
                          .arg(value.name, fieldNotes.join(QStringLiteral("; "))));
    }
  }
  if (!warnings.isEmpty()) {
    editor.mutableTune()->fields = std::move(kept);
  }
  return warnings;
}

}  // namespace tk::project
