#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <functional>

namespace tk::comms {

/// One kept traffic record.
struct CommsLogEntry {
  QDateTime timestamp;  ///< UTC
  int direction = 0;    ///< 0 = sent to the ECU, 1 = received from it
  QByteArray data;
  QString label;
};

/// A bounded, throttled log of connection traffic (at most one entry per direction per 100 ms).
class EcuCommsMonitor : public QObject {
  Q_OBJECT

 public:
  /// Direction values of log entries.
  static constexpr int kTransmit = 0;
  static constexpr int kReceive = 1;

  /// A monitor that is enabled and reads the current UTC time.
  explicit EcuCommsMonitor(QObject* parent = nullptr);

  /// Replaces the clock (tests use a fixed sequence of times).
  void setClock(std::function<QDateTime()> clock);
  /// Turns logging on or off.
  void setEnabled(bool enabled) { enabled_ = enabled; }
  /// Whether log() keeps anything.
  bool isEnabled() const { return enabled_; }
  /// The kept entries, oldest first (at most 500).
  const QList<CommsLogEntry>& entries() const { return entries_; }

  /// Records traffic in one direction unless it follows the last kept entry of that direction
  /// within 99 ms; a kept entry's label tells how many were skipped before it.
  void log(int direction, const QByteArray& bytes, const QString& label);

 Q_SIGNALS:
  /// Emitted for every kept entry.
  void logEntryAdded(const tk::comms::CommsLogEntry& entry);

 private:
  std::function<QDateTime()> clock_;
  QList<CommsLogEntry> entries_;
  std::array<QDateTime, 2> lastKept_;
  std::array<int, 2> skipped_{0, 0};
  bool enabled_ = true;
};

}  // namespace tk::comms
