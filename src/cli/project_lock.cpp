#include "cli/project_lock.h"

#include <QDeadlineTimer>
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

bool ProjectLock::tryAcquire() { return file_.tryLock(std::chrono::milliseconds::zero()); }

void ProjectLock::acquire(std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout);
  while (!tryAcquire()) {
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
