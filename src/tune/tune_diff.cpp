#include "tune/tune_diff.h"

#include <QHash>
#include <algorithm>
#include <cmath>

#include "tune/raw_codec.h"
#include "tune/store_audit.h"

namespace tk {
namespace {

struct Owner {
  QString kind;
  QString id;
  QString axis;
};

// Which table or curve shows each constant: data before axes, tables before curves, the first
// one found of each.
QHash<QString, Owner> owners(const EcuDefinition& definition) {
  QHash<QString, Owner> map;
  const auto add = [&map](const QString& name, Owner owner) {
    if (!name.isEmpty() && !map.contains(name)) {
      map.insert(name, std::move(owner));
    }
  };
  for (const auto& [id, table] : definition.Tables) {
    add(table.ZBinVariable, {QStringLiteral("table"), id, {}});
  }
  for (const auto& [id, curve] : definition.Curves) {
    add(curve.YBinVariable, {QStringLiteral("curve"), id, {}});
  }
  for (const auto& [id, table] : definition.Tables) {
    add(table.XBinVariable, {QStringLiteral("table"), id, QStringLiteral("x")});
    add(table.YBinVariable, {QStringLiteral("table"), id, QStringLiteral("y")});
  }
  for (const auto& [id, curve] : definition.Curves) {
    add(curve.XBinVariable, {QStringLiteral("curve"), id, QStringLiteral("x")});
  }
  return map;
}

// Half a step of what the field can hold or shows, whichever is coarser.
double tolerance(const ConstantDef& constant, int digits) {
  double step = std::pow(10.0, -std::clamp(digits, 0, 15));
  const RawType type = rawTypeOf(constant.DataType);
  if (type != RawType::F32 && type != RawType::Other) {
    step = std::max(step, std::abs(constant.Scale));
  }
  return step / 2 * (1 + 1e-9);
}

DiffPlace placeOf(const std::optional<Owner>& owner, int index, const TuneValue& value) {
  DiffPlace place;
  if (!owner) {
    return place;
  }
  place.kind = owner->kind;
  place.id = owner->id;
  place.axis = owner->axis;
  if (owner->kind == QLatin1String("table") && owner->axis.isEmpty()) {
    const qsizetype size = value.arrayValues ? value.arrayValues->size() : 1;
    const int cols = value.cols.value_or(static_cast<int>(std::sqrt(static_cast<double>(size))));
    place.row = cols > 0 ? index / cols : 0;
    place.col = cols > 0 ? index % cols : index;
  } else {
    place.point = index;
  }
  return place;
}

DiffSide bitsSide(const ConstantDef& constant, const TuneValue& value) {
  DiffSide side;
  if (value.bitsRawValue) {
    side.number = *value.bitsRawValue;
    if (const QString* label = constant.bitValueLabel(*value.bitsRawValue)) {
      side.text = *label;
    }
  }
  return side;
}

class Collector {
 public:
  explicit Collector(qsizetype maxListed) : maxListed_(maxListed) {}
  void add(TuneDifference difference) {
    ++result_.count;
    if (result_.listed.size() < maxListed_) {
      result_.listed.append(std::move(difference));
    }
  }
  TuneDiff take() { return std::move(result_); }

 private:
  qsizetype maxListed_;
  TuneDiff result_;
};

void compareArrays(const ConstantDef& constant, const TuneValue& local, const TuneValue& other,
                   const std::optional<Owner>& owner, Collector& out) {
  const QList<double> none;
  const QList<double>& a = local.arrayValues ? *local.arrayValues : none;
  const QList<double>& b = other.arrayValues ? *other.arrayValues : none;
  const double tol = tolerance(constant, local.digits);
  for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
    DiffSide here;
    DiffSide there;
    if (i < a.size()) {
      here.number = a.at(i);
    }
    if (i < b.size()) {
      there.number = b.at(i);
    }
    if (here.number && there.number && std::abs(*here.number - *there.number) <= tol) {
      continue;
    }
    const int index = static_cast<int>(i);
    out.add({constant.Name, index, placeOf(owner, index, local), here, there,
             local.units.value_or(constant.Units)});
  }
}

}  // namespace

TuneDiff diffTunes(const EcuDefinition& definition, const Tune& local, const Tune& other,
                   qsizetype maxListed) {
  const QHash<QString, Owner> shownBy = owners(definition);
  Collector out(maxListed);
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      const TuneValue* here = local.find(constant.Name);
      const TuneValue* there = other.find(constant.Name);
      if (here == nullptr || there == nullptr) {
        continue;
      }
      const auto it = shownBy.constFind(constant.Name);
      const std::optional<Owner> owner =
          it == shownBy.cend() ? std::nullopt : std::optional<Owner>(*it);
      const QString units = here->units.value_or(constant.Units);
      switch (constant.Type) {
        case ConstantType::Array:
          compareArrays(constant, *here, *there, owner, out);
          break;
        case ConstantType::Scalar:
          if (here->scalarValue == there->scalarValue ||
              (here->scalarValue && there->scalarValue &&
               std::abs(*here->scalarValue - *there->scalarValue) <=
                   tolerance(constant, here->digits))) {
            break;
          }
          out.add({constant.Name,
                   std::nullopt,
                   placeOf(owner, 0, *here),
                   {here->scalarValue, std::nullopt},
                   {there->scalarValue, std::nullopt},
                   units});
          break;
        case ConstantType::Bits:
          if (here->bitsRawValue != there->bitsRawValue) {
            out.add({constant.Name, std::nullopt, placeOf(owner, 0, *here),
                     bitsSide(constant, *here), bitsSide(constant, *there), units});
          }
          break;
        case ConstantType::String:
          if (here->stringValue != there->stringValue) {
            out.add({constant.Name,
                     std::nullopt,
                     {},
                     {std::nullopt, here->stringValue},
                     {std::nullopt, there->stringValue},
                     units});
          }
          break;
      }
    }
  }
  return out.take();
}

namespace {

QString sideText(const DiffSide& side, const QString& units) {
  if (!side.number && !side.text) {
    return QStringLiteral("(none)");
  }
  QString text;
  if (side.number) {
    text = numberText(*side.number);
    if (!units.isEmpty() && !side.text) {
      text += QLatin1Char(' ') + units;
    }
  }
  if (side.text) {
    const QString quoted = QLatin1Char('"') + *side.text + QLatin1Char('"');
    text = text.isEmpty() ? quoted : text + QLatin1Char(' ') + quoted;
  }
  return text;
}

}  // namespace

QString differenceLine(const TuneDifference& difference, const QString& otherName) {
  QString line = difference.constant;
  if (difference.index) {
    line += QStringLiteral("[%1]").arg(*difference.index);
  }
  const DiffPlace& place = difference.place;
  if (!place.kind.isEmpty()) {
    QString where = place.kind + QLatin1Char(' ') + place.id;
    if (!place.axis.isEmpty()) {
      where += QLatin1Char(' ') + place.axis + QStringLiteral(" axis");
    }
    if (place.row && place.col) {
      where += QStringLiteral(" row %1 col %2").arg(*place.row).arg(*place.col);
    } else if (place.point && difference.index) {
      where += QStringLiteral(" point %1").arg(*place.point);
    }
    line += QStringLiteral(" (") + where + QLatin1Char(')');
  }
  return line + QStringLiteral(": ") + sideText(difference.local, difference.units) +
         QStringLiteral(" here, ") + sideText(difference.other, difference.units) +
         QStringLiteral(" in ") + otherName;
}

}  // namespace tk
