#include "cli/project_loader.h"

#include <QDir>
#include <QFile>

#include "cli/project_fixture.h"
#include "conformance/conformance_io.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using ProjectLoaderTest = CliProjectTest;

TEST_F(ProjectLoaderTest, LoadsByRelativePath) {
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  CliProjectLoader loader;
  loader.load(QStringLiteral("car/../car/Car.tkproj"));
  QDir::setCurrent(saved);
  EXPECT_EQ(loader.manager().projectPath(), projectPath_);
  EXPECT_EQ(loader.manager().project()->name, QStringLiteral("Car"));
}

TEST_F(ProjectLoaderTest, MissingFileOrFolderIsNotFound) {
  CliProjectLoader loader;
  for (const QString& missing :
       {dir_.filePath(QStringLiteral("car/None.tkproj")), dir_.filePath(QStringLiteral("car"))}) {
    try {
      loader.load(missing);
      ADD_FAILURE() << "no error";
    } catch (const CommandError& e) {
      EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Project file not found: ") + missing);
    }
  }
  EXPECT_EQ(loader.manager().project(), nullptr);
}

TEST_F(ProjectLoaderTest, ProjectLayerErrorsPassThrough) {
  QFile file(tunePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write("[]");
  file.close();
  const CommandRun r = run({"list-tables"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "{\n  \"success\": false,\n  \"command\": \"list-tables\",\n"
            "  \"error\": \"Failed to parse tune file: not a JSON object\"\n}\n");
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

  const CommandRun r = run({"get-scalar", "--name", "reqFuel"});
  EXPECT_EQ(r.code, 0) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\"value\": 8.5,")) << r.out.toStdString();
  const Tune upgraded = project::readTuneFile(tunePath());
  EXPECT_EQ(upgraded.fields.size(), 13);  // decoded pages hold no PC variables
  EXPECT_EQ(upgraded.find(QStringLiteral("veGrid"))->arrayValues->at(15), 15.0);
  EXPECT_TRUE(upgraded.pages.has_value());
}

}  // namespace
}  // namespace tk::cli::test
