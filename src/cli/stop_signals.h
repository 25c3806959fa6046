#pragma once

#include <csignal>

namespace tk::cli {

/// Turns SIGINT and SIGTERM into a request to stop, for a loop that must end cleanly (a datalog
/// writes what it recorded). Only one may exist at a time; the previous handling of both
/// signals comes back when it is destroyed.
class StopSignals {
 public:
  /// Installs the handlers; no stop is requested yet.
  StopSignals();
  /// Restores the handling the signals had before.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// Whether one of the signals arrived since construction.
  bool requested() const;
  /// From now on both signals are ignored (while the results are being written).
  void ignore();

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace tk::cli
