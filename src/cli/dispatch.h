#pragma once

#include <QStringList>

namespace tk::cli {

/// Application name and version set on the application object.
inline constexpr char kApplicationName[] = "torvik-cli";
inline constexpr char kApplicationVersion[] = "0.8.14";

/// Chooses conformance command, device scan or agent command by argument shape and returns the
/// process exit code; arguments[0] is the program path.
int dispatch(const QStringList& arguments);

}  // namespace tk::cli
