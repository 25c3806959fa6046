#include "expr/expression_state.h"

#include <cmath>

namespace tk::expr {

ExpressionState::ExpressionState() { timer_.start(); }

void ExpressionState::record(const QString& name, double value) {
  ChannelRecord& rec = channels_[name];
  rec.last = value;
  rec.history.push_back(value);
  if (rec.history.size() > kHistoryDepth) {
    rec.history.pop_front();
  }
  // A NaN sample (a sensor fault, a channel not yet received) must not poison the extremes or the
  // sums for the rest of the log.
  if (std::isnan(value)) {
    return;
  }
  if (!rec.minimum || value < *rec.minimum) {
    rec.minimum = value;
  }
  if (!rec.maximum || value > *rec.maximum) {
    rec.maximum = value;
  }
  rec.sum += value;
  persistent_[name] += value;
}

void ExpressionState::reset() {
  channels_.clear();
  smoothing_.clear();
  logTime_ = 0.0;
  timer_.restart();
}

void ExpressionState::clearPersistent() { persistent_.clear(); }

const ChannelRecord* ExpressionState::channel(const QString& name) const {
  const auto it = channels_.constFind(name);
  return it == channels_.cend() ? nullptr : &it.value();
}

double ExpressionState::persistentSum(const QString& name) const {
  return persistent_.value(name, 0.0);
}

std::optional<double> ExpressionState::smoothing(const QString& key) const {
  const auto it = smoothing_.constFind(key);
  if (it == smoothing_.cend()) {
    return std::nullopt;
  }
  return it.value();
}

void ExpressionState::setSmoothing(const QString& key, double value) { smoothing_[key] = value; }

}  // namespace tk::expr
