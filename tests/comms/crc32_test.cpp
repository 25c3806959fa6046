#include "comms/crc32.h"

#include <gtest/gtest.h>

namespace tk::comms {
namespace {

TEST(Crc32Test, KnownVectorsAndIncrementalUpdates) {
  const QByteArray fox = QByteArrayLiteral("The quick brown fox jumps over the lazy dog");
  EXPECT_EQ(crc32(QByteArray()), 0u);
  EXPECT_EQ(crc32(QByteArrayLiteral("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc32(QByteArray(1, '\0')), 0xD202EF8Du);
  EXPECT_EQ(crc32(fox), 0x414FA339u);
  for (qsizetype split = 0; split <= fox.size(); ++split) {
    Crc32 crc;
    crc.update(fox.left(split));
    crc.update(fox.mid(split));
    EXPECT_EQ(crc.value(), 0x414FA339u) << split;
  }
}

}  // namespace
}  // namespace tk::comms
