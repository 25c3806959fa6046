#pragma once

#include <QStringList>

namespace tk::cli {

/// Application name and version set on the application object; the version is the build's.
inline constexpr char kApplicationName[] = "torvik-cli";
inline constexpr char kApplicationVersion[] = TK_VERSION;

/// Chooses conformance command, device scan or agent command by argument shape and returns the
/// process exit code; arguments[0] is the program path.
int dispatch(const QStringList& arguments);

}  // namespace tk::cli
