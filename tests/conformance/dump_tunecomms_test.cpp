#include "conformance/dump_tunecomms.h"

#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tk::conformance {
namespace {

const EcuDefinition& synthetic() {
  static const EcuDefinition d =
      IniParser().parse(test::dataPath(QStringLiteral("tunefields.ini")));
  return d;
}

PageImages imagePages() {
  const QByteArray image = test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  return {{1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
}

const JsonValue& document() {
  static const JsonValue doc = tuneCommsVectors(synthetic(), imagePages());
  return doc;
}

const JsonValue& vector(const char* name) {
  for (const JsonValue& v : document().find(QStringLiteral("vectors"))->elements()) {
    if (v.find(QStringLiteral("name"))->toString() == QLatin1String(name)) {
      return v;
    }
  }
  static const JsonValue none;
  ADD_FAILURE() << "no vector " << name;
  return none;
}

const JsonValue& member(const JsonValue& v, const char* key) {
  static const JsonValue none;
  const JsonValue* m = v.find(QString::fromLatin1(key));
  return m != nullptr ? *m : none;
}

QString text(const JsonValue& v, const char* key) { return member(v, key).toString(); }

QStringList tx(const char* name) {
  QStringList out;
  for (const JsonValue& w : member(vector(name), "tx").elements()) {
    out.append(w.toString());
  }
  return out;
}

TEST(DumpTuneCommsTest, VectorNamesInOrder) {
  QStringList names;
  for (const JsonValue& v : document().find(QStringLiteral("vectors"))->elements()) {
    names.append(v.find(QStringLiteral("name"))->toString());
  }
  const QStringList expected =
      QStringLiteral(
          "chunkcmd-basic chunkcmd-bigendian chunkcmd-pad chunkcmd-mixed chunkcmd-empty-format "
          "chunkcmd-percent-edge version-crc version-noncrc version-crc-timeout version-hex-escape "
          "forcecrc-then-cached signature-q-preferred reset-protocol-cache signature-speeduino-s "
          "signature-short-retry verify-sig-q-match verify-sig-s-match verify-sig-mismatch "
          "configerror-text configerror-whitespace configerror-binary configerror-zero "
          "readpage-default-chunk readpage-cap-chunk readpage-be-chunked readpage-le-chunked "
          "readpage-retry-succeeds writechunk-noncrc console-delegate")
          .split(QLatin1Char(' '));
  EXPECT_EQ(names, expected);
}

TEST(DumpTuneCommsTest, ChunkCommandsFollowTheTemplates) {
  // M, identifier 00 01 (CAN id 0 then 01), offset 16 and count 4 little-endian, the value;
  // CRC-32 of that payload DBD2FE3C.
  EXPECT_EQ(text(vector("chunkcmd-basic"), "frame"),
            QStringLiteral("00 0B 4D 00 01 10 00 04 00 DE AD BE EF DB D2 FE 3C"));
  EXPECT_EQ(text(vector("chunkcmd-bigendian"), "command"),
            QStringLiteral("4D 00 01 01 10 00 04 01 02 03 04"));
  EXPECT_EQ(text(vector("chunkcmd-pad"), "command"),
            QStringLiteral("4D 00 00 00 05 05 00 00 01 00 AA"));
  EXPECT_EQ(text(vector("chunkcmd-mixed"), "command"),
            QStringLiteral("57 80 00 00 07 02 01 02 00 11 22 5C 78 67 31"));
  EXPECT_TRUE(member(vector("chunkcmd-empty-format"), "frame").isNull());
  EXPECT_EQ(text(vector("chunkcmd-percent-edge"), "command"), QStringLiteral("77 01 02"));
}

TEST(DumpTuneCommsTest, QueriesAndFraming) {
  EXPECT_EQ(text(vector("version-crc"), "version"), QStringLiteral("Torvik Simulated ECU 1.0"));
  EXPECT_EQ(tx("version-noncrc"), (QStringList{QStringLiteral("46"), QStringLiteral("56")}));
  EXPECT_TRUE(member(vector("version-crc-timeout"), "version").isNull());
  EXPECT_EQ(tx("version-hex-escape").back(), QStringLiteral("00 02 53 02 3E 41 7D 44"));
  EXPECT_EQ(tx("forcecrc-then-cached"), QStringList{QStringLiteral("46")});
  EXPECT_TRUE(member(vector("forcecrc-then-cached"), "usesCrcFraming").toBool());
  EXPECT_EQ(tx("reset-protocol-cache"), (QStringList{QStringLiteral("46"), QStringLiteral("46")}));
  EXPECT_FALSE(member(vector("reset-protocol-cache"), "afterReset").toBool());
  EXPECT_EQ(text(vector("signature-q-preferred"), "signature"),
            QStringLiteral("speeduino 202501-tk"));
  EXPECT_EQ(text(vector("signature-speeduino-s"), "signature"),
            QStringLiteral("Speeduino 2025.01.6"));
  EXPECT_EQ(tx("signature-short-retry").size(), 3);
  EXPECT_EQ(tx("verify-sig-q-match").size(), 2);
  EXPECT_TRUE(member(vector("verify-sig-s-match"), "match").toBool());
  EXPECT_FALSE(member(vector("verify-sig-mismatch"), "match").toBool());
  EXPECT_EQ(text(vector("configerror-text"), "configError"), QStringLiteral("Sensor fault!"));
  for (const char* name : {"configerror-whitespace", "configerror-binary", "configerror-zero"}) {
    EXPECT_TRUE(member(vector(name), "configError").isNull()) << name;
  }
  EXPECT_EQ(tx("writechunk-noncrc").back(), QStringLiteral("4D 00 01 04 00 02 00 0A 0B"));
  EXPECT_EQ(text(vector("console-delegate"), "reply"), QStringLiteral("engine idle"));
}

TEST(DumpTuneCommsTest, PageReadsReportLengthAndDigest) {
  // SHA-256 of the image's pages 1 and 2 (288 and 512 bytes).
  const QString page1 =
      QStringLiteral("a19f18f32897d7d11b2104b51e0941e99fca733f5313209329a8859af1637625");
  const QString page2 =
      QStringLiteral("ef8f6972c7dde48c718261f6bbbfdc9e1afa0d9e90a2ffc761086a7cac8a0f3c");
  EXPECT_EQ(text(vector("readpage-default-chunk"), "pageSha256"), page2);
  EXPECT_EQ(tx("readpage-default-chunk").size(), 3);  // probe and two chunks of 256
  EXPECT_EQ(member(vector("readpage-cap-chunk"), "pageLength").toInt(), 33000);
  EXPECT_EQ(tx("readpage-cap-chunk").at(2),
            QStringLiteral("00 07 70 00 02 FF 7F E9 00 05 D0 3D 0C"));
  for (const char* name : {"readpage-be-chunked", "readpage-le-chunked"}) {
    EXPECT_EQ(text(vector(name), "pageSha256"), page1) << name;
    EXPECT_EQ(member(vector(name), "pageLength").toInt(), 288) << name;
  }
  EXPECT_TRUE(
      tx("readpage-be-chunked").at(3).startsWith(QStringLiteral("00 07 70 00 01 01 00 00 20")));
  EXPECT_TRUE(
      tx("readpage-le-chunked").at(3).startsWith(QStringLiteral("00 07 70 00 01 00 01 20 00")));
  EXPECT_EQ(tx("readpage-retry-succeeds").size(), 4);
  EXPECT_TRUE(member(vector("readpage-retry-succeeds"), "matchesImage").toBool());
  EXPECT_EQ(text(vector("readpage-retry-succeeds"), "error"), QString());
}

TEST(DumpTuneCommsTest, CommandFromAnyFolderWritesTheGoldenDocument) {
  // The repository is found from the program's folder when the working folder is elsewhere.
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("tunecomms.json"));
  const auto r = test::runCli({QStringLiteral("dump-tunecomms"), out}, dir.path());
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(test::readFile(out),
            test::readFile(test::dataPath(QStringLiteral("dump-tunecomms.json"))));
  EXPECT_EQ(test::readFile(out), serialize(document()) + '\n');
}

// A fake repository with our definition and a given image, entered as the working folder.
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

  void writeImage(const QByteArray& bytes) {
    QFile f(root.filePath(QStringLiteral("tests/data/tuneimg-synthetic.bin")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  test::Captured run(int* code) {
    return test::captureStdio(
        [&] { *code = dumpTuneComms(root.filePath(QStringLiteral("out.json"))); });
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

TEST_F(FakeRepositoryTest, MissingImage) {
  int code = 0;
  const test::Captured c = run(&code);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(c.err, "ERROR: no such file: " +
                       root.filePath(QStringLiteral("tests/data/tuneimg-synthetic.bin")).toUtf8() +
                       "\n");
  EXPECT_FALSE(QFile::exists(root.filePath(QStringLiteral("out.json"))));
}

TEST_F(FakeRepositoryTest, ImageOneByteTooLong) {
  writeImage(QByteArray(928 + 1, '\0'));
  int code = 0;
  EXPECT_EQ(run(&code).err,
            QByteArrayLiteral("ERROR: image has 1 trailing bytes beyond the declared pages\n"));
  EXPECT_EQ(code, 2);
}

TEST_F(FakeRepositoryTest, ImageShorterThanTheFirstPage) {
  writeImage(QByteArray(100, '\0'));
  int code = 0;
  EXPECT_EQ(
      run(&code).err,
      QByteArrayLiteral("ERROR: image too short: page 1 needs 288 bytes at 0, image is 100\n"));
  EXPECT_EQ(code, 2);
}

TEST_F(FakeRepositoryTest, ImageShortInTheLastPage) {
  writeImage(QByteArray(900, '\0'));
  int code = 0;
  EXPECT_EQ(
      run(&code).err,
      QByteArrayLiteral("ERROR: image too short: page 3 needs 128 bytes at 800, image is 900\n"));
  EXPECT_EQ(code, 2);
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
