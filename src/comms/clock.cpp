#include "comms/clock.h"

#include <chrono>
#include <thread>

namespace tk::comms {
namespace {

class SteadyClock : public Clock {
 public:
  qint64 nowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void sleepMs(qint64 ms) override {
    if (ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }
};

}  // namespace

Clock& Clock::real() {
  static SteadyClock clock;
  return clock;
}

}  // namespace tk::comms
