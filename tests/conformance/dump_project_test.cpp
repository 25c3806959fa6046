#include "conformance/dump_project.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "conformance/conformance_io.h"
#include "project/tune_file.h"
#include "support/test_support.h"
#include "tune/field_codec.h"

namespace tk::conformance {
namespace {

class DumpProjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  void writeText(const QString& file, const QByteArray& text) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

  int dump(const QString& project, const QString& out) {
    int code = -1;
    captured_ = test::captureStdio([&] { code = dumpProject(project, out); });
    return code;
  }

  int dumpLegacy(const QString& ini, const QString& image, const QString& out) {
    int code = -1;
    captured_ = test::captureStdio([&] { code = dumpProjectLegacy(ini, image, out); });
    return code;
  }

  QTemporaryDir dir_;
  test::Captured captured_;
};

TEST_F(DumpProjectTest, DumpsProjectSettingsAndTune) {
  QFile::copy(test::dataPath(QStringLiteral("project/cli.ini")), path("mainController.ini"));
  writeText(path("Dumped.tkproj"),
            R"({"name": "Dumped", "description": "d", "iniFilePath": "C:\\Tunes\\car.ini",
                "createdAt": "2026-01-01T00:00:00Z", "lastModified": "2026-01-02T00:00:00Z",
                "connection": {"port": "COM3", "requestRateHz": 20},
                "iniSettings": {"flagOverrides": {"B": false, "A": true}},
                "shortcutOverrides": [{"id": "burn", "isDisabled": true}]})");
  writeText(path("Dumped.tktune"),
            R"({"fields": [{"name": "reqFuel", "units": "ms", "digits": 1, "scalarValue": 8.5},
                           {"name": "ve", "arrayValues": [1, "NaN"], "rows": 1, "cols": 2}],
                "signature": "cli-test 1.0", "nPages": 2, "lastSaved": "x"})");
  writeText(path("Dumped.tksettings"), R"({"k": "v"})");
  const QByteArray tuneBefore = test::readFile(path("Dumped.tktune"));

  ASSERT_EQ(dump(path("Dumped.tkproj"), path("out.json")), 0) << captured_.err.toStdString();
  EXPECT_EQ(test::readFile(path("out.json")),
            "{\n"
            "  \"project\": {\n"
            "    \"name\": \"Dumped\",\n"
            "    \"description\": \"d\",\n"
            "    \"iniFileName\": \"mainController.ini\",\n"
            "    \"createdAt\": \"2026-01-01T00:00:00Z\",\n"
            "    \"lastModified\": \"2026-01-02T00:00:00Z\",\n"
            "    \"workOffline\": false,\n"
            "    \"autoHideProjectExplorer\": false,\n"
            "    \"tuneComments\": \"\",\n"
            "    \"connection\": {\n"
            "      \"port\": \"COM3\",\n"
            "      \"baudRate\": 115200,\n"
            "      \"protocol\": \"Serial\",\n"
            "      \"host\": \"\",\n"
            "      \"tcpPort\": 29001\n"
            "    },\n"
            "    \"tableDisplay\": {\n"
            "      \"flipXy\": false,\n"
            "      \"invertX\": false,\n"
            "      \"invertY\": false\n"
            "    },\n"
            "    \"iniSettings\": {\n"
            "      \"flagOverrides\": {\n"
            "        \"A\": true,\n"
            "        \"B\": false\n"
            "      },\n"
            "      \"settingGroupSelections\": {}\n"
            "    },\n"
            "    \"lastOpenView\": null,\n"
            "    \"shortcutOverrides\": [\n"
            "      {\n"
            "        \"id\": \"burn\",\n"
            "        \"key\": null,\n"
            "        \"modifiers\": null,\n"
            "        \"isToggle\": null,\n"
            "        \"isDisabled\": true\n"
            "      }\n"
            "    ],\n"
            "    \"customShortcuts\": [],\n"
            "    \"mathChannels\": []\n"
            "  },\n"
            "  \"projectSettings\": {\n"
            "    \"k\": \"v\"\n"
            "  },\n"
            "  \"tune\": {\n"
            "    \"signature\": \"cli-test 1.0\",\n"
            "    \"firmwareInfo\": null,\n"
            "    \"nPages\": 2,\n"
            "    \"lastSaved\": \"x\",\n"
            "    \"writeTimestamp\": \"0001-01-01T00:00:00\",\n"
            "    \"fieldCount\": 2,\n"
            "    \"fields\": {\n"
            "      \"reqFuel\": {\n"
            "        \"name\": \"reqFuel\",\n"
            "        \"units\": \"ms\",\n"
            "        \"digits\": 1,\n"
            "        \"scalarValue\": 8.5,\n"
            "        \"arrayValues\": null,\n"
            "        \"rows\": null,\n"
            "        \"cols\": null,\n"
            "        \"stringValue\": null,\n"
            "        \"enumValue\": null,\n"
            "        \"bitsRawValue\": null\n"
            "      },\n"
            "      \"ve\": {\n"
            "        \"name\": \"ve\",\n"
            "        \"units\": null,\n"
            "        \"digits\": 0,\n"
            "        \"scalarValue\": null,\n"
            "        \"arrayValues\": [\n"
            "          1,\n"
            "          \"NaN\"\n"
            "        ],\n"
            "        \"rows\": 1,\n"
            "        \"cols\": 2,\n"
            "        \"stringValue\": null,\n"
            "        \"enumValue\": null,\n"
            "        \"bitsRawValue\": null\n"
            "      }\n"
            "    }\n"
            "  }\n"
            "}\n");
  // Opening for the dump writes nothing.
  EXPECT_EQ(test::readFile(path("Dumped.tktune")), tuneBefore);
  EXPECT_TRUE(captured_.err.isEmpty());
}

TEST_F(DumpProjectTest, InputAndOpenFailures) {
  EXPECT_EQ(dump(path("none.tkproj"), path("out.json")), 2);
  EXPECT_EQ(captured_.err, "ERROR: no such file: " + path("none.tkproj").toUtf8() + "\n");

  writeText(path("bad.tkproj"), "[]");
  EXPECT_EQ(dump(path("bad.tkproj"), path("out.json")), 2);
  EXPECT_EQ(captured_.err, QByteArray("ERROR: Failed to parse project file: not a JSON object\n"));

  writeText(path("lost.tkproj"), R"({"iniFilePath": "/gone/x.ini"})");
  EXPECT_EQ(dump(path("lost.tkproj"), path("out.json")), 2);
  EXPECT_EQ(captured_.err, QByteArray("ERROR: Referenced INI file not found: /gone/x.ini\n"));
  EXPECT_FALSE(QFileInfo::exists(path("out.json")));
}

TEST_F(DumpProjectTest, LegacyTuneIsUpgradedButNotSaved) {
  QFile::copy(test::dataPath(QStringLiteral("tunefields.ini")), path("mainController.ini"));
  const EcuDefinition definition =
      project::readProjectDefinition(path("mainController.ini"), project::IniSettings());
  Tune legacy;
  legacy.pages = sliceRawImage(
      definition, test::readFile(test::dataPath(QStringLiteral("tuneimg-synthetic.bin"))));
  ASSERT_TRUE(legacy.pages.has_value());
  project::writeTuneFile(path("L.tktune"), legacy);
  writeText(path("L.tkproj"), "{}");
  const QByteArray before = test::readFile(path("L.tktune"));

  ASSERT_EQ(dump(path("L.tkproj"), path("out.json")), 0) << captured_.err.toStdString();
  EXPECT_EQ(test::readFile(path("L.tktune")), before);
  const QJsonObject tune = QJsonDocument::fromJson(test::readFile(path("out.json")))
                               .object()[QStringLiteral("tune")]
                               .toObject();
  const Tune decoded = decodePages(*legacy.pages, definition);
  EXPECT_EQ(tune[QStringLiteral("fieldCount")].toInt(), decoded.fields.size());
  EXPECT_GT(decoded.fields.size(), 40);
  EXPECT_EQ(tune[QStringLiteral("fields")].toObject().size(), decoded.fields.size());
}

TEST_F(DumpProjectTest, LegacyFixtureFromDefinitionAndImage) {
  const QString ini = test::dataPath(QStringLiteral("tunefields.ini"));
  const QString image = test::dataPath(QStringLiteral("tuneimg-synthetic.bin"));
  ASSERT_EQ(dumpLegacy(ini, image, path("out.json")), 0) << captured_.err.toStdString();
  const QByteArray text = test::readFile(path("out.json"));
  EXPECT_TRUE(text.startsWith(
      "{\n"
      "  \"project\": {\n"
      "    \"name\": \"TestProject\",\n"
      "    \"description\": \"WP-10 project fixture\",\n"
      "    \"iniFileName\": \"tunefields.ini\",\n"
      "    \"createdAt\": \"2026-01-01T00:00:00Z\",\n"
      "    \"lastModified\": \"2026-01-02T00:00:00Z\",\n"
      "    \"workOffline\": true,\n"
      "    \"autoHideProjectExplorer\": true,\n"
      "    \"tuneComments\": \"Fixture comments \\u0026 \\u003Cspecials\\u003E\\nline two\",\n"
      "    \"connection\": {\n"
      "      \"port\": \"COM7\",\n"
      "      \"baudRate\": 230400,\n"
      "      \"protocol\": \"Serial\",\n"
      "      \"host\": \"10.0.0.5\",\n"
      "      \"tcpPort\": 29002\n"
      "    },\n"))
      << text.left(900).toStdString();
  EXPECT_TRUE(
      text.contains("        \"name\": \"fixtureMath\",\n"
                    "        \"units\": \"kPa\",\n"
                    "        \"expression\": \"rpm / 100\",\n"
                    "        \"digits\": 1,\n"
                    "        \"addGauge\": true,\n"
                    "        \"gaugeTitle\": \"Fixture Gauge\",\n"
                    "        \"gaugeCategory\": \"Math Channels\",\n"));
  // Settings come back in key order.
  EXPECT_TRUE(
      text.contains("  \"projectSettings\": {\n"
                    "    \"dashboardLayout\": \"default\",\n"
                    "    \"lastTable\": \"veTable\"\n"
                    "  },\n"));

  const EcuDefinition definition = project::readProjectDefinition(ini, project::IniSettings());
  const Tune decoded = decodePages(*sliceRawImage(definition, test::readFile(image)), definition);
  const QJsonObject tune =
      QJsonDocument::fromJson(text).object()[QStringLiteral("tune")].toObject();
  EXPECT_EQ(tune[QStringLiteral("signature")].toString(), QStringLiteral("speeduino 202501-tk"));
  EXPECT_EQ(tune[QStringLiteral("lastSaved")].toString(), QStringLiteral("2026-01-02T00:00:00Z"));
  EXPECT_EQ(tune[QStringLiteral("fieldCount")].toInt(), decoded.fields.size());
  const QJsonObject fields = tune[QStringLiteral("fields")].toObject();
  for (const TuneValue& v : decoded.fields) {
    const QJsonObject field = fields[v.name].toObject();
    ASSERT_FALSE(field.isEmpty()) << v.name.toStdString();
    if (v.scalarValue && std::isfinite(*v.scalarValue)) {
      EXPECT_EQ(field[QStringLiteral("scalarValue")].toDouble(), *v.scalarValue)
          << v.name.toStdString();
    }
    if (v.bitsRawValue) {
      EXPECT_EQ(field[QStringLiteral("bitsRawValue")].toInt(), *v.bitsRawValue);
    }
    if (v.stringValue) {
      EXPECT_EQ(field[QStringLiteral("stringValue")].toString(), *v.stringValue);
    }
    if (v.arrayValues) {
      EXPECT_EQ(field[QStringLiteral("arrayValues")].toArray().size(), v.arrayValues->size());
    }
  }
}

TEST_F(DumpProjectTest, LegacyFixtureInputFailures) {
  const QString ini = test::dataPath(QStringLiteral("tunefields.ini"));
  EXPECT_EQ(dumpLegacy(path("none.ini"), path("none.bin"), path("out.json")), 2);
  EXPECT_EQ(captured_.err, "ERROR: no such file: " + path("none.ini").toUtf8() + "\n");
  EXPECT_EQ(dumpLegacy(ini, path("none.bin"), path("out.json")), 2);
  EXPECT_EQ(captured_.err, "ERROR: no such file: " + path("none.bin").toUtf8() + "\n");
  writeText(path("short.bin"), QByteArray(100, '\0'));
  EXPECT_EQ(dumpLegacy(ini, path("short.bin"), path("out.json")), 2);
  EXPECT_EQ(captured_.err,
            QByteArray("ERROR: image too short: page 1 needs 288 bytes at 0, image is 100\n"));
  EXPECT_FALSE(QFileInfo::exists(path("out.json")));
}

TEST(DumpProjectDispatchTest, RoutedByArgumentCount) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("out.json"));
  const test::ProcessResult legacy = test::runCli(
      {QStringLiteral("dump-project-legacy"), test::dataPath(QStringLiteral("tunefields.ini")),
       test::dataPath(QStringLiteral("tuneimg-synthetic.bin")), out});
  EXPECT_EQ(legacy.exitCode, 0) << legacy.err.toStdString();
  EXPECT_TRUE(test::readFile(out).startsWith("{\n  \"project\": {\n"));
  const test::ProcessResult missing =
      test::runCli({QStringLiteral("dump-project"), dir.filePath(QStringLiteral("x.tkproj")), out});
  EXPECT_EQ(missing.exitCode, 2);
  const test::ProcessResult shortForm = test::runCli({QStringLiteral("dump-project"), out});
  EXPECT_EQ(shortForm.exitCode, 1);
  EXPECT_TRUE(shortForm.err.startsWith("torvik-cli 0.8.14\nUsage:\n"));
}

}  // namespace
}  // namespace tk::conformance
