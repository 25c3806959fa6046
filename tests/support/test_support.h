#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace tk::test {

/// What a piece of code wrote to the process's standard output and standard error.
struct Captured {
  QByteArray out;
  QByteArray err;
};

/// Runs fn with file descriptors 1 and 2 redirected to temporary files and returns both texts.
Captured captureStdio(const std::function<void()>& fn);

/// Result of running the built torvik-cli program.
struct ProcessResult {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

/// Runs the built program with the given arguments (program path not included).
ProcessResult runCli(const QStringList& arguments, const QString& workingDir = QString());

/// Path below tests/data of the source tree.
QString dataPath(const QString& name);
/// The real-file corpus folder beside the checkout, or an empty text when it is absent.
QString corpusDir();
/// Reads a whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);

}  // namespace tk::test
