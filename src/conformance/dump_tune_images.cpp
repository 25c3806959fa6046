#include "conformance/dump_tune_images.h"

#include <optional>

#include "conformance/conformance_io.h"
#include "definition/ini_parser.h"
#include "definition/scaling.h"
#include "formats/msq_writer.h"
#include "json/json_writer.h"
#include "tune/field_codec.h"
#include "tune/raw_codec.h"

namespace tk::conformance {
namespace {

template <typename T, typename F>
JsonValue optionalJson(const std::optional<T>& value, F convert) {
  return value ? convert(*value) : JsonValue();
}

JsonValue numbersJson(const QList<double>& values) {
  JsonValue a = JsonValue::array();
  for (const double v : values) {
    a.append(numberOrNonFinite(v));
  }
  return a;
}

JsonValue tuneValueJson(const TuneValue& v) {
  const auto text = [](const QString& s) { return JsonValue(s); };
  const auto integer = [](int i) { return JsonValue(i); };
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("Name"), v.name);
  o.insert(QStringLiteral("Units"), optionalJson(v.units, text));
  o.insert(QStringLiteral("Digits"), v.digits);
  o.insert(QStringLiteral("ScalarValue"),
           optionalJson(v.scalarValue, [](double d) { return numberOrNonFinite(d); }));
  o.insert(QStringLiteral("ArrayValues"), optionalJson(v.arrayValues, numbersJson));
  o.insert(QStringLiteral("Rows"), optionalJson(v.rows, integer));
  o.insert(QStringLiteral("Cols"), optionalJson(v.cols, integer));
  o.insert(QStringLiteral("StringValue"), optionalJson(v.stringValue, text));
  o.insert(QStringLiteral("EnumValue"), optionalJson(v.enumValue, text));
  o.insert(QStringLiteral("BitsRawValue"), optionalJson(v.bitsRawValue, integer));
  return o;
}

void insertDifference(JsonValue& o, const std::optional<NumericDifference>& d, const char* value,
                      const char* text, const char* direction) {
  o.insert(QString::fromLatin1(value), d ? numberOrNonFinite(d->value) : JsonValue());
  o.insert(QString::fromLatin1(text), d ? JsonValue(d->text) : JsonValue());
  o.insert(QString::fromLatin1(direction), d ? JsonValue(d->direction) : JsonValue());
}

JsonValue rowsJson(const QList<TuneDiffRow>& rows) {
  JsonValue a = JsonValue::array();
  for (const TuneDiffRow& row : rows) {
    JsonValue cells = JsonValue::array();
    for (const TuneDiffCell& cell : row.cells) {
      JsonValue c = JsonValue::object();
      c.insert(QStringLiteral("value"), numberOrNonFinite(cell.value));
      c.insert(QStringLiteral("isDifferent"), cell.isDifferent);
      insertDifference(c, cell.difference, "difference", "differenceText", "changeDirection");
      cells.append(std::move(c));
    }
    JsonValue r = JsonValue::object();
    r.insert(QStringLiteral("rowIndex"), row.rowIndex);
    r.insert(QStringLiteral("cells"), std::move(cells));
    a.append(std::move(r));
  }
  return a;
}

JsonValue entryJson(const TuneDiffEntry& e) {
  JsonValue shape = JsonValue::array();
  for (const int d : e.shape) {
    shape.append(d);
  }
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("fieldName"), e.fieldName);
  o.insert(QStringLiteral("category"), e.category);
  o.insert(QStringLiteral("localValue"), e.localValue);
  o.insert(QStringLiteral("remoteValue"), e.remoteValue);
  insertDifference(o, e.scalarDifference, "scalarDifference", "scalarDifferenceText",
                   "scalarChangeDirection");
  o.insert(QStringLiteral("isArray"), e.isArray);
  o.insert(QStringLiteral("shape"), std::move(shape));
  o.insert(QStringLiteral("localArrayValues"), numbersJson(e.localArrayValues));
  o.insert(QStringLiteral("remoteArrayValues"), numbersJson(e.remoteArrayValues));
  o.insert(QStringLiteral("differentCellCount"), e.differentCellCount);
  o.insert(QStringLiteral("localTablePreview"), e.localTablePreview);
  o.insert(QStringLiteral("remoteTablePreview"), e.remoteTablePreview);
  o.insert(QStringLiteral("diffSummary"), e.diffSummary);
  o.insert(QStringLiteral("localTableRows"), rowsJson(e.localTableRows));
  o.insert(QStringLiteral("remoteTableRows"), rowsJson(e.remoteTableRows));
  return o;
}

// The definition and the raw images named on the command line, each checked in argument order
// (existence and readability first, then the slicing of every image).
struct Inputs {
  EcuDefinition definition;
  QList<QByteArray> images;
  QList<PageImages> pages;
};

int readInputs(const QString& iniPath, const QStringList& imagePaths, Inputs& inputs) {
  QByteArray iniBytes;
  if (const int code = readInputFile(iniPath, iniBytes)) {
    return code;
  }
  for (const QString& path : imagePaths) {
    QByteArray bytes;
    if (const int code = readInputFile(path, bytes)) {
      return code;
    }
    inputs.images.append(std::move(bytes));
  }
  inputs.definition = IniParser().parse(iniPath);
  for (const QByteArray& image : std::as_const(inputs.images)) {
    std::optional<PageImages> pages = sliceRawImage(inputs.definition, image);
    if (!pages) {
      return kFileErrorExit;
    }
    inputs.pages.append(std::move(*pages));
  }
  return 0;
}

}  // namespace

QList<std::pair<QString, double>> decodeOutputChannels(const EcuDefinition& definition,
                                                       const QByteArray& block) {
  QList<std::pair<QString, double>> values;
  const bool bigEndian = definition.isBigEndian();
  for (const auto& [name, channel] : definition.OutputChannels) {
    if (channel.DataType.isEmpty() || channel.Offset < 0 || channel.Offset >= block.size() ||
        channel.Expression) {
      continue;
    }
    // An unknown type reads one unsigned byte; so does a value cut off by the block's end.
    RawType type = rawTypeOf(channel.DataType);
    if (channel.Offset + rawWidth(type) > block.size()) {
      type = RawType::U08;
    }
    const double raw = readRaw(block, channel.Offset, type, bigEndian);
    values.append({name, physicalFromRaw(raw, channel.Scale, channel.Translate)});
  }
  return values;
}

JsonValue tuneFieldsJson(const EcuDefinition& definition, const QByteArray& image,
                         const PageImages& pages) {
  const Tune tune = decodePages(pages, definition);
  const PageImages rebuilt = encodeTune(tune, definition);

  JsonValue fields = JsonValue::object();
  for (const TuneValue& value : tune.fields) {
    fields.insert(value.name, tuneValueJson(value));
  }
  JsonValue rebuiltPages = JsonValue::array();
  for (auto it = rebuilt.constBegin(); it != rebuilt.constEnd(); ++it) {
    JsonValue page = JsonValue::object();
    page.insert(QStringLiteral("Page"), it.key());
    page.insert(QStringLiteral("Size"), static_cast<long long>(it.value().size()));
    page.insert(QStringLiteral("Base64"), QString::fromLatin1(it.value().toBase64()));
    rebuiltPages.append(std::move(page));
  }
  const int blockSize = definition.OchBlockSize;
  const QByteArray block =
      blockSize > 0 && blockSize < image.size() ? image.first(blockSize) : image;
  JsonValue channels = JsonValue::object();
  for (const auto& [name, value] : decodeOutputChannels(definition, block)) {
    channels.insert(name, numberOrNonFinite(value));
  }

  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("Signature"), tune.signature);
  o.insert(QStringLiteral("NPages"), tune.nPages);
  o.insert(QStringLiteral("Fields"), std::move(fields));
  o.insert(QStringLiteral("RebuiltPages"), std::move(rebuiltPages));
  o.insert(QStringLiteral("OutputChannels"), std::move(channels));
  return o;
}

JsonValue tuneDiffJson(const QList<TuneDiffEntry>& entries) {
  JsonValue differences = JsonValue::array();
  for (const TuneDiffEntry& e : entries) {
    differences.append(entryJson(e));
  }
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("count"), static_cast<long long>(entries.size()));
  o.insert(QStringLiteral("differences"), std::move(differences));
  return o;
}

int dumpTuneFields(const QString& iniPath, const QString& imagePath, const QString& outPath) {
  Inputs inputs;
  if (const int code = readInputs(iniPath, {imagePath}, inputs)) {
    return code;
  }
  return writeJsonFile(tuneFieldsJson(inputs.definition, inputs.images.at(0), inputs.pages.at(0)),
                       outPath);
}

int dumpMsqExport(const QString& iniPath, const QString& imagePath, const QString& outPath) {
  Inputs inputs;
  if (const int code = readInputs(iniPath, {imagePath}, inputs)) {
    return code;
  }
  const Tune tune = decodePages(inputs.pages.at(0), inputs.definition);
  return writeOutputFile(
      outPath,
      writeMsq(inputs.definition, tune, QString::fromUtf8(kExportAuthor),
               QString::fromUtf8(kExportTuneComment), QString::fromUtf8(kExportWriteDate)));
}

int dumpTuneDiff(const QString& iniPath, const QString& imageAPath, const QString& imageBPath,
                 const QString& outPath) {
  Inputs inputs;
  if (const int code = readInputs(iniPath, {imageAPath, imageBPath}, inputs)) {
    return code;
  }
  const Tune local = decodePages(inputs.pages.at(0), inputs.definition);
  const Tune remote = decodePages(inputs.pages.at(1), inputs.definition);
  return writeJsonFile(tuneDiffJson(TuneComparator().compare(inputs.definition, local, remote)),
                       outPath);
}

}  // namespace tk::conformance
