#include "cli/msq_commands.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <cmath>

#include "cli/project_fixture.h"
#include "formats/msq_reader.h"
#include "project/tune_file.h"
#include "support/sim_process.h"
#include "tune/field_codec.h"

namespace tk::cli::test {
namespace {

using MsqCommandsTest = CliProjectTest;
using tk::test::readFile;

QStringList listed(const QJsonObject& data, const char* report) {
  return data.value(QLatin1String(report))[QLatin1String("names")].toVariant().toStringList();
}

// Each import followed by reads of what the saved tune holds.
TEST_F(MsqCommandsTest, ImportStoresWhatTheDefinitionTakes) {
  runScript("msq-import.cmds");
  EXPECT_TRUE(transcriptMatches("msq-import.txt"));
}

// A save would stamp a new time into both project files.
TEST_F(MsqCommandsTest, FailuresWriteNothing) {
  const QByteArray tune = readFile(tunePath());
  const QByteArray project = readFile(projectPath_);
  const QStringList entries = QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
  runScript("msq-errors.cmds");
  EXPECT_TRUE(transcriptMatches("msq-errors.txt"));
  EXPECT_EQ(readFile(tunePath()), tune);
  EXPECT_EQ(readFile(projectPath_), project);
  // The one export that succeeds made its folder, as datalog does.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            entries + QStringList{"none"});
  EXPECT_TRUE(QFileInfo::exists(dir_.filePath("none/car.msq")));
}

// The export names this tool and the time of writing; importing it gives the tune back.
TEST_F(MsqCommandsTest, ExportedTuneImportsBack) {
  // A new tune starts at 0 rpm, below the minimum, which the import would clamp.
  editProject([](project::ProjectManager& m) { m.setValue(QStringLiteral("idleRpm"), 0, 800); });
  const QList<TuneValue> before = project::readTuneFile(tunePath()).fields;
  const QDateTime start = QDateTime::currentDateTimeUtc().addMSecs(-1);
  const QJsonObject data = dataOf(run("export-msq -p <project> --output <tmp>/car.msq"));
  const QString file = dir_.filePath(QStringLiteral("car.msq"));
  EXPECT_EQ(data.value(QLatin1String("bytes")).toInteger(), readFile(file).size());
  const MsqDocument document = readMsq(file);
  EXPECT_EQ(document.Author, QStringLiteral("torvik-cli"));
  const QDateTime written = QDateTime::fromString(document.WriteDate, Qt::ISODateWithMs);
  EXPECT_TRUE(written >= start && written <= QDateTime::currentDateTimeUtc());

  editProject([](project::ProjectManager& m) {
    m.setValue(QStringLiteral("sparkGrid"), 4, 1);
    m.setValue(QStringLiteral("mode"), 0, 2);
    m.setValue(QStringLiteral("rpmWarn"), 0, 7000);
    m.mutableTune()->find(QStringLiteral("vehicle"))->stringValue = QStringLiteral("Beetle");
  });
  EXPECT_EQ(run("import-msq -p <project> --file <tmp>/car.msq").exitCode, 0);
  EXPECT_EQ(project::readTuneFile(tunePath()).fields, before);
}

// Real tunes of the desktop tuning clients in projects made from the corpus definitions.
class MsqCorpusImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (corpus_.isEmpty()) {
      GTEST_SKIP() << "corpus not found: the real-file tests need ../shared/corpus";
    }
  }

  // The project over ini, made on first use; temperatures in Celsius, as the passat tune's units
  // say (the other tunes are not compared value by value).
  QString project(const QString& ini) {
    if (!projects_.contains(ini)) {
      project::ProjectManager m;
      m.createProject(QStringLiteral("P"), corpus_ + "/ini/" + ini, dir_.filePath(ini));
      m.mutableProject()->iniSettings.settingGroupSelections.append(
          {QStringLiteral("temperatureDisplay"), QStringLiteral("CELSIUS")});
      m.saveProject();
      projects_.insert(ini, m.projectPath());
    }
    return projects_.value(ini);
  }

  // A project over speeduino-202501.ini with the temperature setting at its default, degF:
  // coolant is stored as degC + 40 and described as "degF", 1.8, -22.23. Skips when absent.
  QString fahrenheitProject() {
    const QString ini = corpus_ + QStringLiteral("/ini/speeduino-202501.ini");
    if (!QFileInfo::exists(ini)) {
      return {};
    }
    return tk::test::makeProject(dir_.filePath(QStringLiteral("fahrenheit")), ini);
  }

  CommandResult import(const QString& projectPath, const QString& msq, bool force = false) {
    const QStringList arguments{"prog", "import-msq", "-p", projectPath, "--file", msq};
    return *runCommand(force ? arguments + QStringList{"--force"} : arguments, agentCommands());
  }

  const QString corpus_ = tk::test::corpusDir();
  QTemporaryDir dir_;
  QHash<QString, QString> projects_;
};

// Values the report does not name as clamped are kept within half a step.
TEST_F(MsqCorpusImportTest, PassatTuneImportsWithinResolutionAndRoundTrips) {
  const QString passat = project(QStringLiteral("speeduino-202501.ini"));
  const QString file = corpus_ + QStringLiteral("/msq/usertune-passat-202501.msq");
  const QJsonObject data = dataOf(import(passat, file));
  const MsqDocument document = readMsq(file);
  const QList<MsqConstant> entries = document.Fields + document.PcVariables;
  const QStringList skipped = listed(data, "skipped");
  EXPECT_EQ(data.value(QLatin1String("imported")).toInt() + skipped.size(), entries.size());
  const QStringList clamped = listed(data, "clamped");
  // Its maximum is the PC variable fuelLoadMax, which the import stores after it.
  EXPECT_FALSE(clamped.contains(QStringLiteral("fuelLoadBins")));

  project::ProjectManager m;
  m.openProject(passat);
  int compared = 0;
  for (const MsqConstant& entry : entries) {
    const std::optional<FieldRef> ref = m.findField(entry.Name);
    if (!ref || skipped.contains(entry.Name) || clamped.contains(entry.Name) ||
        (ref->constant->Type != ConstantType::Scalar &&
         ref->constant->Type != ConstantType::Array)) {
      continue;
    }
    const QList<double> values = entry.IsArray ? entry.ArrayValues : QList{entry.NumericValue};
    const double margin = std::abs(m.editor().effectiveScale(*ref->constant)) / 2 + 1e-9;
    for (int i = 0; i < values.size(); ++i, ++compared) {
      ASSERT_NEAR(m.getValue(entry.Name, i), values.at(i), margin + std::abs(values.at(i)) * 1e-6)
          << entry.Name.toStdString() << "[" << i << "]";
    }
  }
  EXPECT_GT(compared, 3000);

  const QList<TuneValue> imported = project::readTuneFile(project::tunePathFor(passat)).fields;
  const QString out = dir_.filePath(QStringLiteral("passat.msq"));
  ASSERT_EQ(
      runCommand({"prog", "export-msq", "-p", passat, "--output", out}, agentCommands())->exitCode,
      0);
  ASSERT_EQ(import(passat, out).exitCode, 0);
  // The file keeps bit fields as labels, and raw 255 of the CAN input selectors firstDataIn0..7
  // and secondDataIn0..7 is one of several options labelled "INVALID", which reads back as the
  // first of them (5). Those fields lie over the firstDataIn and secondDataIn arrays, and the
  // later of two constants over the same bytes wins: the arrays read 5 as well. Nothing else
  // may change.
  const QList<TuneValue> again = project::readTuneFile(project::tunePathFor(passat)).fields;
  ASSERT_EQ(again.size(), imported.size());
  QStringList changed;
  for (qsizetype i = 0; i < again.size(); ++i) {
    if (!(again.at(i) == imported.at(i))) {
      changed.append(again.at(i).name);
    }
  }
  QStringList expected;
  for (const char* array : {"firstDataIn", "secondDataIn"}) {
    expected.append(QLatin1String(array));
    for (int i = 0; i < 8; ++i) {
      expected.append(QLatin1String(array) + QString::number(i));
    }
  }
  changed.sort();
  expected.sort();
  EXPECT_EQ(changed, expected);
}

// In speeduino 202504-dev the ignition trims ignTrim1..4 lie over airDenRates[5..8] and are
// declared later; a 202501 tune has no trims, so its air-density rates must reach the page.
TEST_F(MsqCorpusImportTest, ConstantsOverSharedBytesKeepTheImportedValues) {
  const QString file = corpus_ + QStringLiteral("/msq/usertune-passat-202501.msq");
  if (corpus_.isEmpty() || !QFileInfo::exists(file)) {
    GTEST_SKIP() << "corpus (usertune-passat-202501.msq) not found beside the checkout";
  }
  const QString p = project(QStringLiteral("speeduino-202504dev.ini"));
  ASSERT_EQ(import(p, file, true).exitCode, 0);
  project::ProjectManager m;
  m.openProject(p);
  const FieldRef rates = *m.findField(QStringLiteral("airDenRates"));
  const QByteArray page = m.pageImages().value(rates.pageNumber);
  for (int i = 5; i < 9; ++i) {
    const double rate = m.getValue(QStringLiteral("airDenRates"), i);
    EXPECT_GT(rate, 50) << "airDenRates[" << i << "]";
    EXPECT_EQ(quint8(page.at(rates.constant->Offset + i)), rate);
    EXPECT_EQ(m.getValue(QStringLiteral("ignTrim") + QString::number(i - 4)), rate);
  }
}

// The passat tune's temperatures are in Celsius: converted into a Fahrenheit project, except a
// hysteresis, which carries no offset and is imported as it is and said. diff against the file
// then finds only what the import reported as clamped or skipped.
TEST_F(MsqCorpusImportTest, CelsiusTuneIsConvertedIntoAFahrenheitProject) {
  const QString p = fahrenheitProject();
  const QString file = corpus_ + QStringLiteral("/msq/usertune-passat-202501.msq");
  if (p.isEmpty() || !QFileInfo::exists(file)) {
    GTEST_SKIP() << "corpus (speeduino-202501.ini, usertune-passat-202501.msq) not found";
  }
  const CommandResult r = import(p, file);
  const QJsonObject data = dataOf(r);
  EXPECT_EQ(data.value("converted").toObject().value("count"), 22);
  EXPECT_TRUE(listed(data, "unitsDiffer").contains("fanHyster"));
  EXPECT_TRUE(
      r.diagnostics.contains("units other than the project's and were imported as they "
                             "are: "));
  project::ProjectManager m;
  m.openProject(p);
  EXPECT_NEAR(m.getValue("egoTemp"), 158, 0.9);
  EXPECT_NEAR(m.getValue("fanSP"), 194, 0.9);
  EXPECT_NEAR(m.getValue("wueBins", 0), -40, 0.9);
  EXPECT_NEAR(m.getValue("wueBins", 9), 194, 0.9);
  EXPECT_EQ(m.getValue("fanHyster"), 5);

  const QStringList reported = listed(data, "clamped") + listed(data, "skipped");
  const QJsonObject diff = dataOf(
      *runCommand({"prog", "diff", "-p", p, "--msq", file, "--max", "9999"}, agentCommands()));
  for (const QJsonValue& d : diff.value("diffs").toArray()) {
    EXPECT_TRUE(reported.contains(d["constant"].toString()))
        << d["constant"].toString().toStdString();
  }
  EXPECT_EQ(diff.value("diffs").toArray().size(), diff.value("differences").toInt());
}

}  // namespace
}  // namespace tk::cli::test
