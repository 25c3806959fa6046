#pragma once

#include <QString>
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "definition/text_hash.h"

namespace tk {

/// A map that keeps its entries in order of first insertion; re-inserting a key replaces the
/// value in place, so the key keeps its first position. Keys are compared exactly. The index is
/// an open-addressing table of entry positions hashed with textHash.
template <typename V>
class OrderedMap {
 public:
  using Entry = std::pair<QString, V>;

  /// Stores value under key: replaced in place when present, appended otherwise.
  V& insert(const QString& key, V value) {
    const std::uint32_t hash = textHash(key);
    const std::size_t at = slotOf(key, hash);
    if (at < slots_.size() && slots_[at].entry != 0) {
      V& stored = entries_[slots_[at].entry - 1].second;
      stored = std::move(value);
      return stored;
    }
    entries_.emplace_back(key, std::move(value));
    addToIndex(hash, entries_.size() - 1);
    return entries_.back().second;
  }

  /// The value under key, or nullptr.
  const V* find(const QString& key) const {
    const std::size_t at = slotOf(key, textHash(key));
    return at < slots_.size() && slots_[at].entry != 0 ? &entries_[slots_[at].entry - 1].second
                                                       : nullptr;
  }
  /// The value under key, or nullptr.
  V* find(const QString& key) { return const_cast<V*>(std::as_const(*this).find(key)); }
  /// True when key is present.
  bool contains(const QString& key) const { return find(key) != nullptr; }

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
    slots_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      addToIndex(textHash(entries_[i].first), i);
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

 private:
  /// One slot of the index: the key's hash and its entry's position plus one (0: free).
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t entry = 0;
  };

  /// The slot holding key, or the free slot where it would go; slots_.size() when the index is
  /// empty.
  std::size_t slotOf(const QString& key, std::uint32_t hash) const {
    if (slots_.empty()) {
      return 0;
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (slots_[at].entry != 0) {
      const Slot slot = slots_[at];
      if (slot.hash == hash && sameText(key, entries_[slot.entry - 1].first)) {
        return at;
      }
      at = (at + 1) & mask;
    }
    return at;
  }

  /// Indexes the entry at position under hash (its key not yet indexed), growing the table so
  /// that at most half its slots are taken.
  void addToIndex(std::uint32_t hash, std::size_t position) {
    if ((position + 1) * 2 > slots_.size()) {
      std::vector<Slot> old = std::move(slots_);
      slots_.assign(std::max<std::size_t>(old.size() * 2, 16), Slot{});
      for (const Slot slot : old) {
        if (slot.entry != 0) {
          place(slot);
        }
      }
    }
    place(Slot{hash, static_cast<std::uint32_t>(position + 1)});
  }

  void place(Slot slot) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = slot.hash & mask;
    while (slots_[at].entry != 0) {
      at = (at + 1) & mask;
    }
    slots_[at] = slot;
  }

  std::vector<Entry> entries_;
  std::vector<Slot> slots_;
};

}  // namespace tk
