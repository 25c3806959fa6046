#include "conformance/dump_msq.h"

#include "conformance/conformance_io.h"
#include "formats/msq_reader.h"
#include "json/json_writer.h"

namespace tk::conformance {
namespace {

JsonValue constantJson(const MsqConstant& c) {
  JsonValue arrayValues;  // null when the constant holds no numbers
  if (!c.ArrayValues.isEmpty()) {
    arrayValues = JsonValue::array();
    for (const double v : c.ArrayValues) {
      arrayValues.append(numberOrNonFinite(v));
    }
  }
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("Name"), c.Name);
  o.insert(QStringLiteral("PageNumber"), c.PageNumber);
  o.insert(QStringLiteral("IsPcVariable"), c.IsPcVariable);
  o.insert(QStringLiteral("Digits"), c.Digits);
  o.insert(QStringLiteral("Units"), c.Units);
  o.insert(QStringLiteral("Rows"), c.Rows);
  o.insert(QStringLiteral("Cols"), c.Cols);
  o.insert(QStringLiteral("IsArray"), c.IsArray);
  o.insert(QStringLiteral("ArrayValues"), std::move(arrayValues));
  o.insert(QStringLiteral("StringValue"), c.StringValue);
  o.insert(QStringLiteral("NumericValue"), numberOrNonFinite(c.NumericValue));
  o.insert(QStringLiteral("IsNumeric"), c.IsNumeric);
  return o;
}

// Keyed by name in document order; a name a tune repeats gives a member per occurrence.
JsonValue constantsJson(const QList<MsqConstant>& constants) {
  JsonValue o = JsonValue::object();
  for (const MsqConstant& c : constants) {
    o.insert(c.Name, constantJson(c));
  }
  return o;
}

}  // namespace

JsonValue msqDocumentJson(const MsqDocument& document) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("Signature"), document.Signature);
  o.insert(QStringLiteral("FileFormat"), document.FileFormat);
  o.insert(QStringLiteral("FirmwareInfo"), document.FirmwareInfo);
  o.insert(QStringLiteral("PageCount"), document.PageCount);
  o.insert(QStringLiteral("Author"), document.Author);
  o.insert(QStringLiteral("TuneComment"), document.TuneComment);
  o.insert(QStringLiteral("WriteDate"), document.WriteDate);
  o.insert(QStringLiteral("Fields"), constantsJson(document.Fields));
  o.insert(QStringLiteral("PcVariables"), constantsJson(document.PcVariables));
  return o;
}

int dumpMsq(const QString& msqPath, const QString& outPath) {
  MsqDocument document;
  {
    QByteArray bytes;
    if (const int code = readInputFile(msqPath, bytes)) {
      return code;
    }
    // A malformed file fails in the command's guard: "ERROR: <reason>", exit 2.
    document = parseMsq(bytes);
  }
  return writeJsonFile(msqDocumentJson(document), outPath);
}

}  // namespace tk::conformance
