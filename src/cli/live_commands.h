#pragma once

#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "cli/command_context.h"
#include "definition/ecu_definition.h"
#include "expr/computed_channels.h"
#include "formats/mlg_model.h"
#include "json/json_value.h"

namespace tk {
struct Tune;
}  // namespace tk

namespace tk::comms {
class EcuCommandService;
}

namespace tk::cli {

// The live-data commands: realtime snapshots of the ECU's output channels, sampled a number of
// times or recorded into an MLG datalog. Both open the link after their own checks and do not
// require the ECU to answer: snapshots that fail are simply left out.

/// read-channels: the requested channels' values over count snapshots.
JsonValue readChannels(CommandContext& context);
/// datalog: the datalog entries recorded for a duration into an MLG file; SIGINT or SIGTERM ends
/// the recording early and the file is still written.
JsonValue datalog(CommandContext& context);

/// The channel names read-channels keeps: those of the channels option (comma-separated,
/// trimmed, empty parts dropped), else the front page's gauge channels, else RPM, MAP, CLT, IAT,
/// AFR, Advance and TPS.
QSet<QString> requestedChannels(const EcuDefinition& definition, const CommandOptions& options);

/// The computed channels of the definition, seeing the numeric constants of tune (none when
/// null); their history functions see one record per snapshot completed.
std::unique_ptr<expr::ComputedChannels> computedChannels(const EcuDefinition& definition,
                                                         const Tune* tune);

/// Takes count snapshots 20 ms apart and gives read-channels' data: the "channels" list when
/// count is 1 and the one snapshot was valid, else "readCount" and "readings". Every snapshot
/// holds the declared channels and the computed ones, evaluated over them and the constants of
/// tune (none when null).
JsonValue sampleChannels(const EcuDefinition& definition, comms::EcuCommandService& commands,
                         int count, const QSet<QString>& names, const Tune* tune = nullptr);

/// The seconds a datalog's duration option gives: a whole number of at least 0, 0 written as
/// "0"; throws CommandError naming the text otherwise.
int datalogDuration(const QString& text);

/// The absolute native path of a datalog written for the output option: its extension
/// becomes ".mlg" (kept when already ".mlg" in any case, appended when there is none).
QString datalogPath(const QString& output);

class StopSignals;

/// What recordDatalogFile recorded.
struct RecordedLog {
  qsizetype records = 0;
  qsizetype channels = 0;
  /// From the first snapshot to the end, on the link's clock.
  double elapsedSeconds = 0.0;
};

/// Records duration seconds of the project's live channels (computed ones included) from its
/// ECU into an MLG file at path (its folder made; written beside it and renamed over it), with
/// the datalog progress lines, until the time is up or stop says so.
RecordedLog recordDatalogFile(CommandContext& context, int duration, const QString& path,
                              StopSignals& stop);

}  // namespace tk::cli
