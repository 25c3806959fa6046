#include "project/project_manager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "conformance/conformance_io.h"
#include "project/project_test_fixture.h"
#include "project/tune_file.h"
#include "support/test_support.h"
#include "tune/field_codec.h"

namespace tk::project {
namespace {

class ProjectManagerTest : public test::ProjectFileFixture {
 protected:
  ProjectManagerTest() : tinyIni_(test::dataPath(QStringLiteral("project/tiny.ini"))) {}

  // A project holding the synthetic definition and a legacy tune file with only the pages of
  // the synthetic raw image.
  QString legacyProject() {
    const QString ini = test::dataPath(QStringLiteral("tunefields.ini"));
    writeText("legacy/mainController.ini", test::readFile(ini));
    Tune legacy;
    legacy.signature = QStringLiteral("legacy signature");
    legacy.lastSaved = QStringLiteral("2025-01-01T00:00:00.000Z");
    legacy.pages = conformance::sliceRawImage(
        readProjectDefinition(ini, IniSettings()),
        test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin"))));
    writeTuneFile(path("legacy/p.tktune"), legacy);
    return writeText("legacy/p.tkproj", "{}");
  }

  const QString tinyIni_;
};

TEST(ProjectPathsTest, ExtensionIsReplacedOrAppended) {
  EXPECT_EQ(settingsPathFor(QStringLiteral("/a/b/Car.tkproj")), "/a/b/Car.tksettings");
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/b.c/Car")), "/a/b.c/Car.tktune");
  EXPECT_EQ(tunePathFor(QStringLiteral("C:\\x.y\\Car")), "C:\\x.y\\Car.tktune");
  EXPECT_EQ(tunePathFor(QStringLiteral("Car.v2.tkproj")), "Car.v2.tktune");
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/.hidden")), "/a/.tktune");
}

// The string constant "label" gets its length item "2" as units, as the reader defines it.
TEST_F(ProjectManagerTest, CreateWritesTheFolderAndACompletedTune) {
  ProjectManager manager;
  QStringList events;
  manager.setProjectOpenedObserver([&] { events.append(QStringLiteral("opened")); });
  manager.setSavedObserver([&] { events.append(QStringLiteral("saved")); });
  const QString folder = path("new/deeper");
  manager.createProject(QStringLiteral("Car"), tinyIni_, folder);
  EXPECT_EQ(events.join(u' '), "saved opened");
  EXPECT_EQ(manager.projectPath(), folder + "/Car.tkproj");
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), test::readFile(tinyIni_));
  const QString created = manager.project()->createdAt;
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[\\d:]{8}\\.\\d{3}Z$"))
                  .match(created)
                  .hasMatch());
  // The files with the creation time and the folder written as placeholders.
  const auto placeholders = [&](QByteArray text) {
    return text.replace(created.toUtf8(), "SAVE-TIME").replace(folder.toUtf8(), "FOLDER");
  };
  EXPECT_TRUE(test::matchesGolden(placeholders(test::readFile(manager.projectPath())),
                                  "golden/project-new-car.tkproj"));
  EXPECT_TRUE(test::matchesGolden(placeholders(test::readFile(folder + "/Car.tktune")),
                                  "golden/project-new-tiny.tktune"));
  EXPECT_FALSE(QFileInfo::exists(folder + "/Car.tksettings"));
  // A folder already holding the definition as its copy keeps it.
  manager.createProject(QStringLiteral("Again"), folder + "/mainController.ini", folder);
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), test::readFile(tinyIni_));

  ProjectManager failing;
  EXPECT_EQ(errorOf([&] { failing.createProject(QStringLiteral("P"), path("none"), folder); }),
            "INI file not found: " + path("none"));
  // The folder cannot be made where a file stands: the copy fails.
  const QString blocker = writeText("blocker", "x");
  EXPECT_EQ(errorOf([&] { failing.createProject(QStringLiteral("P"), tinyIni_, blocker); }),
            "Cannot copy INI into project folder: " + tinyIni_);
  EXPECT_EQ(failing.project(), nullptr);
  // A tune that cannot be written (here a folder in its place) leaves neither a project file
  // nor the definition copy this call made: a new attempt finds nothing in its way.
  const QString halfway = path("halfway");
  QDir().mkpath(halfway + "/P.tktune");
  EXPECT_EQ(errorOf([&] { failing.createProject(QStringLiteral("P"), tinyIni_, halfway); }),
            "Cannot write tune file: " + halfway + "/P.tktune");
  EXPECT_EQ(QDir(halfway).entryList(QDir::Files), QStringList());
}

TEST_F(ProjectManagerTest, OpenFindsTheDefinitionAndTheTune) {
  ProjectManager created;
  created.createProject(QStringLiteral("Car"), tinyIni_, path("p"));
  created.setValue("warm", 0, 85);
  created.saveProject();
  ProjectManager manager;
  int opened = 0;
  manager.setProjectOpenedObserver([&] { ++opened; });
  manager.openProject(created.projectPath());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(*manager.project(), *created.project());
  EXPECT_EQ(*manager.tune(), *created.tune());
  EXPECT_FALSE(manager.isModified());

  // Without a tune file a fresh one is completed (and not written). The copy beside the project
  // file wins over the recorded path, which wins over a file of its name beside the project.
  writeText("moved/mainController.ini", test::readFile(tinyIni_));
  manager.openProject(writeText("moved/x.tkproj", "{\"iniFilePath\": \"/a.ini\"}"));
  EXPECT_EQ(manager.project()->iniFilePath, path("moved/mainController.ini"));
  EXPECT_EQ(manager.getValue("warm"), -40.0);
  EXPECT_FALSE(QFileInfo::exists(path("moved/x.tktune")));
  manager.openProject(
      writeText("far/y.tkproj", "{\"iniFilePath\": \"" + tinyIni_.toUtf8() + "\"}"));
  EXPECT_EQ(manager.project()->iniFilePath, tinyIni_);
  writeText("other/custom.ini", test::readFile(tinyIni_));
  manager.openProject(writeText("other/z.tkproj", R"({"iniFilePath": "D:\\old\\custom.ini"})"));
  EXPECT_EQ(manager.project()->iniFilePath, "D:\\old\\custom.ini");
  EXPECT_EQ(manager.definition()->Signature, "tiny 1");
}

TEST_F(ProjectManagerTest, OpenFailuresKeepThePreviousProject) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("First"), tinyIni_, path("first"));
  EXPECT_EQ(errorOf([&] { manager.openProject(path("none")); }),
            "Project file not found: " + path("none"));
  const QString a = writeText("bad/a.tkproj", R"({"iniFilePath": "/no/e.ini"})");
  EXPECT_EQ(errorOf([&] { manager.openProject(a); }), "Referenced INI file not found: /no/e.ini");
  writeText("bad/mainController.ini", test::readFile(tinyIni_));
  writeText("bad/d.tksettings", "[]");
  const QString d = writeText("bad/d.tkproj", "{}");
  EXPECT_EQ(errorOf([&] { manager.openProject(d); }),
            "Failed to parse settings file: not a JSON object");
  const QString legacy = legacyProject();
  manager.setUpgradePromptCallback([](LegacyTuneUpgradePrompt& prompt) { prompt.accept = false; });
  EXPECT_THROW(manager.openProject(legacy), UpgradeCancelledError);
  EXPECT_STREQ(UpgradeCancelledError().what(), "Legacy tune upgrade was cancelled by user.");
  EXPECT_EQ(manager.project()->name, "First");
  EXPECT_EQ(manager.tune()->signature, "tiny 1");
}

TEST_F(ProjectManagerTest, LegacyTuneIsUpgradedAfterThePrompt) {
  const QString projectPath = legacyProject();
  const QByteArray before = test::readFile(tunePathFor(projectPath));
  ProjectManager manager;
  std::optional<LegacyTuneUpgradePrompt> asked;
  manager.setUpgradePromptCallback([&](LegacyTuneUpgradePrompt& prompt) {
    asked = prompt;
    prompt.saveAfterUpgrade = false;
  });
  manager.openProject(projectPath);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->pageCount, 3);
  EXPECT_EQ(asked->constantCount, 48 + 2);  // page constants and PC variables
  EXPECT_EQ(asked->tunePath, tunePathFor(projectPath));
  const Tune& tune = *manager.tune();
  EXPECT_EQ(tune.fields, decodePages(*tune.pages, *manager.definition()).fields);
  EXPECT_EQ(tune.signature, "legacy signature");
  EXPECT_EQ(tune.lastSaved, "2025-01-01T00:00:00.000Z");
  EXPECT_EQ(test::readFile(tunePathFor(projectPath)), before);
}

TEST_F(ProjectManagerTest, MathChannelsBecomeChannelsGaugesAndDatalogFields) {
  writeText("p/mainController.ini", test::readFile(tinyIni_));
  ProjectManager manager;
  manager.openProject(
      writeText("p/m.tkproj", test::readFile(test::dataPath("project/math-channels.tkproj"))));
  const EcuDefinition& definition = *manager.definition();
  const ConstantDef* boost = definition.OutputChannels.find("boost");
  ASSERT_NE(boost, nullptr);
  EXPECT_EQ(boost->DataType + u' ' + boost->Expression.value_or(QString()), "F32 map - 100");
  EXPECT_EQ(definition.OutputChannels.size(), 3u);
  const GaugeDef* gauge = definition.Gauges.find("MathGaugeboost");
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->Channel + u' ' + gauge->Category, "boost Math Channels");
  EXPECT_EQ(gauge->Max, 250.0);
  EXPECT_EQ(definition.Gauges.size(), 1u);
  ASSERT_EQ(definition.DatalogEntries.size(), 2);
  EXPECT_EQ(definition.DatalogEntries[0].Format, "%.1f");
  EXPECT_EQ(definition.DatalogEntries[1].Label + u' ' + definition.DatalogEntries[1].Format,
            "Count %d");
}

TEST_F(ProjectManagerTest, SavesStampTimesAndAFailedSaveKeepsTheTuneFile) {
  ProjectManager manager;
  int saved = 0;
  manager.setSavedObserver([&] { ++saved; });
  manager.saveProject();  // nothing loaded: nothing done
  manager.setWorkOffline(true);
  manager.setConnection(QString(), 1, QString(), QString(), 2);
  manager.saveSettings();
  manager.createProject(QStringLiteral("Car"), tinyIni_, path("p"));
  manager.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  manager.setValue("grid", 3, 12.26);
  manager.setSettings(
      {{QStringLiteral("b"), QStringLiteral("2")}, {QStringLiteral("a"), QStringLiteral("1")}});
  manager.saveSettings();
  EXPECT_EQ(test::readFile(manager.settingsPath()), "{\n  \"b\": \"2\",\n  \"a\": \"1\"\n}");
  manager.setConnection(QStringLiteral("/dev/ttyACM0"), 230400, QStringLiteral("TcpBridge"),
                        QStringLiteral("10.1.2.3"), 29002);
  manager.setWorkOffline(true);
  EXPECT_FALSE(manager.isModified());
  EXPECT_EQ(saved, 3);
  EXPECT_NE(manager.project()->lastModified, "2000-01-01T00:00:00.000Z");
  EXPECT_EQ(manager.tune()->lastSaved, manager.project()->lastModified);
  ProjectManager reopened;
  reopened.openProject(manager.projectPath());
  EXPECT_EQ(reopened.project()->connection,
            (ConnectionSettings{QStringLiteral("/dev/ttyACM0"), 230400, QStringLiteral("TcpBridge"),
                                QStringLiteral("10.1.2.3"), 29002}));
  EXPECT_TRUE(reopened.project()->workOffline);
  EXPECT_EQ(reopened.settings().size(), 2);  // read back in key order
  manager.setSettings({});
  manager.loadSettings();
  EXPECT_EQ(manager.settings().size(), 2);
  EXPECT_EQ(reopened.getValue("grid", 3), 12.5);  // quantised as stored
  EXPECT_EQ(reopened.tune()->lastSaved, manager.project()->lastModified);

  // The project file is written first; a folder in its place stops the save before the tune.
  // A settings file that cannot be written is not an error.
  const QByteArray tuneBefore = test::readFile(manager.tunePath());
  QFile::remove(manager.projectPath());
  QDir().mkpath(manager.projectPath());
  QFile::remove(manager.settingsPath());
  QDir().mkpath(manager.settingsPath());
  EXPECT_NO_THROW(manager.saveSettings());
  manager.setValue("warm", 0, 100);
  EXPECT_EQ(errorOf([&] { manager.saveProject(); }),
            "Cannot write project file: " + manager.projectPath());
  EXPECT_EQ(test::readFile(manager.tunePath()), tuneBefore);
  EXPECT_TRUE(manager.isModified());
}

}  // namespace
}  // namespace tk::project
