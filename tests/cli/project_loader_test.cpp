#include "cli/project_loader.h"

#include <QDir>
#include <QFile>

#include "cli/project_fixture.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using ProjectLoaderTest = CliProjectTest;

TEST_F(ProjectLoaderTest, LoadsByRelativePathAndNamesWhatIsMissing) {
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  CliProjectLoader loader;
  loader.load(QStringLiteral("car/../car/Car.tkproj"));
  QDir::setCurrent(saved);
  EXPECT_EQ(loader.manager().projectPath(), projectPath_);
  EXPECT_EQ(loader.manager().project()->name, QStringLiteral("Car"));

  for (const QString& missing : {dir_.filePath("car/None.tkproj"), dir_.filePath("car")}) {
    CliProjectLoader empty;
    try {
      empty.load(missing);
      ADD_FAILURE() << "no error";
    } catch (const CommandError& e) {
      EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Project file not found: ") + missing);
    }
    EXPECT_EQ(empty.manager().project(), nullptr);
  }
}

TEST_F(ProjectLoaderTest, ProjectLayerErrorsPassThrough) {
  QFile file(tunePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write("[]");
  file.close();
  EXPECT_EQ(run("list-tables -p <project> -f text").output.bytes,
            "ERROR [list-tables]: Failed to parse tune file: not a JSON object\n");
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

  const QByteArray out = run("get-scalar -p <project> --name reqFuel -f text").output.bytes;
  EXPECT_TRUE(out.startsWith("name: reqFuel\nvalue: 8.5\n")) << out.toStdString();
  const Tune upgraded = project::readTuneFile(tunePath());
  EXPECT_EQ(upgraded.fields.size(), 13);  // decoded pages hold no PC variables
  EXPECT_EQ(upgraded.find(QStringLiteral("veGrid"))->arrayValues->at(15), 15.0);
  EXPECT_TRUE(upgraded.pages.has_value());
}

}  // namespace
}  // namespace tk::cli::test
