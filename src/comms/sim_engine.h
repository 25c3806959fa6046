#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

/// The state of the simulated engine at one moment: it warms up over minutes and sweeps from
/// idle to high load and back every 30 seconds.
struct SimEngineState {
  double seconds = 0;  ///< running time
  double load = 0;     ///< 0 at idle, 1 at full load
  double rpm = 0;
  double coolant = 0;  ///< deg C
  double intakeAir = 0;
  double map = 0;  ///< kPa
  double afr = 0;
  double advance = 0;  ///< deg
  double battery = 0;  ///< V
};

/// The engine at running time seconds (negative times count as 0).
SimEngineState simEngineState(double seconds);

/// The physical value of a realtime channel the simulated engine models (by name, ignoring case,
/// with the usual aliases such as "clt" for coolant); no value for channels it does not know.
std::optional<double> simChannelValue(const QString& channelName, const SimEngineState& state);

/// The realtime block of the definition (OchBlockSize bytes, 100 when below 1) for the state:
/// every declared channel the engine models is stored at its offset through its scale,
/// translate and type in the definition's byte order; other bytes are 0.
QByteArray simRealtimeBlock(const EcuDefinition& definition, const SimEngineState& state);

/// A tooth-logger capture of a 36-1 trigger wheel: length bytes of records of recordLength
/// bytes (at least 4) ending in the tooth gap in microseconds, big-endian.
QByteArray simToothLog(int length, int recordLength, const SimEngineState& state);

/// A composite-logger capture: records of recordLength bytes (at least 5), a flag byte (bit 0
/// primary level, bit 1 secondary level, bit 2 trigger, bit 3 sync) followed by the running
/// time in microseconds, big-endian.
QByteArray simCompositeLog(int length, int recordLength, const SimEngineState& state);

}  // namespace tk::comms
