#pragma once

#include <QHash>
#include <QString>
#include <utility>
#include <vector>

namespace tk {

/// A map that keeps its entries in order of first insertion; re-inserting a key replaces the
/// value in place, so the key keeps its first position. Keys are compared exactly.
template <typename V>
class OrderedMap {
 public:
  using Entry = std::pair<QString, V>;

  /// Stores value under key: replaced in place when present, appended otherwise.
  V& insert(const QString& key, V value) {
    const auto it = index_.constFind(key);
    if (it != index_.cend()) {
      entries_[*it].second = std::move(value);
      return entries_[*it].second;
    }
    index_.insert(key, entries_.size());
    entries_.emplace_back(key, std::move(value));
    return entries_.back().second;
  }

  /// The value under key, or nullptr.
  const V* find(const QString& key) const {
    const auto it = index_.constFind(key);
    return it == index_.cend() ? nullptr : &entries_[*it].second;
  }
  /// The value under key, or nullptr.
  V* find(const QString& key) {
    const auto it = index_.constFind(key);
    return it == index_.cend() ? nullptr : &entries_[*it].second;
  }
  /// True when key is present.
  bool contains(const QString& key) const { return index_.contains(key); }

  /// Removes every entry for which pred(entry) is true, keeping the order of the others.
  template <typename Pred>
  void removeIf(Pred pred) {
    std::vector<Entry> kept;
    kept.reserve(entries_.size());
    for (Entry& e : entries_) {
      if (!pred(std::as_const(e))) {
        kept.push_back(std::move(e));
      }
    }
    entries_ = std::move(kept);
    index_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      index_.insert(entries_[i].first, i);
    }
  }

  /// Entries in order.
  const std::vector<Entry>& entries() const { return entries_; }
  /// Entries in order, values writable (keys must not be changed).
  std::vector<Entry>& entries() { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool isEmpty() const { return entries_.empty(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  bool operator==(const OrderedMap& other) const { return entries_ == other.entries_; }

 private:
  std::vector<Entry> entries_;
  QHash<QString, std::size_t> index_;
};

}  // namespace tk
