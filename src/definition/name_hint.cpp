#include "definition/name_hint.h"

#include <algorithm>

namespace tk {
namespace {

// Whether the two texts are at most one edit apart; both are already lower-cased.
bool oneEditApart(const QString& a, const QString& b) {
  const qsizetype shorter = std::min(a.size(), b.size());
  const qsizetype longer = std::max(a.size(), b.size());
  if (longer - shorter > 1) {
    return false;
  }
  qsizetype head = 0;
  while (head < shorter && a.at(head) == b.at(head)) {
    ++head;
  }
  qsizetype tail = 0;
  while (tail < shorter - head && a.at(a.size() - 1 - tail) == b.at(b.size() - 1 - tail)) {
    ++tail;
  }
  // What is left between the common head and tail is at most one character on each side.
  return a.size() - head - tail <= 1 && b.size() - head - tail <= 1;
}

}  // namespace

std::optional<QString> similarName(const QString& name, const QStringList& names) {
  if (name.isEmpty()) {
    return std::nullopt;
  }
  const QString wanted = name.toLower();
  for (const QString& candidate : names) {
    if (candidate != name && candidate.compare(name, Qt::CaseInsensitive) == 0) {
      return candidate;
    }
  }
  for (const QString& candidate : names) {
    if (candidate != name && oneEditApart(wanted, candidate.toLower())) {
      return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace tk
