#include "project/tune_file.h"

#include <QJsonArray>

#include "json/json_writer.h"
#include "project/json_document_file.h"
#include "project/project_error.h"

namespace tk::project {
namespace {

constexpr QLatin1String kContext("tune file");

JsonValue fieldToJson(const TuneValue& v) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("name"), v.name);
  if (v.units) {
    o.insert(QStringLiteral("units"), *v.units);
  }
  o.insert(QStringLiteral("digits"), v.digits);
  if (v.scalarValue) {
    o.insert(QStringLiteral("scalarValue"), numberOrNonFinite(*v.scalarValue));
  }
  if (v.arrayValues) {
    JsonValue values = JsonValue::array();
    values.elements().reserve(static_cast<std::size_t>(v.arrayValues->size()));
    for (const double x : *v.arrayValues) {
      values.append(numberOrNonFinite(x));
    }
    o.insert(QStringLiteral("arrayValues"), std::move(values));
  }
  if (v.rows) {
    o.insert(QStringLiteral("rows"), *v.rows);
  }
  if (v.cols) {
    o.insert(QStringLiteral("cols"), *v.cols);
  }
  if (v.stringValue) {
    o.insert(QStringLiteral("stringValue"), *v.stringValue);
  }
  if (v.enumValue) {
    o.insert(QStringLiteral("enumValue"), *v.enumValue);
  }
  if (v.bitsRawValue) {
    o.insert(QStringLiteral("bitsRawValue"), *v.bitsRawValue);
  }
  return o;
}

TuneValue fieldFromJson(const QJsonObject& o) {
  TuneValue v;
  v.name = readString(o, QStringLiteral("name"));
  v.units = readOptionalString(o, QStringLiteral("units"));
  v.digits = readInt(o, QStringLiteral("digits"), 0);
  v.scalarValue = toDoubleOrNonFinite(o.value(QStringLiteral("scalarValue")));
  const QJsonValue array = o.value(QStringLiteral("arrayValues"));
  if (array.isArray()) {
    const QJsonArray elements = array.toArray();
    QList<double> values;
    values.reserve(elements.size());
    // An element that is not a number keeps its position as 0, so later cells stay in place.
    for (const QJsonValue& element : elements) {
      values.append(toDoubleOrNonFinite(element).value_or(0.0));
    }
    v.arrayValues = std::move(values);
  }
  v.rows = readOptionalInt(o, QStringLiteral("rows"));
  v.cols = readOptionalInt(o, QStringLiteral("cols"));
  v.stringValue = readOptionalString(o, QStringLiteral("stringValue"));
  v.enumValue = readOptionalString(o, QStringLiteral("enumValue"));
  v.bitsRawValue = readOptionalInt(o, QStringLiteral("bitsRawValue"));
  return v;
}

}  // namespace

JsonValue tuneToJson(const Tune& tune) {
  JsonValue o = JsonValue::object();
  JsonValue fields = JsonValue::array();
  fields.elements().reserve(static_cast<std::size_t>(tune.fields.size()));
  for (const TuneValue& v : tune.fields) {
    fields.append(fieldToJson(v));
  }
  o.insert(QStringLiteral("fields"), std::move(fields));
  o.insert(QStringLiteral("signature"), tune.signature);
  if (tune.firmwareInfo) {
    o.insert(QStringLiteral("firmwareInfo"), *tune.firmwareInfo);
  }
  o.insert(QStringLiteral("nPages"), tune.nPages);
  o.insert(QStringLiteral("lastSaved"), tune.lastSaved);
  o.insert(QStringLiteral("writeTimestamp"), tune.writeTimestamp);
  if (tune.pages) {
    JsonValue pages = JsonValue::object();
    for (auto it = tune.pages->cbegin(); it != tune.pages->cend(); ++it) {
      pages.insert(QString::number(it.key()), QString::fromLatin1(it.value().toBase64()));
    }
    o.insert(QStringLiteral("pages"), std::move(pages));
  }
  return o;
}

Tune tuneFromJson(const QJsonObject& o) {
  Tune tune;
  const QJsonArray fields = o.value(QStringLiteral("fields")).toArray();
  tune.fields.reserve(fields.size());
  for (const QJsonValue& field : fields) {
    if (field.isObject()) {
      tune.fields.append(fieldFromJson(field.toObject()));
    }
  }
  tune.signature = readString(o, QStringLiteral("signature"));
  tune.firmwareInfo = readOptionalString(o, QStringLiteral("firmwareInfo"));
  tune.nPages = readInt(o, QStringLiteral("nPages"), 0);
  tune.lastSaved = readString(o, QStringLiteral("lastSaved"), tune.lastSaved);
  tune.writeTimestamp = readString(o, QStringLiteral("writeTimestamp"), tune.writeTimestamp);
  const QJsonValue pages = o.value(QStringLiteral("pages"));
  if (pages.isObject()) {
    const QJsonObject object = pages.toObject();
    PageImages images;
    for (auto it = object.begin(); it != object.end(); ++it) {
      bool ok = false;
      const int page = it.key().toInt(&ok, 10);
      if (!ok) {
        throw ProjectError(QStringLiteral("Failed to parse tune file: non-numeric page key"));
      }
      images.insert(page, QByteArray::fromBase64(it.value().toString().toLatin1()));
    }
    tune.pages = std::move(images);
  }
  return tune;
}

Tune readTuneFile(const QString& path) {
  return tuneFromJson(readJsonDocumentFile(path, kContext));
}

void writeTuneFile(const QString& path, const Tune& tune) {
  writeJsonDocumentFile(path, kContext, tuneToJson(tune));
}

}  // namespace tk::project
