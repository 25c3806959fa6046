#include "cli/project_lock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>

#include "cli/command_context.h"

namespace tk::cli {
namespace {

// Short polls instead of QLockFile's own doubling back-off (up to seconds between tries), so
// that a waiter gets its turn soon after the holder ends even when several commands wait.
constexpr qint64 kPollIntervalMs = 20;
constexpr int kUnreadableLockAgeMs = 5000;

}  // namespace

ProjectLock::ProjectLock(const QString& projectPath)
    : path_(projectPath + QStringLiteral(".lock")), file_(path_) {
  // A lock whose process has gone is taken over at once; one that names no process (its maker
  // was killed while writing it) once it is this old, within one wait. A live holder keeps its
  // lock however long it runs: the system lock on the open lock file stops its removal.
  file_.setStaleLockTime(kUnreadableLockAgeMs);
}

bool ProjectLock::tryAcquire() {
  // Reading a lock file that is a FIFO would block.
  const QFileInfo info(path_);
  if (info.exists() && !info.isFile()) {
    return false;
  }
  return file_.tryLock(std::chrono::milliseconds::zero());
}

// Something at the lock path that no command made (a folder, a device, a file that cannot be
// read) would look like a lock that is never released; it is named at once instead.
void ProjectLock::checkLockPath() const {
  const QFileInfo info(path_);
  if (!info.exists() && !info.isSymLink()) {
    return;
  }
  QString what;
  if (info.isDir()) {
    what = QStringLiteral("is a folder");
  } else if (!info.isFile()) {
    what = QStringLiteral("is not a regular file");
  } else {
    // Only a refusal counts: a holder may remove its lock file at any moment.
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly) || file.error() != QFileDevice::PermissionsError) {
      return;
    }
    what = QStringLiteral("cannot be read");
  }
  throw CommandError(
      QStringLiteral("Cannot lock the project: %1 %2; remove it and try again").arg(path_, what));
}

void ProjectLock::acquire(std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout);
  checkLockPath();
  while (!tryAcquire()) {
    checkLockPath();
    if (file_.error() != QLockFile::LockFailedError) {
      return;
    }
    if (deadline.hasExpired()) {
      throw CommandError(
          QStringLiteral("Project is in use by another command: gave up after %1 s waiting for %2")
              .arg(QString::number(static_cast<double>(timeout.count()) / 1000.0), path_));
    }
    QThread::msleep(
        static_cast<unsigned long>(std::min(kPollIntervalMs, deadline.remainingTime())));
  }
}

}  // namespace tk::cli
