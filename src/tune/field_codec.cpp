#include "tune/field_codec.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "definition/scaling.h"
#include "tune/attribute_expression.h"
#include "tune/effective_attributes.h"
#include "tune/field_index.h"
#include "tune/raw_codec.h"

namespace tk {

namespace {

// Decoded values are always finite: NaN becomes 0, infinities the largest finite double. A zero
// is positive (a negative scale times raw 0 would print as "-0").
double finite(double v) {
  if (std::isnan(v)) {
    return 0.0;
  }
  if (std::isinf(v)) {
    return std::copysign(std::numeric_limits<double>::max(), v);
  }
  return v + 0.0;
}

bool fits(const QByteArray& page, qint64 offset, qint64 width) {
  return offset >= 0 && width >= 1 && offset + width <= page.size();
}

// Mask of the bit range of a Bits constant, and the shift that puts its first bit at bit 0.
// Out-of-range declarations give an empty field rather than undefined shifts.
struct BitField {
  quint64 mask = 0;
  int shift = 0;
};

BitField bitField(const ConstantDef& constant) {
  BitField field;
  const int width = constant.BitEnd - constant.BitStart + 1;
  if (width <= 0 || constant.BitStart < 0 || constant.BitStart >= 64) {
    return field;
  }
  field.mask = width >= 64 ? ~quint64{0} : (quint64{1} << width) - 1;
  field.shift = constant.BitStart;
  return field;
}

}  // namespace

int elementSize(const ConstantDef& constant) {
  if (constant.Type == ConstantType::String && !constant.Shape.isEmpty()) {
    return constant.Shape.first();
  }
  // "8" is tested first, so "U08" and "S08" are one byte.
  const QString& t = constant.DataType;
  if (t.contains(u'8')) {
    return 1;
  }
  if (t.contains(QLatin1String("16"))) {
    return 2;
  }
  if (t.contains(QLatin1String("32"))) {
    return 4;
  }
  if (t.contains(QLatin1String("64"))) {
    return 8;
  }
  return 1;
}

int elementCount(const ConstantDef& constant) {
  qint64 count = 1;
  for (int dimension : constant.Shape) {
    if (dimension < 1) {
      return 0;
    }
    count *= dimension;
    if (count > kMaxElementCount) {
      return static_cast<int>(kMaxElementCount);
    }
  }
  return static_cast<int>(count);
}

void setShapeDimensions(TuneValue& value, const ConstantDef& constant) {
  if (constant.Shape.isEmpty()) {
    value.cols.reset();
    value.rows.reset();
    return;
  }
  value.cols = constant.Shape.at(0);
  value.rows = constant.Shape.size() >= 2 ? constant.Shape.at(1) : 1;
}

std::optional<TuneValue> decodeConstant(const ConstantDef& constant, const QByteArray& page,
                                        bool bigEndian, double scale, double translate) {
  if (constant.Offset >= page.size()) {
    return std::nullopt;
  }
  TuneValue value;
  value.name = constant.Name;
  value.units = constant.Units;
  value.digits = constant.Digits;
  const RawType type = rawTypeOf(constant.DataType);
  switch (constant.Type) {
    case ConstantType::Scalar:
      value.scalarValue = finite(
          physicalFromRaw(readRaw(page, constant.Offset, type, bigEndian), scale, translate));
      break;
    case ConstantType::Array: {
      const int n = elementCount(constant);
      const int width = elementSize(constant);
      QList<double> values(n, 0.0);
      for (int i = 0; i < n; ++i) {
        const qint64 offset = constant.Offset + qint64{i} * width;
        if (!fits(page, offset, width)) {
          if (offset >= 0) {
            break;  // every later element lies further out
          }
          continue;
        }
        values[i] = finite(physicalFromRaw(readRaw(page, static_cast<int>(offset), type, bigEndian),
                                           scale, translate));
      }
      value.arrayValues = std::move(values);
      setShapeDimensions(value, constant);
      break;
    }
    case ConstantType::Bits: {
      const int width = elementSize(constant);
      quint64 word = 0;
      if (fits(page, constant.Offset, width) && width <= 8) {
        word = readUnsigned(page, constant.Offset, width, bigEndian);
      }
      const BitField field = bitField(constant);
      const auto raw =
          static_cast<qint32>(static_cast<quint32>((word >> field.shift) & field.mask));
      value.bitsRawValue = raw;
      if (const QString* label = constant.bitValueLabel(raw)) {
        value.enumValue = *label;
      }
      break;
    }
    case ConstantType::String: {
      const qint64 length = constant.Shape.isEmpty() ? 20 : constant.Shape.first();
      const qint64 n =
          constant.Offset < 0 ? 0 : std::min(length, page.size() - qint64{constant.Offset});
      QString text;
      if (n >= 1) {
        // Each byte is the character of that code.
        text = QString::fromLatin1(page.constData() + constant.Offset, n);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == QChar(u'\0')) {
          --end;
        }
        text.truncate(end);
      }
      value.stringValue = text;
      break;
    }
  }
  return value;
}

void encodeConstant(const ConstantDef& constant, const TuneValue& value, QByteArray& page,
                    bool bigEndian, double scale, double translate) {
  if (constant.Offset >= page.size()) {
    return;
  }
  const RawType type = rawTypeOf(constant.DataType);
  switch (constant.Type) {
    case ConstantType::Scalar:
      if (value.scalarValue) {
        writeRaw(page, constant.Offset, type, bigEndian,
                 rawFromPhysical(*value.scalarValue, scale, translate));
      }
      break;
    case ConstantType::Array: {
      if (!value.arrayValues) {
        break;
      }
      const QList<double>& values = *value.arrayValues;
      const qint64 n = std::min<qint64>(values.size(), elementCount(constant));
      const int width = elementSize(constant);
      for (qint64 i = 0; i < n; ++i) {
        const qint64 offset = constant.Offset + i * width;
        if (fits(page, offset, width)) {
          writeRaw(page, static_cast<int>(offset), type, bigEndian,
                   rawFromPhysical(values.at(i), scale, translate));
        }
      }
      break;
    }
    case ConstantType::String: {
      if (!value.stringValue || value.stringValue->isEmpty() || constant.Offset < 0) {
        break;
      }
      const qint64 room = page.size() - qint64{constant.Offset};
      const qint64 n = constant.Shape.isEmpty() ? std::min<qint64>(room, 20)
                                                : std::min<qint64>(room, constant.Shape.first());
      const QString& text = *value.stringValue;
      for (qint64 i = 0; i < n; ++i) {
        // Low 8 bits of each UTF-16 code unit; NUL past the end of the text.
        const char16_t code = i < text.size() ? text.at(i).unicode() : u'\0';
        page[constant.Offset + i] = static_cast<char>(code & 0xFF);
      }
      break;
    }
    case ConstantType::Bits: {
      qint64 v = 0;
      if (value.bitsRawValue) {
        v = *value.bitsRawValue;
      } else if (value.enumValue && !value.enumValue->isEmpty()) {
        for (const BitValue& option : constant.BitValues) {
          if (option.second.compare(*value.enumValue, Qt::CaseInsensitive) == 0) {
            v = option.first;
            break;
          }
        }
      }
      const int width = elementSize(constant);
      if (!fits(page, constant.Offset, width) || width > 8) {
        break;
      }
      const BitField field = bitField(constant);
      quint64 word = readUnsigned(page, constant.Offset, width, bigEndian);
      word &= ~(field.mask << field.shift);
      word |= (static_cast<quint64>(v) & field.mask) << field.shift;
      writeUnsigned(page, constant.Offset, width, bigEndian, word);
      break;
    }
  }
}

PageImages encodeTune(const Tune& tune, const EcuDefinition& definition) {
  return encodeTune(tune, definition, FieldIndex(definition));
}

namespace {

// Size of page number's image, or 0 when the page has none (no size, below 1, or beyond the
// largest image the codec builds).
int imageSize(const EcuDefinition& definition, int number) {
  const qsizetype pages = std::min<qsizetype>(definition.NPages, definition.PageSizes.size());
  if (number < 1 || number > pages) {
    return 0;
  }
  const int size = definition.PageSizes.at(number - 1);
  return size >= 1 && size <= kMaxPageSize ? size : 0;
}

// Encodes every constant of the groups of page number into image, in definition order.
void encodeGroups(const Tune& tune, const EcuDefinition& definition, const AttributeScope& scope,
                  int number, QByteArray& image) {
  const bool bigEndian = definition.isBigEndian();
  for (const PageGroup& group : definition.Pages) {
    if (group.PageNumber != number) {
      continue;
    }
    for (const ConstantDef& constant : group.Fields) {
      if (constant.IsPcVariable) {
        continue;
      }
      const TuneValue* value = tune.find(constant.Name);
      if (value == nullptr || constant.Offset >= image.size()) {
        continue;
      }
      const double scale = effectiveScale(constant, scope);
      const double translate = effectiveTranslate(constant, scope);
      encodeConstant(constant, *value, image, bigEndian, scale, translate);
    }
  }
}

}  // namespace

PageImages encodeTune(const Tune& tune, const EcuDefinition& definition, const FieldIndex& index) {
  PageImages images;
  const AttributeScope scope(definition, index, tune);
  // Groups of different pages never touch each other's bytes, so encoding page by page keeps the
  // definition order where it matters.
  const qsizetype pages = std::min<qsizetype>(definition.NPages, definition.PageSizes.size());
  for (int number = 1; number <= pages; ++number) {
    if (const int size = imageSize(definition, number); size >= 1) {
      QByteArray image(size, '\0');
      encodeGroups(tune, definition, scope, number, image);
      images.insert(number, std::move(image));
    }
  }
  return images;
}

QByteArray encodePage(const Tune& tune, const EcuDefinition& definition, const FieldIndex& index,
                      int number) {
  const int size = imageSize(definition, number);
  if (size < 1) {
    return {};
  }
  QByteArray image(size, '\0');
  encodeGroups(tune, definition, AttributeScope(definition, index, tune), number, image);
  return image;
}

qint64 storageSize(const ConstantDef& constant) {
  switch (constant.Type) {
    case ConstantType::Array:
      return qint64{elementCount(constant)} * elementSize(constant);
    case ConstantType::String:
      return constant.Shape.isEmpty() ? 20 : std::max(constant.Shape.first(), 0);
    case ConstantType::Scalar:
    case ConstantType::Bits:
      break;
  }
  return elementSize(constant);
}

Tune decodePages(const PageImages& images, const EcuDefinition& definition) {
  Tune tune;
  tune.signature = definition.Signature;
  tune.nPages = definition.NPages;
  const bool bigEndian = definition.isBigEndian();

  struct Pending {
    const ConstantDef* constant;
    const QByteArray* page;
  };
  std::vector<Pending> pending;
  for (const PageGroup& group : definition.Pages) {
    const auto image = images.constFind(group.PageNumber);
    if (image == images.cend()) {
      continue;
    }
    for (const ConstantDef& constant : group.Fields) {
      if (constant.IsPcVariable) {
        continue;
      }
      if (std::optional<TuneValue> value =
              decodeConstant(constant, *image, bigEndian, constant.Scale, constant.Translate)) {
        tune.upsert(std::move(*value));
      }
      if (constant.ScaleExpression || constant.TranslateExpression) {
        pending.push_back({&constant, &*image});
      }
    }
  }

  // Second pass: expressions see the values decoded so far, including earlier re-decodes.
  const FieldIndex index(definition);
  const AttributeScope scope(definition, index, tune);
  for (const Pending& p : pending) {
    const ConstantDef& constant = *p.constant;
    const double scale = effectiveScale(constant, scope);
    const double translate = effectiveTranslate(constant, scope);
    if (std::abs(scale - constant.Scale) <= 0.0001 &&
        std::abs(translate - constant.Translate) <= 0.0001) {
      continue;
    }
    if (std::optional<TuneValue> value =
            decodeConstant(constant, *p.page, bigEndian, scale, translate)) {
      tune.upsert(std::move(*value));
    }
  }
  return tune;
}

void completeTune(Tune& tune, const EcuDefinition& definition) {
  // Every page group, PC variables included; a name that already has a record keeps it.
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (tune.find(constant.Name) != nullptr) {
        continue;
      }
      TuneValue value;
      value.name = constant.Name;
      value.units = constant.Units;
      value.digits = constant.Digits;
      // What raw 0 decodes to: translate x scale (a degF coolant axis reads -40.014).
      const double zero = finite(physicalFromRaw(0.0, constant.Scale, constant.Translate));
      switch (constant.Type) {
        case ConstantType::Scalar:
          value.scalarValue = zero;
          break;
        case ConstantType::Array:
          value.arrayValues = QList<double>(elementCount(constant), zero);
          setShapeDimensions(value, constant);
          break;
        case ConstantType::Bits:
          value.bitsRawValue = 0;
          if (const QString* label = constant.bitValueLabel(0)) {
            value.enumValue = *label;
          }
          break;
        case ConstantType::String:
          value.stringValue = QString();
          break;
      }
      tune.upsert(std::move(value));
    }
  }
}

Tune newTune(const EcuDefinition& definition) {
  Tune tune;
  tune.signature = definition.Signature;
  tune.nPages = definition.NPages;
  completeTune(tune, definition);
  return tune;
}

}  // namespace tk
