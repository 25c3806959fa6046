#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace tk::comms {

/// Incremental standard reflected CRC-32 (zlib/PNG): 0 for no input, 0xCBF43926 for "123456789".
class Crc32 {
 public:
  /// Continues the running value over more bytes.
  void update(const void* data, std::size_t size);
  void update(const QByteArray& bytes) {
    update(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  /// The CRC of everything fed so far.
  std::uint32_t value() const { return ~state_; }

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

/// CRC-32 of one block.
std::uint32_t crc32(const QByteArray& bytes);
std::uint32_t crc32(const void* data, std::size_t size);

}  // namespace tk::comms
