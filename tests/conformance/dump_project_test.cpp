#include "conformance/dump_project.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "conformance/conformance_io.h"
#include "conformance/conformance_test_util.h"
#include "project/tune_file.h"

namespace tk::conformance {
namespace {

class DumpProjectTest : public test::ConformanceTest {
 protected:
  int dump(const QString& project) {
    return run([&] { return dumpProject(project, path("out.json")); });
  }

  const QString ini_ = test::dataPath(QStringLiteral("tunefields.ini"));
  const QString image_ = test::dataPath(QStringLiteral("tuneimg-synthetic.bin"));
};

// A project whose definition path lies elsewhere (its folder's mainController.ini is used), a
// tune with a non-finite value and a repeated name, settings; opening for the dump writes nothing.
TEST_F(DumpProjectTest, DumpsProjectSettingsAndTune) {
  QFile::copy(test::dataPath(QStringLiteral("project/cli.ini")), path("mainController.ini"));
  for (const char* file : {"Dumped.tkproj", "Dumped.tktune", "Dumped.tksettings"}) {
    QFile::copy(test::dataPath(QStringLiteral("project/dumped/") + QLatin1String(file)),
                path(file));
  }
  ASSERT_EQ(dump(path("Dumped.tkproj")), 0) << io_.err.toStdString();
  EXPECT_TRUE(io_.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(test::readFile(path("out.json")),
                                  QStringLiteral("golden/dump-project-dumped.json")));
  EXPECT_EQ(test::readFile(path("Dumped.tktune")),
            test::readFile(test::dataPath(QStringLiteral("project/dumped/Dumped.tktune"))));
}

TEST_F(DumpProjectTest, LegacyTuneIsUpgradedButNotSaved) {
  QFile::copy(ini_, path("mainController.ini"));
  Tune legacy;
  legacy.pages = sliceRawImage(project::readProjectDefinition(ini_, {}), test::readFile(image_));
  ASSERT_TRUE(legacy.pages.has_value());
  project::writeTuneFile(path("L.tktune"), legacy);
  const QByteArray before = test::readFile(path("L.tktune"));
  ASSERT_EQ(dump(writeFile("L.tkproj", "{}")), 0) << io_.err.toStdString();
  EXPECT_EQ(test::readFile(path("L.tktune")), before);
  const QJsonObject tune =
      QJsonDocument::fromJson(test::readFile(path("out.json")))[QStringLiteral("tune")].toObject();
  EXPECT_EQ(tune[QStringLiteral("fieldCount")].toInt(), 48);
  EXPECT_EQ(tune[QStringLiteral("fields")].toObject().size(), 48);
}

TEST_F(DumpProjectTest, LegacyFixtureFromDefinitionAndImage) {
  ASSERT_EQ(run([&] { return dumpProjectLegacy(ini_, image_, path("out.json")); }), 0)
      << io_.err.toStdString();
  EXPECT_TRUE(test::matchesGolden(test::readFile(path("out.json")),
                                  QStringLiteral("golden/dump-project-legacy-synthetic.json")));
}

TEST_F(DumpProjectTest, OpenFailuresPrintOneLineAndWriteNothing) {
  const std::pair<QString, QByteArray> cases[] = {
      {writeFile("bad.tkproj", "[]"), "ERROR: Failed to parse project file: not a JSON object"},
      {writeFile("lost.tkproj", R"({"iniFilePath": "/gone/x.ini"})"),
       "ERROR: Referenced INI file not found: /gone/x.ini"}};
  for (const auto& [project, message] : cases) {
    EXPECT_EQ(dump(project), 2);
    EXPECT_EQ(io_.err, message + '\n');
  }
  writeFile("short.bin", QByteArray(100, '\0'));
  EXPECT_EQ(run([&] { return dumpProjectLegacy(ini_, path("short.bin"), path("out.json")); }), 2);
  EXPECT_EQ(io_.err, "ERROR: image too short: page 1 needs 288 bytes at 0, image is 100\n");
  EXPECT_FALSE(QFile::exists(path("out.json")));
}

}  // namespace
}  // namespace tk::conformance
