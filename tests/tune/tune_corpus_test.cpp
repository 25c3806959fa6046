#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <map>

#include "definition/ini_parser.h"
#include "support/test_support.h"
#include "tune/field_codec.h"
#include "tune/raw_codec.h"
#include "tune/tune_editor.h"

namespace tk {
namespace {

QStringList corpusDefinitions() {
  const QString dir = test::corpusDir();
  if (dir.isEmpty()) {
    return {};
  }
  QStringList paths;
  const QDir folder(dir + QStringLiteral("/ini"));
  for (const QString& name : folder.entryList({QStringLiteral("*.ini")}, QDir::Files)) {
    paths.append(folder.filePath(name));
  }
  return paths;
}

// Each corpus file is read once for all tests (reading the large ones dominates the run time).
const EcuDefinition& readDefinition(const QString& path) {
  static std::map<QString, EcuDefinition> cache;
  auto it = cache.find(path);
  if (it == cache.end()) {
    IniParseOptions options;
    options.useDefaultSettingGroups = true;
    it = cache.emplace(path, parseIniFile(path, options)).first;
  }
  return it->second;
}

// Deterministic bytes with every value, so all bit patterns of every type occur somewhere.
PageImages patternedImages(const EcuDefinition& definition) {
  PageImages images = encodeTune(Tune(), definition);
  quint32 state = 0x12345678;
  for (QByteArray& page : images) {
    for (char& byte : page) {
      state = state * 1664525U + 1013904223U;
      byte = static_cast<char>(state >> 24);
    }
  }
  return images;
}

int differingBytes(const PageImages& a, const PageImages& b) {
  int count = 0;
  for (auto it = a.cbegin(); it != a.cend(); ++it) {
    const QByteArray other = b.value(it.key());
    for (qsizetype i = 0; i < it->size(); ++i) {
      count += (i >= other.size() || it->at(i) != other.at(i)) ? 1 : 0;
    }
  }
  return count;
}

// All-zero pages decode and encode to the same bytes; a decoded patterned image re-encodes
// stably.
TEST(TuneCorpusTest, PagesSurviveDecodeAndEncode) {
  const QStringList paths = corpusDefinitions();
  if (paths.isEmpty()) {
    GTEST_SKIP() << "corpus not found";
  }
  for (const QString& path : paths) {
    SCOPED_TRACE(QFileInfo(path).fileName().toStdString());
    const EcuDefinition& definition = readDefinition(path);
    const PageImages zeros = encodeTune(Tune(), definition);
    ASSERT_FALSE(zeros.isEmpty());
    ASSERT_EQ(zeros.size(), definition.NPages);
    const Tune tune = decodePages(zeros, definition);
    EXPECT_GT(tune.fields.size(), 0);
    EXPECT_EQ(tune.signature, definition.Signature);
    const PageImages rebuilt = encodeTune(tune, definition);
    ASSERT_EQ(rebuilt.keys(), zeros.keys());
    EXPECT_EQ(differingBytes(zeros, rebuilt), 0);

    const PageImages first =
        encodeTune(decodePages(patternedImages(definition), definition), definition);
    const Tune again = decodePages(first, definition);
    const PageImages second = encodeTune(again, definition);
    EXPECT_EQ(differingBytes(first, second), 0);
    EXPECT_EQ(decodePages(second, definition), again);
  }
}

// The load axis and boost limits of this firmware family are scaled by computed channels.
class ComputedChannelAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString dir = test::corpusDir();
    const QString path = dir + QStringLiteral("/ini/speeduino-202501.ini");
    if (dir.isEmpty() || !QFileInfo::exists(path)) {
      GTEST_SKIP() << "corpus not found";
    }
    definition_ = readDefinition(path);
    editor_.load(definition_, newTune(definition_));
  }

  FieldRef field(const char* name) const {
    const std::optional<FieldRef> ref = editor_.findField(QString::fromLatin1(name));
    EXPECT_TRUE(ref.has_value()) << name;
    return ref.value_or(FieldRef{});
  }

  EcuDefinition definition_;
  TuneEditor editor_;
};

TEST_F(ComputedChannelAttributesTest, FuelLoadAxisDecodesInTheUnitsOfTheLoadAlgorithm) {
  const FieldRef bins = field("fuelLoadBins");
  const FieldRef algorithm = field("algorithm");
  ASSERT_NE(bins.constant, nullptr);
  ASSERT_NE(algorithm.constant, nullptr);
  ASSERT_EQ(bins.constant->Shape, QList<int>{16});
  ASSERT_EQ(bins.constant->DataType, QStringLiteral("U08"));
  // The scale and digits name computed channels, which are not constants.
  EXPECT_EQ(bins.constant->ScaleExpression, QStringLiteral("fuelLoadRes"));
  EXPECT_EQ(bins.constant->DigitsExpression, QStringLiteral("fuelDecimalRes"));
  EXPECT_TRUE(definition_.ExpressionDefinitions.contains(QStringLiteral("fuelLoadRes")));
  EXPECT_FALSE(editor_.findField(QStringLiteral("fuelLoadRes")).has_value());
  EXPECT_EQ(algorithm.constant->BitStart, 0);
  EXPECT_EQ(algorithm.constant->BitEnd, 2);

  PageImages images = encodeTune(Tune(), definition_);
  for (int i = 0; i < 16; ++i) {
    images[bins.pageNumber][bins.constant->Offset + i] = static_cast<char>(10 + 15 * i);
  }
  struct Expect {
    int algorithm;
    double resolution;
    int digits;
    const char* units;
  };
  // Load sources: 0 MAP and 2 IMAP/EMAP read in kPa at 2 per step; 1 TPS and 3 in % at 0.5.
  for (const Expect& e : {Expect{0, 2.0, 0, "kPa"}, Expect{1, 0.5, 1, "% TPS"},
                          Expect{2, 2.0, 0, "%"}, Expect{3, 0.5, 1, "% TPS"}}) {
    SCOPED_TRACE(e.algorithm);
    char& byte = images[algorithm.pageNumber][algorithm.constant->Offset];
    byte = static_cast<char>((static_cast<quint8>(byte) & 0xF8) | e.algorithm);
    editor_.setTune(decodePages(images, definition_));
    const TuneValue* value = editor_.tune()->find(QStringLiteral("fuelLoadBins"));
    ASSERT_NE(value, nullptr);
    QList<double> expected;
    for (int i = 0; i < 16; ++i) {
      expected.append((10 + 15 * i) * e.resolution);
    }
    EXPECT_EQ(value->arrayValues, expected);
    EXPECT_EQ(editor_.effectiveScale(*bins.constant), e.resolution);
    EXPECT_EQ(editor_.effectiveDigits(*bins.constant), e.digits);
    EXPECT_EQ(editor_.effectiveUnits(*bins.constant), QString::fromUtf8(e.units));
    // Writing the tune back leaves the controller's bytes as they were.
    EXPECT_EQ(editor_.pageImages().value(bins.pageNumber).mid(bins.constant->Offset, 16),
              images.value(bins.pageNumber).mid(bins.constant->Offset, 16));
  }
}

TEST_F(ComputedChannelAttributesTest, BoostTableEditsKeepTheirValueUpToTheTypeLimit) {
  const FieldRef table = field("boostTable");
  ASSERT_NE(table.constant, nullptr);
  EXPECT_EQ(table.constant->MaxExpression, QStringLiteral("boostTableLimit"));
  // boostType 1 (kPa): the limit is 511, the table stores 2 kPa per step.
  editor_.setValue(QStringLiteral("boostType"), 0, 1);
  editor_.setValue(QStringLiteral("boostTable"), 5, 300);
  EXPECT_EQ(editor_.getValue(QStringLiteral("boostTable"), 5), 300);
  EXPECT_EQ(editor_.effectiveMax(*table.constant), 511);
  EXPECT_EQ(static_cast<quint8>(
                editor_.pageImages().value(table.pageNumber).at(table.constant->Offset + 5)),
            150);
  editor_.setValue(QStringLiteral("boostTable"), 6, 600);
  EXPECT_EQ(editor_.getValue(QStringLiteral("boostTable"), 6), 510);
  // boostType 0 (duty cycle): the limit is 100.
  editor_.setValue(QStringLiteral("boostType"), 0, 0);
  editor_.setValue(QStringLiteral("boostTable"), 7, 300);
  EXPECT_EQ(editor_.getValue(QStringLiteral("boostTable"), 7), 100);
}

}  // namespace
}  // namespace tk
