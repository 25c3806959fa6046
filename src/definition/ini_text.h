#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tk {

/// Lines of a definition file and whether it could be opened.
struct IniLines {
  QStringList lines;
  bool ok = false;
};

/// Decodes bytes (UTF-8, UTF-16 LE/BE by byte-order mark, else Latin-1) and splits at LF, CR and
/// CR LF; text after the last break is a final line when not empty. With trim set every line
/// comes without its surrounding whitespace.
QStringList decodeLines(const QByteArray& bytes, bool trim = false);
/// Reads a file and decodes it as decodeLines(bytes, true) would; nullopt when it cannot be opened.
std::optional<QStringList> readTrimmedLines(const QString& path);
/// Reads and decodes a whole file; ok is false (and no lines) when it cannot be opened.
IniLines readLines(const QString& path);

/// Splits at commas outside double quotes and outside (), [] and {}; items keep spaces and quotes.
QStringList splitList(const QString& text);
/// splitList without copies: the items are views into text, replacing the contents of out.
/// The first count items of splitListViews(text) in out; returns where the text after the
/// count-th separating comma starts, or -1 when the text has no more than count items (out then
/// holds them all; a negative count takes them all). A separating comma leaves no open quote or
/// bracket, so splitting the rest on its own gives the items that follow.
qsizetype splitListHead(QStringView text, QList<QStringView>& out, qsizetype count);
void splitListViews(QStringView text, QList<QStringView>& out);
/// Removes every leading and trailing character that belongs to set.
QString trimChars(QStringView text, QStringView set);
/// Trims, then removes any number of surrounding double quotes.
QString unquote(QStringView text);
/// Trims, then removes surrounding '{', '}' and blanks.
QString stripBraces(QStringView text);
/// True when the trimmed text starts with '{' and ends with '}'.
bool isBraced(QStringView text);
/// The inside of a braced text, trimmed (the text must satisfy isBraced).
QString braceInside(QStringView text);

/// Trimmed decimal int32 with optional '+' then optional '-'; anything else fails.
std::optional<int> parseInt(QStringView text);
/// Trimmed double in fixed or scientific notation (one trailing '.' and one leading '+' allowed,
/// inf/infinity/nan in any case), independent of the locale.
std::optional<double> parseDouble(QStringView text);

/// Hands out one shared copy of each distinct text. Definitions repeat the same labels ("Off",
/// "On", ...) and data types thousands of times; pooled, each is kept once (copies share data).
class TextPool {
 public:
  /// A text equal to text, shared with earlier equal texts; empty texts are not pooled.
  QString get(QStringView text);

  /// Option labels by value, as a bit field's label text gives them.
  using LabelList = QList<std::pair<int, QString>>;
  /// Label texts at least this long are worth keeping whole: a define that expands to tens of
  /// thousands of labels is written after many bit fields, and each then shares one list.
  static constexpr qsizetype kLongLabelText = 4096;
  /// The list kept for a label text equal to text, or nullptr.
  const LabelList* labelList(QStringView text) const;
  /// Keeps labels as the list of text (a long label text); a few such texts are kept per read.
  void keepLabelList(QStringView text, const LabelList& labels);

 private:
  /// One slot of the open-addressing table: the text's hash and its index in texts_ plus one
  /// (0 marks a free slot).
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t entry = 0;
  };
  void grow();

  // The pool hashes with a small function of its own rather than QHash: Qt's seeded hash takes
  // a vector path whose state slows the short comparisons and hashes that follow it.
  std::vector<QString> texts_;
  std::vector<Slot> slots_;
  std::vector<std::pair<QString, LabelList>> labelLists_;
};

/// Item i (0-based) of a list, or an empty text when missing.
inline QString itemAt(const QStringList& items, qsizetype i) {
  return i >= 0 && i < items.size() ? items.at(i) : QString();
}

/// Case-insensitive comparison with an ASCII word. Case folding maps one unit to one, so texts
/// of another length are told apart without the comparison.
inline bool equalsWord(QStringView text, const char* word) {
  const QLatin1String w(word);
  return text.size() == w.size() && text.compare(w, Qt::CaseInsensitive) == 0;
}

/// A trimmed "true" in any case, or "1".
inline bool isBooleanTrue(QStringView value) {
  const QStringView t = value.trimmed();
  return equalsWord(t, "true") || t == QLatin1String("1");
}

}  // namespace tk
