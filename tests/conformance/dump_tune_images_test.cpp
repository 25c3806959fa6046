#include "conformance/dump_tune_images.h"

#include <QtEndian>

#include "conformance/conformance_test_util.h"
#include "definition/ini_parser.h"

namespace tk::conformance {
namespace {

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

class DumpTuneImagesTest : public test::ConformanceTest {
 protected:
  const QString ini_ = test::dataPath(QStringLiteral("tunefields.ini"));
  const QString image_ = test::dataPath(QStringLiteral("tuneimg-synthetic.bin"));
};

TEST_F(DumpTuneImagesTest, CommandsWriteTheWorkedOutDocuments) {
  const QString b = writeFile("b.bin", changedImage(test::readFile(image_)));
  const QString out = path("out");
  const std::pair<std::function<int()>, const char*> cases[] = {
      {[&] { return dumpTuneFields(ini_, image_, out); }, "dump-tunefields-synthetic.json"},
      {[&] { return dumpMsqExport(ini_, image_, out); }, "dump-msq-export-synthetic.msq"},
      {[&] { return dumpTuneDiff(ini_, image_, b, out); }, "dump-tunediff-synthetic.json"}};
  for (const auto& [command, golden] : cases) {
    ASSERT_EQ(run(command), 0) << golden;
    EXPECT_TRUE(io_.err.isEmpty());
    EXPECT_TRUE(test::matchesGolden(test::readFile(out),
                                    QStringLiteral("golden/") + QLatin1String(golden)));
  }
  ASSERT_EQ(run([&] { return dumpTuneDiff(ini_, image_, image_, out); }), 0);
  EXPECT_EQ(test::readFile(out), "{\n  \"count\": 0,\n  \"differences\": []\n}\n");
}

// Inputs are checked in argument order: existence and readability first, then the slicing (the
// three commands share that reading; the diff's second image shows the order).
TEST_F(DumpTuneImagesTest, ImagesThatDoNotMatchThePagesWriteNothing) {
  const QString missing = path("missing.bin");
  const QString shortImage = writeFile("short.bin", "abc");
  const QString out = path("out");
  const QByteArray tooShort = "ERROR: image too short: page 1 needs 288 bytes at 0, image is 3";
  const std::pair<std::function<int()>, QByteArray> cases[] = {
      {[&] { return dumpTuneDiff(ini_, shortImage, missing, out); },
       "ERROR: no such file: " + missing.toUtf8()},
      {[&] { return dumpTuneDiff(ini_, image_, shortImage, out); }, tooShort},
      // Two lines that would make every command write gigabytes from a one-byte image.
      {[&] {
         return dumpMsqExport(writeFile("huge.ini",
                                        "[Constants]\nnPages = 1\npageSize = 1\n"
                                        "page = 1\na = array, U08, 0, [1000x1000]\n"),
                              writeFile("one.bin", "x"), out);
       },
       "ERROR: definition arrays need 4000000 characters of values, more than the 65552 a 1-byte "
       "image allows"}};
  for (const auto& [command, message] : cases) {
    EXPECT_EQ(run(command), 2);
    EXPECT_EQ(io_.err, message + '\n');
  }
  EXPECT_FALSE(QFile::exists(out));
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
  const QList<std::pair<QString, double>> expected = {
      {QStringLiteral("be16"), 0x1234},
      {QStringLiteral("s8"), (-10 - 1) * 0.5},
      {QStringLiteral("f32"), 1.5},
      {QStringLiteral("flags"), 0xF6},  // the whole byte: no bit extraction for channels
      {QStringLiteral("cut16"), 0xAB},  // cut off by the block's end: the byte at its offset
      {QStringLiteral("odd"), 0x12 * 2}};
  EXPECT_EQ(decodeOutputChannels(definition, QByteArray("\x12\x34\xF6\x3F\xC0\x00\x00\xAB", 8)),
            expected);
}

}  // namespace
}  // namespace tk::conformance
