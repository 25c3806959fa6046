#include "cli/stop_signals.h"

#include <utility>

namespace tk::cli {
namespace {

volatile std::sig_atomic_t stopRequested = 0;
std::function<bool()>& stopCheck() {
  static std::function<bool()> check;
  return check;
}

void requestStop(int /*signal*/) { stopRequested = 1; }

void install(int signal, void (*handler)(int), struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restarted system calls keep a read or sleep going; the loop looks at the flag between steps.
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, previous);
}

}  // namespace

StopSignals::StopSignals() {
  stopRequested = 0;
  install(SIGINT, requestStop, &previousInt_);
  install(SIGTERM, requestStop, &previousTerm_);
}

StopSignals::~StopSignals() {
  // After a signalled stop the process is on its way out: a second Ctrl-C must not kill it
  // between the end of the loop and the envelope, so the handling in place stays.
  if (stopRequested != 0) {
    return;
  }
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool StopSignals::requested() const { return stopRequested != 0 || checkRequested(); }

bool StopSignals::checkRequested() { return stopCheck() && stopCheck()(); }

void StopSignals::setStopCheck(std::function<bool()> check) { stopCheck() = std::move(check); }

void StopSignals::ignore() {
  install(SIGINT, SIG_IGN, nullptr);
  install(SIGTERM, SIG_IGN, nullptr);
}

}  // namespace tk::cli
