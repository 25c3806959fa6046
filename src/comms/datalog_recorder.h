#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <utility>

#include "definition/ecu_definition.h"

namespace tk::comms {

class EcuCommandService;

/// One snapshot's channel values by name, in the order the ECU's frame gave them.
using ChannelValues = QList<std::pair<QString, double>>;

/// What a datalog recording is given and where its records go.
struct DatalogRecording {
  /// How long to record, on the command service's clock.
  qint64 durationMs = 0;
  /// Asked before each snapshot and before each pause; true ends the recording.
  std::function<bool()> stopRequested;
  /// Adds the channels computed over a snapshot's declared ones (none added when unset).
  std::function<ChannelValues(const ChannelValues&)> complete;
  /// Takes one record: the seconds since the start and the snapshot's channels, computed ones
  /// after the declared ones.
  std::function<void(double seconds, const ChannelValues& channels)> record;
};

/// What a datalog recording did.
struct DatalogRun {
  qsizetype records = 0;
  /// When the loop started, on the command service's clock.
  qint64 startMs = 0;
};

/// Reads a realtime snapshot of definition's channels every 20 ms plus the exchange, on the
/// command service's clock, and gives each valid, non-empty one to recording.record, until
/// recording.durationMs have passed or recording.stopRequested says so. A stop that comes during
/// an exchange skips the pause that would follow.
DatalogRun recordDatalog(const EcuDefinition& definition, EcuCommandService& commands,
                         const DatalogRecording& recording);

}  // namespace tk::comms
