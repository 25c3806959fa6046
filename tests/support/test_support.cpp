#include "support/test_support.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>

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

ProcessResult runCli(const QStringList& arguments, const QString& workingDir) {
  QProcess process;
  if (!workingDir.isEmpty()) {
    process.setWorkingDirectory(workingDir);
  }
  process.start(QString::fromUtf8(TK_CLI_EXE), arguments);
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

}  // namespace tk::test
