#pragma once

// Frames, the synthetic definition and a scripted ECU whose replies take time on a fake clock.

#include <QQueue>
#include <algorithm>
#include <functional>
#include <utility>

#include "comms/clock.h"
#include "comms/crc32.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "definition/ini_parser.h"
#include "support/test_support.h"
#include "tune/tune_value.h"

namespace tk::test {

inline QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

/// A frame around payload: length, payload, CRC-32 big-endian, the same both ways.
inline QByteArray framed(const QByteArray& payload) {
  return comms::EcuCommandService::wrapFrame(payload);
}

/// A success response carrying data.
inline QByteArray okFrame(const QByteArray& data) { return framed(QByteArray(1, '\0') + data); }

/// The three-page synthetic definition tests/data/tunefields.ini, parsed once.
inline const EcuDefinition& syntheticDefinition() {
  static const EcuDefinition d = IniParser().parse(dataPath(QStringLiteral("tunefields.ini")));
  return d;
}

/// Pages 1..3 (288, 512 and 128 bytes) of tests/data/tuneimg-synthetic.bin.
inline PageImages syntheticPages() {
  const QByteArray image = readFile(dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  return {{1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
}

/// A fake clock that also tells the milliseconds since it was last asked.
class LapClock : public comms::FakeClock {
 public:
  qint64 lap() {
    const qint64 ms = nowMs() - mark_;
    mark_ = nowMs();
    return ms;
  }

 private:
  qint64 mark_ = 0;
};

/// A scripted ECU (opened) whose replies take time: each write releases the next timed reply,
/// whose pieces arrive the given milliseconds after that write on a fake clock. A piece may also
/// hang the line up (Lost). A read that finds nothing moves the clock on to the next piece or
/// to the end of its wait, whichever comes first.
class TimedEcu : public comms::ScriptedEcuConnection {
 public:
  struct Piece {
    qint64 afterMs = 0;
    QByteArray bytes;
    bool hangUp = false;
  };

  explicit TimedEcu(comms::FakeClock& clock) : clock_(clock) {
    setClock(clock);
    open();
  }

  /// Queues a reply made of pieces in time order.
  void queueTimed(QList<Piece> reply) { timed_.enqueue(std::move(reply)); }
  /// Queues a reply that is there at once.
  void reply(const QByteArray& bytes) { queueTimed({{0, bytes}}); }

  qint64 write(const QByteArray& bytes) override {
    if (const std::function<void()> hook = std::exchange(onWrite, nullptr)) {
      hook();
    }
    const qint64 written = ScriptedEcuConnection::write(bytes);
    if (forcedWriteResult() < 0 && !timed_.isEmpty()) {
      for (const Piece& p : timed_.dequeue()) {
        due_.append({clock_.nowMs() + p.afterMs, p.bytes, p.hangUp});
      }
    }
    return written;
  }
  QByteArray read(qint64 maxBytes, qint64 waitMs) override {
    release();
    if (pendingInput().isEmpty() && error() == comms::ConnectionError::None) {
      qint64 until = clock_.nowMs() + waitMs;
      for (const Piece& p : due_) {
        until = std::min(until, p.afterMs);
      }
      clock_.advance(until - clock_.nowMs());
      release();
    }
    const bool greedy = greedyFromRead >= 0 && readCalls() >= greedyFromRead;
    return ScriptedEcuConnection::read(greedy ? 1 << 20 : maxBytes, 0);
  }
  qint64 bytesAvailable() override {
    release();
    return ScriptedEcuConnection::bytesAvailable();
  }

  /// Runs once from inside the next write, as a slot could while an exchange waits.
  std::function<void()> onWrite;
  /// From this read on (counted from 0), reads hand out everything pending, more than asked.
  int greedyFromRead = -1;

 private:
  void release() {
    for (qsizetype i = 0; i < due_.size();) {
      if (due_.at(i).afterMs > clock_.nowMs()) {
        ++i;
        continue;
      }
      const Piece p = due_.takeAt(i);
      appendPendingInput(p.bytes);
      if (p.hangUp) {
        hangUp(QStringLiteral("peer hung up"));
      }
    }
  }

  comms::FakeClock& clock_;
  QQueue<QList<Piece>> timed_;
  QList<Piece> due_;  // with absolute times
};

}  // namespace tk::test
