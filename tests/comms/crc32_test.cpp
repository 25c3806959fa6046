#include "comms/crc32.h"

#include <gtest/gtest.h>

namespace tk::comms {
namespace {

TEST(Crc32Test, KnownVectors) {
  EXPECT_EQ(crc32(QByteArray()), 0u);
  EXPECT_EQ(crc32(QByteArrayLiteral("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc32(QByteArray(1, '\0')), 0xD202EF8Du);
  EXPECT_EQ(crc32(QByteArrayLiteral("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
  EXPECT_EQ(crc32(QByteArrayLiteral("Q")), 0xCE6E8EEFu);
}

TEST(Crc32Test, IncrementalEqualsOneShot) {
  const QByteArray data = QByteArrayLiteral("The quick brown fox jumps over the lazy dog");
  for (qsizetype split = 0; split <= data.size(); ++split) {
    Crc32 crc;
    crc.update(data.left(split));
    crc.update(data.mid(split));
    EXPECT_EQ(crc.value(), crc32(data)) << split;
  }
}

}  // namespace
}  // namespace tk::comms
