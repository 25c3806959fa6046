#pragma once

#include <QtGlobal>
#include <algorithm>

namespace tk::comms {

/// Monotonic time and sleeping for everything that waits on a deadline or paces itself, so that
/// the same code runs on the machine's clock or on a fake one. Times are milliseconds on an
/// arbitrary monotonic scale: only differences mean anything.
class Clock {
 public:
  virtual ~Clock() = default;

  /// Milliseconds since an arbitrary fixed point; never goes back.
  virtual qint64 nowMs() const = 0;
  /// Waits ms milliseconds (nothing when ms < 1).
  virtual void sleepMs(qint64 ms) = 0;

  /// The machine's steady clock with real sleeps; stateless, so any thread may share it.
  static Clock& real();
};

/// A clock that only moves when it is told to or when someone sleeps on it: a sleep advances it
/// at once, so waits of seconds take microseconds. For tests and for runs against scripted ECUs,
/// whose bytes never arrive by themselves while a caller waits. One thread only.
class FakeClock : public Clock {
 public:
  /// A clock standing at startMs.
  explicit FakeClock(qint64 startMs = 0) : nowMs_(startMs) {}

  qint64 nowMs() const override { return nowMs_; }
  /// Advances the clock by ms instead of waiting.
  void sleepMs(qint64 ms) override { advance(ms); }
  /// Moves the clock forward by ms (nothing when ms < 1).
  void advance(qint64 ms) {
    if (ms > 0) {
      nowMs_ += ms;
    }
  }

 private:
  qint64 nowMs_;
};

/// The moment on a clock that a wait must not pass. A negative timeout never expires (as with
/// QDeadlineTimer); a timeout of 0 has expired at once.
class Deadline {
 public:
  /// A deadline timeoutMs from now on clock (which must outlive it).
  Deadline(const Clock& clock, qint64 timeoutMs)
      : clock_(clock), endMs_(timeoutMs < 0 ? -1 : clock.nowMs() + timeoutMs) {}

  /// Whether the clock has reached the deadline.
  bool hasExpired() const { return endMs_ >= 0 && clock_.nowMs() >= endMs_; }
  /// The milliseconds left, 0 once expired; a deadline that never expires has cap left. A wait
  /// of this long ends on the deadline.
  qint64 remainingMs(qint64 cap = 3600000) const {
    return endMs_ < 0 ? cap : std::clamp<qint64>(endMs_ - clock_.nowMs(), 0, cap);
  }

 private:
  const Clock& clock_;
  qint64 endMs_;  // -1: never
};

}  // namespace tk::comms
