#pragma once

#include <QString>

namespace tk::project {

/// The project file path a new project named name gets in folder: folder joined with name plus
/// ".tkproj", native separators.
QString newProjectPath(const QString& folder, const QString& name);

/// Checks, before anything is written, that a new project may be made: throws ProjectError
/// "Invalid project name: '<name>'" for a name that is empty, contains a slash, a backslash or a
/// control character (shown as a \uXXXX escape), or is "." or "..", and "Project already exists:
/// <path>" when the project file or its tune file is already there (the path is the one found).
void checkNewProject(const QString& folder, const QString& name);

}  // namespace tk::project
