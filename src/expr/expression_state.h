#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <cstddef>
#include <deque>
#include <optional>

namespace tk::expr {

/// What the history functions read about one recorded channel.
struct ChannelRecord {
  /// Smallest and largest non-NaN value recorded; absent while only NaN was recorded.
  std::optional<double> minimum;
  std::optional<double> maximum;
  /// The most recent value recorded (NaN included).
  double last = 0.0;
  /// Recent values, newest last, at most ExpressionState::kHistoryDepth of them.
  std::deque<double> history;
  /// Sum of every non-NaN value recorded since the last reset.
  double sum = 0.0;
};

/// Per-evaluation memory of the history functions, owned by the engine's caller: recorded
/// channels, smoothing memories, log time and a running timer, plus persistent accumulators
/// that survive reset().
class ExpressionState {
 public:
  /// Values kept per channel for historicalvalue, pastvalue and smoothbasic.
  static constexpr std::size_t kHistoryDepth = 1024;

  /// Starts the running timer.
  ExpressionState();

  /// The recording step: one new value of a channel updates its minimum, maximum, last value,
  /// history, running sum and persistent sum (NaN is kept as last value and in the history only).
  void record(const QString& name, double value);
  /// Clears every channel record and smoothing memory, sets the log time to 0 and restarts the
  /// timer; the persistent accumulators are kept.
  void reset();
  /// Clears the persistent accumulators as well.
  void clearPersistent();

  /// The record of a channel, or null when it was never recorded since the last reset.
  const ChannelRecord* channel(const QString& name) const;
  /// The persistent sum of a channel (0 when none).
  double persistentSum(const QString& name) const;

  /// A smoothing memory, or empty when none is kept under that key.
  std::optional<double> smoothing(const QString& key) const;
  /// Stores a smoothing memory.
  void setSmoothing(const QString& key, double value);

  /// The current log time in seconds.
  double logTime() const { return logTime_; }
  /// Sets the current log time in seconds (a log replay sets it to the record's time stamp).
  void setLogTime(double seconds) { logTime_ = seconds; }
  /// Milliseconds since construction or the last reset.
  qint64 elapsedMs() const { return timer_.elapsed(); }

 private:
  QHash<QString, ChannelRecord> channels_;
  QHash<QString, double> smoothing_;
  QHash<QString, double> persistent_;
  double logTime_ = 0.0;
  QElapsedTimer timer_;
};

}  // namespace tk::expr
