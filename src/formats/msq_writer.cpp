#include "formats/msq_writer.h"

#include <algorithm>
#include <optional>

#include "formats/msq_document.h"
#include "json/number_text.h"
#include "tune/attribute_expression.h"
#include "tune/effective_attributes.h"
#include "tune/field_codec.h"
#include "tune/field_index.h"

namespace tk {
namespace {

// Code point at i (a valid surrogate pair is combined); advances i past it.
char32_t nextCodePoint(QStringView text, qsizetype& i) {
  const char16_t unit = text[i].unicode();
  if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
      QChar::isLowSurrogate(text[i + 1].unicode())) {
    const char32_t cp = QChar::surrogateToUcs4(unit, text[i + 1].unicode());
    i += 2;
    return cp;
  }
  ++i;
  return unit;
}

void appendCharacterReference(QByteArray& out, char32_t cp) {
  out.append("&#x");
  out.append(QByteArray::number(static_cast<quint32>(cp), 16).toUpper());
  out.append(';');
}

// Only TAB, LF, CR, U+0020-U+D7FF and U+E000-U+FFFD may appear in XML 1.0 text here; surrogate
// units are outside those ranges and are dropped as well.
QString withoutForbiddenCharacters(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == 0x09 || u == 0x0A || u == 0x0D || (u >= 0x20 && u <= 0xD7FF) ||
        (u >= 0xE000 && u <= 0xFFFD)) {
      out.append(c);
    }
  }
  return out;
}

class MsqBuilder {
 public:
  MsqBuilder(const EcuDefinition& definition, const Tune& tune)
      : definition_(definition),
        tune_(tune),
        index_(definition),
        scope_(definition, index_, tune) {}

  QByteArray build(const QString& author, const QString& tuneComment, const QString& writeDate) {
    out_.append("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<msq xmlns=\"");
    out_.append(kMsqNamespaceUri);
    out_.append("\">");

    startElement("bibliography");
    attribute("author", author);
    attribute("tuneComment", tuneComment);
    attribute("writeDate", writeDate);
    out_.append(" />");

    QList<const PageGroup*> pages;
    for (const PageGroup& group : definition_.Pages) {
      if (group.PageNumber > 0) {
        pages.append(&group);
      }
    }
    std::stable_sort(pages.begin(), pages.end(), [](const PageGroup* a, const PageGroup* b) {
      return a->PageNumber < b->PageNumber;
    });

    startElement("versionInfo");
    attribute("fileFormat", QStringLiteral("5.0"));
    attribute("firmwareInfo", definition_.VersionInfo);
    attribute("nPages", QString::number(pages.size()));
    attribute("signature", definition_.Signature);
    out_.append(" />");

    writePcVariablePage();
    for (const PageGroup* group : std::as_const(pages)) {
      out_.append("\r\n<page number=\"");
      out_.append(QByteArray::number(group->PageNumber - 1));
      out_.append("\" size=\"");
      // The byte size comes from the definition's page sizes; page groups carry none of their own.
      out_.append(QByteArray::number(definition_.pageSize(group->PageNumber)));
      out_.append("\">");
      for (const ConstantDef& constant : group->Fields) {
        if (!constant.IsPcVariable && msqHolds(*group, constant)) {
          writeConstant("constant", constant);
        }
      }
      out_.append("\r\n</page>");
    }
    out_.append("\r\n</msq>");
    return std::move(out_);
  }

 private:
  void startElement(const char* name) {
    out_.append("\r\n<");
    out_.append(name);
  }

  void attribute(const char* name, const QString& value) {
    out_.append(' ');
    out_.append(name);
    out_.append("=\"");
    appendMsqAttributeText(out_, value);
    out_.append('"');
  }

  void writePcVariablePage() {
    bool any = false;
    for (const PageGroup& group : definition_.Pages) {
      for (const ConstantDef& constant : group.Fields) {
        if (!constant.IsPcVariable || !msqHolds(group, constant)) {
          continue;
        }
        if (!any) {
          out_.append("\r\n<page>");
          any = true;
        }
        writeConstant("pcVariable", constant);
      }
    }
    if (any) {
      out_.append("\r\n</page>");
    }
  }

  // Values are read through the case-insensitive name index, as getValue reads them: of two
  // names equal but for case, both read the first one's record.
  const ConstantDef* valueConstant(const ConstantDef& constant) const {
    const std::optional<FieldRef> ref = index_.find(definition_, constant.Name);
    return ref ? ref->constant : &constant;
  }

  // Array grid as written: cols and rows from the shape (both 1 without one).
  static std::pair<int, int> grid(const ConstantDef& constant) {
    if (constant.Shape.size() >= 2) {
      return {constant.Shape.at(0), constant.Shape.at(1)};
    }
    if (constant.Shape.size() == 1) {
      return {1, constant.Shape.at(0)};
    }
    return {1, 1};
  }

  void writeConstant(const char* element, const ConstantDef& constant) {
    startElement(element);
    attribute("name", constant.Name);
    if (constant.Type != ConstantType::String) {
      if (constant.Type == ConstantType::Array && !constant.Shape.isEmpty()) {
        const auto [cols, rows] = grid(constant);
        attribute("cols", QString::number(cols));
        attribute("rows", QString::number(rows));
      }
      if (constant.Type != ConstantType::Bits || constant.Digits >= 1) {
        attribute("digits", QString::number(constant.Digits));
      }
      if (!constant.Units.isEmpty()) {
        attribute("units", unitsText(constant));
      }
    }
    out_.append('>');
    const ConstantDef& resolved = *valueConstant(constant);
    const int precision = std::max(constant.Digits, 1);
    switch (constant.Type) {
      case ConstantType::Scalar:
        appendFixed(out_, storedValue(tune_, resolved, 0), precision);
        break;
      case ConstantType::Array:
        writeArrayContent(constant, resolved, precision);
        break;
      case ConstantType::Bits:
        out_.append('"');
        appendMsqContentText(out_, withoutForbiddenCharacters(optionText(constant, resolved)));
        out_.append('"');
        break;
      case ConstantType::String:
        out_.append('\n');
        appendMsqContentText(out_, withoutForbiddenCharacters(optionText(constant, resolved)));
        out_.append('\n');
        break;
    }
    out_.append("</");
    out_.append(element);
    out_.append('>');
  }

  // A units text holding both braces is resolved as a units expression against the tune. A units
  // item the definition wrote in braces is kept apart (UnitsExpression) with Units left empty, so
  // such a constant gets no units attribute.
  QString unitsText(const ConstantDef& constant) const {
    if (!constant.Units.contains(u'{') || !constant.Units.contains(u'}')) {
      return constant.Units;
    }
    ConstantDef withExpression = constant;
    withExpression.UnitsExpression = constant.Units;
    return effectiveUnits(withExpression, scope_);
  }

  void writeArrayContent(const ConstantDef& constant, const ConstantDef& resolved, int precision) {
    auto [cols, rows] = grid(constant);
    cols = std::max(cols, 0);
    rows = std::max(rows, 0);
    // A hostile shape must not make the file grow without bound: no more elements are written
    // than an array can hold in the codec.
    if (cols > kMaxElementCount) {
      cols = static_cast<int>(kMaxElementCount);
    }
    if (cols > 0 && static_cast<qint64>(rows) * cols > kMaxElementCount) {
      rows = static_cast<int>(kMaxElementCount / cols);
    }
    // The values are fetched once; a same-named record read through another kind of constant
    // (names equal but for case) falls back to the general lookup.
    const TuneValue* record = tune_.find(resolved.Name);
    const QList<double>* values =
        resolved.Type == ConstantType::Array && record != nullptr && record->arrayValues
            ? &*record->arrayValues
            : nullptr;
    for (int row = 0; row < rows; ++row) {
      out_.append("\n         ");
      for (int col = 0; col < cols; ++col) {
        const int index = row * cols + col;
        const double v =
            values != nullptr ? values->value(index, 0.0) : storedValue(tune_, resolved, index);
        appendFixed(out_, v, precision);
        out_.append(' ');
      }
    }
    out_.append("\n      ");
  }

  // Bits and String text: the label the tune holds, else its string value, else the option
  // label of the stored raw value, else nothing.
  QString optionText(const ConstantDef& constant, const ConstantDef& resolved) const {
    if (const TuneValue* record = tune_.find(resolved.Name)) {
      if (record->enumValue && !record->enumValue->isEmpty()) {
        return *record->enumValue;
      }
      if (record->stringValue) {
        return *record->stringValue;
      }
    }
    const int raw = static_cast<int>(storedValue(tune_, resolved, 0));  // a bit field's int
    if (const QString* label = constant.bitValueLabel(raw)) {
      return *label;
    }
    return QString();
  }

  const EcuDefinition& definition_;
  const Tune& tune_;
  FieldIndex index_;
  AttributeScope scope_;
  QByteArray out_;
};

}  // namespace

namespace {

// Content text escapes &, < and >; attribute text also the double quote and the three
// whitespace characters that an XML reader would otherwise normalise to spaces.
void appendEscaped(QByteArray& out, QStringView text, bool attribute) {
  for (qsizetype i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    switch (cp) {
      case U'&':
        out.append("&amp;");
        continue;
      case U'<':
        out.append("&lt;");
        continue;
      case U'>':
        out.append("&gt;");
        continue;
      default:
        break;
    }
    if (attribute && (cp == U'\t' || cp == U'\n' || cp == U'\r' || cp == U'"')) {
      out.append(cp == U'"' ? "&quot;" : cp == U'\t' ? "&#x9;" : cp == U'\n' ? "&#xA;" : "&#xD;");
    } else if (cp < 256) {
      out.append(static_cast<char>(cp));
    } else {
      appendCharacterReference(out, cp);
    }
  }
}

}  // namespace

void appendMsqAttributeText(QByteArray& out, QStringView text) { appendEscaped(out, text, true); }

void appendMsqContentText(QByteArray& out, QStringView text) { appendEscaped(out, text, false); }

bool msqHolds(const PageGroup& group, const ConstantDef& constant) {
  return constant.IsPcVariable || group.PageNumber > 0;
}

long long msqElementCount(const EcuDefinition& definition) {
  long long count = 0;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      count += msqHolds(group, constant) ? 1 : 0;
    }
  }
  return count;
}

QByteArray writeMsq(const EcuDefinition& definition, const Tune& tune, const QString& author,
                    const QString& tuneComment, const QString& writeDate) {
  return MsqBuilder(definition, tune).build(author, tuneComment, writeDate);
}

}  // namespace tk
