#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <map>
#include <memory>

#include "project/project_manager.h"
#include "support/test_support.h"
#include "tune/field_codec.h"

namespace tk::project {
namespace {

using CorpusProjects = std::map<QString, std::unique_ptr<ProjectManager>>;

// A project over every real definition (by file name), created once for the whole suite
// (reading the large definitions dominates the run time); empty when the corpus is absent.
CorpusProjects& corpusProjects() {
  static QTemporaryDir folder;
  static CorpusProjects projects = [] {
    CorpusProjects made;
    const QString corpus = test::corpusDir();
    const QDir inis(corpus + QStringLiteral("/ini"));
    if (corpus.isEmpty()) {
      return made;
    }
    for (const QString& name : inis.entryList({QStringLiteral("*.ini")}, QDir::Files)) {
      auto& manager = made[name] = std::make_unique<ProjectManager>();
      manager->createProject(QStringLiteral("Corpus"), inis.filePath(name), folder.filePath(name));
    }
    return made;
  }();
  return projects;
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

// A value inside the constant's limits that is not a round number, so quantising shows.
double probeValue(const ConstantDef& constant) {
  if (constant.HasMin && constant.HasMax && std::isfinite(constant.Min) &&
      std::isfinite(constant.Max) && constant.Max > constant.Min) {
    return constant.Min + (constant.Max - constant.Min) * 0.37;
  }
  return constant.Translate + constant.Scale * 3.3;
}

class CorpusProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (corpusProjects().empty()) {
      GTEST_SKIP() << "corpus not found beside the checkout";
    }
  }
};

// For every real definition: all-zero pages decode and encode to the same bytes and a decoded
// patterned image re-encodes stably; the last element of every table is stored as quantised and
// the edited tune survives a save and a fresh open.
TEST_F(CorpusProjectTest, EveryDefinitionKeepsItsPagesAndTableEdits) {
  for (auto& [iniName, manager] : corpusProjects()) {
    SCOPED_TRACE(iniName.toStdString());
    const EcuDefinition& definition = *manager->definition();
    const PageImages zeros = encodeTune(Tune(), definition);
    ASSERT_EQ(zeros.size(), definition.NPages);
    EXPECT_EQ(encodeTune(decodePages(zeros, definition), definition), zeros);
    const PageImages first =
        encodeTune(decodePages(patternedImages(definition), definition), definition);
    const Tune again = decodePages(first, definition);
    EXPECT_EQ(encodeTune(again, definition), first);
    EXPECT_EQ(decodePages(encodeTune(again, definition), definition), again);

    int checked = 0;
    for (const auto& [id, table] : definition.Tables) {
      const std::optional<FieldRef> field = manager->findField(table.ZBinVariable);
      const TuneValue* z = manager->tune()->find(table.ZBinVariable);
      if (!field || z == nullptr || !z->arrayValues || z->arrayValues->isEmpty() ||
          field->constant->Type != ConstantType::Array) {
        continue;  // tables over constants this configuration does not declare
      }
      const int last = static_cast<int>(z->arrayValues->size()) - 1;
      const double value = probeValue(*field->constant);
      manager->setValue(table.ZBinVariable, last, value);
      EXPECT_EQ(manager->getValue(table.ZBinVariable, last),
                manager->editor().quantizeValue(*field->constant, value))
          << id.toStdString();
      ++checked;
    }
    EXPECT_GT(checked, 0);
    manager->saveProject();
    ProjectManager reopened;
    reopened.openProject(manager->projectPath());
    EXPECT_EQ(reopened.tune()->fields, manager->tune()->fields);
  }
}

// The load axis and boost limits of this firmware family are scaled by computed channels.
TEST_F(CorpusProjectTest, ComputedChannelsScaleTheFuelLoadAxisAndLimitBoost) {
  const auto found = corpusProjects().find(QStringLiteral("speeduino-202501.ini"));
  if (found == corpusProjects().end()) {
    GTEST_SKIP() << "speeduino-202501.ini not in the corpus";
  }
  TuneEditor editor = found->second->editor().scratchCopy();
  const FieldRef bins = *editor.findField(QStringLiteral("fuelLoadBins"));
  const FieldRef algorithm = *editor.findField(QStringLiteral("algorithm"));
  // The scale and digits name computed channels, which are not constants.
  ASSERT_EQ(bins.constant->ScaleExpression, QStringLiteral("fuelLoadRes"));
  ASSERT_EQ(bins.constant->DigitsExpression, QStringLiteral("fuelDecimalRes"));
  ASSERT_FALSE(editor.findField(QStringLiteral("fuelLoadRes")).has_value());

  PageImages images = encodeTune(Tune(), *editor.definition());
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
    editor.setTune(decodePages(images, *editor.definition()));
    QList<double> expected;
    for (int i = 0; i < 16; ++i) {
      expected.append((10 + 15 * i) * e.resolution);
    }
    EXPECT_EQ(editor.tune()->find(QStringLiteral("fuelLoadBins"))->arrayValues, expected);
    EXPECT_EQ(editor.effectiveDigits(*bins.constant), e.digits);
    EXPECT_EQ(editor.effectiveUnits(*bins.constant), QString::fromUtf8(e.units));
    // Writing the tune back leaves the controller's bytes as they were.
    EXPECT_EQ(editor.pageImages().value(bins.pageNumber).mid(bins.constant->Offset, 16),
              images.value(bins.pageNumber).mid(bins.constant->Offset, 16));
  }

  // boostType 1 (kPa): the limit is 511 and the table stores 2 kPa per step; boostType 0 (duty
  // cycle): the limit is 100.
  editor.setValue(QStringLiteral("boostType"), 0, 1);
  editor.setValue(QStringLiteral("boostTable"), 5, 300);
  editor.setValue(QStringLiteral("boostTable"), 6, 600);
  EXPECT_EQ(editor.getValue(QStringLiteral("boostTable"), 5), 300);
  EXPECT_EQ(editor.getValue(QStringLiteral("boostTable"), 6), 510);
  editor.setValue(QStringLiteral("boostType"), 0, 0);
  editor.setValue(QStringLiteral("boostTable"), 7, 300);
  EXPECT_EQ(editor.getValue(QStringLiteral("boostTable"), 7), 100);
}

}  // namespace
}  // namespace tk::project
