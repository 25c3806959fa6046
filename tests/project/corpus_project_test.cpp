#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <tuple>

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

// For every real definition: all-zero pages decode and encode to the same bytes; a decoded
// patterned image re-encodes stably, and as the project's tune it survives a save and a fresh
// open.
TEST(CorpusProjectTest, EveryDefinitionKeepsItsPagesAndTune) {
  if (corpusProjects().empty()) {
    GTEST_SKIP() << "corpus not found beside the checkout";
  }
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

    manager->mutableTune()->fields = again.fields;
    manager->saveProject();
    ProjectManager reopened;
    reopened.openProject(manager->projectPath());
    EXPECT_EQ(reopened.tune()->fields, again.fields);
  }
}

// The load axis of this firmware family is scaled by computed channels.
TEST(CorpusProjectTest, ComputedChannelsScaleTheFuelLoadAxis) {
  const auto found = corpusProjects().find("speeduino-202501.ini");
  if (found == corpusProjects().end()) {
    GTEST_SKIP() << "corpus (speeduino-202501.ini) not found beside the checkout";
  }
  TuneEditor editor = found->second->editor().scratchCopy();
  const FieldRef bins = *editor.findField("fuelLoadBins");
  const FieldRef algorithm = *editor.findField("algorithm");
  ASSERT_EQ(bins.constant->ScaleExpression, "fuelLoadRes");  // a computed channel
  PageImages images = encodeTune(Tune(), *editor.definition());
  QByteArray& page = images[bins.pageNumber];
  for (int i = 0; i < 16; ++i) {
    page[bins.constant->Offset + i] = static_cast<char>(10 + 15 * i);
  }
  // Load sources: 0 MAP and 2 IMAP/EMAP read in kPa at 2 per step; 1 TPS and 3 in % at 0.5.
  const std::tuple<double, int, const char*> loads[] = {
      {2.0, 0, "kPa"}, {0.5, 1, "% TPS"}, {2.0, 0, "%"}, {0.5, 1, "% TPS"}};
  for (int source = 0; source < 4; ++source) {
    const auto& [resolution, digits, units] = loads[source];
    char& byte = images[algorithm.pageNumber][algorithm.constant->Offset];
    byte = static_cast<char>((static_cast<quint8>(byte) & 0xF8) | source);
    editor.setTune(decodePages(images, *editor.definition()));
    const QList<double>& values = *editor.tune()->find("fuelLoadBins")->arrayValues;
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(values.at(i), (10 + 15 * i) * resolution) << source;
    }
    EXPECT_EQ(editor.effectiveDigits(*bins.constant), digits);
    EXPECT_EQ(editor.effectiveUnits(*bins.constant), QString::fromUtf8(units));
    // Writing the tune back leaves the controller's bytes as they were.
    EXPECT_EQ(editor.pageImages().value(bins.pageNumber).mid(bins.constant->Offset, 16),
              page.mid(bins.constant->Offset, 16));
  }
}

}  // namespace
}  // namespace tk::project
