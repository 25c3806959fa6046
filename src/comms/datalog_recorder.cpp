#include "comms/datalog_recorder.h"

#include "comms/clock.h"
#include "comms/ecu_command_service.h"
#include "comms/realtime_data.h"

namespace tk::comms {
namespace {

constexpr qint64 kPacingMs = 20;

}  // namespace

DatalogRun recordDatalog(const EcuDefinition& definition, EcuCommandService& commands,
                         const DatalogRecording& recording) {
  Clock& clock = commands.clock();
  const auto stopRequested = [&] { return recording.stopRequested && recording.stopRequested(); };
  DatalogRun run;
  run.startMs = clock.nowMs();
  const auto elapsed = [&] { return clock.nowMs() - run.startMs; };
  // A stop that came during the exchange skips the pause: the loop ends at once.
  const auto pause = [&] {
    if (!stopRequested()) {
      clock.sleepMs(kPacingMs);
    }
  };
  while (elapsed() < recording.durationMs && !stopRequested()) {
    const RealtimeSnapshot snapshot = readRealtimeSnapshot(definition, commands);
    if (!snapshot.valid || snapshot.values.isEmpty()) {
      pause();
      continue;
    }
    const double t = static_cast<double>(elapsed()) / 1000.0;
    if (recording.record) {
      recording.record(t,
                       recording.complete ? recording.complete(snapshot.values) : snapshot.values);
    }
    ++run.records;
    pause();
  }
  return run;
}

}  // namespace tk::comms
