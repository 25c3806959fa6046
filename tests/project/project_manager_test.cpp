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
  QString path(const QString& name) const { return dir_.filePath(name); }

  QString writeText(const QString& name, const QByteArray& text) {
    const QString file = path(name);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return file;
  }

  QString tinyIni() { return writeText(QStringLiteral("src/tiny.ini"), kTinyIni); }

  // The message of the ProjectError fn raises; fails the test when it raises nothing.
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
  QString legacyProject() {
    const QString ini = test::dataPath(QStringLiteral("tunefields.ini"));
    const QString folder =
        QFileInfo(writeText(QStringLiteral("legacy/mainController.ini"), test::readFile(ini)))
            .absolutePath();
    Tune legacy;
    legacy.signature = QStringLiteral("legacy signature");
    legacy.lastSaved = QStringLiteral("2025-01-01T00:00:00.000Z");
    legacy.pages = conformance::sliceRawImage(
        readProjectDefinition(ini, IniSettings()),
        test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin"))));
    EXPECT_TRUE(legacy.pages.has_value());
    writeTuneFile(folder + "/p.tktune", legacy);
    return writeText(QStringLiteral("legacy/p.tkproj"), "{\"name\": \"legacy\"}");
  }

  QTemporaryDir dir_;
};

TEST(ProjectPathsTest, ExtensionIsReplacedOrAppended) {
  EXPECT_EQ(settingsPathFor(QStringLiteral("/a/b/Car.tkproj")),
            QStringLiteral("/a/b/Car.tksettings"));
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/b.c/Car")), QStringLiteral("/a/b.c/Car.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("C:\\x.y\\Car")), QStringLiteral("C:\\x.y\\Car.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("Car.v2.tkproj")), QStringLiteral("Car.v2.tktune"));
  EXPECT_EQ(tunePathFor(QStringLiteral("/a/.hidden")), QStringLiteral("/a/.tktune"));
}

// The string constant "label" gets its length item "2" as units, as the reader defines it.
TEST_F(ProjectManagerTest, CreateWritesTheFolderAndACompletedTune) {
  ProjectManager manager;
  QStringList events;
  manager.setProjectOpenedObserver([&] { events.append(QStringLiteral("opened")); });
  manager.setSavedObserver([&] { events.append(QStringLiteral("saved")); });
  const QString folder = path(QStringLiteral("new/deeper"));
  manager.createProject(QStringLiteral("Car"), tinyIni(), folder);

  EXPECT_EQ(events, (QStringList{QStringLiteral("saved"), QStringLiteral("opened")}));
  EXPECT_EQ(manager.projectPath(), folder + "/Car.tkproj");
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), QByteArray(kTinyIni));
  const ProjectFile& project = *manager.project();
  EXPECT_EQ(project.name, QStringLiteral("Car"));
  EXPECT_EQ(project.iniFilePath, folder + "/mainController.ini");
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
          .match(project.createdAt)
          .hasMatch())
      << project.createdAt.toStdString();
  EXPECT_EQ(project.lastModified, project.createdAt);
  EXPECT_EQ(readProjectFile(manager.projectPath()), project);
  const QByteArray tune =
      test::readFile(folder + "/Car.tktune").replace(project.lastModified.toLatin1(), "SAVE-TIME");
  EXPECT_TRUE(test::matchesGolden(tune, QStringLiteral("golden/project-new-tiny.tktune")));
  EXPECT_FALSE(QFileInfo::exists(folder + "/Car.tksettings"));

  // A folder already holding the definition as its copy keeps it.
  manager.createProject(QStringLiteral("Again"), folder + "/mainController.ini", folder);
  EXPECT_EQ(test::readFile(folder + "/mainController.ini"), QByteArray(kTinyIni));
}

TEST_F(ProjectManagerTest, CreateFailuresLeaveNothingLoaded) {
  ProjectManager manager;
  const QString missing = path(QStringLiteral("none.ini"));
  EXPECT_EQ(errorOf([&] { manager.createProject(QStringLiteral("P"), missing, path("p")); }),
            "INI file not found: " + missing);
  // The folder cannot be made where a file stands: the copy fails.
  const QString blocker = writeText(QStringLiteral("blocker"), "x");
  const QString ini = tinyIni();
  EXPECT_EQ(errorOf([&] { manager.createProject(QStringLiteral("P"), ini, blocker); }),
            "Cannot copy INI into project folder: " + ini);
  EXPECT_EQ(manager.project(), nullptr);
}

TEST_F(ProjectManagerTest, OpenFindsTheDefinitionAndTheTune) {
  ProjectManager created;
  created.createProject(QStringLiteral("Car"), tinyIni(), path(QStringLiteral("p")));
  created.setValue(QStringLiteral("warm"), 0, 85);
  created.saveProject();
  ProjectManager manager;
  int opened = 0;
  manager.setProjectOpenedObserver([&] { ++opened; });
  manager.openProject(created.projectPath());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(*manager.project(), *created.project());
  EXPECT_EQ(*manager.tune(), *created.tune());
  EXPECT_FALSE(manager.isModified());

  // Without a tune file a fresh one is completed (and not written); the copy beside the
  // project file wins over the recorded path, a file of the recorded name beside it comes last.
  const QString moved = path(QStringLiteral("moved"));
  writeText(QStringLiteral("moved/mainController.ini"), kTinyIni);
  manager.openProject(writeText(QStringLiteral("moved/x.tkproj"), "{\"iniFilePath\": \"/a.ini\"}"));
  EXPECT_EQ(manager.project()->iniFilePath, moved + "/mainController.ini");
  EXPECT_EQ(manager.tune()->fields.size(), 4);
  EXPECT_EQ(manager.getValue(QStringLiteral("warm")), -40.0);
  EXPECT_FALSE(QFileInfo::exists(moved + "/x.tktune"));
  writeText(QStringLiteral("other/custom.ini"), kTinyIni);
  manager.openProject(writeText(QStringLiteral("other/y.tkproj"),
                                "{\"iniFilePath\": \"D:\\\\old place\\\\custom.ini\"}"));
  EXPECT_EQ(manager.definition()->Signature, QStringLiteral("tiny 1"));
  EXPECT_EQ(manager.project()->iniFilePath, QStringLiteral("D:\\old place\\custom.ini"));
  const QString elsewhere = tinyIni();
  manager.openProject(writeText(QStringLiteral("far/z.tkproj"),
                                "{\"iniFilePath\": \"" + elsewhere.toUtf8() + "\"}"));
  EXPECT_EQ(manager.project()->iniFilePath, elsewhere);
}

TEST_F(ProjectManagerTest, OpenFailuresKeepThePreviousProject) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("First"), tinyIni(), path(QStringLiteral("first")));
  const QString missing = path(QStringLiteral("none.tkproj"));
  EXPECT_EQ(errorOf([&] { manager.openProject(missing); }), "Project file not found: " + missing);
  const QString a = writeText(QStringLiteral("bad/a.tkproj"), "{\"iniFilePath\": \"/no/e.ini\"}");
  EXPECT_EQ(errorOf([&] { manager.openProject(a); }),
            QStringLiteral("Referenced INI file not found: /no/e.ini"));
  writeText(QStringLiteral("bad/mainController.ini"), kTinyIni);
  writeText(QStringLiteral("bad/c.tktune"), "{\"pages\": {\"1x\": \"\"}}");
  const QString c = writeText(QStringLiteral("bad/c.tkproj"), "{}");
  EXPECT_EQ(errorOf([&] { manager.openProject(c); }),
            QStringLiteral("Failed to parse tune file: non-numeric page key"));
  writeText(QStringLiteral("bad/d.tksettings"), "[]");
  const QString d = writeText(QStringLiteral("bad/d.tkproj"), "{}");
  EXPECT_EQ(errorOf([&] { manager.openProject(d); }),
            QStringLiteral("Failed to parse settings file: not a JSON object"));
  const QString legacy = legacyProject();
  manager.setUpgradePromptCallback([](LegacyTuneUpgradePrompt& prompt) { prompt.accept = false; });
  try {
    manager.openProject(legacy);
    ADD_FAILURE() << "no error";
  } catch (const UpgradeCancelledError& e) {
    EXPECT_STREQ(e.what(), "Legacy tune upgrade was cancelled by user.");
  }
  EXPECT_EQ(manager.project()->name, QStringLiteral("First"));
  EXPECT_EQ(manager.tune()->signature, QStringLiteral("tiny 1"));
}

TEST_F(ProjectManagerTest, LegacyTuneIsUpgradedAndSavedUnlessTheAnswerSaysNot) {
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
  qsizetype constants = 0;
  for (const PageGroup& group : manager.definition()->Pages) {
    constants += group.Fields.size();
  }
  EXPECT_EQ(asked->constantCount, constants);
  EXPECT_EQ(asked->tunePath, tunePathFor(projectPath));
  const Tune& tune = *manager.tune();
  EXPECT_EQ(tune.fields, decodePages(*tune.pages, *manager.definition()).fields);
  EXPECT_EQ(tune.signature, QStringLiteral("legacy signature"));
  EXPECT_EQ(tune.lastSaved, QStringLiteral("2025-01-01T00:00:00.000Z"));
  EXPECT_EQ(test::readFile(tunePathFor(projectPath)), before);

  // Without a callback the upgrade goes ahead and the file then holds fields and pages.
  ProjectManager saving;
  saving.openProject(projectPath);
  const Tune onDisk = readTuneFile(tunePathFor(projectPath));
  EXPECT_EQ(onDisk.fields, tune.fields);
  EXPECT_EQ(onDisk.pages, tune.pages);
  EXPECT_EQ(onDisk.lastSaved, saving.project()->lastModified);
}

TEST_F(ProjectManagerTest, MathChannelsBecomeChannelsGaugesAndDatalogFields) {
  writeText(QStringLiteral("p/mainController.ini"), kTinyIni);
  ProjectManager manager;
  manager.openProject(writeText(QStringLiteral("p/m.tkproj"), R"({"mathChannels": [
      {"name": "boost", "units": "kPa", "expression": "map - 100", "addGauge": true,
       "gaugeTitle": "Boost", "gaugeMax": 250, "logDecimalPlaces": 1},
      {"name": "count", "expression": "rpm / 60", "logValueFormat": "int", "logFieldName": "Count"},
      {"name": "quiet", "expression": "1", "addDatalogField": false}]})"));
  const EcuDefinition& definition = *manager.definition();
  const ConstantDef* boost = definition.OutputChannels.find(QStringLiteral("boost"));
  ASSERT_NE(boost, nullptr);
  EXPECT_EQ(boost->DataType, QStringLiteral("F32"));
  EXPECT_EQ(boost->Expression, QStringLiteral("map - 100"));
  EXPECT_EQ(definition.OutputChannels.size(), 3u);
  const GaugeDef* gauge = definition.Gauges.find(QStringLiteral("MathGaugeboost"));
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->Channel, QStringLiteral("boost"));
  EXPECT_EQ(gauge->Max, 250.0);
  EXPECT_EQ(gauge->Category, QStringLiteral("Math Channels"));
  EXPECT_EQ(definition.Gauges.size(), 1u);
  ASSERT_EQ(definition.DatalogEntries.size(), 2);
  EXPECT_EQ(definition.DatalogEntries[0].Format, QStringLiteral("%.1f"));
  EXPECT_EQ(definition.DatalogEntries[1].Label, QStringLiteral("Count"));
  EXPECT_EQ(definition.DatalogEntries[1].Format, QStringLiteral("%d"));
}

TEST_F(ProjectManagerTest, SettingsConnectionAndOfflineAreSaved) {
  ProjectManager manager;
  manager.createProject(QStringLiteral("Car"), tinyIni(), path(QStringLiteral("p")));
  manager.setSettings(
      {{QStringLiteral("b"), QStringLiteral("2")}, {QStringLiteral("a"), QStringLiteral("1")}});
  manager.saveSettings();
  manager.setConnection(QStringLiteral("/dev/ttyACM0"), 230400, QStringLiteral("TcpBridge"),
                        QStringLiteral("10.1.2.3"), 29002);
  manager.setWorkOffline(true);
  ProjectManager reopened;
  reopened.openProject(manager.projectPath());
  ConnectionSettings expected{QStringLiteral("/dev/ttyACM0"), 230400, QStringLiteral("TcpBridge"),
                              QStringLiteral("10.1.2.3"), 29002};
  EXPECT_EQ(reopened.project()->connection, expected);
  EXPECT_TRUE(reopened.project()->workOffline);
  EXPECT_EQ(reopened.settings().size(), 2);

  // A settings file that cannot be written is not an error.
  QFile::remove(manager.settingsPath());
  QDir().mkpath(manager.settingsPath());
  EXPECT_NO_THROW(manager.saveSettings());
}

TEST_F(ProjectManagerTest, SaveStampsTimesAndAFailedSaveKeepsTheTuneFile) {
  ProjectManager manager;
  int saved = 0;
  manager.setSavedObserver([&] { ++saved; });
  manager.saveProject();  // nothing loaded: nothing done
  EXPECT_EQ(saved, 0);
  manager.createProject(QStringLiteral("Car"), tinyIni(), path(QStringLiteral("p")));
  manager.mutableProject()->lastModified = QStringLiteral("2000-01-01T00:00:00.000Z");
  manager.setValue(QStringLiteral("grid"), 3, 12.26);
  EXPECT_TRUE(manager.isModified());
  manager.saveProject();
  EXPECT_FALSE(manager.isModified());
  EXPECT_NE(manager.project()->lastModified, QStringLiteral("2000-01-01T00:00:00.000Z"));
  EXPECT_EQ(manager.tune()->lastSaved, manager.project()->lastModified);
  const Tune onDisk = readTuneFile(manager.tunePath());
  EXPECT_EQ((*onDisk.find(QStringLiteral("grid"))->arrayValues)[3], 12.5);  // quantised
  EXPECT_EQ(onDisk.lastSaved, manager.project()->lastModified);

  // The project file is written first; a folder in its place stops the save before the tune.
  const QByteArray tuneBefore = test::readFile(manager.tunePath());
  QFile::remove(manager.projectPath());
  QDir().mkpath(manager.projectPath());
  manager.setValue(QStringLiteral("warm"), 0, 100);
  EXPECT_EQ(errorOf([&] { manager.saveProject(); }),
            "Cannot write project file: " + manager.projectPath());
  EXPECT_EQ(test::readFile(manager.tunePath()), tuneBefore);
  EXPECT_TRUE(manager.isModified());
  EXPECT_EQ(saved, 2);
}

}  // namespace
}  // namespace tk::project
