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

// Expansions kept for reuse by later lines: a few, holding a bounded number of characters.
constexpr std::size_t kMaxKeptExpansions = 32;
constexpr qsizetype kMaxKeptCharacters = qsizetype(4) << 20;

/// Writes text with every non-overlapping needle replaced by value into out, in one pass. False
/// (out then holds a part) as soon as the result would be longer than most characters.
bool replaceAll(QStringView text, QStringView needle, QStringView value, qsizetype most,
                QString& out) {
  out.clear();
  qsizetype from = 0;
  for (qsizetype at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, from)) {
    if (out.size() + (at - from) + value.size() > most) {
      return false;
    }
    out.append(text.sliced(from, at - from));
    out.append(value);
    from = at + needle.size();
  }
  if (out.size() + (text.size() - from) > most) {
    return false;
  }
  out.append(text.sliced(from));
  return true;
}

}  // namespace

void DefineList::set(const QString& name, const QString& value) {
  forgetExpansions();
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
  forgetExpansions();
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
  forgetExpansions();
}

template <typename Most, typename Took>
bool DefineList::runRounds(QString& text, Most most, Took took) const {
  // Each round replaces the defines in list order. Instead of searching the whole text once per
  // define, the text's dollar signs are matched against the names, which finds the next define
  // that has a reference without a scan per define (long label lists hold few dollar signs).
  QString needle;
  QString next;
  for (int round = 0; round < kMaxExpansionRounds; ++round) {
    bool replaced = false;
    for (qsizetype i = nextReferenced(text, 0); i >= 0; i = nextReferenced(text, i + 1)) {
      const auto& [name, value] = entries_.at(i);
      needle.clear();
      needle.append(u'$');
      needle.append(name);
      if (!replaceAll(text, needle, value, most(), next)) {
        return false;
      }
      took(next.size());
      text.swap(next);
      replaced = true;
    }
    if (!replaced) {
      break;
    }
  }
  return true;
}

DefineList::Expansion DefineList::record(QStringView source) const {
  Expansion e;
  e.source = source.toString();
  QString text = e.source;
  // A replacement past the line limit, or past what is left of the allowance even without the
  // text before the first dollar sign, fails for every line that holds this text.
  qsizetype spent = 0;
  const auto most = [&spent, this] {
    return std::min(kMaxExpandedLength, std::max<qsizetype>(allowance_ - spent, -1));
  };
  const auto took = [&spent, &e](qsizetype length) {
    spent += length;
    e.steps.push_back(length);
  };
  if (!runRounds(text, most, took)) {
    e.fails = true;
    return e;
  }
  e.changed = !e.steps.empty();
  if (e.changed) {
    e.result = std::move(text);
  }
  return e;
}

const DefineList::Expansion& DefineList::expansionOf(QStringView source) {
  for (const Expansion& e : expansions_) {
    if (e.source.size() == source.size() && QStringView(e.source) == source) {
      return e;
    }
  }
  Expansion e = record(source);
  const qsizetype characters = e.source.size() + e.result.size();
  if (expansions_.size() >= kMaxKeptExpansions ||
      expansionCharacters_ + characters > kMaxKeptCharacters) {
    forgetExpansions();
  }
  expansionCharacters_ += characters;
  expansions_.push_back(std::move(e));
  return expansions_.back();
}

void DefineList::forgetExpansions() {
  expansions_.clear();
  expansionCharacters_ = 0;
}

bool DefineList::expand(QString& text) {
  if (entries_.isEmpty()) {
    return true;
  }
  const qsizetype first = text.indexOf(u'$');
  if (first < 0) {
    return true;
  }
  const qsizetype limit = std::max(text.size(), kMaxExpandedLength);
  if (text.size() > kMaxExpandedLength) {
    // A line this long is its own limit; it is expanded on its own.
    const auto most = [limit, this] { return std::min(limit, allowance_); };
    const auto took = [this](qsizetype length) { allowance_ -= length; };
    return runRounds(text, most, took);
  }
  // The replacements only ever touch the text from the first dollar sign on; the limits count the
  // whole line, so each recorded step is checked again with the part before it.
  const Expansion& e = expansionOf(QStringView(text).sliced(first));
  for (const qsizetype step : e.steps) {
    const qsizetype grown = first + step;
    if (grown > limit || grown > allowance_) {
      return false;
    }
    allowance_ -= grown;
  }
  if (e.fails) {
    return false;
  }
  if (e.changed) {
    text.truncate(first);
    text.append(e.result);
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
