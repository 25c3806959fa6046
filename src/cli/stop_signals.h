#pragma once

#include <csignal>
#include <functional>

namespace tk::cli {

/// Turns SIGINT and SIGTERM into a request to stop, for a loop that must end cleanly (a datalog
/// writes what it recorded). Only one may exist at a time; the previous handling of both
/// signals comes back when it is destroyed, unless one of them arrived: then the process is
/// ending on request, and what is in place (ignore() or the stop handler) stays.
class StopSignals {
 public:
  /// Installs the handlers; no stop is requested yet.
  StopSignals();
  /// Restores the handling the signals had before, unless a signal asked for the stop.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// Whether one of the signals arrived since construction, or the stop check asks for a stop.
  bool requested() const;
  /// Installs a check that requested() also consults (an agent session's cancel of the running
  /// call; it may report progress on the way); an empty one removes it.
  static void setStopCheck(std::function<bool()> check);
  /// Whether the installed stop check asks for a stop; for loops that leave the signals alone.
  static bool checkRequested();
  /// From now on both signals are ignored (while the results are being written).
  void ignore();

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace tk::cli
