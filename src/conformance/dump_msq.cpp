#include "conformance/dump_msq.h"

#include <QFile>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "conformance/conformance_io.h"
#include "formats/msq_reader.h"
#include "json/json_writer.h"
#include "json/number_format.h"

namespace tk::conformance {
namespace {

// Canonical JSON written in pieces: the same text serialize() gives for the tree, two blanks per
// level, handed to the device whenever a piece has grown large.
class StreamedJson {
 public:
  explicit StreamedJson(QIODevice& out) : out_(out) {}
  ~StreamedJson() { flush(); }
  StreamedJson(const StreamedJson&) = delete;
  StreamedJson& operator=(const StreamedJson&) = delete;

  void open(char bracket) {
    text_.push_back(bracket);
    first_.push_back(true);
  }
  // Closes the innermost object: "{}" when it had no member.
  void close() {
    const bool empty = first_.back();
    first_.pop_back();
    if (empty) {
      text_.push_back('}');
      return;
    }
    text_.push_back('\n');
    indent(first_.size());
    text_.push_back('}');
  }
  // Starts a member of the innermost object; its value follows.
  void key(const QString& name) {
    separate();
    text_.append(serialize(JsonValue(name)).toStdString());
    text_.append(": ");
  }
  void value(const JsonValue& v) {
    const QByteArray t = serialize(v);
    text_.append(t.constData(), static_cast<std::size_t>(t.size()));
  }
  void member(const QString& name, const JsonValue& v) {
    key(name);
    value(v);
  }
  // A list of numbers as numberOrNonFinite writes each; null when empty.
  void numbers(const QList<double>& values) {
    if (values.isEmpty()) {
      text_.append("null");
      return;
    }
    text_.append("[\n");
    const std::size_t level = first_.size() + 1;
    for (qsizetype i = 0; i < values.size(); ++i) {
      indent(level);
      if (std::isfinite(values.at(i))) {
        appendDouble(text_, values.at(i), kJsonThreshold);
      } else {
        value(numberOrNonFinite(values.at(i)));
      }
      text_.append(i + 1 < values.size() ? ",\n" : "\n");
      if (text_.size() >= kPiece) {
        flush();
      }
    }
    indent(level - 1);
    text_.push_back(']');
  }
  void lineFeed() { text_.push_back('\n'); }
  void flush() {
    out_.write(text_.data(), static_cast<qint64>(text_.size()));
    text_.clear();
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;

  void separate() {
    text_.append(first_.back() ? "\n" : ",\n");
    first_.back() = false;
    indent(first_.size());
  }
  void indent(std::size_t level) { text_.append(level * 2, ' '); }

  QIODevice& out_;
  std::string text_;
  std::vector<bool> first_;
};

void writeConstants(StreamedJson& json, const QList<MsqConstant>& constants) {
  json.open('{');
  for (const MsqConstant& c : constants) {
    json.key(c.Name);
    json.open('{');
    json.member(QStringLiteral("Name"), c.Name);
    json.member(QStringLiteral("PageNumber"), c.PageNumber);
    json.member(QStringLiteral("IsPcVariable"), c.IsPcVariable);
    json.member(QStringLiteral("Digits"), c.Digits);
    json.member(QStringLiteral("Units"), c.Units);
    json.member(QStringLiteral("Rows"), c.Rows);
    json.member(QStringLiteral("Cols"), c.Cols);
    json.member(QStringLiteral("IsArray"), c.IsArray);
    json.key(QStringLiteral("ArrayValues"));
    json.numbers(c.ArrayValues);
    json.member(QStringLiteral("StringValue"), c.StringValue);
    json.member(QStringLiteral("NumericValue"), numberOrNonFinite(c.NumericValue));
    json.member(QStringLiteral("IsNumeric"), c.IsNumeric);
    json.close();
    json.flush();
  }
  json.close();
}

}  // namespace

void writeMsqDocumentJson(const MsqDocument& document, QIODevice& out) {
  StreamedJson json(out);
  json.open('{');
  json.member(QStringLiteral("Signature"), document.Signature);
  json.member(QStringLiteral("FileFormat"), document.FileFormat);
  json.member(QStringLiteral("FirmwareInfo"), document.FirmwareInfo);
  json.member(QStringLiteral("PageCount"), document.PageCount);
  json.member(QStringLiteral("Author"), document.Author);
  json.member(QStringLiteral("TuneComment"), document.TuneComment);
  json.member(QStringLiteral("WriteDate"), document.WriteDate);
  json.key(QStringLiteral("Fields"));
  writeConstants(json, document.Fields);
  json.key(QStringLiteral("PcVariables"));
  writeConstants(json, document.PcVariables);
  json.close();
  json.lineFeed();
}

int dumpMsq(const QString& msqPath, const QString& outPath) {
  MsqDocument document;
  {
    QByteArray bytes;
    if (const int code = readInputFile(msqPath, bytes)) {
      return code;
    }
    // A malformed file fails in the command's guard: "ERROR: <reason>", exit 2.
    document = parseMsq(std::move(bytes));
  }
  QFile file(outPath);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    printError(QStringLiteral("ERROR: cannot write ") + outPath);
    return kFileErrorExit;
  }
  writeMsqDocumentJson(document, file);
  return 0;
}

}  // namespace tk::conformance
