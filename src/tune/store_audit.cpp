#include "tune/store_audit.h"

#include <algorithm>
#include <cmath>

namespace tk {

QString numberText(double value) { return QString::number(value, 'g', 12); }

StoreAudit::StoreAudit(const TuneEditor& editor, const ConstantDef& constant)
    : constant_(constant),
      indexed_(constant.Type == ConstantType::Array),
      digits_(constant.Type == ConstantType::Bits ? 0 : editor.effectiveDigits(constant)),
      lowActive_(constant.HasMin || (constant.MinExpression && !constant.MinExpression->isEmpty())),
      highActive_(constant.HasMax ||
                  (constant.MaxExpression && !constant.MaxExpression->isEmpty())),
      low_(editor.effectiveMin(constant)),
      high_(editor.effectiveMax(constant)) {}

void StoreAudit::record(int index, double requested, double stored) {
  if (!std::isfinite(requested)) {
    return;
  }
  Example* kind = nullptr;
  if (highActive_ && requested > high_ && (!lowActive_ || !(low_ > high_))) {
    kind = &above_;
  } else if (lowActive_ && requested < low_) {
    kind = &below_;
  } else {
    // The value as it is shown: what the user sees once it is stored.
    const double factor = std::pow(10.0, std::clamp(digits_, 0, 15));
    const double display = std::round(stored * factor) / factor;
    const double noise = 1e-9 * std::max(1.0, std::abs(requested));
    if (std::abs(stored - requested) > noise && std::abs(display - requested) > noise) {
      kind = &rounded_;
    }
  }
  if (kind == nullptr) {
    return;
  }
  if (kind->count++ == 0) {
    kind->index = index;
    kind->requested = requested;
    kind->stored = stored;
  }
}

QString StoreAudit::where(int index) const {
  return indexed_ ? QStringLiteral("'%1'[%2]").arg(constant_.Name, QString::number(index))
                  : QStringLiteral("'%1'").arg(constant_.Name);
}

QString StoreAudit::shown(double value) const {
  return digits_ > 0 ? QString::number(value, 'f', std::min(digits_, 15)) : numberText(value);
}

QStringList StoreAudit::warnings() const {
  QStringList lines;
  const auto limitLine = [this, &lines](const Example& e, const char* verb, const char* side,
                                        double limit) {
    if (e.count == 0) {
      return;
    }
    const QString first =
        QStringLiteral("%1 %2 the %3 %4 of %5; %6 was stored")
            .arg(numberText(e.requested), QLatin1String(verb), QLatin1String(side),
                 numberText(limit), where(e.index), shown(e.stored));
    lines.append(e.count == 1
                     ? first
                     : QStringLiteral("%1 values lie beyond the %2 %3 of '%4' and were "
                                      "stored as %5 (the first: %6)")
                           .arg(QString::number(e.count), QLatin1String(side), numberText(limit),
                                constant_.Name, shown(e.stored), first));
  };
  limitLine(above_, "is above", "maximum", high_);
  limitLine(below_, "is below", "minimum", low_);
  if (rounded_.count > 0) {
    const QString first =
        QStringLiteral("%1: %2 was stored as %3")
            .arg(where(rounded_.index), numberText(rounded_.requested), shown(rounded_.stored));
    lines.append(rounded_.count == 1
                     ? first
                     : QStringLiteral("%1 values of '%2' were stored other than given, as the "
                                      "field's steps allow (the first, %3)")
                           .arg(QString::number(rounded_.count), constant_.Name, first));
  }
  return lines;
}

QStringList axisOrderWarnings(const TuneEditor& editor, const QStringList& names) {
  QStringList lines;
  const EcuDefinition* definition = editor.definition();
  const Tune* tune = editor.tune();
  if (definition == nullptr || tune == nullptr) {
    return lines;
  }
  for (const QString& name : names) {
    QString owner;
    for (const auto& [id, table] : definition->Tables) {
      if (owner.isEmpty() && (table.XBinVariable == name || table.YBinVariable == name)) {
        owner = QStringLiteral("%1 axis of table '%2'")
                    .arg(QLatin1String(table.XBinVariable == name ? "x" : "y"), id);
      }
    }
    for (const auto& [id, curve] : definition->Curves) {
      if (owner.isEmpty() && curve.XBinVariable == name) {
        owner = QStringLiteral("x axis of curve '%1'").arg(id);
      }
    }
    const TuneValue* value = tune->find(name);
    if (owner.isEmpty() || value == nullptr || !value->arrayValues) {
      continue;
    }
    const QList<double>& bins = *value->arrayValues;
    for (qsizetype i = 1; i < bins.size(); ++i) {
      if (bins.at(i) < bins.at(i - 1)) {
        lines.append(QStringLiteral("'%1' (%2) is not in ascending order: element %3 (%4) comes "
                                    "after %5; the controller interpolates between neighbours")
                         .arg(name, owner, QString::number(i), numberText(bins.at(i)),
                              numberText(bins.at(i - 1))));
        break;
      }
    }
  }
  return lines;
}

}  // namespace tk
