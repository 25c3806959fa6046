#include "cli/project_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cli/project_fixture.h"
#include "project/tune_file.h"

namespace tk::cli::test {
namespace {

using ProjectLockTest = CliProjectTest;

QString lockError(ProjectLock& lock, std::chrono::milliseconds timeout) {
  return tk::test::thrownMessage<CommandError>([&] { lock.acquire(timeout); });
}

// A waiter gives up once its time is out, naming the lock file; once the holder lets go, the
// lock is free. Where no lock file can be made, neither can a save: the command goes on and its
// save reports the failure.
TEST_F(ProjectLockTest, WaiterGivesUpNamingTheLockFile) {
  auto holder = std::make_unique<ProjectLock>(projectPath_);
  holder->acquire();
  ProjectLock waiter(projectPath_);
  EXPECT_EQ(lockError(waiter, std::chrono::milliseconds(50)),
            "Project is in use by another command: gave up after 0.05 s waiting for " +
                projectPath_ + ".lock");
  holder.reset();
  EXPECT_TRUE(waiter.tryAcquire());

  ProjectLock nowhere(dir_.filePath("absent/Car.tkproj"));
  EXPECT_EQ(lockError(nowhere, std::chrono::milliseconds(50)), "no error");
  EXPECT_FALSE(nowhere.held());
}

// What no command made at the lock path (a folder, a FIFO) is named at once, not waited on as a
// busy lock.
TEST_F(ProjectLockTest, FolderOrFifoAtTheLockPathIsNamedAtOnce) {
  const QString lockPath = projectPath_ + ".lock";
  ProjectLock lock(projectPath_);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(QDir().mkdir(lockPath));
  EXPECT_TRUE(lockError(lock, std::chrono::milliseconds(5000))
                  .startsWith("Cannot use the project lock " + lockPath + ": "));
  ASSERT_TRUE(QDir().rmdir(lockPath));
  ASSERT_EQ(::mkfifo(QFile::encodeName(lockPath).constData(), 0600), 0);
  EXPECT_EQ(lockError(lock, std::chrono::milliseconds(5000)),
            "Cannot use the project lock " + lockPath + ": not a regular file");
  EXPECT_LT(clock.elapsed(), 1000);
}

// Waiters get the lock in the order they asked for it, not in the order a poll happens to
// find it free. Each waiter is let in only once the one before it is queued (the lock file's
// ticket counter has moved on).
TEST_F(ProjectLockTest, WaitersTakeTurnsInArrivalOrder) {
  std::optional<ProjectLock> holder(std::in_place, projectPath_);
  holder->acquire();
  const auto queued = [this] {
    QFile file(projectPath_ + ".lock");
    long long next = 0;
    return file.open(QIODevice::ReadOnly) &&
                   file.read(reinterpret_cast<char*>(&next), sizeof next) == sizeof next
               ? next
               : -1;
  };
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread> waiters;
  for (int w = 0; w < 4; ++w) {
    waiters.emplace_back([&, w] {
      ProjectLock lock(projectPath_);
      lock.acquire(std::chrono::milliseconds(20000));
      const std::lock_guard guard(mutex);
      order.push_back(w);
    });
    const QDeadlineTimer deadline(5000);
    while (queued() != w + 2 && !deadline.hasExpired()) {
      QThread::msleep(1);
    }
  }
  holder.reset();
  for (std::thread& waiter : waiters) {
    waiter.join();
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(QFileInfo::exists(projectPath_ + ".lock"));
}

// A command killed while it holds the project leaves its lock file behind; the next command
// takes it over instead of waiting for a process that is gone. The holder is kept waiting by
// a tune file that is a pipe nobody writes to.
TEST_F(ProjectLockTest, KilledHolderDoesNotBlockTheNextCommand) {
  const QByteArray tune = tk::test::readFile(tunePath());
  ASSERT_TRUE(QFile::remove(tunePath()));
  ASSERT_EQ(mkfifo(QFile::encodeName(tunePath()).constData(), 0600), 0);
  QProcess holder;
  holder.start(QString::fromUtf8(TK_CLI_EXE),
               {"set-scalar", "-p", projectPath_, "--name", "idleRpm", "--value", "700"});
  // The pipe opens for writing once the holder opens it for reading, after taking the lock.
  int pipe = -1;
  const QDeadlineTimer deadline(20000);
  while (pipe < 0 && !deadline.hasExpired()) {
    pipe = ::open(QFile::encodeName(tunePath()).constData(), O_WRONLY | O_NONBLOCK);
    QThread::msleep(10);
  }
  ASSERT_GE(pipe, 0) << "the holder never read the tune";
  holder.kill();
  ASSERT_TRUE(holder.waitForFinished(10000));
  ::close(pipe);
  ASSERT_TRUE(QFileInfo::exists(projectPath_ + ".lock"));

  ASSERT_TRUE(QFile::remove(tunePath()));
  tk::test::writeFile(tunePath(), tune);
  const auto r = tk::test::runCli(
      {"set-scalar", "-p", projectPath_, "--name", "idleRpm", "--value", "900", "-f", "text"});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(project::readTuneFile(tunePath()).find("idleRpm")->scalarValue, 900.0);
  EXPECT_FALSE(QFileInfo::exists(projectPath_ + ".lock"));
}

// Projects created at once under one name: one is made, the others find it.
TEST(ProjectLockProcessTest, ConcurrentCreatesMakeOneProject) {
  QTemporaryDir dir;
  const QString ini = tk::test::dataPath(QStringLiteral("project/cli.ini"));
  QProcess processes[3];
  for (QProcess& process : processes) {
    process.start(QString::fromUtf8(TK_CLI_EXE), {"create-project", "--name", "Car", "--ini", ini,
                                                  "--folder", dir.path(), "-f", "text"});
  }
  QByteArray errors;
  int made = 0;
  for (QProcess& process : processes) {
    ASSERT_TRUE(process.waitForFinished(60000));
    made += process.exitCode() == 0 ? 1 : 0;
    errors += process.readAllStandardError();
  }
  EXPECT_EQ(made, 1);
  EXPECT_EQ(errors.count("ERROR [create-project]: Project already exists: "), 2);
}

}  // namespace
}  // namespace tk::cli::test
