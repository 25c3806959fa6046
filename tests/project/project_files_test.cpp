#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <limits>

#include "project/json_document_file.h"
#include "project/project_error.h"
#include "project/project_file.h"
#include "project/settings_file.h"
#include "project/tune_file.h"
#include "support/test_support.h"

namespace tk::project {
namespace {

class ProjectFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  void writeText(const QString& file, const QByteArray& text) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

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

  QTemporaryDir dir_;
};

TEST_F(ProjectFilesTest, DefaultProjectFileBytes) {
  writeProjectFile(path("p.tkproj"), ProjectFile());
  const QByteArray expected =
      "{\n  \"name\": \"New Project\",\n  \"description\": \"\",\n  \"iniFilePath\": \"\",\n"
      "  \"createdAt\": \"0001-01-01T00:00:00\",\n  \"lastModified\": \"0001-01-01T00:00:00\",\n"
      "  \"connection\": {\n    \"port\": \"\",\n    \"baudRate\": 115200,\n"
      "    \"protocol\": \"Serial\",\n    \"host\": \"\",\n    \"tcpPort\": 29001\n  },\n"
      "  \"workOffline\": false,\n  \"tableDisplay\": {\n    \"flipXy\": false,\n"
      "    \"invertX\": false,\n    \"invertY\": false\n  },\n  \"iniSettings\": {\n"
      "    \"flagOverrides\": {},\n    \"settingGroupSelections\": {}\n  },\n"
      "  \"autoHideProjectExplorer\": false,\n  \"tuneComments\": \"\",\n"
      "  \"shortcutOverrides\": [],\n  \"customShortcuts\": [],\n  \"mathChannels\": []\n}";
  EXPECT_EQ(test::readFile(path("p.tkproj")), expected);
}

TEST_F(ProjectFilesTest, OptionalMembersAndNonFiniteNumbersInProjectFile) {
  ProjectFile p;
  p.connection.requestRateHz = 10;
  p.iniSettings.flagOverrides = {{QStringLiteral("CAN_COMMANDS"), true}};
  p.iniSettings.settingGroupSelections = {{QStringLiteral("mcu"), QStringLiteral("mcu_teensy")}};
  p.lastOpenView = LastOpenView{QStringLiteral("Table"), QStringLiteral("veTable1Tbl")};
  p.shortcutOverrides = {
      ShortcutOverride{QStringLiteral("burn"), QStringLiteral("B"), std::nullopt, false, true}};
  p.customShortcuts = {CustomShortcut{QStringLiteral("c1"), QStringLiteral("VE"),
                                      QStringLiteral("V"), QStringLiteral("Alt"),
                                      QStringLiteral("veTable1Tbl"), true}};
  MathChannel m;
  m.name = QStringLiteral("boost");
  m.units = QStringLiteral("kPa");
  m.expression = QStringLiteral("map - 100");
  m.gaugeMin = -std::numeric_limits<double>::infinity();
  m.gaugeMax = 250.5;
  m.gaugeHighCritical = std::numeric_limits<double>::quiet_NaN();
  p.mathChannels = {m};
  writeProjectFile(path("p.tkproj"), p);
  const QByteArray text = test::readFile(path("p.tkproj"));

  EXPECT_TRUE(text.contains("    \"tcpPort\": 29001,\n    \"requestRateHz\": 10\n  },"));
  EXPECT_TRUE(
      text.contains("    \"flagOverrides\": {\n      \"CAN_COMMANDS\": true\n    },\n"
                    "    \"settingGroupSelections\": {\n      \"mcu\": \"mcu_teensy\"\n"));
  EXPECT_TRUE(
      text.contains("  \"tuneComments\": \"\",\n  \"lastOpenView\": {\n"
                    "    \"viewType\": \"Table\",\n    \"viewName\": \"veTable1Tbl\"\n"
                    "  },\n  \"shortcutOverrides\": ["));
  EXPECT_TRUE(
      text.contains("      \"id\": \"burn\",\n      \"key\": \"B\",\n"
                    "      \"isToggle\": false,\n      \"isDisabled\": true\n"));
  EXPECT_TRUE(text.contains("      \"gaugeMin\": \"-Infinity\",\n      \"gaugeMax\": 250.5,\n"));
  EXPECT_TRUE(text.contains("      \"gaugeHighCritical\": \"NaN\",\n"));
  EXPECT_TRUE(
      text.contains("      \"addDatalogField\": true,\n      \"logFieldName\": \"\",\n"
                    "      \"logValueFormat\": \"float\",\n      \"logDecimalPlaces\": 2,\n"));
  EXPECT_FALSE(text.endsWith('\n'));

  const ProjectFile back = readProjectFile(path("p.tkproj"));
  EXPECT_EQ(back.connection, p.connection);
  EXPECT_EQ(back.iniSettings, p.iniSettings);
  EXPECT_EQ(back.lastOpenView, p.lastOpenView);
  EXPECT_EQ(back.shortcutOverrides, p.shortcutOverrides);
  EXPECT_EQ(back.customShortcuts, p.customShortcuts);
  ASSERT_EQ(back.mathChannels.size(), 1);
  EXPECT_EQ(back.mathChannels[0].gaugeMin, -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(back.mathChannels[0].gaugeHighCritical));
  EXPECT_EQ(back.mathChannels[0].gaugeMax, 250.5);
  EXPECT_EQ(back.mathChannels[0].expression, m.expression);
  // Written again, the file is byte-identical.
  writeProjectFile(path("q.tkproj"), back);
  EXPECT_EQ(test::readFile(path("q.tkproj")), text);
}

TEST_F(ProjectFilesTest, EmptyProjectObjectReadsDefaults) {
  writeText(path("p.tkproj"), "{}");
  // The defaults themselves are pinned by the exact bytes of DefaultProjectFileBytes.
  EXPECT_EQ(readProjectFile(path("p.tkproj")), ProjectFile());
}

TEST_F(ProjectFilesTest, MembersOfWrongTypeTakeDefaults) {
  writeText(path("p.tkproj"),
            R"({"name": 5, "connection": {"baudRate": "fast", "tcpPort": 1.5, "port": "COM3"},
                "mathChannels": [7, {"name": "m", "digits": 4, "gaugeMax": "Infinity"}],
                "workOffline": "yes"})");
  const ProjectFile p = readProjectFile(path("p.tkproj"));
  EXPECT_EQ(p.name, QStringLiteral("New Project"));
  EXPECT_EQ(p.connection.baudRate, 115200);
  EXPECT_EQ(p.connection.tcpPort, 29001);
  EXPECT_EQ(p.connection.port, QStringLiteral("COM3"));
  EXPECT_FALSE(p.workOffline);
  ASSERT_EQ(p.mathChannels.size(), 1);
  EXPECT_EQ(p.mathChannels[0].digits, 4);
  EXPECT_EQ(p.mathChannels[0].gaugeMax, std::numeric_limits<double>::infinity());
  EXPECT_EQ(p.mathChannels[0].gaugeCategory, QStringLiteral("Math Channels"));
}

TEST_F(ProjectFilesTest, TuneFileBytesHoldOnlyPresentMembers) {
  Tune tune;
  TuneValue scalar;
  scalar.name = QStringLiteral("reqFuel");
  scalar.units = QStringLiteral("ms");
  scalar.digits = 1;
  scalar.scalarValue = 12.3;
  TuneValue array;
  array.name = QStringLiteral("ve");
  array.digits = 0;
  array.arrayValues = QList<double>{1.5, std::numeric_limits<double>::infinity(), -0.25};
  array.rows = 1;
  array.cols = 3;
  TuneValue bits;
  bits.name = QStringLiteral("mode");
  bits.units = QString();
  bits.enumValue = QStringLiteral("On <&>");
  bits.bitsRawValue = 1;
  TuneValue text;
  text.name = QStringLiteral("vehicle");
  text.stringValue = QStringLiteral("caf\u00e9");
  tune.fields = {scalar, array, bits, text};
  tune.signature = QStringLiteral("speeduino 202501");
  tune.firmwareInfo = QStringLiteral("Speeduino 2025.01");
  tune.nPages = 2;
  tune.lastSaved = QStringLiteral("2026-03-04T05:06:07.089Z");
  tune.pages = PageImages{{2, QByteArray("\x01\x02\xff", 3)}, {10, QByteArray("ab")}};
  writeTuneFile(path("t.tktune"), tune);

  const QByteArray expected =
      "{\n  \"fields\": [\n"
      "    {\n      \"name\": \"reqFuel\",\n      \"units\": \"ms\",\n      \"digits\": 1,\n"
      "      \"scalarValue\": 12.3\n    },\n"
      "    {\n      \"name\": \"ve\",\n      \"digits\": 0,\n      \"arrayValues\": [\n"
      "        1.5,\n        \"Infinity\",\n        -0.25\n      ],\n      \"rows\": 1,\n"
      "      \"cols\": 3\n    },\n"
      "    {\n      \"name\": \"mode\",\n      \"units\": \"\",\n      \"digits\": 0,\n"
      "      \"enumValue\": \"On \\u003C\\u0026\\u003E\",\n      \"bitsRawValue\": 1\n    },\n"
      "    {\n      \"name\": \"vehicle\",\n      \"digits\": 0,\n"
      "      \"stringValue\": \"caf\\u00E9\"\n    }\n  ],\n  \"signature\": \"speeduino 202501\",\n"
      "  \"firmwareInfo\": \"Speeduino 2025.01\",\n  \"nPages\": 2,\n"
      "  \"lastSaved\": \"2026-03-04T05:06:07.089Z\",\n"
      "  \"writeTimestamp\": \"0001-01-01T00:00:00\",\n  \"pages\": {\n    \"2\": \"AQL/\",\n"
      "    \"10\": \"YWI=\"\n  }\n}";
  EXPECT_EQ(test::readFile(path("t.tktune")), expected);

  const Tune back = readTuneFile(path("t.tktune"));
  EXPECT_EQ(back, tune);
  writeTuneFile(path("u.tktune"), back);
  EXPECT_EQ(test::readFile(path("u.tktune")), expected);
}

TEST_F(ProjectFilesTest, TuneReaderDefaultsAndLenientElements) {
  writeText(path("t.tktune"),
            R"({"fields": [{"name": "a", "arrayValues": [1, "x", "NaN", null, "-Infinity"]},
                           3, {"name": "b", "rows": 2.5, "bitsRawValue": 6}]})");
  const Tune tune = readTuneFile(path("t.tktune"));
  ASSERT_EQ(tune.fields.size(), 2);
  const QList<double>& a = *tune.fields[0].arrayValues;
  ASSERT_EQ(a.size(), 5);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(a[1], 0.0);
  EXPECT_TRUE(std::isnan(a[2]));
  EXPECT_EQ(a[3], 0.0);
  EXPECT_EQ(a[4], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(tune.fields[0].digits, 0);
  EXPECT_FALSE(tune.fields[0].units.has_value());
  EXPECT_FALSE(tune.fields[1].rows.has_value());
  EXPECT_EQ(tune.fields[1].bitsRawValue, 6);
  EXPECT_EQ(tune.nPages, 0);
  EXPECT_EQ(tune.lastSaved, QStringLiteral("0001-01-01T00:00:00"));
  EXPECT_FALSE(tune.pages.has_value());
  EXPECT_FALSE(tune.firmwareInfo.has_value());
}

TEST_F(ProjectFilesTest, SettingsFileKeepsStringMembers) {
  writeSettingsFile(path("s.tksettings"), {{QStringLiteral("zoom"), QStringLiteral("1.5")},
                                           {QStringLiteral("last"), QStringLiteral("ve")}});
  EXPECT_EQ(test::readFile(path("s.tksettings")),
            QByteArray("{\n  \"zoom\": \"1.5\",\n  \"last\": \"ve\"\n}"));
  writeText(path("t.tksettings"), R"({"b": "2", "n": 3, "a": "1", "o": {}})");
  // Qt's parser gives members in key order.
  const SettingsList expected = {{QStringLiteral("a"), QStringLiteral("1")},
                                 {QStringLiteral("b"), QStringLiteral("2")}};
  EXPECT_EQ(readSettingsFile(path("t.tksettings")), expected);
}

TEST_F(ProjectFilesTest, ReadErrorsNameContextAndPath) {
  const QString missing = path("missing.tkproj");
  EXPECT_EQ(errorOf([&] { readProjectFile(missing); }),
            QStringLiteral("Cannot open project file: ") + missing);
  EXPECT_EQ(errorOf([&] { readTuneFile(missing); }),
            QStringLiteral("Cannot open tune file: ") + missing);
  EXPECT_EQ(errorOf([&] { readSettingsFile(missing); }),
            QStringLiteral("Cannot open settings file: ") + missing);

  writeText(path("array.json"), "[1, 2]");
  EXPECT_EQ(errorOf([&] { readSettingsFile(path("array.json")); }),
            QStringLiteral("Failed to parse settings file: not a JSON object"));
  EXPECT_EQ(errorOf([&] { readProjectFile(path("array.json")); }),
            QStringLiteral("Failed to parse project file: not a JSON object"));

  writeText(path("broken.json"), "{\"name\": ");
  const QString parse = errorOf([&] { readTuneFile(path("broken.json")); });
  EXPECT_TRUE(parse.startsWith(QStringLiteral("Failed to parse tune file: ")))
      << parse.toStdString();
  EXPECT_GT(parse.size(), QStringLiteral("Failed to parse tune file: ").size());

  writeText(path("pages.tktune"), R"({"fields": [], "pages": {"1": "AA==", "a1": "AA=="}})");
  EXPECT_EQ(errorOf([&] { readTuneFile(path("pages.tktune")); }),
            QStringLiteral("Failed to parse tune file: non-numeric page key"));
}

TEST_F(ProjectFilesTest, UnwritablePathLeavesNothingAndNamesContext) {
  const QString folder = path("taken");
  ASSERT_TRUE(QDir().mkpath(folder));
  EXPECT_EQ(errorOf([&] { writeTuneFile(folder, Tune()); }),
            QStringLiteral("Cannot write tune file: ") + folder);
  EXPECT_TRUE(QFileInfo(folder).isDir());
  const QString noFolder = path("absent/p.tkproj");
  EXPECT_EQ(errorOf([&] { writeProjectFile(noFolder, ProjectFile()); }),
            QStringLiteral("Cannot write project file: ") + noFolder);
  EXPECT_FALSE(QFileInfo::exists(noFolder));
}

// A write that runs out of room half-way (here the file-size limit of the process, which root
// cannot bypass as it can permissions) must leave the previous file exactly as it was.
TEST_F(ProjectFilesTest, SaveFailingPartWayKeepsOldFileByteIdentical) {
  const QString file = path("p.tkproj");
  ProjectFile old;
  old.name = QStringLiteral("Old");
  writeProjectFile(file, old);
  const QByteArray before = test::readFile(file);
  ASSERT_GT(before.size(), 200);

  ProjectFile bigger;
  bigger.description = QString(4000, QLatin1Char('x'));
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 128;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const QString message = errorOf([&] { writeProjectFile(file, bigger); });
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(message, QStringLiteral("Cannot write project file: ") + file);
  EXPECT_EQ(test::readFile(file), before);
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("p.tkproj")});
}

// The replacement keeps what the old file was to the system: its permissions, and a link stays a
// link to the replaced file.
TEST_F(ProjectFilesTest, ReplacementKeepsPermissionsAndLinks) {
  const QString file = path("p.tktune");
  writeText(file, "old");
  ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
  const QFile::Permissions mode = QFile::permissions(file);
  ASSERT_TRUE(QFile::link(file, path("link.tktune")));
  ASSERT_TRUE(replaceFileAtomically(path("link.tktune"), "new"));
  EXPECT_TRUE(QFileInfo(path("link.tktune")).isSymLink());
  EXPECT_EQ(test::readFile(file), "new");
  EXPECT_EQ(QFile::permissions(file), mode);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::System),
            (QStringList{"link.tktune", "p.tktune"}));
}

}  // namespace
}  // namespace tk::project
