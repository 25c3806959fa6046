#include "formats/msq_reader.h"

#include <QFile>
#include <QXmlStreamReader>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/msq_text.h"
#include "json/input_file.h"
#include "json/number_text.h"

namespace tk {
namespace {

// A document may stand for more text than it holds (entity references, attribute defaults of its
// type declaration), but not for more than twice its length plus this many characters.
constexpr qint64 kExpansionAllowance = qint64{64} * 1024;
constexpr char kExpansionError[] =
    "Entity references or attribute defaults expand to more text than the document may hold.";

// Attribute integers: an optional sign and decimal digits (surrounding white space allowed);
// anything else, and absence, reads as 0.
int attributeInt(const QXmlStreamAttributes& attributes, QLatin1String name) {
  bool ok = false;
  const int value = attributes.value(name).trimmed().toInt(&ok, 10);
  return ok ? value : 0;
}

QString attributeText(const QXmlStreamAttributes& attributes, QLatin1String name) {
  return attributes.value(name).toString();
}

bool isArraySeparator(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Tokens of an array's text: the numbers list is made to size at once, so a large array is
// never held twice while its list grows.
qsizetype tokenCount(QStringView text) {
  qsizetype count = 0;
  bool inToken = false;
  for (const QChar c : text) {
    const bool separator = isArraySeparator(c);
    count += !separator && !inToken ? 1 : 0;
    inToken = !separator;
  }
  return count;
}

// A constant or PC variable of one page, completed when its element ends; takes the text.
void finishConstant(MsqConstant& constant, QString&& characterData) {
  const QString text = std::move(characterData).trimmed();
  if (!constant.IsArray) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u'"') {
      ++first;
    }
    while (last > first && text[last - 1] == u'"') {
      --last;
    }
    constant.StringValue = text.sliced(first, last - first);
    if (const std::optional<double> number = parseMsqNumber(constant.StringValue)) {
      constant.NumericValue = *number;
      constant.IsNumeric = true;
    }
    return;
  }
  constant.StringValue = text;
}

// The numbers of an array's text (StringValue), made once the document is read.
void readArrayNumbers(MsqConstant& constant) {
  const QStringView view(constant.StringValue);
  constant.ArrayValues.reserve(tokenCount(view));
  qsizetype i = 0;
  while (i < view.size()) {
    while (i < view.size() && isArraySeparator(view[i])) {
      ++i;
    }
    const qsizetype start = i;
    while (i < view.size() && !isArraySeparator(view[i])) {
      ++i;
    }
    if (i > start) {
      if (const std::optional<double> number = parseMsqNumber(view.sliced(start, i - start))) {
        constant.ArrayValues.append(*number);
      } else {
        ++constant.SkippedTokens;
      }
    }
  }
}

struct PageRecord {
  bool inMsqNamespace = false;
  int number = 0;
  QList<MsqConstant> constants;
  QList<MsqConstant> pcVariables;
};

// Streams the document once. Pages are remembered with their direct constant and pcVariable
// children; which pages count is decided at the end (namespaced ones, else those without one).
class MsqParser {
 public:
  // The reader keeps its own copy of the text, so the caller's may go once it is made.
  explicit MsqParser(const QString& text)
      : xml_(std::make_unique<QXmlStreamReader>(text)),
        budget_(2 * text.size() + kExpansionAllowance) {}

  MsqDocument run() {
    while (!xml_->atEnd()) {
      switch (xml_->readNext()) {
        case QXmlStreamReader::StartElement:
          startElement();
          break;
        case QXmlStreamReader::EndElement:
          endElement();
          break;
        case QXmlStreamReader::Characters:
          if (collector_) {
            characterData_.append(xml_->text());
            keep(xml_->text().size());
          }
          break;
        default:
          break;
      }
    }
    if (xml_->hasError()) {
      throw MsqError("MSQ: XML parse error: " + xml_->errorString().toStdString());
    }
    // The reader's buffers go before the arrays' numbers are made: a large tune's text is
    // then never held by the reader and as numbers at once.
    xml_.reset();
    return document();
  }

 private:
  enum class Frame : unsigned char { Other, Page, Collector };

  // Counts the text the document keeps: attribute defaults declared once are given to every
  // element of that name, so a small file can stand for gigabytes of names.
  void keep(qsizetype characters) {
    kept_ += characters;
    if (kept_ > budget_ && !xml_->hasError()) {
      xml_->raiseError(QString::fromLatin1(kExpansionError));
    }
  }

  void startElement() {
    const QStringView local = xml_->name();
    const QXmlStreamAttributes attributes = xml_->attributes();
    if (!haveVersionInfo_ && local == QLatin1String("versionInfo")) {
      haveVersionInfo_ = true;
      doc_.Signature = attributeText(attributes, QLatin1String("signature"));
      doc_.FileFormat = attributeText(attributes, QLatin1String("fileFormat"));
      doc_.FirmwareInfo = attributeText(attributes, QLatin1String("firmwareInfo"));
      doc_.PageCount = attributeInt(attributes, QLatin1String("nPages"));
    } else if (!haveBibliography_ && local == QLatin1String("bibliography")) {
      haveBibliography_ = true;
      doc_.Author = attributeText(attributes, QLatin1String("author"));
      doc_.TuneComment = attributeText(attributes, QLatin1String("tuneComment"));
      doc_.WriteDate = attributeText(attributes, QLatin1String("writeDate"));
    }
    // Inside a constant's value every element is part of that value's text, pages included:
    // a constant never holds another page's constants.
    if (collector_) {
      frames_.push_back(Frame::Other);
      return;
    }
    const QStringView ns = xml_->namespaceUri();
    const bool msqNamespace = ns == QLatin1String(kMsqNamespaceUri);
    if (local == QLatin1String("page") && (msqNamespace || ns.isEmpty())) {
      PageRecord page;
      page.inMsqNamespace = msqNamespace;
      page.number = attributeInt(attributes, QLatin1String("number"));
      pages_.push_back(std::move(page));
      pageStack_.push_back(pages_.size() - 1);
      frames_.push_back(Frame::Page);
      return;
    }
    const bool isConstant = local == QLatin1String("constant");
    if (!frames_.empty() && frames_.back() == Frame::Page &&
        (isConstant || local == QLatin1String("pcVariable"))) {
      MsqConstant constant;
      constant.Name = attributeText(attributes, QLatin1String("name"));
      constant.Units = attributeText(attributes, QLatin1String("units"));
      keep(constant.Name.size() + constant.Units.size());
      constant.Digits = attributeInt(attributes, QLatin1String("digits"));
      constant.Rows = attributeInt(attributes, QLatin1String("rows"));
      constant.Cols = attributeInt(attributes, QLatin1String("cols"));
      constant.PageNumber = pages_[pageStack_.back()].number;
      constant.IsPcVariable = !isConstant;
      constant.IsArray = constant.Rows > 0 || constant.Cols > 0;
      collector_ = std::move(constant);
      characterData_.clear();
      frames_.push_back(Frame::Collector);
      return;
    }
    frames_.push_back(Frame::Other);
  }

  void endElement() {
    if (frames_.empty()) {
      return;
    }
    const Frame frame = frames_.back();
    frames_.pop_back();
    if (frame == Frame::Page) {
      pageStack_.pop_back();
    } else if (frame == Frame::Collector && collector_) {
      finishConstant(*collector_, std::move(characterData_));
      PageRecord& page = pages_[pageStack_.back()];
      (collector_->IsPcVariable ? page.pcVariables : page.constants).append(std::move(*collector_));
      collector_.reset();
      characterData_.clear();
    }
  }

  MsqDocument document() {
    bool anyNamespaced = false;
    for (const PageRecord& page : pages_) {
      anyNamespaced = anyNamespaced || page.inMsqNamespace;
    }
    for (PageRecord& page : pages_) {
      if (page.inMsqNamespace == anyNamespaced) {
        doc_.Fields.append(std::move(page.constants));
        doc_.PcVariables.append(std::move(page.pcVariables));
      }
    }
    pages_.clear();
    for (QList<MsqConstant>* list : {&doc_.Fields, &doc_.PcVariables}) {
      for (MsqConstant& constant : *list) {
        if (constant.IsArray) {
          readArrayNumbers(constant);
        }
      }
    }
    return std::move(doc_);
  }

  std::unique_ptr<QXmlStreamReader> xml_;
  MsqDocument doc_;
  bool haveVersionInfo_ = false;
  bool haveBibliography_ = false;
  std::vector<Frame> frames_;
  std::vector<std::size_t> pageStack_;
  std::vector<PageRecord> pages_;
  std::optional<MsqConstant> collector_;
  QString characterData_;
  qint64 kept_ = 0;
  qint64 budget_;
};

}  // namespace

namespace {

// Parses the decoded text, letting it go as soon as the XML reader holds its own copy.
MsqDocument parseText(QString&& decoded) {
  QString text = protectAttributeWhitespace(decoded);
  decoded = QString();
  // An entity declared once and referenced thousands of times makes a small file stand for
  // gigabytes of text, which the parser would build in one piece before the parser's budget could
  // act; the parser's own limit covers nested expansion only.
  if (expandedEntityLength(text) > 2 * text.size() + kExpansionAllowance) {
    throw MsqError(std::string("MSQ: XML parse error: ") + kExpansionError);
  }
  MsqParser parser(text);
  text = QString();
  return parser.run();
}

}  // namespace

MsqDocument parseMsq(const QByteArray& bytes) { return parseText(decodeMsqBytes(bytes)); }

MsqDocument parseMsq(QByteArray&& bytes) {
  QString decoded = decodeMsqBytes(bytes);
  bytes = QByteArray();
  return parseText(std::move(decoded));
}

MsqDocument readMsq(const QString& path) {
  if (const std::optional<QString> problem = inputFileProblem(path, kMaxInputFileBytes)) {
    throw MsqError("MSQ: cannot read file: " + path.toStdString() + ": " + problem->toStdString());
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw MsqError("MSQ: cannot open file: " + path.toStdString());
  }
  QByteArray bytes = file.readAll();
  file.close();
  return parseMsq(std::move(bytes));
}

}  // namespace tk
