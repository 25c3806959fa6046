#include "support/test_support.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tk::test {
namespace {

QByteArray readAll(std::FILE* f) {
  QByteArray bytes;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.append(buf, static_cast<qsizetype>(n));
  }
  return bytes;
}

}  // namespace

Captured captureStdio(const std::function<void()>& fn) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* outFile = std::tmpfile();
  std::FILE* errFile = std::tmpfile();
  const int savedOut = dup(1);
  const int savedErr = dup(2);
  dup2(fileno(outFile), 1);
  dup2(fileno(errFile), 2);
  fn();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  Captured c{readAll(outFile), readAll(errFile)};
  std::fclose(outFile);
  std::fclose(errFile);
  return c;
}

ProcessResult runCli(const QStringList& arguments, const QString& workingDir, int memoryLimitMiB) {
  QProcess process;
  if (!workingDir.isEmpty()) {
    process.setWorkingDirectory(workingDir);
  }
  if (memoryLimitMiB > 0) {
    process.start(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"),
                    QStringLiteral("ulimit -v %1 && exec \"$0\" \"$@\"").arg(memoryLimitMiB * 1024),
                    QString::fromUtf8(TK_CLI_EXE)} +
            arguments);
  } else {
    process.start(QString::fromUtf8(TK_CLI_EXE), arguments);
  }
  process.waitForFinished(120000);
  ProcessResult r;
  r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  r.out = process.readAllStandardOutput();
  r.err = process.readAllStandardError();
  return r;
}

QString dataPath(const QString& name) {
  return QString::fromUtf8(TK_TEST_DATA_DIR) + QLatin1Char('/') + name;
}

QString corpusDir() {
  const QString dir = QDir::cleanPath(QString::fromUtf8(TK_CORPUS_DIR));
  return QDir(dir).exists() ? dir : QString();
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    return QByteArray();
  }
  return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  EXPECT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

QStringList caseLines(const QString& name) {
  QStringList lines;
  for (const QString& line : QString::fromUtf8(readFile(dataPath(name))).split(u'\n')) {
    if (!line.trimmed().isEmpty() && !line.trimmed().startsWith(u'#')) {
      lines.append(line.trimmed());
    }
  }
  EXPECT_FALSE(lines.isEmpty()) << "no cases in " << name.toStdString();
  return lines;
}

double caseNumber(const QString& text) { return std::strtod(text.toLatin1().constData(), nullptr); }

QString lineDiff(const QByteArray& expected, const QByteArray& actual, int maxLines) {
  if (expected == actual) {
    return QString();
  }
  const QList<QByteArray> a = expected.split('\n');
  const QList<QByteArray> b = actual.split('\n');
  // Longest common subsequence over lines; golden files are small enough for the quadratic table.
  const qsizetype n = a.size();
  const qsizetype m = b.size();
  std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
  for (qsizetype i = n - 1; i >= 0; --i) {
    for (qsizetype j = m - 1; j >= 0; --j) {
      lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  QString diff;
  int lines = 0;
  auto emit = [&](char sign, qsizetype line, const QByteArray& text) {
    if (lines++ < maxLines) {
      diff += QStringLiteral("%1 %2: %3\n")
                  .arg(QChar::fromLatin1(sign))
                  .arg(line + 1)
                  .arg(QString::fromUtf8(text));
    }
  };
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      ++i;
      ++j;
    } else if (j < m && (i == n || lcs[i][j + 1] >= lcs[i + 1][j])) {
      emit('+', j, b[j]);
      ++j;
    } else {
      emit('-', i, a[i]);
      ++i;
    }
  }
  if (lines > maxLines) {
    diff += QStringLiteral("... %1 more differing lines\n").arg(lines - maxLines);
  }
  return diff;
}

::testing::AssertionResult matchesGolden(const QByteArray& actual, const QString& goldenName) {
  const QString path = dataPath(goldenName);
  if (qEnvironmentVariable("TK_UPDATE_GOLDEN") == QLatin1String("1")) {
    QFile file(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(actual) != actual.size()) {
      return ::testing::AssertionFailure() << "cannot rewrite golden file " << path.toStdString();
    }
    return ::testing::AssertionSuccess();
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return ::testing::AssertionFailure() << "golden file missing: " << path.toStdString()
                                         << " (run with TK_UPDATE_GOLDEN=1 to create it)";
  }
  const QByteArray expected = file.readAll();
  if (expected == actual) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "output differs from " << goldenName.toStdString() << " (- golden, + actual):\n"
         << lineDiff(expected, actual).toStdString();
}

}  // namespace tk::test
