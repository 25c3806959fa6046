#include "cli/project_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/command_context.h"

namespace tk::cli {
namespace {

// The lock file is a ticket queue made of open-file-description record locks, which the system
// drops when their process ends however it ends. The first bytes hold the next ticket, guarded
// by a lock on them; ticket t is a lock on byte kQueueBase + t, taken while waiting and holding.
// A waiter holds the lock once it can lock every byte of the tickets before its own, so turns
// go in ticket order; a waiter that gives up or dies just drops out of the line.
constexpr off_t kCounterBytes = 8;
constexpr off_t kQueueBase = off_t{1} << 20;
constexpr qint64 kPollIntervalMs = 5;

bool setLock(int fd, short type, off_t start, off_t length, bool wait) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = start;
  request.l_len = length;
  while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) != 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Whether another holder or waiter has a ticket.
bool queueBusy(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kQueueBase;
  probe.l_len = 0;
  return ::fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

}  // namespace

ProjectLock::ProjectLock(const QString& projectPath)
    : path_(projectPath + QStringLiteral(".lock")) {}

ProjectLock::~ProjectLock() { release(); }

bool ProjectLock::enqueue(bool onlyWhenIdle) {
  const QByteArray name = QFile::encodeName(path_);
  for (;;) {
    fd_ = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0 && errno == ENOENT) {
      fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
      if (fd_ < 0 && errno != EEXIST) {
        // Nothing is there and nothing can be made: no save could succeed either.
        return false;
      }
    }
    if (fd_ < 0) {
      if (errno == ENOENT || errno == EEXIST) {
        continue;
      }
      throw CommandError(
          QStringLiteral("Cannot use the project lock %1: %2").arg(path_, systemError()));
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      throw CommandError(
          QStringLiteral("Cannot use the project lock %1: not a regular file").arg(path_));
    }
    if (!setLock(fd_, F_WRLCK, 0, kCounterBytes, true)) {
      const QString error = systemError();
      ::close(fd_);
      fd_ = -1;
      throw CommandError(QStringLiteral("Cannot use the project lock %1: %2").arg(path_, error));
    }
    // The last holder removes the file while it holds the guard; who opened it before then
    // starts again on the file that replaces it.
    if (::fstat(fd_, &info) != 0 || info.st_nlink == 0) {
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    const bool busy = queueBusy(fd_);
    if (busy && onlyWhenIdle) {
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    long long next = 0;
    if (busy && ::pread(fd_, &next, sizeof next, 0) != static_cast<ssize_t>(sizeof next)) {
      next = 0;
    }
    // An idle queue starts again from 0; a counter past any sane count is taken as damage.
    ticket_ = busy ? std::clamp<long long>(next, 0, kQueueBase - 1) : 0;
    const long long after = ticket_ + 1;
    const bool queued =
        ::pwrite(fd_, &after, sizeof after, 0) == static_cast<ssize_t>(sizeof after) &&
        setLock(fd_, F_WRLCK, kQueueBase + ticket_, 1, false);
    setLock(fd_, F_UNLCK, 0, kCounterBytes, false);
    if (!queued) {
      const QString error = systemError();
      ::close(fd_);
      fd_ = -1;
      throw CommandError(QStringLiteral("Cannot use the project lock %1: %2").arg(path_, error));
    }
    return true;
  }
}

bool ProjectLock::tryAcquire() {
  if (held_) {
    return true;
  }
  held_ = enqueue(true);
  return held_;
}

void ProjectLock::acquire(std::chrono::milliseconds timeout) {
  if (held_ || !enqueue(false)) {
    return;
  }
  // Short polls: the turn comes soon after the one before ends. The time runs out only when the
  // line ahead has not moved for that long, so a long line of quick commands does not give up.
  QDeadlineTimer deadline(timeout);
  qint64 ahead = ticketsAhead();
  while (ticket_ > 0 && !setLock(fd_, F_WRLCK, kQueueBase, ticket_, false)) {
    if (const qint64 now = ticketsAhead(); now < ahead) {
      ahead = now;
      deadline.setRemainingTime(timeout);
    }
    if (deadline.hasExpired()) {
      release();
      throw CommandError(
          QStringLiteral("Project is in use by another command: gave up after %1 s waiting for %2")
              .arg(QString::number(static_cast<double>(timeout.count()) / 1000.0), path_));
    }
    QThread::msleep(
        static_cast<unsigned long>(std::min(kPollIntervalMs, deadline.remainingTime())));
  }
  held_ = true;
}

qint64 ProjectLock::ticketsAhead() const {
  qint64 count = 0;
  for (long long t = 0; t < ticket_; ++t) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kQueueBase + t;
    probe.l_len = 1;
    if (::fcntl(fd_, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
      ++count;
    }
  }
  return count;
}

void ProjectLock::release() {
  if (fd_ < 0) {
    return;
  }
  if (held_ && setLock(fd_, F_WRLCK, 0, kCounterBytes, true)) {
    // Nobody in line: the file goes, under the guard that a newcomer takes before queueing.
    setLock(fd_, F_UNLCK, kQueueBase, 0, false);
    if (!queueBusy(fd_)) {
      ::unlink(QFile::encodeName(path_).constData());
    }
  }
  ::close(fd_);
  fd_ = -1;
  held_ = false;
}

}  // namespace tk::cli
