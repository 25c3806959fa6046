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
// (chunk commands, queries, framing decisions, signatures, config errors and page reads).
TEST(DumpTuneCommsTest, CommandFromAnyFolderAndBuilderWriteTheGoldenDocument) {
  // The repository is found from the program's folder when the working folder is elsewhere.
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("tunecomms.json"));
  const auto r = test::runCli({QStringLiteral("dump-tunecomms"), out}, dir.path());
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QByteArray golden = test::readFile(test::dataPath(QStringLiteral("dump-tunecomms.json")));
  EXPECT_EQ(test::readFile(out), golden);

  const EcuDefinition d = IniParser().parse(test::dataPath(QStringLiteral("tunefields.ini")));
  const QByteArray image = test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  const PageImages pages{
      {1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
  EXPECT_EQ(serialize(tuneCommsVectors(d, pages)) + '\n', golden);
}

// A fake repository with our definition, entered as the working folder.
class FakeRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() != nullptr) {
      GTEST_SKIP() << "the program's folder would lead to the real repository";
    }
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("tests/data")));
    QFile::copy(test::dataPath(QStringLiteral("tunefields.ini")),
                root.filePath(QStringLiteral("tests/data/tunefields.ini")));
    saved = QDir::currentPath();
    QDir::setCurrent(root.filePath(QStringLiteral("tests")));
  }
  void TearDown() override {
    if (!saved.isEmpty()) {
      QDir::setCurrent(saved);
    }
  }

  QTemporaryDir root;
  QString saved;
};

TEST_F(FakeRepositoryTest, FindsTheRootAboveTheWorkingFolder) {
  EXPECT_EQ(findRepositoryRoot({root.filePath(QStringLiteral("tests/data"))}),
            QDir(root.path()).absolutePath());
  QTemporaryDir elsewhere;
  EXPECT_FALSE(findRepositoryRoot({elsewhere.path()}).has_value());
}

TEST_F(FakeRepositoryTest, MissingOrMisshapenImageFailsWithoutOutput) {
  const QString imagePath = root.filePath(QStringLiteral("tests/data/tuneimg-synthetic.bin"));
  const QString out = root.filePath(QStringLiteral("out.json"));
  const std::pair<int, QByteArray> cases[] = {
      {-1, "ERROR: no such file: " + imagePath.toUtf8() + "\n"},
      {929, "ERROR: image has 1 trailing bytes beyond the declared pages\n"},
      {100, "ERROR: image too short: page 1 needs 288 bytes at 0, image is 100\n"},
      {900, "ERROR: image too short: page 3 needs 128 bytes at 800, image is 900\n"},
  };
  for (const auto& [size, message] : cases) {
    SCOPED_TRACE(size);
    if (size >= 0) {
      QFile f(imagePath);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(size, '\0'));
    }
    int code = 0;
    EXPECT_EQ(test::captureStdio([&] { code = dumpTuneComms(out); }).err, message);
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(QFile::exists(out));
  }
}

TEST(DumpTuneCommsRootTest, NoRepositoryAnywhere) {
  if (QCoreApplication::instance() != nullptr) {
    GTEST_SKIP() << "the program's folder would lead to the real repository";
  }
  QTemporaryDir elsewhere;
  const QString saved = QDir::currentPath();
  QDir::setCurrent(elsewhere.path());
  int code = 0;
  const test::Captured c = test::captureStdio(
      [&] { code = dumpTuneComms(elsewhere.filePath(QStringLiteral("x.json"))); });
  QDir::setCurrent(saved);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(c.err,
            QByteArrayLiteral("ERROR: V2 repo root with tests/data/tunefields.ini not found\n"));
}

}  // namespace
}  // namespace tk::conformance
