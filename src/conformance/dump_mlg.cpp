#include "conformance/dump_mlg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "conformance/conformance_io.h"
#include "formats/mlg_reader.h"
#include "json/number_format.h"

namespace tk::conformance {
namespace {

// Builds the text in one buffer that grows by doubling; numbers are formatted straight into it.
class CsvBuilder {
 public:
  explicit CsvBuilder(qsizetype expectedSize) { out_.resize(expectedSize); }

  void raw(const char* text) { put(text, static_cast<qsizetype>(std::strlen(text))); }
  void raw(const QByteArray& bytes) { put(bytes.constData(), bytes.size()); }
  void comma() { put(','); }
  void endLine() { put('\n'); }

  void integer(long long value) {
    char* at = room(24);
    used_ += std::to_chars(at, at + 24, value).ptr - at;
  }
  void number(double value) {
    // Whole numbers below 2^53 have their exact digits as shortest form and stay in the plain
    // form, so the integer channels that fill most logs skip the shortest-digits search.
    if (std::fabs(value) < kExactIntegerLimit && value == std::trunc(value) &&
        (value != 0 || !std::signbit(value))) {
      integer(static_cast<long long>(value));
      return;
    }
    scratch_.clear();
    appendDouble(scratch_, value, kJsonThreshold);  // writes NaN, Infinity, -Infinity as text
    put(scratch_.data(), static_cast<qsizetype>(scratch_.size()));
  }
  void singleNumber(float value) {
    scratch_.clear();
    appendFloat(scratch_, value);
    put(scratch_.data(), static_cast<qsizetype>(scratch_.size()));
  }
  // A text cell holding a comma, a double quote or a line feed is quoted, inner quotes doubled.
  void cell(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n')) {
      raw(utf8);
      return;
    }
    put('"');
    for (const char c : utf8) {
      if (c == '"') {
        put('"');
      }
      put(c);
    }
    put('"');
  }

  QByteArray take() {
    out_.resize(used_);
    return std::move(out_);
  }

 private:
  static constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53

  char* room(qsizetype n) {
    if (used_ + n > out_.size()) {
      out_.resize(std::max(2 * out_.size(), used_ + n + 4096));
    }
    return out_.data() + used_;
  }
  void put(const char* bytes, qsizetype n) {
    std::memcpy(room(n), bytes, static_cast<std::size_t>(n));
    used_ += n;
  }
  void put(char c) {
    *room(1) = c;
    ++used_;
  }

  QByteArray out_;
  qsizetype used_ = 0;
  std::string scratch_;
};

void headerLine(CsvBuilder& csv, const char* key, long long value) {
  csv.raw(key);
  csv.integer(value);
  csv.endLine();
}

void fieldLines(CsvBuilder& csv, const MlgLog& log) {
  csv.raw(
      "[fields]\n"
      "index,dataType,name,units,displayStyle,scale,transform,digits,category,recordOffset,"
      "byteSize\n");
  for (const MlgField& f : log.fields) {
    csv.integer(f.index);
    csv.comma();
    csv.integer(f.dataType);
    csv.comma();
    csv.cell(f.name);
    csv.comma();
    csv.cell(f.units);
    csv.comma();
    csv.integer(f.displayStyle);
    csv.comma();
    csv.singleNumber(f.scale);
    csv.comma();
    csv.singleNumber(f.transform);
    csv.comma();
    csv.integer(f.digits);
    csv.comma();
    csv.cell(f.category);
    csv.comma();
    csv.integer(f.recordOffset);
    csv.comma();
    csv.integer(f.byteSize);
    csv.endLine();
  }
}

void recordLines(CsvBuilder& csv, const MlgLog& log) {
  csv.raw("[records]\ncounter,timestampRaw,absoluteTimestamp");
  for (const MlgField& f : log.fields) {
    csv.comma();
    csv.cell(f.name);
  }
  csv.endLine();
  for (std::size_t i = 0; i < log.records.size(); ++i) {
    const MlgRecord& r = log.records[i];
    csv.integer(r.counter);
    csv.comma();
    csv.integer(r.timestampRaw);
    csv.comma();
    csv.number(r.absoluteTimestamp);
    for (const double v : log.recordValues(i)) {
      csv.comma();
      csv.number(v);
    }
    csv.endLine();
  }
}

void markerLines(CsvBuilder& csv, const MlgLog& log) {
  csv.raw("[markers]\ncounter,timestampRaw,absoluteTimestamp,message\n");
  for (const MlgMarker& m : log.markers) {
    csv.integer(m.counter);
    csv.comma();
    csv.integer(m.timestampRaw);
    csv.comma();
    csv.number(m.absoluteTimestamp);
    csv.comma();
    csv.cell(m.message);
    csv.endLine();
  }
}

}  // namespace

QByteArray mlgCsv(const MlgLog& log) {
  // Roughly ten characters per value; the buffer grows if the guess is short.
  const qsizetype expected = 4096 + static_cast<qsizetype>(log.records.size()) *
                                        (24 + 10 * static_cast<qsizetype>(log.fields.size()));
  CsvBuilder csv(expected);
  headerLine(csv, "# formatVersion=", log.formatVersion);
  headerLine(csv, "# timestamp=", log.timestamp);
  headerLine(csv, "# recordLength=", log.recordLength);
  headerLine(csv, "# numLoggerFields=", log.numLoggerFields);
  // The info text follows its key as it is, even across line feeds: this line is not a CSV cell.
  csv.raw("# infoData=");
  csv.raw(log.infoData.toUtf8());
  csv.endLine();
  headerLine(csv, "# records=", static_cast<long long>(log.records.size()));
  headerLine(csv, "# markers=", static_cast<long long>(log.markers.size()));
  fieldLines(csv, log);
  recordLines(csv, log);
  markerLines(csv, log);
  return csv.take();
}

int dumpMlg(const QString& mlgPath, const QString& outPath) {
  MlgLog log;
  {
    QByteArray bytes;
    if (const int code = readInputFile(mlgPath, bytes)) {
      return code;
    }
    // A malformed file fails in the command's guard: "ERROR: <reason>", exit 2.
    log = parseMlg(bytes);
  }  // the file bytes are released before the text is built
  const QByteArray csv = mlgCsv(log);
  log = MlgLog();
  return writeOutputFile(outPath, csv);
}

}  // namespace tk::conformance
