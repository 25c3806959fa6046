#pragma once

#include <QString>
#include <chrono>

namespace tk::cli {

/// How long a command waits for another command to release a project.
inline constexpr std::chrono::milliseconds kProjectLockTimeout{10000};

/// The lock that makes commands changing one project run one after another: a lock file beside
/// the project file, held from loading the project to saving it and released on destruction.
/// Waiting commands take their turn in the order they asked for it. The lock goes with its
/// process: one killed while holding or waiting leaves nothing that stops the next.
class ProjectLock {
 public:
  /// The lock of the project file at projectPath (not taken yet).
  explicit ProjectLock(const QString& projectPath);
  /// Releases the lock; the last holder removes the lock file.
  ~ProjectLock();
  ProjectLock(const ProjectLock&) = delete;
  ProjectLock& operator=(const ProjectLock&) = delete;

  /// Takes the lock, waiting behind those that asked before until the line ahead has not moved
  /// for timeout; throws CommandError naming the lock file when the wait runs out, or when
  /// something that is no lock file (a folder, a file this user may not open) is in its place.
  /// Where no lock file can be made (a folder that takes no new files, so no save there can succeed
  /// either) it returns without the lock, and the command's own writes report the failure.
  void acquire(std::chrono::milliseconds timeout = kProjectLockTimeout);
  /// Takes the lock if nobody holds or waits for it now; false otherwise.
  bool tryAcquire();

  /// True while this object holds the lock.
  bool held() const { return held_; }
  /// The lock file: the project file's path with ".lock" added.
  const QString& path() const { return path_; }

 private:
  // Opens the lock file and queues behind those already waiting; false when no lock file can
  // be made. With onlyWhenIdle, queues only when nobody holds or waits.
  bool enqueue(bool onlyWhenIdle);
  void release();
  // How many holders and waiters are ahead of this one.
  qint64 ticketsAhead() const;

  QString path_;
  int fd_ = -1;
  long long ticket_ = 0;
  bool held_ = false;
};

}  // namespace tk::cli
