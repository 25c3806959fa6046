#include "definition/ini_read_state.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>

#include "definition/ini_text.h"

namespace tk {
namespace detail {
namespace {

// Define expansion stops after this many rounds, so self-referencing defines terminate.
constexpr int kMaxExpansionRounds = 20;
// A define that expands into several copies of itself doubles the text every round. A line whose
// expansion would grow past this many characters (or past its own length, when it is longer) is
// dropped.
constexpr qsizetype kMaxExpandedLength = qsizetype(1) << 20;
// The characters that all replacements of one read may produce: a fixed allowance plus a multiple
// of what the read's lines hold. Real definitions stay far below it (the largest known needs
// about 30 times its size); a small file cannot make the reader allocate or work without bound
// with defines that stay just under the line limit on many lines.
constexpr qsizetype kExpansionAllowance = qsizetype(16) << 20;
constexpr qsizetype kExpansionPerInputCharacter = 64;

/// The number of non-overlapping occurrences of needle in text.
qsizetype occurrences(const QString& text, const QString& needle) {
  qsizetype count = 0;
  for (qsizetype at = text.indexOf(needle); at >= 0;
       at = text.indexOf(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

void DefineList::set(const QString& name, const QString& value) {
  const auto it = index_.constFind(name);
  if (it != index_.cend()) {
    entries_[*it].second = value;
    return;
  }
  index_.insert(name, entries_.size());
  entries_.append({name, value});
  std::size_t node = 0;
  for (const QChar c : name) {
    std::size_t next = 0;
    for (const auto& [ch, child] : trie_[node].children) {
      if (ch == c.unicode()) {
        next = static_cast<std::size_t>(child);
        break;
      }
    }
    if (next == 0) {
      next = trie_.size();
      trie_[node].children.emplace_back(c.unicode(), static_cast<qsizetype>(next));
      trie_.emplace_back();
    }
    node = next;
  }
  trie_[node].define = entries_.size() - 1;
}

void DefineList::clear() {
  entries_.clear();
  index_.clear();
  trie_.assign(1, TrieNode{});
}

void DefineList::defineLine(const QString& trimmedLine) {
  static const QRegularExpression pattern(QStringLiteral("#define\\s+(\\w+)\\s*=?\\s*(.*)"),
                                          QRegularExpression::UseUnicodePropertiesOption);
  const QRegularExpressionMatch match = pattern.match(trimmedLine);
  if (match.hasMatch()) {
    set(match.captured(1), match.captured(2));
  }
}

qsizetype DefineList::nextReferenced(const QString& text, qsizetype from) const {
  qsizetype best = -1;
  const QChar* data = text.constData();
  const qsizetype n = text.size();
  for (qsizetype at = text.indexOf(u'$'); at >= 0; at = text.indexOf(u'$', at + 1)) {
    std::size_t node = 0;
    for (qsizetype i = at + 1; i < n; ++i) {
      std::size_t next = 0;
      for (const auto& [ch, child] : trie_[node].children) {
        if (ch == data[i].unicode()) {
          next = static_cast<std::size_t>(child);
          break;
        }
      }
      if (next == 0) {
        break;
      }
      node = next;
      const qsizetype define = trie_[node].define;
      if (define >= from && (best < 0 || define < best)) {
        best = define;
      }
    }
  }
  return best;
}

void DefineList::allowExpansionFor(qsizetype inputCharacters) {
  const qsizetype most = std::numeric_limits<qsizetype>::max() / 2 / kExpansionPerInputCharacter;
  allowance_ = kExpansionAllowance + std::min(inputCharacters, most) * kExpansionPerInputCharacter;
}

bool DefineList::expand(QString& text) {
  if (entries_.isEmpty() || !text.contains(u'$')) {
    return true;
  }
  const qsizetype limit = std::max(text.size(), kMaxExpandedLength);
  // Each round replaces the defines in list order. Instead of searching the whole text once per
  // define, the text's dollar signs are matched against the names, which finds the next define
  // that has a reference without a scan per define (long label lists hold few dollar signs).
  QString needle;
  for (int round = 0; round < kMaxExpansionRounds; ++round) {
    bool replaced = false;
    for (qsizetype i = nextReferenced(text, 0); i >= 0; i = nextReferenced(text, i + 1)) {
      const auto& [name, value] = entries_.at(i);
      needle.clear();
      needle.append(u'$');
      needle.append(name);
      // The new length is known before anything is allocated (texts are far below 2^31
      // characters, so the product fits).
      const qsizetype grown =
          text.size() + occurrences(text, needle) * (value.size() - needle.size());
      if (grown > limit || grown > allowance_) {
        return false;
      }
      allowance_ -= grown;
      text.replace(needle, value);
      replaced = true;
    }
    if (!replaced) {
      break;
    }
  }
  return true;
}

void ReadState::closeHelpTopic() {
  if (openHelp && !openHelp->Name.isEmpty()) {
    def.HelpDefinitions.insert(openHelp->Name, *openHelp);
  }
  openHelp.reset();
}

PreparedLine prepareLine(ReadState& state, const QString& line) {
  PreparedLine p;
  QString text = line;
  if (!state.defines.expand(text)) {
    return p;
  }
  const qsizetype eq = text.indexOf(u'=');
  if (eq < 0) {
    return p;
  }
  const QStringView view(text);
  p.hasKey = true;
  p.key = view.left(eq).trimmed().toString();
  QStringView value = view.sliced(eq + 1);
  // Whole-line sections cut the comment at the first semicolon whatever surrounds it, so a
  // semicolon inside quotes or braces ends the value here; key/value sections keep the value whole
  // in that case. Defines are expanded first, so a semicolon a define brings in cuts too.
  const qsizetype semicolon = value.indexOf(u';');
  if (semicolon >= 0) {
    value.truncate(semicolon);
  }
  p.value = value.trimmed().toString();
  p.items = splitList(p.value);
  return p;
}

}  // namespace detail

}  // namespace tk
