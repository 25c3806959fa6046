// Feeds arbitrary bytes to the MLG reader. A log that reads must render as CSV and, written back
// with the same fields, records and markers, must read again to the same values.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "conformance/dump_mlg.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"

namespace {

bool sameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void checkWriteBack(const tk::MlgLog& log) {
  tk::MlgWriter writer(log.fields, log.formatVersion);
  writer.writeHeader(log.timestamp, log.infoData);
  for (std::size_t r = 0; r < log.records.size(); ++r) {
    writer.writeRecord(log.records[r].timestampRaw, log.recordValues(r));
  }
  for (const tk::MlgMarker& m : log.markers) {
    writer.writeMarker(m.timestampRaw, m.message);
  }
  const tk::MlgLog back = tk::parseMlg(writer.bytes());

  // The writer numbers blocks afresh; a record that lands on counter 0 with time 0 after the
  // first one reads as end-of-file padding, and everything from it on is gone.
  std::size_t expectedRecords = log.records.size();
  for (std::size_t k = 255; k < log.records.size(); k += 255) {
    if (log.records[k].timestampRaw == 0) {
      expectedRecords = k;
      break;
    }
  }
  check(back.records.size() == expectedRecords);
  check(back.fields.size() == log.fields.size());
  for (std::size_t r = 0; r < expectedRecords; ++r) {
    check(back.records[r].timestampRaw == log.records[r].timestampRaw);
    check(back.records[r].absoluteTimestamp == log.records[r].absoluteTimestamp);
    for (std::size_t f = 0; f < log.fields.size(); ++f) {
      check(sameValue(back.recordValues(r)[f], log.recordValues(r)[f]));
    }
  }
  if (expectedRecords == log.records.size()) {
    check(back.markers.size() == log.markers.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tk::MlgLog log;
  try {
    log = tk::parseMlg(QByteArrayView(data, static_cast<qsizetype>(size)));
  } catch (const tk::MlgError&) {
    return 0;
  }
  check(log.values.size() == log.records.size() * log.fields.size());
  check(tk::conformance::mlgCsv(log).endsWith("\n"));
  try {
    checkWriteBack(log);
  } catch (const std::invalid_argument&) {
    // Layouts beyond what the writer can lay out (records over 65535 bytes, a version 1 info
    // offset past 65535) are not written back.
  }
  return 0;
}
