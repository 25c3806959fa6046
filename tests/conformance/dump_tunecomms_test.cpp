#include "conformance/dump_tunecomms.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

// The reference document was checked by hand against the transfer rules; it pins every vector
// (chunk commands, queries, framing decisions, signatures, config errors and page reads). The
// program finds the repository from its own folder when the working folder is elsewhere.
TEST(DumpTuneCommsTest, CommandFromAnyFolderAndBuilderWriteTheGoldenDocument) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("tunecomms.json"));
  const auto r = test::runCli({QStringLiteral("dump-tunecomms"), out}, dir.path());
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), QStringLiteral("dump-tunecomms.json")));
  const EcuDefinition d = IniParser().parse(test::dataPath(QStringLiteral("tunefields.ini")));
  const QByteArray image = test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  const PageImages pages{
      {1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
  EXPECT_TRUE(test::matchesGolden(serialize(tuneCommsVectors(d, pages)) + '\n',
                                  QStringLiteral("dump-tunecomms.json")));
}

}  // namespace
}  // namespace tk::conformance
