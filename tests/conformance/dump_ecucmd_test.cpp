#include "conformance/dump_ecucmd.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

// The reference document was worked out by hand from the protocol rules; it pins every vector
// (frames, CRC detection per coverage and byte order, each failure message and status, buffer
// reads, console and resync), so the program and the in-process builder must both match it.
TEST(DumpEcuCmdTest, CommandAndBuilderWriteTheGoldenDocument) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("ecucmd.json"));
  const auto r = test::runCli({QStringLiteral("dump-ecucmd"), out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), QStringLiteral("dump-ecucmd.json")));
  EXPECT_TRUE(test::matchesGolden(serialize(ecuCommandVectors()) + '\n',
                                  QStringLiteral("dump-ecucmd.json")));
}

}  // namespace
}  // namespace tk::conformance
