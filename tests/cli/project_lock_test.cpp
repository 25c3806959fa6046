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
  EXPECT_EQ(lockError(lock, std::chrono::milliseconds(5000)),
            "Cannot lock the project: " + lockPath + " is a folder; remove it and try again");
  ASSERT_TRUE(QDir().rmdir(lockPath));
  ASSERT_EQ(::mkfifo(QFile::encodeName(lockPath).constData(), 0600), 0);
  EXPECT_EQ(
      lockError(lock, std::chrono::milliseconds(5000)),
      "Cannot lock the project: " + lockPath + " is not a regular file; remove it and try again");
  EXPECT_FALSE(lock.tryAcquire());
  EXPECT_LT(clock.elapsed(), 1000);
}

// The whole program, four processes of fifty edits each on different cells of one 16 x 16
// table at once: without the lock, a command saves over edits another made after it loaded.
TEST(ProjectLockProcessTest, ConcurrentEditsLoseNothing) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("grid.ini");
  tk::test::writeFile(
      ini,
      "[MegaTune]\n signature = \"grid 1\"\n[Constants]\n nPages = 1\n pageSize = 256\npage = 1\n"
      " grid = array, U08, 0, [16x16], \"\", 1, 0, 0, 255, 0\n"
      "[TableEditor]\n table = gridTbl, gridMap, \"Grid\", 1\n zBins = grid\n");
  project::ProjectManager manager;
  manager.createProject(QStringLiteral("Grid"), ini, dir.path());

  constexpr int kProcesses = 4;
  constexpr int kEdits = 50;
  QProcess processes[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    QString script;
    for (int cell = p * kEdits; cell < (p + 1) * kEdits; ++cell) {
      script += QStringLiteral(
                    "\"$0\" set-table-cell -p \"$1\" --id gridTbl --row %1 --col %2 "
                    "--value %3\n")
                    .arg(cell / 16)
                    .arg(cell % 16)
                    .arg(cell + 1);
    }
    processes[p].start(QStringLiteral("/bin/sh"),
                       {"-c", script, QString::fromUtf8(TK_CLI_EXE), manager.projectPath()});
  }
  for (QProcess& process : processes) {
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.readAllStandardOutput().count("\"saved\": true"), kEdits);
    EXPECT_EQ(process.readAllStandardError(), QByteArray());
  }
  const QList<double> cells =
      project::readTuneFile(manager.tunePath()).find("grid")->arrayValues.value();
  for (int cell = 0; cell < 256; ++cell) {
    EXPECT_EQ(cells.at(cell), cell < kProcesses * kEdits ? cell + 1 : 0) << "cell " << cell;
  }
  EXPECT_FALSE(QFileInfo::exists(manager.projectPath() + ".lock"));
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
