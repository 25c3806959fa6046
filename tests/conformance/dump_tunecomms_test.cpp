#include "conformance/dump_tunecomms.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

// The reference document was checked by hand against the transfer rules; it pins every vector
// (chunk commands, queries, framing decisions, signatures, config errors and page reads). The
// program looks for the repository upwards from the working folder (here a folder below it; the
// build folder may lie outside the checkout), then from its own folder.
TEST(DumpTuneCommsTest, CommandAndBuilderWriteTheGoldenDocument) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("tunecomms.json"));
  const auto r =
      test::runCli({QStringLiteral("dump-tunecomms"), out}, test::dataPath(QStringLiteral("msq")));
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), QStringLiteral("dump-tunecomms.json")));
  const EcuDefinition d = IniParser().parse(test::dataPath(QStringLiteral("tunefields.ini")));
  const QByteArray image = test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  const PageImages pages{
      {1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
  EXPECT_TRUE(test::matchesGolden(serialize(tuneCommsVectors(d, pages)) + '\n',
                                  QStringLiteral("dump-tunecomms.json")));
  const QString root = QDir(test::dataPath(QString())).absoluteFilePath(QStringLiteral("../.."));
  EXPECT_EQ(findRepositoryRoot({dir.path(), test::dataPath(QStringLiteral("mlg"))}),
            QDir::cleanPath(root));
  EXPECT_EQ(findRepositoryRoot({dir.path()}), std::nullopt);
}

}  // namespace
}  // namespace tk::conformance
