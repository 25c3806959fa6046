#include "conformance/basic_vectors.h"

#include "conformance/conformance_test_util.h"

namespace tk::conformance {
namespace {

class BasicVectorsTest : public test::ConformanceTest {};

TEST_F(BasicVectorsTest, CommandsWriteTheWorkedOutDocuments) {
  const QString out = path("out.json");
  ASSERT_EQ(dumpCrc32(out), 0);
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), QStringLiteral("golden/dump-crc32.json")));
  ASSERT_EQ(dumpJsonFmt(out), 0);
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), QStringLiteral("golden/dump-jsonfmt.json")));
}

}  // namespace
}  // namespace tk::conformance
