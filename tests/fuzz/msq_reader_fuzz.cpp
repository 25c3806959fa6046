// Feeds arbitrary bytes to the MSQ reader. A document that reads must keep the reader's own
// invariants and must render as the dump-msq JSON.
#include <QBuffer>
#include <cstdint>
#include <cstdlib>

#include "conformance/dump_msq.h"
#include "formats/msq_reader.h"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void checkConstant(const tk::MsqConstant& c, bool pcVariable) {
  check(c.IsPcVariable == pcVariable);
  check(c.IsArray == (c.Rows > 0 || c.Cols > 0));
  if (!c.IsArray) {
    check(c.ArrayValues.isEmpty());
    check(c.IsNumeric || c.NumericValue == 0.0);
  } else {
    check(!c.IsNumeric);
  }
  check(c.StringValue == c.StringValue.trimmed() || !c.IsArray);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tk::MsqDocument doc;
  try {
    doc =
        tk::parseMsq(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  } catch (const tk::MsqError& e) {
    check(QByteArray(e.what()).startsWith("MSQ: "));
    return 0;
  }
  for (const tk::MsqConstant& c : doc.Fields) {
    checkConstant(c, false);
  }
  for (const tk::MsqConstant& c : doc.PcVariables) {
    checkConstant(c, true);
  }
  QBuffer rendered;
  rendered.open(QIODevice::WriteOnly);
  tk::conformance::writeMsqDocumentJson(doc, rendered);
  check(rendered.data().startsWith("{\n") && rendered.data().endsWith("}\n"));
  return 0;
}
