#include "definition/constant_parser.h"

#include <QHash>
#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "definition/ini_text.h"

namespace tk {
namespace {

std::optional<ConstantType> parseKind(QStringView text) {
  if (equalsWord(text, "scalar")) {
    return ConstantType::Scalar;
  }
  if (equalsWord(text, "bits")) {
    return ConstantType::Bits;
  }
  if (equalsWord(text, "array")) {
    return ConstantType::Array;
  }
  if (equalsWord(text, "string")) {
    return ConstantType::String;
  }
  const std::optional<int> n = parseInt(text);
  if (n && *n >= 0 && *n <= 3) {
    return static_cast<ConstantType>(*n);
  }
  return std::nullopt;
}

/// text as a string, shared through the pool when there is one.
QString pooled(QStringView text, TextPool* pool) {
  return pool != nullptr ? pool->get(text) : text.toString();
}

/// unquote() as a view: trimmed, then without surrounding double quotes.
QStringView unquotedView(QStringView text) {
  QStringView t = text.trimmed();
  while (!t.isEmpty() && t.front() == u'"') {
    t = t.sliced(1);
  }
  while (!t.isEmpty() && t.back() == u'"') {
    t.chop(1);
  }
  return t;
}

bool isSquareBracketed(QStringView t) {
  return t.size() >= 2 && t.startsWith(u'[') && t.endsWith(u']');
}

/// Matches "^(\d+)\s*=\s*(.*)$" on a trimmed item: (value, label text) or nullopt.
std::optional<std::pair<int, QStringView>> numberedLabel(QStringView item) {
  qsizetype i = 0;
  while (i < item.size() && item.at(i).unicode() >= u'0' && item.at(i).unicode() <= u'9') {
    ++i;
  }
  if (i == 0) {
    return std::nullopt;
  }
  qsizetype j = i;
  while (j < item.size() && item.at(j).isSpace()) {
    ++j;
  }
  if (j == item.size() || item.at(j) != u'=') {
    return std::nullopt;
  }
  const std::optional<int> value = parseInt(item.left(i));
  if (!value) {
    return std::nullopt;
  }
  return std::make_pair(*value, item.sliced(j + 1));
}

/// Stores labels by value with an index, so long label lists stay linear. Small values (the
/// usual 0, 1, 2, ...) are found through a plain table, others through a hash.
class BitValueWriter {
 public:
  explicit BitValueWriter(ConstantDef& c) : c_(c) {
    for (qsizetype i = 0; i < c_.BitValues.size(); ++i) {
      remember(c_.BitValues.at(i).first, i);
    }
  }
  /// Makes room for up to count more labels at once instead of growing the list step by step.
  void reserve(qsizetype count) {
    if (count > 0) {
      c_.BitValues.reserve(c_.BitValues.size() + count);
    }
  }
  void set(int value, QString label) {
    const qsizetype at = find(value);
    if (at >= 0) {
      c_.BitValues[at].second = std::move(label);
      return;
    }
    remember(value, c_.BitValues.size());
    c_.BitValues.append({value, std::move(label)});
  }

 private:
  static constexpr int kDenseLimit = 1 << 16;

  qsizetype find(int value) const {
    if (value >= 0 && value < kDenseLimit) {
      return static_cast<std::size_t>(value) < dense_.size() ? dense_[value] : -1;
    }
    return sparse_.value(value, -1);
  }
  void remember(int value, qsizetype at) {
    if (value >= 0 && value < kDenseLimit) {
      if (static_cast<std::size_t>(value) >= dense_.size()) {
        dense_.resize(static_cast<std::size_t>(value) + 1, -1);
      }
      dense_[value] = at;
    } else {
      sparse_.insert(value, at);
    }
  }

  ConstantDef& c_;
  std::vector<qsizetype> dense_;
  QHash<int, qsizetype> sparse_;
};

/// Bit labels: "n=label" items set their value, others take the running index.
void parseBitLabels(ConstantDef& c, const QList<QStringView>& items, qsizetype first,
                    TextPool* pool) {
  BitValueWriter writer(c);
  writer.reserve(items.size() - first);
  int index = 0;
  for (qsizetype i = first; i < items.size(); ++i) {
    const QStringView item = items.at(i).trimmed();
    if (item.isEmpty()) {
      continue;
    }
    if (const auto numbered = numberedLabel(item)) {
      writer.set(numbered->first, pooled(unquotedView(numbered->second), pool));
      continue;
    }
    writer.set(index, pooled(unquotedView(item), pool));
    ++index;
  }
}

std::optional<QString> bracedExpression(QStringView item) {
  if (isBraced(item)) {
    return braceInside(item);
  }
  return std::nullopt;
}

/// Attributes of scalars, arrays and strings starting at items[first].
void parseAttributes(ConstantDef& c, const QList<QStringView>& items, qsizetype first,
                     TextPool* pool) {
  BitValueWriter writer(c);
  // Items after the six numeric attributes are labels.
  writer.reserve(items.size() - first - 6);
  int counter = 0;
  for (qsizetype i = first; i < items.size(); ++i) {
    const QStringView item = items.at(i).trimmed();
    const qsizetype position = i - first;
    if (position == 0) {
      if (isBraced(item)) {
        c.UnitsExpression = item.toString();
        c.Units.clear();
      } else {
        c.Units = pooled(unquotedView(item), pool);
      }
      continue;
    }
    if (item.isEmpty()) {
      continue;
    }
    const std::optional<QString> expression = bracedExpression(item);
    switch (position) {
      case 1:
        if (expression) {
          c.ScaleExpression = *expression;
          c.Scale = 1.0;
        } else if (const auto d = parseDouble(item)) {
          c.Scale = *d;
        }
        break;
      case 2:
        if (expression) {
          c.TranslateExpression = *expression;
          c.Translate = 0.0;
        } else if (const auto d = parseDouble(item)) {
          c.Translate = *d;
        }
        break;
      case 3:
        if (expression) {
          c.MinExpression = *expression;
          c.HasMin = true;
        } else if (const auto d = parseDouble(item)) {
          c.Min = *d;
          c.HasMin = true;
        }
        break;
      case 4:
        if (expression) {
          c.MaxExpression = *expression;
          c.HasMax = true;
        } else if (const auto d = parseDouble(item)) {
          c.Max = *d;
          c.HasMax = true;
        }
        break;
      case 5:
        if (expression) {
          c.DigitsExpression = *expression;
        } else if (const auto n = parseInt(item)) {
          c.Digits = *n;
        }
        break;
      default: {
        const QStringView label = unquotedView(item);
        if (!label.isEmpty()) {
          writer.set(counter, pooled(label, pool));
          ++counter;
        }
        break;
      }
    }
  }
}

// A dimension; one written in digits but too large for an int is taken as the largest int, so
// that the element budget refuses the constant instead of it becoming a small one.
std::optional<int> dimension(const QString& text) {
  if (const std::optional<int> n = parseInt(text)) {
    return n;
  }
  const QString digits = text.trimmed();
  const bool allDigits =
      !digits.isEmpty() &&
      std::all_of(digits.begin(), digits.end(), [](QChar ch) { return ch >= u'0' && ch <= u'9'; });
  return allDigits ? std::optional<int>(std::numeric_limits<int>::max()) : std::nullopt;
}

}  // namespace

void parseShape(ConstantDef& c, const QString& text, bool allowBitRange) {
  if (allowBitRange && text.contains(u':')) {
    const QStringList parts = text.split(u':', Qt::SkipEmptyParts);
    if (parts.size() == 2) {
      c.BitStart = parseInt(parts.at(0)).value_or(0);
      c.BitEnd = parseInt(parts.at(1)).value_or(0);
    }
    return;
  }
  if (text.contains(u'x')) {
    const QStringList parts = text.split(u'x', Qt::SkipEmptyParts);
    if (parts.size() != 2) {
      return;
    }
    QList<int> shape;
    for (qsizetype i = 0; i < 2; ++i) {
      const QString part = parts.at(i).trimmed();
      if (isBraced(part)) {
        const QString expression = trimChars(part, QStringLiteral("{} "));
        (i == 0 ? c.ShapeColsExpression : c.ShapeRowsExpression) = expression;
        shape.append(1);
      } else {
        shape.append(dimension(part).value_or(1));
      }
    }
    c.Shape = shape;
    return;
  }
  if (isBraced(text)) {
    c.ShapeColsExpression = trimChars(text.trimmed(), QStringLiteral("{} "));
    c.Shape = {1};
  } else if (const auto n = dimension(text)) {
    c.Shape = {*n};
  }
}

namespace {

/// The labels of a bit field from its label text (the items after its attributes); a long label
/// text seen before in the read shares the list made then.
void parseBitLabelText(ConstantDef& c, QStringView text, TextPool* pool) {
  const bool keep = pool != nullptr && text.size() >= TextPool::kLongLabelText;
  if (keep) {
    if (const TextPool::LabelList* labels = pool->labelList(text)) {
      c.BitValues = *labels;
      return;
    }
  }
  thread_local QList<QStringView> items;
  splitListViews(text, items);
  // Such a list is made once and shared whole; its many labels are not worth pooling one by one.
  parseBitLabels(c, items, 0, keep ? nullptr : pool);
  if (keep) {
    pool->keepLabelList(text, c.BitValues);
  }
}

}  // namespace

std::optional<ConstantDef> parseConstant(const QString& key, const QString& value, TextPool* pool) {
  // The attribute items are read through views; only stored texts are copied. A bit field's
  // labels are split from their own text, after its first four items.
  thread_local QList<QStringView> items;
  const qsizetype rest = splitListHead(value, items, 4);
  if (items.size() < 3) {
    return std::nullopt;
  }
  ConstantDef c;
  c.Name = key;
  QStringView kind = items.at(0).trimmed();
  if (equalsWord(kind, "oddArray")) {
    kind = u"Array";
    c.IsOddArray = true;
  }
  const std::optional<ConstantType> type = parseKind(kind);
  if (!type) {
    return std::nullopt;
  }
  c.Type = *type;
  if (c.Type == ConstantType::String && items.size() >= 4) {
    if (const auto n = parseInt(items.at(3))) {
      c.Shape = {*n};
    }
  }
  c.DataType = pooled(items.at(1).trimmed(), pool);
  const QStringView offset = items.at(2).trimmed();
  if (equalsWord(offset, "nextOffset")) {
    c.Offset = kNextOffset;
  } else if (equalsWord(offset, "lastOffset")) {
    c.Offset = kLastOffset;
  } else if (const auto n = parseInt(offset)) {
    c.Offset = *n;
  }
  qsizetype attributes = 3;
  if (items.size() >= 4) {
    const QStringView fourth = items.at(3).trimmed();
    if (isSquareBracketed(fourth)) {
      parseShape(c, fourth.sliced(1, fourth.size() - 2).toString(), true);
      attributes = 4;
    }
  }
  if (c.Type == ConstantType::Bits) {
    if (attributes == 4) {
      if (rest >= 0) {
        parseBitLabelText(c, QStringView(value).sliced(rest), pool);
      }
    } else if (items.size() == 4) {
      const qsizetype labelsStart = items.at(3).data() - value.data();
      parseBitLabelText(c, QStringView(value).sliced(labelsStart), pool);
    }
  } else {
    if (rest >= 0) {
      splitListViews(value, items);
    }
    // A string's attribute list starts at its length item, so its Units hold the length text.
    parseAttributes(c, items, c.Type == ConstantType::String ? 3 : attributes, pool);
  }
  return c;
}

std::optional<ConstantDef> parsePcBits(const QString& key, const QString& value, TextPool* pool) {
  const QStringList items = splitList(value);
  if (items.isEmpty() || !equalsWord(items.at(0).trimmed(), "bits")) {
    return std::nullopt;
  }
  ConstantDef c;
  c.Name = key;
  c.Type = ConstantType::Bits;
  c.DataType = pooled(QStringView(itemAt(items, 1)).trimmed(), pool);
  if (items.size() >= 3) {
    const QString range = trimChars(items.at(2).trimmed(), QStringLiteral("[]"));
    const QStringList parts = range.split(u':');
    c.BitStart = parseInt(parts.at(0)).value_or(0);
    if (parts.size() >= 2) {
      c.BitEnd = parseInt(parts.at(1)).value_or(0);
    }
  }
  BitValueWriter writer(c);
  writer.reserve(items.size() - 3);
  int index = 0;
  for (qsizetype i = 3; i < items.size(); ++i) {
    writer.set(index, pooled(unquotedView(items.at(i)), pool));
    ++index;
  }
  c.IsPcVariable = true;
  return c;
}

std::optional<ConstantDef> parsePcValue(const QString& key, const QString& value, TextPool* pool) {
  const QStringList items = splitList(value);
  const std::optional<ConstantType> type = parseKind(items.at(0).trimmed());
  if (!type) {
    return std::nullopt;
  }
  ConstantDef c;
  c.Name = key;
  c.Type = *type;
  c.DataType = pooled(QStringView(itemAt(items, 1)).trimmed(), pool);
  c.Offset = 0;
  qsizetype first = 2;
  if (c.Type == ConstantType::String) {
    if (items.size() >= 3) {
      if (const auto n = parseInt(items.at(2))) {
        c.Shape = {*n};
      }
    }
    first = 3;
  } else if (items.size() >= 3) {
    const QString third = items.at(2).trimmed();
    if (isSquareBracketed(third)) {
      parseShape(c, third.mid(1, third.size() - 2), false);
      first = 3;
    }
  }
  for (qsizetype i = first; i < items.size() && i - first <= 5; ++i) {
    const QString item = items.at(i).trimmed();
    const std::optional<QString> expression = bracedExpression(item);
    switch (i - first) {
      case 0:
        // PC variable units are plain text; braces are not an expression here.
        c.Units = pooled(unquotedView(item), pool);
        break;
      case 1:
        if (expression) {
          c.ScaleExpression = *expression;
          c.Scale = 1.0;
        } else if (const auto d = parseDouble(item)) {
          c.Scale = *d;
        }
        break;
      case 2:
        if (const auto d = parseDouble(item)) {
          c.Translate = *d;
        }
        break;
      case 3:
        if (expression) {
          c.MinExpression = *expression;
          c.HasMin = true;
        } else if (const auto d = parseDouble(item)) {
          c.Min = *d;
          c.HasMin = true;
        }
        break;
      case 4:
        if (expression) {
          c.MaxExpression = *expression;
          c.HasMax = true;
        } else if (const auto d = parseDouble(item)) {
          c.Max = *d;
          c.HasMax = true;
        }
        break;
      case 5:
        if (expression) {
          c.DigitsExpression = *expression;
        } else if (const auto n = parseInt(item)) {
          c.Digits = *n;
        }
        break;
      default:
        break;
    }
  }
  c.IsPcVariable = true;
  return c;
}

}  // namespace tk
