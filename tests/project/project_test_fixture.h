#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "project/project_error.h"
#include "support/test_support.h"

namespace tk::test {

/// A temporary folder to write project files into, and the message of a failed operation.
class ProjectFileFixture : public ::testing::Test {
 protected:
  /// name (which may hold folders) inside the temporary folder.
  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  /// Writes text to name, making its folders; returns the path.
  QString writeText(const char* name, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path(name)).absolutePath());
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path(name);
  }

  /// The message of the ProjectError fn raises, or "no error".
  template <typename Fn>
  QString errorOf(Fn fn) {
    return thrownMessage<project::ProjectError>(fn);
  }

  QTemporaryDir dir_;
};

}  // namespace tk::test
