#include "project/new_project_check.h"

#include <QDir>
#include <QFileInfo>

#include "project/project_error.h"
#include "project/project_manager.h"

namespace tk::project {

QString newProjectPath(const QString& folder, const QString& name) {
  return QDir::toNativeSeparators(QDir(folder).filePath(name + QStringLiteral(".tkproj")));
}

// Creating over an existing project would replace its tune with a blank one, and a name that is
// a path would put the files outside the folder (or make a hidden ".tkproj"), so both are
// refused before the definition is copied.
// A control character (a line feed, an escape) in a file name breaks listings and the one-line
// messages that name the file; it is shown in the message as a \uXXXX escape.
void checkNewProject(const QString& folder, const QString& name) {
  QString shown;
  bool control = false;
  for (const QChar c : name) {
    if (c.category() == QChar::Other_Control) {
      control = true;
      shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    } else {
      shown += c;
    }
  }
  if (control || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
      name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
    throw ProjectError(QStringLiteral("Invalid project name: '%1'").arg(shown));
  }
  const QString projectPath = newProjectPath(folder, name);
  for (const QString& path : {projectPath, tunePathFor(projectPath)}) {
    // exists() follows links; a dangling link still names a file that a save would replace.
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
      throw ProjectError(QStringLiteral("Project already exists: ") + path);
    }
  }
}

}  // namespace tk::project
