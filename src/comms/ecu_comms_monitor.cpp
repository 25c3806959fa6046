#include "comms/ecu_comms_monitor.h"

namespace tk::comms {
namespace {

constexpr qint64 kThrottleMs = 99;
constexpr qsizetype kMaxEntries = 500;
constexpr qsizetype kTrimCount = 100;

}  // namespace

EcuCommsMonitor::EcuCommsMonitor(QObject* parent)
    : QObject(parent), clock_([] { return QDateTime::currentDateTimeUtc(); }) {}

void EcuCommsMonitor::setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

void EcuCommsMonitor::log(int direction, const QByteArray& bytes, const QString& label) {
  if (!enabled_) {
    return;
  }
  // Anything that is not a receive is counted with the transmit direction.
  const std::size_t d = direction == kReceive ? 1 : 0;
  const QDateTime now = clock_();
  if (lastKept_[d].isValid() && lastKept_[d].msecsTo(now) <= kThrottleMs) {
    ++skipped_[d];
    return;
  }
  lastKept_[d] = now;
  const int skipped = skipped_[d];
  skipped_[d] = 0;

  CommsLogEntry entry{now, direction, bytes, label};
  if (skipped > 0) {
    entry.label += QStringLiteral(" (+%1 skipped)").arg(skipped);
  }
  entries_.append(entry);
  if (entries_.size() > kMaxEntries) {
    entries_.remove(0, kTrimCount);
  }
  Q_EMIT logEntryAdded(entry);
}

}  // namespace tk::comms
