#pragma once

#include <QLockFile>
#include <QString>
#include <chrono>

namespace tk::cli {

/// How long a command waits for another command to release a project.
inline constexpr std::chrono::milliseconds kProjectLockTimeout{10000};

/// The lock that makes commands changing one project run one after another: a lock file beside
/// the project file, held from loading the project to saving it and released on destruction. A
/// lock file left by a process that no longer runs is taken over.
class ProjectLock {
 public:
  /// The lock of the project file at projectPath (not taken yet).
  explicit ProjectLock(const QString& projectPath);

  /// Takes the lock, waiting up to timeout for its holder; throws CommandError naming the lock
  /// file when the wait runs out, and at once when the lock path holds a folder, something other
  /// than a regular file or a file that cannot be read. Where no lock file can be made (a folder
  /// that takes no new files, so no save there can succeed either) it returns without the lock, and
  /// the command's own writes report the failure.
  void acquire(std::chrono::milliseconds timeout = kProjectLockTimeout);
  /// Takes the lock if it is free now; false when it is held or the lock file cannot be made.
  bool tryAcquire();

  /// True while this object holds the lock.
  bool held() const { return file_.isLocked(); }
  /// The lock file: the project file's path with ".lock" added.
  const QString& path() const { return path_; }

 private:
  void checkLockPath() const;

  QString path_;
  QLockFile file_;
};

}  // namespace tk::cli
