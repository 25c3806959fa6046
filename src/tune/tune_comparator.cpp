#include "tune/tune_comparator.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "definition/scaling.h"
#include "json/number_text.h"
#include "tune/raw_codec.h"

namespace tk {
namespace {

constexpr double kCellTolerance = 0.0001;
constexpr int kPreviewRows = 6;
constexpr int kPreviewColumns = 8;

QString fixedText(double value, int precision) {
  return QString::fromLatin1(formatFixed(value, precision));
}

std::optional<NumericDifference> numericDifference(double d) {
  if (!(std::abs(d) >= kCellTolerance)) {
    return std::nullopt;
  }
  NumericDifference diff;
  diff.value = d;
  diff.direction = d > 0 ? 1 : -1;
  diff.text = (d > 0 ? QStringLiteral("+") : QString()) + fixedText(d, 2);
  return diff;
}

double tolerance(const ConstantDef& constant) {
  return constant.Digits >= 1 ? 0.5 * std::pow(10.0, -constant.Digits) : kCellTolerance;
}

// What counts as empty when only one side holds a record: a record without the member its
// constant's kind uses (an empty text or list, or a bit field with neither raw value nor label).
bool isEmptyValue(const ConstantDef& constant, const TuneValue& value) {
  switch (constant.Type) {
    case ConstantType::Scalar:
      return !value.scalarValue.has_value();
    case ConstantType::Array:
      return !value.arrayValues || value.arrayValues->isEmpty();
    case ConstantType::Bits:
      return !value.bitsRawValue && (!value.enumValue || value.enumValue->isEmpty());
    case ConstantType::String:
      return !value.stringValue || value.stringValue->isEmpty();
  }
  return true;
}

QList<double> normalizedArray(const ConstantDef& constant, const TuneValue* value) {
  QList<double> out;
  if (value != nullptr && value->arrayValues) {
    out.reserve(value->arrayValues->size());
    for (const double v : *value->arrayValues) {
      out.append(normalizeForComparison(constant, v));
    }
  }
  return out;
}

double normalizedScalar(const ConstantDef& constant, const TuneValue* value) {
  return normalizeForComparison(constant,
                                value != nullptr ? value->scalarValue.value_or(0.0) : 0.0);
}

int bitsRaw(const TuneValue* value) {
  return value != nullptr ? value->bitsRawValue.value_or(0) : 0;
}

bool differs(const ConstantDef& constant, const TuneValue* local, const TuneValue* remote) {
  if (local == nullptr || remote == nullptr) {
    const TuneValue* present = local != nullptr ? local : remote;
    return !isEmptyValue(constant, *present);
  }
  switch (constant.Type) {
    case ConstantType::Scalar:
      return std::abs(normalizedScalar(constant, local) - normalizedScalar(constant, remote)) >
             tolerance(constant);
    case ConstantType::Bits:
      return bitsRaw(local) != bitsRaw(remote);
    case ConstantType::String:
      return local->stringValue.has_value() != remote->stringValue.has_value() ||
             local->stringValue != remote->stringValue;
    case ConstantType::Array: {
      if (local->arrayValues.has_value() != remote->arrayValues.has_value()) {
        return true;
      }
      const QList<double> l = normalizedArray(constant, local);
      const QList<double> r = normalizedArray(constant, remote);
      if (l.size() != r.size()) {
        return true;
      }
      const double tol = tolerance(constant);
      for (qsizetype i = 0; i < l.size(); ++i) {
        if (std::abs(l.at(i) - r.at(i)) > tol) {
          return true;
        }
      }
      return false;
    }
  }
  return false;
}

// The value text of one side of a scalar, bit field or string; a missing record reads "0".
QString valueText(const ConstantDef& constant, const TuneValue* value) {
  if (value == nullptr) {
    return QStringLiteral("0");
  }
  switch (constant.Type) {
    case ConstantType::Scalar:
      return fixedText(normalizedScalar(constant, value), constant.Digits);
    case ConstantType::Bits: {
      const int raw = bitsRaw(value);
      if (const QString* label = constant.bitValueLabel(raw)) {
        return *label;
      }
      if (value->enumValue && !value->enumValue->isEmpty()) {
        return *value->enumValue;
      }
      return QString::number(raw);
    }
    case ConstantType::String:
      return value->stringValue.value_or(QString());
    case ConstantType::Array:
      break;
  }
  return QString();
}

// Scalars, bit fields and strings; no entry when the texts are equal words.
std::optional<TuneDiffEntry> valueEntry(const ConstantDef& constant, const TuneValue* local,
                                        const TuneValue* remote) {
  TuneDiffEntry entry;
  entry.localValue = valueText(constant, local);
  entry.remoteValue = valueText(constant, remote);
  const std::optional<double> l = parseMsqNumber(entry.localValue);
  const std::optional<double> r = parseMsqNumber(entry.remoteValue);
  if (l && r) {
    entry.scalarDifference = numericDifference(*l - *r);
  } else if (entry.localValue == entry.remoteValue) {
    return std::nullopt;
  }
  entry.diffSummary =
      QStringLiteral("local ") + entry.localValue + QStringLiteral(", remote ") + entry.remoteValue;
  if (entry.scalarDifference) {
    entry.diffSummary += QStringLiteral(" (") + entry.scalarDifference->text + u')';
  }
  return entry;
}

QList<TuneDiffRow> tableRows(const QList<double>& values, const QList<double>& other,
                             qsizetype cellCount, int columns) {
  QList<TuneDiffRow> rows;
  for (qsizetype start = 0; start < cellCount; start += columns) {
    TuneDiffRow row;
    row.rowIndex = static_cast<int>(rows.size());
    const qsizetype end = std::min<qsizetype>(cellCount, start + columns);
    row.cells.reserve(end - start);
    for (qsizetype k = start; k < end; ++k) {
      TuneDiffCell cell;
      cell.value = values.value(k, 0.0);
      const double d = cell.value - other.value(k, 0.0);
      cell.isDifferent = std::abs(d) > kCellTolerance;
      cell.difference = numericDifference(d);
      row.cells.append(std::move(cell));
    }
    rows.append(std::move(row));
  }
  return rows;
}

TuneDiffEntry arrayEntry(const ConstantDef& constant, const TuneValue* local,
                         const TuneValue* remote) {
  TuneDiffEntry entry;
  entry.isArray = true;
  entry.shape = constant.Shape;
  entry.localArrayValues = normalizedArray(constant, local);
  entry.remoteArrayValues = normalizedArray(constant, remote);
  // A side without values (or with fewer) reads as zeros in the cells the other side has.
  const int columns = std::max(1, constant.Shape.value(0, 1));
  const qsizetype cellCount =
      std::max(entry.localArrayValues.size(), entry.remoteArrayValues.size());
  entry.localTableRows =
      tableRows(entry.localArrayValues, entry.remoteArrayValues, cellCount, columns);
  entry.remoteTableRows =
      tableRows(entry.remoteArrayValues, entry.localArrayValues, cellCount, columns);
  for (const TuneDiffRow& row : std::as_const(entry.localTableRows)) {
    for (const TuneDiffCell& cell : row.cells) {
      entry.differentCellCount += cell.isDifferent ? 1 : 0;
    }
  }
  entry.localValue = QString::number(entry.differentCellCount) + QStringLiteral(" cells differ");
  QStringList dimensions;
  for (const int d : constant.Shape) {
    dimensions.append(QString::number(d));
  }
  entry.remoteValue = u'[' + dimensions.join(u'x') + u']';
  entry.localTablePreview = tablePreview(entry.localArrayValues, entry.remoteArrayValues, columns);
  entry.remoteTablePreview = tablePreview(entry.remoteArrayValues, entry.localArrayValues, columns);
  entry.diffSummary =
      QStringLiteral("%1 of %2 cells differ").arg(entry.differentCellCount).arg(cellCount);
  return entry;
}

}  // namespace

double normalizeForComparison(const ConstantDef& constant, double value) {
  if (!std::isfinite(value)) {
    return 0.0;
  }
  if (constant.Type == ConstantType::Bits) {
    return roundHalfEven(value);
  }
  const RawType type = rawTypeOf(constant.DataType);
  if (constant.Scale == 0.0) {
    return type == RawType::F32 ? toStorable(value, type) : value;
  }
  const double raw = toStorable(rawFromPhysical(value, constant.Scale, constant.Translate), type);
  return physicalFromRaw(raw, constant.Scale, constant.Translate);
}

QString tablePreview(const QList<double>& values, const QList<double>& other, int columns) {
  columns = std::max(columns, 1);
  const qsizetype cellCount = std::max(values.size(), other.size());
  const qsizetype rowCount = (cellCount + columns - 1) / columns;
  QString out;
  for (qsizetype row = 0; row < std::min<qsizetype>(rowCount, kPreviewRows); ++row) {
    const qsizetype start = row * columns;
    const qsizetype rowCells = std::min<qsizetype>(columns, cellCount - start);
    for (qsizetype col = 0; col < std::min<qsizetype>(rowCells, kPreviewColumns); ++col) {
      if (col > 0) {
        out += u' ';
      }
      const double v = values.value(start + col, 0.0);
      const QString text = fixedText(v, 1);
      if (std::abs(v - other.value(start + col, 0.0)) > kCellTolerance) {
        out += u'*' + text.trimmed() + u'*';
      } else {
        out += text.rightJustified(6, u' ');
      }
    }
    if (rowCells > kPreviewColumns) {
      out += QStringLiteral(" ...");
    }
    out += QStringLiteral("\r\n");
  }
  if (rowCount > kPreviewRows) {
    out += QStringLiteral("\n... (%1 more rows)\r\n").arg(rowCount - kPreviewRows);
  }
  return out;
}

QList<TuneDiffEntry> TuneComparator::compare(const EcuDefinition& definition, const Tune& local,
                                             const Tune& remote) const {
  QList<TuneDiffEntry> entries;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (constant.IsPcVariable) {
        continue;
      }
      const TuneValue* l = local.find(constant.Name);
      const TuneValue* r = remote.find(constant.Name);
      if ((l == nullptr && r == nullptr) || !differs(constant, l, r)) {
        continue;
      }
      std::optional<TuneDiffEntry> entry = constant.Type == ConstantType::Array
                                               ? std::optional(arrayEntry(constant, l, r))
                                               : valueEntry(constant, l, r);
      if (!entry) {
        continue;
      }
      entry->fieldName = constant.Name;
      entry->category = QStringLiteral("Page ") + QString::number(group.PageNumber);
      entries.append(std::move(*entry));
    }
  }
  return entries;
}

}  // namespace tk
