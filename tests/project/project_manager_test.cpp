#include "project/project_manager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "conformance/conformance_io.h"
#include "project/tune_file.h"
#include "support/test_support.h"
#include "tune/field_codec.h"

namespace tk::project {
namespace {

// A one-page definition small enough to spell its new tune file out by hand.
const char kTinyIni[] =
    "[MegaTune]\n   signature = \"tiny 1\"\n[Constants]\n   nPages = 1\n   pageSize = 8\npage = 1\n"
    "   warm = scalar, U08, 0, \"C\", 1, -40, -40, 215, 0\n"
    "   mode = bits, U08, 1, [0:1], \"off\", \"on\"\n"
    "   grid = array, U08, 2, [2x2], \"%\", 0.5, 0, 0, 100, 1\n   label = string, ASCII, 6, 2\n";

class ProjectManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const QString& name) const { return dir_.filePath(name); }

  void writeText(const QString& file, const QByteArray& text) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

  QString tinyIni() {
    const QString ini = path("src/tiny.ini");
    writeText(ini, kTinyIni);
    return ini;
  }

  template <typename Fn>
  QString errorOf(Fn fn) {
    try {
      fn();
    } catch (const ProjectError& e) {
      return QString::fromUtf8(e.what());
    }
    ADD_FAILURE() << "no ProjectError raised";
    return QString();
  }

  // A project folder holding the synthetic definition as its copy and a legacy tune file with
  // only the synthetic raw image's pages.
  QString legacyProject(const QString& name) {
    const QString folder = path(name);
    QDir().mkpath(folder);
    QFile::copy(test::dataPath(QStringLiteral("tunefields.ini")), folder + "/mainController.ini");
    const EcuDefinition definition =
        readProjectDefinition(test::dataPath(QStringLiteral("tunefields.ini")), IniSettings());
    const std::optional<PageImages> pages = conformance::sliceRawImage(
        definition, test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin"))));
    EXPECT_TRUE(pages.has_value());
    Tune legacy;
    legacy.signature = QStringLiteral("legacy signature");
    legacy.lastSaved = QStringLiteral("2025-01-01T00:00:00.000Z");
    legacy.pages = *pages;
    writeText(folder + "/p.tkproj", "{\"name\": \"legacy\"}");
    writeTuneFile(folder + "/p.tktune", legacy);
    return folder + "/p.tkproj";
  }

  QTemporaryDir dir_;
};

TEST(ProjectPathsTest, ExtensionIsReplacedOrAppended) {
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/b/Car.tkproj")), QStringLiteral("/a/b/Car.tktune"));
  EXPECT_EQ(settingsPathFor(QStringLiteral("/a/b/Car.tkproj")),
            QStringLiteral("/a/b/Car.tksettings"));
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/b.c/Car")), QStringLiteral("/a/b.c/Car.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("C:\\x.y\\Car")), QStringLiteral("C:\\x.y\\Car.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("Car.v2.tkproj")), QStringLiteral("Car.v2.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/.hidden")), QStringLiteral("/a/.tktune"));
}

// The string constant "label" gets its length item "2" as units, as the reader defines it.
TEST_F(ProjectManagerTest, CreateWritesFolderLayoutAndExactTuneFile) {
  ProjectManager manager;
  int opened = 0;
  int saved = 0;
  manager.setProjectOpenedObserver([&] { ++opened; });
  manager.setSavedObserver([&] { ++saved; });
  const QString folder = path("new/deeper");
  manager.createProject(QStringLiteral("Car"), tinyIni(), folder);

  EXPECT_EQ(opened, 1);
  EXPECT_EQ(saved, 1);
  EXPECT_EQ(manager.projectPath(), folder + "/Car.tkproj");
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), QByteArray(kTinyIni));
  ASSERT_NE(manager.project(), nullptr);
  const ProjectFile& project = *manager.project();
  EXPECT_EQ(project.name, QStringLiteral("Car"));
  EXPECT_EQ(project.iniFilePath, folder + "/mainController.ini");
  const QRegularExpression stamp(
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
  EXPECT_TRUE(stamp.match(project.createdAt).hasMatch()) << project.createdAt.toStdString();
  EXPECT_EQ(project.lastModified, project.createdAt);
  EXPECT_EQ(readProjectFile(manager.projectPath()), project);

  const QByteArray expected =
      "{\n  \"fields\": [\n"
      "    {\n      \"name\": \"warm\",\n      \"units\": \"C\",\n      \"digits\": 0,\n"
      "      \"scalarValue\": -40\n    },\n"
      "    {\n      \"name\": \"mode\",\n      \"units\": \"\",\n      \"digits\": 0,\n"
      "      \"enumValue\": \"off\",\n      \"bitsRawValue\": 0\n    },\n"
      "    {\n      \"name\": \"grid\",\n      \"units\": \"%\",\n      \"digits\": 1,\n"
      "      \"arrayValues\": [\n        0,\n        0,\n        0,\n        0\n      ],\n"
      "      \"rows\": 2,\n      \"cols\": 2\n    },\n"
      "    {\n      \"name\": \"label\",\n      \"units\": \"2\",\n      \"digits\": 0,\n"
      "      \"stringValue\": \"\"\n    }\n  ],\n  \"signature\": \"tiny 1\",\n  \"nPages\": 1,\n"
      "  \"lastSaved\": \"" +
      project.lastModified.toLatin1() + "\",\n  \"writeTimestamp\": \"0001-01-01T00:00:00\"\n}";
  EXPECT_EQ(test::readFile(folder + "/Car.tktune"), expected);
  EXPECT_FALSE(QFileInfo::exists(folder + "/Car.tksettings"));
}

TEST_F(ProjectManagerTest, CreateFailures) {
  ProjectManager manager;
  const QString missing = path("none.ini");
  EXPECT_EQ(errorOf([&] { manager.createProject(QStringLiteral("P"), missing, path("p")); }),
            QStringLiteral("INI file not found: ") + missing);
  // The folder cannot be made where a file stands: the copy fails.
  writeText(path("blocker"), "x");
  const QString ini = tinyIni();
  EXPECT_EQ(errorOf([&] { manager.createProject(QStringLiteral("P"), ini, path("blocker")); }),
            QStringLiteral("Cannot copy INI into project folder: ") + ini);
  EXPECT_EQ(manager.project(), nullptr);
}

TEST_F(ProjectManagerTest, CreateInFolderHoldingTheDefinitionItselfKeepsIt) {
  const QString folder = path("p");
  writeText(folder + "/mainController.ini", kTinyIni);
  ProjectManager manager;
  manager.createProject(QStringLiteral("P"), folder + "/mainController.ini", folder);
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), QByteArray(kTinyIni));
  EXPECT_EQ(manager.definition()->Signature, QStringLiteral("tiny 1"));
}

TEST_F(ProjectManagerTest, OpenRoundTripsACreatedProject) {
  ProjectManager created;
  created.createProject(QStringLiteral("Car"), tinyIni(), path("p"));
  created.setValue(QStringLiteral("warm"), 0, 85);
  created.saveProject();

  ProjectManager manager;
  int opened = 0;
  manager.setProjectOpenedObserver([&] { ++opened; });
  manager.openProject(created.projectPath());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(*manager.project(), *created.project());
  EXPECT_EQ(*manager.tune(), *created.tune());
  EXPECT_EQ(manager.getValue(QStringLiteral("warm")), 85.0);
  EXPECT_FALSE(manager.isModified());
}

TEST_F(ProjectManagerTest, EmptyProjectFileOpensWithDefaultsAndFreshTune) {
  const QString folder = path("p");
  writeText(folder + "/mainController.ini", kTinyIni);
  writeText(folder + "/x.tkproj", "{}");
  ProjectManager manager;
  manager.openProject(folder + "/x.tkproj");
  EXPECT_EQ(manager.project()->name, QStringLiteral("New Project"));
  EXPECT_EQ(manager.project()->iniFilePath, folder + "/mainController.ini");
  ASSERT_NE(manager.tune(), nullptr);
  EXPECT_EQ(manager.tune()->fields.size(), 4);
  EXPECT_EQ(manager.getValue(QStringLiteral("warm")), -40.0);
  // Opening writes nothing.
  EXPECT_FALSE(QFileInfo::exists(folder + "/x.tktune"));
}

TEST_F(ProjectManagerTest, DefinitionIsFoundBesideAMovedProject) {
  const QString folder = path("moved");
  writeText(folder + "/custom.ini", kTinyIni);
  writeText(folder + "/x.tkproj", "{\"iniFilePath\": \"D:\\\\old place\\\\custom.ini\"}");
  ProjectManager manager;
  manager.openProject(folder + "/x.tkproj");
  EXPECT_EQ(manager.definition()->Signature, QStringLiteral("tiny 1"));
  // Only the copy named mainController.ini replaces the recorded path.
  EXPECT_EQ(manager.project()->iniFilePath, QStringLiteral("D:\\old place\\custom.ini"));

  const QString elsewhere = tinyIni();
  writeText(folder + "/y.tkproj", QByteArray("{\"iniFilePath\": \"") + elsewhere.toUtf8() + "\"}");
  manager.openProject(folder + "/y.tkproj");
  EXPECT_EQ(manager.project()->iniFilePath, elsewhere);
}

TEST_F(ProjectManagerTest, OpenFailuresKeepThePreviousProject) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("First"), tinyIni(), path("first"));

  const QString missing = path("none.tkproj");
  EXPECT_EQ(errorOf([&] { manager.openProject(missing); }),
            QStringLiteral("Project file not found: ") + missing);

  const QString folder = path("bad");
  writeText(folder + "/a.tkproj", "{\"iniFilePath\": \"/nowhere/engine.ini\"}");
  EXPECT_EQ(errorOf([&] { manager.openProject(folder + "/a.tkproj"); }),
            QStringLiteral("Referenced INI file not found: /nowhere/engine.ini"));
  writeText(folder + "/b.tkproj", "{}");
  EXPECT_EQ(errorOf([&] { manager.openProject(folder + "/b.tkproj"); }),
            QStringLiteral("Referenced INI file not found: "));

  writeText(folder + "/mainController.ini", kTinyIni);
  writeText(folder + "/c.tkproj", "{}");
  writeText(folder + "/c.tktune", "{\"pages\": {\"1x\": \"\"}}");
  EXPECT_EQ(errorOf([&] { manager.openProject(folder + "/c.tkproj"); }),
            QStringLiteral("Failed to parse tune file: non-numeric page key"));
  writeText(folder + "/d.tkproj", "{}");
  writeText(folder + "/d.tksettings", "[]");
  EXPECT_EQ(errorOf([&] { manager.openProject(folder + "/d.tkproj"); }),
            QStringLiteral("Failed to parse settings file: not a JSON object"));

  EXPECT_EQ(manager.project()->name, QStringLiteral("First"));
  EXPECT_EQ(manager.definition()->Signature, QStringLiteral("tiny 1"));
}

TEST_F(ProjectManagerTest, LegacyTuneIsUpgradedAndSaved) {
  const QString projectPath = legacyProject(QStringLiteral("legacy"));
  ProjectManager manager;
  std::optional<LegacyTuneUpgradePrompt> asked;
  manager.setUpgradePromptCallback([&](LegacyTuneUpgradePrompt& prompt) { asked = prompt; });
  manager.openProject(projectPath);

  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->pageCount, 3);
  const EcuDefinition& definition = *manager.definition();
  int constants = 0;
  for (const PageGroup& group : definition.Pages) {
    constants += static_cast<int>(group.Fields.size());
  }
  EXPECT_EQ(asked->constantCount, constants);
  EXPECT_EQ(asked->tunePath, tunePathFor(projectPath));

  const Tune& tune = *manager.tune();
  const Tune decoded = decodePages(*tune.pages, definition);
  EXPECT_EQ(tune.fields, decoded.fields);
  EXPECT_FALSE(tune.fields.isEmpty());
  EXPECT_EQ(tune.signature, QStringLiteral("legacy signature"));
  // Saved after the upgrade: the file now holds the fields and still the pages.
  const Tune onDisk = readTuneFile(tunePathFor(projectPath));
  EXPECT_EQ(onDisk.fields, tune.fields);
  EXPECT_TRUE(onDisk.pages.has_value());
  EXPECT_EQ(onDisk.lastSaved, manager.project()->lastModified);
}

TEST_F(ProjectManagerTest, LegacyUpgradeWithoutSaveWritesNothing) {
  const QString projectPath = legacyProject(QStringLiteral("legacy"));
  const QByteArray before = test::readFile(tunePathFor(projectPath));
  ProjectManager manager;
  manager.setUpgradePromptCallback(
      [](LegacyTuneUpgradePrompt& prompt) { prompt.saveAfterUpgrade = false; });
  manager.openProject(projectPath);
  EXPECT_FALSE(manager.tune()->fields.isEmpty());
  EXPECT_EQ(manager.tune()->lastSaved, QStringLiteral("2025-01-01T00:00:00.000Z"));
  EXPECT_EQ(test::readFile(tunePathFor(projectPath)), before);
}

TEST_F(ProjectManagerTest, RefusedLegacyUpgradeFailsAndKeepsPreviousProject) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("First"), tinyIni(), path("first"));
  const QString projectPath = legacyProject(QStringLiteral("legacy"));
  manager.setUpgradePromptCallback([](LegacyTuneUpgradePrompt& prompt) { prompt.accept = false; });
  try {
    manager.openProject(projectPath);
    ADD_FAILURE() << "no error";
  } catch (const UpgradeCancelledError& e) {
    EXPECT_STREQ(e.what(), "Legacy tune upgrade was cancelled by user.");
  }
  EXPECT_EQ(manager.project()->name, QStringLiteral("First"));
  EXPECT_EQ(manager.tune()->signature, QStringLiteral("tiny 1"));
}

TEST_F(ProjectManagerTest, MathChannelsBecomeChannelsGaugesAndDatalogFields) {
  const QString folder = path("p");
  writeText(folder + "/mainController.ini", kTinyIni);
  writeText(folder + "/m.tkproj",
            R"({"mathChannels": [
                 {"name": "boost", "units": "kPa", "expression": "map - 100", "addGauge": true,
                  "gaugeTitle": "Boost", "gaugeMax": 250, "logDecimalPlaces": 1},
                 {"name": "count", "expression": "rpm / 60", "addDatalogField": true,
                  "logValueFormat": "int", "logFieldName": "Count"},
                 {"name": "quiet", "expression": "1", "addDatalogField": false},
                 {"name": "", "expression": "2"}]})");
  ProjectManager manager;
  manager.openProject(folder + "/m.tkproj");
  const EcuDefinition& definition = *manager.definition();

  const ConstantDef* boost = definition.OutputChannels.find(QStringLiteral("boost"));
  ASSERT_NE(boost, nullptr);
  EXPECT_EQ(boost->DataType, QStringLiteral("F32"));
  EXPECT_EQ(boost->Expression, QStringLiteral("map - 100"));
  EXPECT_EQ(boost->Units, QStringLiteral("kPa"));
  EXPECT_EQ(definition.OutputChannels.size(), 3u);

  const GaugeDef* gauge = definition.Gauges.find(QStringLiteral("MathGaugeboost"));
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->Channel, QStringLiteral("boost"));
  EXPECT_EQ(gauge->Title, QStringLiteral("Boost"));
  EXPECT_EQ(gauge->Max, 250.0);
  EXPECT_EQ(gauge->Category, QStringLiteral("Math Channels"));
  EXPECT_EQ(definition.Gauges.size(), 1u);

  ASSERT_EQ(definition.DatalogEntries.size(), 2);
  EXPECT_EQ(definition.DatalogEntries[0].ChannelName, QStringLiteral("boost"));
  EXPECT_EQ(definition.DatalogEntries[0].Format, QStringLiteral("%.1f"));
  EXPECT_EQ(definition.DatalogEntries[0].Category, QStringLiteral("Math Channels"));
  EXPECT_EQ(definition.DatalogEntries[1].Label, QStringLiteral("Count"));
  EXPECT_EQ(definition.DatalogEntries[1].Format, QStringLiteral("%d"));
}

TEST_F(ProjectManagerTest, SettingsConnectionAndOfflineAreStored) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("Car"), tinyIni(), path("p"));
  manager.setSettings(
      {{QStringLiteral("b"), QStringLiteral("2")}, {QStringLiteral("a"), QStringLiteral("1")}});
  manager.saveSettings();
  EXPECT_EQ(test::readFile(manager.settingsPath()),
            QByteArray("{\n  \"b\": \"2\",\n  \"a\": \"1\"\n}"));
  manager.setConnection(QStringLiteral("/dev/ttyACM0"), 230400, QStringLiteral("TcpBridge"),
                        QStringLiteral("10.1.2.3"), 29002);
  manager.setWorkOffline(true);

  ProjectManager reopened;
  reopened.openProject(manager.projectPath());
  const ConnectionSettings& c = reopened.project()->connection;
  EXPECT_EQ(c.port, QStringLiteral("/dev/ttyACM0"));
  EXPECT_EQ(c.baudRate, 230400);
  EXPECT_EQ(c.protocol, QStringLiteral("TcpBridge"));
  EXPECT_EQ(c.host, QStringLiteral("10.1.2.3"));
  EXPECT_EQ(c.tcpPort, 29002);
  EXPECT_TRUE(reopened.project()->workOffline);
  const SettingsList sorted = {{QStringLiteral("a"), QStringLiteral("1")},
                               {QStringLiteral("b"), QStringLiteral("2")}};
  EXPECT_EQ(reopened.settings(), sorted);

  // A settings file that cannot be written is not an error.
  QFile::remove(manager.settingsPath());
  QDir().mkpath(manager.settingsPath());
  EXPECT_NO_THROW(manager.saveSettings());
  manager.loadSettings();
  EXPECT_EQ(manager.settings().size(), 2);
}

TEST_F(ProjectManagerTest, SaveStampsTimesAndClearsModified) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("Car"), tinyIni(), path("p"));
  manager.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  manager.setValue(QStringLiteral("grid"), 3, 12.26);
  EXPECT_TRUE(manager.isModified());
  manager.saveProject();
  EXPECT_FALSE(manager.isModified());
  EXPECT_NE(manager.project()->lastModified, QStringLiteral("2000-01-01T00:00:00.000Z"));
  EXPECT_EQ(manager.tune()->lastSaved, manager.project()->lastModified);
  const Tune onDisk = readTuneFile(manager.tunePath());
  // Quantised as stored: 0.5 steps.
  EXPECT_EQ((*onDisk.find(QStringLiteral("grid"))->arrayValues)[3], 12.5);
  EXPECT_EQ(onDisk.lastSaved, manager.project()->lastModified);
}

TEST_F(ProjectManagerTest, FailedSaveLeavesTheTuneFileAsItWas) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("Car"), tinyIni(), path("p"));
  const QString projectFile = manager.projectPath();
  const QByteArray projectBefore = test::readFile(projectFile);
  const QByteArray tuneBefore = test::readFile(manager.tunePath());
  // The project file is written first; a folder in its place stops the save before the tune.
  QFile::remove(projectFile);
  QDir().mkpath(projectFile);
  manager.setValue(QStringLiteral("warm"), 0, 100);
  EXPECT_EQ(errorOf([&] { manager.saveProject(); }),
            QStringLiteral("Cannot write project file: ") + projectFile);
  EXPECT_EQ(test::readFile(manager.tunePath()), tuneBefore);
  EXPECT_TRUE(manager.isModified());
  EXPECT_FALSE(projectBefore.isEmpty());
}

TEST_F(ProjectManagerTest, SaveWithoutProjectDoesNothing) {
  ProjectManager manager;
  int saved = 0;
  manager.setSavedObserver([&] { ++saved; });
  manager.saveProject();
  manager.setWorkOffline(true);
  EXPECT_EQ(saved, 0);
  EXPECT_TRUE(manager.tunePath().isEmpty());
}

}  // namespace
}  // namespace tk::project
