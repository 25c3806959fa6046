#include "definition/ini_text.h"

#include <QFile>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "definition/text_hash.h"

namespace tk {
namespace {

QString decodeUtf16(const QByteArray& bytes, qsizetype start, bool bigEndian) {
  const qsizetype units = (bytes.size() - start) / 2;  // an odd last byte is dropped
  QString text(units, Qt::Uninitialized);
  QChar* out = text.data();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData() + start);
  for (qsizetype i = 0; i < units; ++i) {
    const unsigned hi = bigEndian ? in[2 * i] : in[2 * i + 1];
    const unsigned lo = bigEndian ? in[2 * i + 1] : in[2 * i];
    out[i] = QChar(static_cast<char16_t>((hi << 8) | lo));
  }
  return text;
}

}  // namespace

namespace {

/// Splits decoded text at LF, CR and CR LF.
QStringList splitDecoded(const QString& text, bool trim) {
  QStringList lines;
  const QChar* data = text.constData();
  const qsizetype n = text.size();
  const auto line = [data, trim](qsizetype from, qsizetype to) {
    const QStringView view(data + from, to - from);
    return (trim ? view.trimmed() : view).toString();
  };
  qsizetype start = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = data[i].unicode();
    if (c == u'\n' || c == u'\r') {
      lines.append(line(start, i));
      if (c == u'\r' && i + 1 < n && data[i + 1] == u'\n') {
        ++i;
      }
      start = i + 1;
    }
  }
  if (start < n) {
    // A last line that is only blanks still counts before trimming.
    lines.append(line(start, n));
  }
  return lines;
}

/// Splits Latin-1 bytes given in any number of pieces into lines like splitDecoded, decoding each
/// line on its own: the file's text is never held a second time as one decoded string, which for
/// a large definition is megabytes of memory touched once and thrown away. Trimming tests the
/// same blanks as QString::trimmed().
class Latin1LineSplitter {
 public:
  explicit Latin1LineSplitter(bool trim) : trim_(trim) {}

  /// Splits the next piece; a line may continue in the next piece.
  void feed(const char* data, qsizetype n) {
    qsizetype i = 0;
    if (skipLineFeed_ && n > 0) {
      // A CR ended the previous piece: a LF opening this one belongs to the same break.
      skipLineFeed_ = false;
      if (data[0] == '\n') {
        i = 1;
      }
    }
    qsizetype start = i;
    for (; i < n; ++i) {
      const char c = data[i];
      if (c != '\n' && c != '\r') {
        continue;
      }
      if (partial_.isEmpty()) {
        addLine(data + start, i - start);
      } else {
        partial_.append(data + start, i - start);
        addLine(partial_.constData(), partial_.size());
        partial_.clear();
      }
      if (c == '\r') {
        if (i + 1 == n) {
          skipLineFeed_ = true;
        } else if (data[i + 1] == '\n') {
          ++i;
        }
      }
      start = i + 1;
    }
    if (start < n) {
      partial_.append(data + start, n - start);
    }
  }

  /// The lines; text after the last break is a final line when not empty (before trimming).
  QStringList finish() {
    if (!partial_.isEmpty()) {
      addLine(partial_.constData(), partial_.size());
      partial_.clear();
    }
    return std::move(lines_);
  }

  void reserve(qsizetype lineCount) { lines_.reserve(lineCount); }

 private:
  void addLine(const char* data, qsizetype n) {
    qsizetype from = 0;
    qsizetype to = n;
    if (trim_) {
      while (from < to && QChar::isSpace(static_cast<unsigned char>(data[from]))) {
        ++from;
      }
      while (to > from && QChar::isSpace(static_cast<unsigned char>(data[to - 1]))) {
        --to;
      }
    }
    lines_.append(QString::fromLatin1(data + from, to - from));
  }

  const bool trim_;
  bool skipLineFeed_ = false;
  QByteArray partial_;
  QStringList lines_;
};

bool hasByteOrderMark(const char* data, qsizetype n) {
  const auto b = [data](qsizetype i) { return static_cast<unsigned char>(data[i]); };
  return (n >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) ||
         (n >= 2 && b(0) == 0xFF && b(1) == 0xFE) || (n >= 2 && b(0) == 0xFE && b(1) == 0xFF);
}

}  // namespace

QStringList decodeLines(const QByteArray& bytes, bool trim) {
  const auto b = [&bytes](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
  if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
    return splitDecoded(QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3), trim);
  }
  if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
    return splitDecoded(decodeUtf16(bytes, 2, false), trim);
  }
  if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
    return splitDecoded(decodeUtf16(bytes, 2, true), trim);
  }
  // Definition files without a byte-order mark are Windows-era text: each byte is one character.
  Latin1LineSplitter splitter(trim);
  splitter.reserve(std::count(bytes.cbegin(), bytes.cend(), '\n') + 1);
  splitter.feed(bytes.constData(), bytes.size());
  return splitter.finish();
}

std::optional<QStringList> readTrimmedLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    return std::nullopt;
  }
  // Read in blocks small enough to stay in the heap and be reused, so a large file costs its
  // lines only, not one more copy of its bytes. Files with a byte-order mark (rare) are read
  // whole and decoded as before.
  constexpr qsizetype kBlock = qsizetype{64} * 1024;
  QByteArray block(kBlock, Qt::Uninitialized);
  qsizetype got = file.read(block.data(), kBlock);
  if (got < 0) {
    got = 0;
  }
  if (hasByteOrderMark(block.constData(), got)) {
    block.truncate(got);
    block.append(file.readAll());
    return decodeLines(block, true);
  }
  Latin1LineSplitter splitter(true);
  const qint64 size = file.size();
  if (size > 0) {
    // A guess from the usual line length of definitions; the list grows when it is short.
    splitter.reserve(static_cast<qsizetype>(std::min<qint64>(size / 32 + 16, 1 << 24)));
  }
  while (got > 0) {
    splitter.feed(block.constData(), got);
    got = file.read(block.data(), kBlock);
  }
  return splitter.finish();
}

IniLines readLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return {decodeLines(file.readAll()), true};
}

qsizetype splitListHead(QStringView text, QList<QStringView>& out, qsizetype count) {
  out.clear();
  bool inQuotes = false;
  int square = 0;
  int curly = 0;
  int round = 0;
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = text.at(i).unicode();
    if (c == u'"') {
      inQuotes = !inQuotes;
    } else if (inQuotes) {
      continue;
    } else if (c == u'[' || c == u']') {
      square += c == u'[' ? 1 : -1;
    } else if (c == u'{' || c == u'}') {
      curly += c == u'{' ? 1 : -1;
    } else if (c == u'(' || c == u')') {
      round += c == u'(' ? 1 : -1;
    } else if (c == u',' && square == 0 && curly == 0 && round == 0) {
      out.append(text.sliced(start, i - start));
      start = i + 1;
      if (out.size() == count) {
        return start;
      }
    }
  }
  out.append(text.sliced(start));
  return -1;
}

void splitListViews(QStringView text, QList<QStringView>& out) { splitListHead(text, out, -1); }

QStringList splitList(const QString& text) {
  QList<QStringView> views;
  splitListViews(text, views);
  QStringList items;
  items.reserve(views.size());
  for (const QStringView view : views) {
    items.append(view.toString());
  }
  return items;
}

namespace {

bool inSet(QChar c, QStringView set) {
  for (const QChar s : set) {
    if (c == s) {
      return true;
    }
  }
  return false;
}

QStringView trimView(QStringView text, QStringView set) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && inSet(text.at(begin), set)) {
    ++begin;
  }
  while (end > begin && inSet(text.at(end - 1), set)) {
    --end;
  }
  return text.sliced(begin, end - begin);
}

}  // namespace

QString TextPool::get(QStringView text) {
  if (text.isEmpty()) {
    return text.toString();
  }
  if (texts_.size() * 2 >= slots_.size()) {
    grow();
  }
  const std::uint32_t hash = textHash(text);
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  while (slots_[at].entry != 0) {
    const Slot slot = slots_[at];
    if (slot.hash == hash && sameText(text, texts_[slot.entry - 1])) {
      return texts_[slot.entry - 1];
    }
    at = (at + 1) & mask;
  }
  texts_.push_back(text.toString());
  slots_[at] = Slot{hash, static_cast<std::uint32_t>(texts_.size())};
  return texts_.back();
}

const TextPool::LabelList* TextPool::labelList(QStringView text) const {
  for (const auto& [source, labels] : labelLists_) {
    if (source.size() == text.size() && QStringView(source) == text) {
      return &labels;
    }
  }
  return nullptr;
}

void TextPool::keepLabelList(QStringView text, const LabelList& labels) {
  // Distinct long label texts are few; past the bound the lists are simply built again.
  constexpr std::size_t kMaxLists = 16;
  if (labelLists_.size() < kMaxLists) {
    labelLists_.emplace_back(text.toString(), labels);
  }
}

void TextPool::grow() {
  const std::size_t size = std::max<std::size_t>(slots_.size() * 2, 256);
  std::vector<Slot> slots(size);
  for (const Slot slot : slots_) {
    if (slot.entry == 0) {
      continue;
    }
    std::size_t at = slot.hash & (size - 1);
    while (slots[at].entry != 0) {
      at = (at + 1) & (size - 1);
    }
    slots[at] = slot;
  }
  slots_ = std::move(slots);
}

QString trimChars(QStringView text, QStringView set) { return trimView(text, set).toString(); }

QString unquote(QStringView text) { return trimView(text.trimmed(), u"\"").toString(); }

QString stripBraces(QStringView text) { return trimView(text.trimmed(), u"{} ").toString(); }

bool isBraced(QStringView text) {
  const QStringView t = text.trimmed();
  return t.size() >= 2 && t.startsWith(u'{') && t.endsWith(u'}');
}

QString braceInside(QStringView text) {
  const QStringView t = text.trimmed();
  return t.sliced(1, t.size() - 2).trimmed().toString();
}

std::optional<int> parseInt(QStringView text) {
  const QStringView t = text.trimmed();
  qsizetype i = 0;
  if (i < t.size() && t.at(i) == u'+') {
    ++i;
  }
  bool negative = false;
  if (i < t.size() && t.at(i) == u'-') {
    negative = true;
    ++i;
  }
  if (i == t.size()) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (; i < t.size(); ++i) {
    const char16_t c = t.at(i).unicode();
    if (c < u'0' || c > u'9') {
      return std::nullopt;
    }
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{std::numeric_limits<int>::max()} + 1) {
      return std::nullopt;
    }
  }
  if (negative) {
    value = -value;
  }
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<double> parseDouble(QStringView text) {
  QStringView t = text.trimmed();
  if (t.endsWith(u'.')) {
    t.chop(1);
  }
  if (t.startsWith(u'+')) {
    t = t.sliced(1);
  }
  if (t.isEmpty()) {
    return std::nullopt;
  }
  std::string ascii;
  ascii.reserve(static_cast<std::size_t>(t.size()));
  for (QChar c : t) {
    // from_chars would also take "nan(...)"; only the bare words are numbers here.
    if (c.unicode() >= 128 || c == u'(') {
      return std::nullopt;
    }
    ascii.push_back(static_cast<char>(c.unicode()));
  }
  double value = 0.0;
  const char* first = ascii.data();
  const char* last = first + ascii.size();
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ptr != last) {
    return std::nullopt;
  }
  if (ec == std::errc::result_out_of_range) {
    // Out-of-range text still names a number: overflow is infinite, underflow is zero.
    return std::strtod(ascii.c_str(), nullptr);
  }
  if (ec != std::errc()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace tk
