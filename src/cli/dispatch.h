#pragma once

#include <QStringList>
#include <functional>

namespace tk::cli {

/// Application name and version set on the application object; the version is the build's.
inline constexpr char kApplicationName[] = "torvik-cli";
inline constexpr char kApplicationVersion[] = TK_VERSION;

/// Exit code of a command that ran out of memory outside an agent command's guarded block.
inline constexpr int kOutOfMemoryExitCode = 3;

/// Runs a conformance command so that no exception leaves it: running out of memory ends in the
/// line "ERROR: out of memory" and kOutOfMemoryExitCode, any other failure in "ERROR: " and its
/// message and exit code 2 (a file the command could not handle), both on standard error.
int runConformanceGuarded(const std::function<int()>& command);

/// Chooses conformance command, device scan or agent command by argument shape and returns the
/// process exit code; arguments[0] is the program path.
int dispatch(const QStringList& arguments);

}  // namespace tk::cli
