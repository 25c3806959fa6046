#include "conformance/dump_tunecomms.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

// In a fake repository holding only the definition, and then outside of any.
TEST(DumpTuneCommsTest, FindsTheRepositoryAboveTheWorkingFolderAndFailsWithoutOutput) {
  if (QCoreApplication::instance() != nullptr) {
    GTEST_SKIP() << "the program's folder would lead to the real repository";
  }
  QTemporaryDir root;
  QTemporaryDir elsewhere;
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("tests/data")));
  QFile::copy(test::dataPath(QStringLiteral("tunefields.ini")),
              root.filePath(QStringLiteral("tests/data/tunefields.ini")));
  EXPECT_EQ(findRepositoryRoot({root.filePath(QStringLiteral("tests/data"))}),
            QDir(root.path()).absolutePath());
  const QString image = root.filePath(QStringLiteral("tests/data/tuneimg-synthetic.bin"));
  const QString out = root.filePath(QStringLiteral("out.json"));
  const QString saved = QDir::currentPath();
  const struct {
    const QTemporaryDir& folder;
    int imageSize;  // -1: no image
    QByteArray error;
  } cases[] = {
      {root, -1, "ERROR: no such file: " + image.toUtf8() + "\n"},
      {root, 929, "ERROR: image has 1 trailing bytes beyond the declared pages\n"},
      {elsewhere, 0, "ERROR: V2 repo root with tests/data/tunefields.ini not found\n"},
  };
  for (const auto& c : cases) {
    if (c.imageSize >= 0) {
      QFile f(image);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(c.imageSize, '\0'));
    }
    QDir::setCurrent(c.folder.path());
    int code = 0;
    EXPECT_EQ(test::captureStdio([&] { code = dumpTuneComms(out); }).err, c.error);
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(QFile::exists(out));
  }
  QDir::setCurrent(saved);
}

}  // namespace
}  // namespace tk::conformance
