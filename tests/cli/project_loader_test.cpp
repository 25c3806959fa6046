#include "cli/project_loader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <functional>

#include "cli/project_fixture.h"
#include "cli/project_lock.h"
#include "project/project_file.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using ProjectLoaderTest = CliProjectTest;

// (A missing file or a folder is named in the view commands' transcript.)
TEST_F(ProjectLoaderTest, LoadsByRelativePath) {
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  CliProjectLoader loader;
  loader.load(QStringLiteral("car/../car/Car.tkproj"));
  QDir::setCurrent(saved);
  EXPECT_EQ(loader.manager().projectPath(), projectPath_);
  EXPECT_EQ(loader.manager().project()->name, QStringLiteral("Car"));
}

// A tune file holding only raw pages is upgraded and saved before the command runs.
TEST_F(ProjectLoaderTest, LegacyTuneIsUpgradedAndSavedWithoutAsking) {
  project::ProjectManager manager;
  manager.openProject(projectPath_);
  Tune legacy;
  legacy.signature = QStringLiteral("cli-test 1.0");
  legacy.pages = manager.pageImages();
  project::writeTuneFile(tunePath(), legacy);
  ASSERT_TRUE(project::readTuneFile(tunePath()).fields.isEmpty());

  // While another command holds the project (it may be saving edits), a reading command
  // upgrades in memory only.
  {
    ProjectLock holder(projectPath_);
    holder.acquire();
    const QByteArray out = run("get-scalar -p <project> --name reqFuel -f text").output.bytes;
    EXPECT_TRUE(out.startsWith("name: reqFuel\nvalue: 8.5\n")) << out.toStdString();
    EXPECT_TRUE(project::readTuneFile(tunePath()).fields.isEmpty());
  }

  CliProjectLoader reader;
  reader.load(projectPath_);
  EXPECT_EQ(reader.manager().getValue(QStringLiteral("reqFuel")), 8.5);
  // The upgrade is saved and the reading command holds the project no longer.
  EXPECT_TRUE(ProjectLock(projectPath_).tryAcquire());
  const Tune upgraded = project::readTuneFile(tunePath());
  EXPECT_EQ(upgraded.fields.size(), 13);  // decoded pages hold no PC variables
  EXPECT_EQ(upgraded.find(QStringLiteral("veGrid"))->arrayValues->at(15), 15.0);
  EXPECT_TRUE(upgraded.pages.has_value());
}

// A tune made for another controller is flagged by every command that loads it, reading or
// editing, succeeding or failing; what the command does stays the same.
TEST_F(ProjectLoaderTest, TuneOfAnotherSignatureIsFlagged) {
  const QByteArray listed = run("list-tables -p <project>").output.bytes;
  editProject([](project::ProjectManager& m) {
    m.mutableTune()->signature = QStringLiteral("speeduino 202402");
  });
  const QByteArray warning =
      "[CLI] warning: tune signature 'speeduino 202402' differs from the definition's "
      "'cli-test 1.0'\n";
  const CommandResult read = run("list-tables -p <project>");
  EXPECT_EQ(read.output.bytes, listed);
  EXPECT_EQ(read.diagnostics, warning);
  EXPECT_EQ(run("set-scalar -p <project> --name reqFuel --value 5").diagnostics, warning);
  EXPECT_EQ(run("get-table -p <project> --id nope").diagnostics, warning);

  // The whole program: the warning comes first on standard error, before a text-form error.
  const auto r = tk::test::runCli({"get-table", "-p", projectPath_, "--id", "nope", "-f", "text"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.toStdString(), (warning + "ERROR [get-table]: Table 'nope' not found in INI. Use "
                                            "list-tables to see available tables.\n")
                                     .toStdString());
  EXPECT_TRUE(r.out.isEmpty());
}

// Without its tune file a project is read with a new tune, but nothing saves or pushes that
// tune: edits, save, apply-edits and burn fail naming the file and write nothing; set-connection
// writes the project file alone. A project opened through a link is the link's target, tune
// and all.
TEST_F(ProjectLoaderTest, MissingTuneFileIsNeverSavedOrPushedAndLinksAreFollowed) {
  ASSERT_TRUE(QFile::link(projectPath_, dir_.filePath("Link.tkproj")));
  transcript().define(QStringLiteral("<link>"), dir_.filePath("Link.tkproj"));
  run("set-scalar -p <link> --name reqFuel --value 9.5 -f text");
  run("get-scalar -p <project> --name reqFuel -f text");
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("Link.tktune")));

  ASSERT_TRUE(QFile::remove(tunePath()));
  runScript("missing-tune.cmds");
  EXPECT_FALSE(QFileInfo::exists(tunePath()));
  EXPECT_EQ(project::readProjectFile(projectPath_).connection.host, "127.0.0.1");
  EXPECT_TRUE(transcriptMatches("missing-tune.txt"));
}

// The definition decides what a tune file's entries are. A wrong shape, a short array, numbers
// as text or beyond the limits, a duplicate: each field is brought to the definition's terms
// with one warning, and a cell edit lands where the definition puts it. An entry that keeps
// nothing sensible (a word for a number, NaN) fails the load, naming it.
TEST_F(ProjectLoaderTest, TuneFileEntriesAreBroughtToTheDefinitionsTerms) {
  const auto rewrite = [&](const std::function<void(QJsonObject&)>& change) {
    QJsonObject tune = QJsonDocument::fromJson(tk::test::readFile(tunePath())).object();
    QJsonArray fields = tune.value("fields").toArray();
    for (auto&& field : fields) {
      QJsonObject object = field.toObject();
      change(object);
      field = object;
    }
    tune.insert("fields", fields);
    tk::test::writeFile(tunePath(), QJsonDocument(tune).toJson());
  };
  rewrite([](QJsonObject& f) {
    const QString name = f.value("name").toString();
    if (name == "veGrid") {
      f.insert("rows", 8);
      f.insert("cols", 2);
      f.insert("arrayValues", QJsonArray{1, 2, 3});
    } else if (name == "reqFuel") {
      f.insert("scalarValue", "5.5");
    } else if (name == "warmTemp") {
      f.insert("scalarValue", 1e308);
    } else if (name == "sparkGrid") {
      f.insert("arrayValues", QJsonArray{"-Infinity", 1, 2, 3, 4, 5, 6, 7});
    } else if (name == "idleRpm") {
      f.insert("name", "reqFuel");
      f.insert("scalarValue", 20);
    }
  });
  run("get-scalar -p <project> --name reqFuel -f text");
  run("set-table-cell -p <project> --id veTbl --row 1 --col 0 --value 77 -f text");
  const Tune saved = project::readTuneFile(tunePath());
  const TuneValue* ve = saved.find(QStringLiteral("veGrid"));
  EXPECT_EQ(*ve->arrayValues, (QList<double>{1, 2, 3, 0, 77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ve->rows, 4);
  EXPECT_EQ(saved.find(QStringLiteral("warmTemp"))->scalarValue, 215.0);
  run("get-scalar -p <project> --name reqFuel -f text");  // as saved: no warning

  for (const char* bad : {"\"fast\"", "\"NaN\""}) {
    rewrite([&](QJsonObject& f) {
      if (f.value("name").toString() == "reqFuel") {
        f.insert("scalarValue", QJsonDocument::fromJson(QByteArray("[") + bad + "]")[0]);
      }
    });
    run("list-tables -p <project> -f text");
  }
  EXPECT_TRUE(transcriptMatches("tune-entries.txt"));
}

// Small hostile files, the kind that once took gigabytes: a definition declaring huge pages,
// forty arrays of a million floats and a realtime block of 2 GiB, and an MSQ of a million
// one-digit numbers. Each command runs under a limit of virtual memory and must finish; the
// definition's lines over budget are named. An MSQ file may add ten times its size to the limit.
TEST(BoundedMemoryTest, HostileFilesRunWithinAFixedMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a limit of virtual memory cannot hold a sanitizer build: its shadow memory "
                  "alone is larger";
#endif
  constexpr int kLimitMiB = 256;
  QTemporaryDir dir;
  QByteArray ini =
      "[MegaTune]\n signature = \"hostile 1\"\n[Constants]\n nPages = 40\n pageSize = ";
  for (int page = 0; page < 40; ++page) {
    ini += page > 0 ? ", 2000000" : "2000000";
  }
  ini += "\npage = 1\n k = array, F32, 0, [500x500], \"\", 1, 0, 0, 1, 3\n";
  for (int a = 0; a < 40; ++a) {
    ini += " a" + QByteArray::number(a) + " = array, F32, 0, [1000x1000], \"\", 1, 0, 0, 1, 3\n";
  }
  ini += "[OutputChannels]\n ochBlockSize = 2147483647\n";
  ASSERT_LT(ini.size(), 100 * 1024);
  tk::test::writeFile(dir.filePath("hostile.ini"), ini);
  QByteArray msq =
      "<msq xmlns=\"http://www.msefi.com/:msq\"><versionInfo signature=\"hostile 1\"/>"
      "<page number=\"1\"><constant name=\"k\" rows=\"500\" cols=\"500\">";
  msq += QByteArray("1 ").repeated(500 * 500) + "</constant></page></msq>\n";
  tk::test::writeFile(dir.filePath("hostile.msq"), msq);

  const auto run = [&](const QStringList& args) {
    const tk::test::ProcessResult r = tk::test::runCli(args, dir.path(), kLimitMiB);
    EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
    return r;
  };
  run({"create-project", "--name", "H", "--ini", dir.filePath("hostile.ini"), "--folder",
       dir.path()});
  const QString project = dir.filePath("H.tkproj");
  const tk::test::ProcessResult listed = run({"list-fields", "-p", project});
  EXPECT_EQ(listed.err.count("[CLI] warning: definition line \""), 42) << listed.err.toStdString();
  run({"import-msq", "-p", project, "--file", dir.filePath("hostile.msq"), "--offline"});
  run({"dump-msq", dir.filePath("hostile.msq"), dir.filePath("dump.json")});

  // Reading an MSQ file takes at most ten times its size beyond that budget: 8 MB of numbers.
  msq.replace(QByteArray("1 ").repeated(500 * 500), QByteArray("1 ").repeated(2000 * 2000));
  tk::test::writeFile(dir.filePath("large.msq"), msq);
  const int limitMiB = kLimitMiB + static_cast<int>(10 * msq.size() / (1024 * 1024));
  for (const QStringList& args :
       {QStringList{"import-msq", "-p", project, "--file", dir.filePath("large.msq"), "--offline"},
        QStringList{"dump-msq", dir.filePath("large.msq"), dir.filePath("large.json")}}) {
    const tk::test::ProcessResult r = tk::test::runCli(args, dir.path(), limitMiB);
    EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
  }
}

}  // namespace
}  // namespace tk::cli::test
