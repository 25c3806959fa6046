#pragma once

#include <QStringView>
#include <cstdint>
#include <cstring>

namespace tk {

/// A hash of a text's UTF-16 units, eight bytes at a time (a multiply-xorshift mix). The
/// definition's maps hash with it rather than with Qt's seeded hash: on some CPUs that hash takes
/// a vector path whose state slows the short comparisons and hashes that follow it.
inline std::uint32_t textHash(QStringView text) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.utf16());
  std::size_t left = static_cast<std::size_t>(text.size()) * sizeof(char16_t);
  std::uint64_t h = left * kMultiplier;
  while (left >= sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    h = (h ^ word) * kMultiplier;
    h ^= h >> 32;
    bytes += sizeof word;
    left -= sizeof word;
  }
  if (left > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, left);
    h = (h ^ word) * kMultiplier;
  }
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

/// Equal UTF-16 units (no locale, no case folding).
inline bool sameText(QStringView a, QStringView b) {
  // An empty text may have no data pointer at all, which memcmp must not be given.
  return a.size() == b.size() &&
         (a.isEmpty() ||
          std::memcmp(a.utf16(), b.utf16(), static_cast<std::size_t>(a.size()) * 2) == 0);
}

}  // namespace tk
