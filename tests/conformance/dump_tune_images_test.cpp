#include "conformance/dump_tune_images.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

QString synthetic(const char* name) { return test::dataPath(QString::fromLatin1(name)); }

// Image B of the comparison: image A with a few constants changed (offsets into the whole image;
// page 1 starts at 0, page 2 at 288, page 3 at 800).
QByteArray changedImage(QByteArray image) {
  image[0] = static_cast<char>(150);  // reqFuel 15.7 -> 15.0
  image[23] = 0x6D;                   // injLayout 3 "Sequential" -> 1 "Semi-Sequential"
  image.replace(36, 4, "TUNE");       // tuneName "Synthetic tune" -> "Synthetic TUNE"
  image[50] = 0x02;                   // fuelUnits 1 -> 0, which also rescales injFlow
  image[100] = 0;                     // a byte no constant covers
  const float afr = 14.0F;            // afrTargets element 5 (row 1, column 1): 13.8 -> 14.0
  qToLittleEndian(afr, image.data() + 288 + 328 + 5 * 4);
  qToLittleEndian<quint16>(8210, image.data() + 800 + 6 + 2 * 2);  // progOut[2]: 8209 -> 8210
  qToLittleEndian<quint16>(1, image.data() + 800 + 6 + 15 * 2);    // progOut[15]: 61457 -> 1
  image[800 + 127] = static_cast<char>(0xEF);                      // lastByte 238 -> 239
  return image;
}

class DumpTuneImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    image_ = test::readFile(synthetic("tuneimg-synthetic.bin"));
    ASSERT_EQ(image_.size(), 928);
  }

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  QString writeFile(const char* name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  }

  template <typename F>
  int run(F command) {
    int code = -1;
    captured_ = test::captureStdio([&] { code = command(); });
    return code;
  }

  QTemporaryDir dir_;
  QByteArray image_;
  test::Captured captured_;
};

TEST_F(DumpTuneImagesTest, TuneFieldsMatchesTheReference) {
  const QString out = path("fields.json");
  ASSERT_EQ(run([&] {
              return dumpTuneFields(synthetic("tunefields.ini"), synthetic("tuneimg-synthetic.bin"),
                                    out);
            }),
            0);
  EXPECT_TRUE(captured_.err.isEmpty());
  EXPECT_EQ(test::readFile(out),
            test::readFile(synthetic("golden/dump-tunefields-synthetic.json")));
}

TEST_F(DumpTuneImagesTest, MsqExportMatchesTheReference) {
  const QString out = path("export.msq");
  ASSERT_EQ(run([&] {
              return dumpMsqExport(synthetic("tunefields.ini"), synthetic("tuneimg-synthetic.bin"),
                                   out);
            }),
            0);
  EXPECT_TRUE(captured_.err.isEmpty());
  EXPECT_EQ(test::readFile(out), test::readFile(synthetic("golden/dump-msq-export-synthetic.msq")));
}

TEST_F(DumpTuneImagesTest, TuneDiffMatchesTheReference) {
  const QString b = writeFile("b.bin", changedImage(image_));
  const QString out = path("diff.json");
  ASSERT_EQ(run([&] {
              return dumpTuneDiff(synthetic("tunefields.ini"), synthetic("tuneimg-synthetic.bin"),
                                  b, out);
            }),
            0);
  EXPECT_TRUE(captured_.err.isEmpty());
  EXPECT_EQ(test::readFile(out), test::readFile(synthetic("golden/dump-tunediff-synthetic.json")));
}

TEST_F(DumpTuneImagesTest, EqualImagesHaveNoDifferences) {
  const QString out = path("same.json");
  const QString a = synthetic("tuneimg-synthetic.bin");
  ASSERT_EQ(run([&] { return dumpTuneDiff(synthetic("tunefields.ini"), a, a, out); }), 0);
  EXPECT_EQ(test::readFile(out), "{\n  \"count\": 0,\n  \"differences\": []\n}\n");
}

struct SliceCase {
  const char* name;
  qsizetype length;  // bytes of the synthetic image kept (longer: zero bytes appended)
  const char* message;
};

class DumpTuneImagesSliceTest : public DumpTuneImagesTest,
                                public ::testing::WithParamInterface<SliceCase> {};

TEST_P(DumpTuneImagesSliceTest, EveryCommandRefusesImagesThatDoNotMatchThePages) {
  const SliceCase& c = GetParam();
  QByteArray bad = image_.first(std::min(c.length, image_.size()));
  bad.append(std::max<qsizetype>(0, c.length - image_.size()), '\0');
  const QString ini = synthetic("tunefields.ini");
  const QString good = synthetic("tuneimg-synthetic.bin");
  const QString badPath = writeFile("bad.bin", bad);
  const QString out = path("out");
  const QByteArray expected = QByteArray(c.message) + "\n";

  EXPECT_EQ(run([&] { return dumpTuneFields(ini, badPath, out); }), 2);
  EXPECT_EQ(captured_.err, expected);
  EXPECT_EQ(run([&] { return dumpMsqExport(ini, badPath, out); }), 2);
  EXPECT_EQ(captured_.err, expected);
  EXPECT_EQ(run([&] { return dumpTuneDiff(ini, good, badPath, out); }), 2);
  EXPECT_EQ(captured_.err, expected);
  EXPECT_EQ(run([&] { return dumpTuneDiff(ini, badPath, good, out); }), 2);
  EXPECT_EQ(captured_.err, expected);
  EXPECT_FALSE(QFileInfo::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Images, DumpTuneImagesSliceTest,
    ::testing::Values(
        SliceCase{"OneTrailingByte", 929,
                  "ERROR: image has 1 trailing bytes beyond the declared pages"},
        SliceCase{"ShorterThanPageOne", 100,
                  "ERROR: image too short: page 1 needs 288 bytes at 0, image is 100"},
        SliceCase{"ShortInPageTwo", 500,
                  "ERROR: image too short: page 2 needs 512 bytes at 288, image is 500"},
        SliceCase{"Empty", 0, "ERROR: image too short: page 1 needs 288 bytes at 0, image is 0"}),
    [](const ::testing::TestParamInfo<SliceCase>& param) { return std::string(param.param.name); });

TEST_F(DumpTuneImagesTest, InputFilesAreCheckedInArgumentOrder) {
  const QString ini = synthetic("tunefields.ini");
  const QString image = synthetic("tuneimg-synthetic.bin");
  const QString missing = path("missing.bin");
  const QString out = path("out");
  const QByteArray noSuch = "ERROR: no such file: " + missing.toUtf8() + "\n";

  EXPECT_EQ(run([&] { return dumpTuneFields(missing, image, out); }), 2);
  EXPECT_EQ(captured_.err, noSuch);
  EXPECT_EQ(run([&] { return dumpMsqExport(ini, missing, out); }), 2);
  EXPECT_EQ(captured_.err, noSuch);
  // The missing second image is reported before the first image is sliced.
  const QString shortImage = writeFile("short.bin", "abc");
  EXPECT_EQ(run([&] { return dumpTuneDiff(ini, shortImage, missing, out); }), 2);
  EXPECT_EQ(captured_.err, noSuch);
  EXPECT_EQ(run([&] { return dumpTuneDiff(ini, image, dir_.path(), out); }), 2);
  EXPECT_EQ(captured_.err, "ERROR: cannot read " + dir_.path().toUtf8() + "\n");
  EXPECT_FALSE(QFileInfo::exists(out));

  const QString unwritable = path("none/out");
  const QByteArray cannotWrite = "ERROR: cannot write " + unwritable.toUtf8() + "\n";
  EXPECT_EQ(run([&] { return dumpTuneFields(ini, image, unwritable); }), 2);
  EXPECT_EQ(captured_.err, cannotWrite);
  EXPECT_EQ(run([&] { return dumpMsqExport(ini, image, unwritable); }), 2);
  EXPECT_EQ(captured_.err, cannotWrite);
  EXPECT_EQ(run([&] { return dumpTuneDiff(ini, image, image, unwritable); }), 2);
  EXPECT_EQ(captured_.err, cannotWrite);
}

TEST(DecodeOutputChannelsTest, ReadsDeclaredChannelsAsTheRealtimeReaderDoes) {
  EcuDefinition definition = IniParser().parseBytes(
      "[OutputChannels]\n"
      "   be16   = scalar, U16, 0, \"\", 1, 0\n"
      "   s8     = scalar, S08, 2, \"\", 0.5, -1\n"
      "   f32    = scalar, F32, 3, \"\", 1, 0\n"
      "   flags  = bits,   U08, 2, [1:2]\n"
      "   cut16  = scalar, U16, 7, \"\", 1, 0\n"
      "   odd    = scalar, X12, 0, \"\", 2, 0\n"
      "   beyond = scalar, U08, 8, \"\", 1, 0\n"
      "   calc   = { be16 * 2 }\n",
      QString());
  definition.Endianness = QStringLiteral("BIG");
  const QByteArray block("\x12\x34\xF6\x3F\xC0\x00\x00\xAB", 8);
  const QList<std::pair<QString, double>> values = decodeOutputChannels(definition, block);
  const QList<std::pair<QString, double>> expected = {
      {QStringLiteral("be16"), 0x1234},
      {QStringLiteral("s8"), -10 * 0.5 - 1},
      {QStringLiteral("f32"), 1.5},
      {QStringLiteral("flags"), 0xF6},  // the whole byte: no bit extraction for channels
      {QStringLiteral("cut16"), 0xAB},  // cut off by the block's end: the byte at its offset
      {QStringLiteral("odd"), 0x12 * 2},
  };
  EXPECT_EQ(values, expected);
}

}  // namespace
}  // namespace tk::conformance
