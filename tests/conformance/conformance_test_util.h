#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "cli/dispatch.h"
#include "support/test_support.h"

namespace tk::test {

/// A temporary folder for the files of conformance commands, and what a command printed.
class ConformanceTest : public ::testing::Test {
 protected:
  /// Path of a file in the temporary folder.
  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  /// Writes bytes to a file in the temporary folder and returns its path.
  QString writeFile(const char* name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  }

  /// Runs a command in-process inside the program's guard, keeping what it printed in io_;
  /// returns its exit code.
  int run(const std::function<int()>& command) {
    int code = -1;
    io_ = captureStdio([&] { code = cli::runConformanceGuarded(command); });
    return code;
  }

  QTemporaryDir dir_;
  Captured io_;
};

}  // namespace tk::test
