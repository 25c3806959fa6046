#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <csignal>
#include <limits>

#include "project/json_document_file.h"
#include "project/project_file.h"
#include "project/project_test_fixture.h"
#include "project/settings_file.h"
#include "project/tune_file.h"
#include "support/test_support.h"

namespace tk::project {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

using ProjectFilesTest = test::ProjectFileFixture;

// Each golden file, read and written again, gives its own bytes: the reader keeps every member
// and the writer puts them back in order, with doubles JSON cannot hold written as strings.
TEST_F(ProjectFilesTest, FilesReadAndWrittenAgainKeepTheirBytes) {
  writeProjectFile(path("default.tkproj"), ProjectFile());
  EXPECT_TRUE(
      test::matchesGolden(test::readFile(path("default.tkproj")), "golden/project-default.tkproj"));
  EXPECT_EQ(readProjectFile(writeText("empty.tkproj", "{}")), ProjectFile());

  const ProjectFile full =
      readProjectFile(test::dataPath(QStringLiteral("golden/project-full.tkproj")));
  EXPECT_EQ(full.connection.requestRateHz, 10);
  EXPECT_EQ(full.mathChannels.at(0).gaugeMin, -kInf);
  EXPECT_TRUE(std::isnan(full.mathChannels.at(0).gaugeHighCritical));
  writeProjectFile(path("full.tkproj"), full);
  EXPECT_TRUE(
      test::matchesGolden(test::readFile(path("full.tkproj")), "golden/project-full.tkproj"));

  const Tune tune = readTuneFile(test::dataPath(QStringLiteral("golden/tune-file-sample.tktune")));
  EXPECT_EQ(tune.fields.at(1).arrayValues->at(1), kInf);
  EXPECT_EQ(tune.fields.at(2).enumValue, "On <&>");
  EXPECT_EQ(tune.pages->value(2), QByteArray("\x01\x02\xff", 3));
  writeTuneFile(path("t.tktune"), tune);
  EXPECT_TRUE(
      test::matchesGolden(test::readFile(path("t.tktune")), "golden/tune-file-sample.tktune"));
}

// Members of another type take their defaults; array elements that are not numbers are 0,
// records that are not objects are skipped.
TEST_F(ProjectFilesTest, ReadersAreLenient) {
  const ProjectFile p = readProjectFile(writeText("p.tkproj", R"({"name": 5,
      "connection": {"baudRate": "fast", "tcpPort": 1.5, "port": "COM3"}, "workOffline": "yes",
      "mathChannels": [7, {"name": "m", "digits": 4, "gaugeMax": "Infinity"}]})"));
  ProjectFile expected;
  expected.connection.port = QStringLiteral("COM3");
  expected.mathChannels = {MathChannel()};
  expected.mathChannels[0].name = QStringLiteral("m");
  expected.mathChannels[0].digits = 4;
  expected.mathChannels[0].gaugeMax = kInf;
  EXPECT_EQ(p, expected);

  const Tune tune = readTuneFile(writeText("l.tktune", R"({"fields": [
      {"name": "a", "arrayValues": [1, "x", "-Infinity", null]}, 3, {"name": "b", "rows": 2.5}]})"));
  Tune defaults;
  defaults.fields = {TuneValue(), TuneValue()};
  defaults.fields[0].name = QStringLiteral("a");
  defaults.fields[0].arrayValues = QList<double>{1, 0, -kInf, 0};
  defaults.fields[1].name = QStringLiteral("b");
  EXPECT_EQ(tune, defaults);

  // Settings keep their string members only, in the parser's key order.
  const SettingsList settings = {{QStringLiteral("a"), QStringLiteral("1")},
                                 {QStringLiteral("b"), QStringLiteral("2")}};
  EXPECT_EQ(readSettingsFile(writeText("s.tksettings", R"({"b": "2", "n": 3, "a": "1", "o": {}})")),
            settings);
}

TEST_F(ProjectFilesTest, ReadAndWriteErrorsNameContextAndPath) {
  const QString missing = path("missing");
  EXPECT_EQ(errorOf([&] { readProjectFile(missing); }), "Cannot open project file: " + missing);
  EXPECT_EQ(errorOf([&] { readTuneFile(missing); }), "Cannot open tune file: " + missing);
  EXPECT_EQ(errorOf([&] { readSettingsFile(missing); }), "Cannot open settings file: " + missing);
  const QString array = writeText("array.json", "[1, 2]");
  EXPECT_EQ(errorOf([&] { readSettingsFile(array); }),
            "Failed to parse settings file: not a JSON object");
  EXPECT_EQ(errorOf([&] { readTuneFile(array); }), "Failed to parse tune file: not a JSON object");
  const QString broken = writeText("broken.json", "{\"name\": ");
  EXPECT_TRUE(errorOf([&] { readTuneFile(broken); }).startsWith("Failed to parse tune file: "));
  const QString pages = writeText("p.tktune", R"({"pages": {"1": "AA==", "a1": "AA=="}})");
  EXPECT_EQ(errorOf([&] { readTuneFile(pages); }),
            "Failed to parse tune file: non-numeric page key");

  ASSERT_TRUE(QDir().mkpath(path("taken")));
  EXPECT_EQ(errorOf([&] { writeTuneFile(path("taken"), Tune()); }),
            "Cannot write tune file: " + path("taken"));
  EXPECT_EQ(errorOf([&] { writeProjectFile(path("absent/p"), ProjectFile()); }),
            "Cannot write project file: " + path("absent/p"));
}

// A write that runs out of room half-way (here the file-size limit of the process, which root
// cannot bypass as it can permissions) must leave the previous file exactly as it was.
TEST_F(ProjectFilesTest, SaveFailingPartWayKeepsOldFileByteIdentical) {
  const QString file = path("p.tkproj");
  writeProjectFile(file, ProjectFile());
  const QByteArray before = test::readFile(file);
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

  EXPECT_EQ(message, "Cannot write project file: " + file);
  EXPECT_EQ(test::readFile(file), before);
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("p.tkproj")});
}

// The replacement keeps what the old file was to the system: its permissions, and a link stays a
// link to the replaced file.
TEST_F(ProjectFilesTest, ReplacementKeepsPermissionsAndLinks) {
  const QString file = writeText("p.tktune", "old");
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

// A temporary file left by a killed save goes with the next save; one another process is still
// writing (it holds a lock on it) stays, so that two writers of one file never spoil each other.
TEST_F(ProjectFilesTest, LeftoverPartialsGoButOneBeingWrittenStays) {
  writeText("p.tktune.part-AAAAAA", "");
  writeText("p.tktune.part-BBBBBB", "");
  const int busy = ::open(QFile::encodeName(path("p.tktune.part-AAAAAA")).constData(), O_RDONLY);
  ASSERT_EQ(::flock(busy, LOCK_EX), 0);
  ASSERT_TRUE(replaceFileAtomically(path("p.tktune"), "new"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files),
            (QStringList{"p.tktune", "p.tktune.part-AAAAAA"}));
  ::close(busy);
  ASSERT_TRUE(replaceFileAtomically(path("p.tktune"), "newer"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"p.tktune"});
}

}  // namespace
}  // namespace tk::project
