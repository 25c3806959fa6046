#pragma once

#include <gtest/gtest.h>

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

/// Runs the built program with the given arguments (program path not included); with a
/// memoryLimitMiB, under that limit of virtual memory (ulimit -v).
ProcessResult runCli(const QStringList& arguments, const QString& workingDir = QString(),
                     int memoryLimitMiB = 0);

/// Path below tests/data of the source tree.
QString dataPath(const QString& name);
/// The real-file corpus folder beside the checkout, or an empty text when it is absent.
QString corpusDir();
/// Reads a whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);
/// Writes bytes to path, replacing what was there; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
/// The lines of a case file below tests/data, trimmed, without blank and "#" comment lines;
/// fails the test when the file holds none.
QStringList caseLines(const QString& name);
/// A number of a case file: decimal, "inf", "-inf" or "nan".
double caseNumber(const QString& text);

/// A line diff of expected against actual ("-" expected only, "+" actual only), at most
/// maxLines lines of it; empty when both are equal.
QString lineDiff(const QByteArray& expected, const QByteArray& actual, int maxLines = 40);

/// Compares actual with the golden file below tests/data and fails with a line diff when they
/// differ. With TK_UPDATE_GOLDEN=1 in the environment the golden file is rewritten instead.
::testing::AssertionResult matchesGolden(const QByteArray& actual, const QString& goldenName);

/// The message of the E that fn throws, or "no error" when it returns (any other exception
/// escapes and fails the test).
template <typename E, typename Fn>
QString thrownMessage(Fn&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return QString::fromUtf8(e.what());
  }
  return QStringLiteral("no error");
}

}  // namespace tk::test
