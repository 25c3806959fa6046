#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

#include "tune/fuel_analysis.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::sim {

/// The state of the simulated engine at one moment.
struct SimEngineState {
  double seconds = 0;     ///< since the starter was engaged
  double throttle = 0;    ///< %
  double rpm = 0;         ///< rev/min
  double map = 0;         ///< manifold pressure, kPa
  double mapDot = 0;      ///< kPa/s
  double coolant = 0;     ///< deg C
  double intakeAir = 0;   ///< deg C
  double afr = 0;         ///< measured air-fuel ratio
  double afrTarget = 0;   ///< the fuel table's target
  double advance = 0;     ///< deg before top dead centre
  double battery = 0;     ///< V
  double ve = 0;          ///< volumetric efficiency, %
  double pulseWidth = 0;  ///< injector opening, ms
  double ego = 100;       ///< EGO correction, % (with a fuelling model only)
  bool cranking = true;
  bool running = false;
  bool fuelCut = false;      ///< no fuel on the overrun
  bool egoModelled = false;  ///< ego is the controller's correction, not a stand-in wobble
};

/// A smooth difference between an engine's true volumetric efficiency and its tune's: at (rpm,
/// load) the sum of three plane waves over the two axes (about one cycle over 7000 rpm and
/// 100 kPa each), whose amplitudes, directions and phases come from the seed, scaled so that it
/// never exceeds percent either way. The same seed gives the same pattern on every machine.
class SimVeError {
 public:
  static constexpr quint32 kDefaultSeed = 27;

  explicit SimVeError(double percent = 0.0, quint32 seed = kDefaultSeed);
  /// The difference in percent at rpm and load (kPa).
  double at(double rpm, double load) const;
  double percent() const { return percent_; }

 private:
  struct Wave {
    double amplitude;
    double perRpm;
    double perKpa;
    double phase;
  };
  double percent_;
  std::array<Wave, 3> waves_{};
};

/// How the controller fuels: the tables it fuels by (from its working pages), over rpm (x) and
/// load in kPa (y).
struct SimFuelling {
  AnalysisGrid ve;          ///< the VE table, %
  AnalysisGrid target;      ///< the AFR target table; no values: the engine's own target
  bool closedLoop = false;  ///< EGO correction on
};

/// A simulated engine on a drive that repeats every 40 s after a start: cranked for 1.5 s, then
/// idling, accelerating, cruising, a hard pull, lifting off (fuel cut) and idling again, while it
/// warms up over minutes. Every quantity follows its target with a lag of its own, stepped every
/// 10 ms from the start, so the state at a given time never depends on how often it was asked.
class SimEngine {
 public:
  /// The engine at 0 s: cold (20 deg C), the starter just engaged.
  SimEngine();
  /// Runs the engine on to seconds (an earlier time changes nothing) and gives its state.
  const SimEngineState& advanceTo(double seconds);
  /// The state reached so far.
  const SimEngineState& state() const { return state_; }

  /// Fits the engine with a true VE: base (the tune's VE table when the engine was fitted) times
  /// 1 + error / 100. From then on, once it has a fuelling too, its measured AFR is the target x
  /// true VE / the fuelling's VE / (EGO correction / 100), as a real engine's is.
  void setTrueVe(AnalysisGrid base, const SimVeError& error);
  /// The tables the controller fuels by from now on.
  void setFuelling(SimFuelling fuelling) { fuelling_ = std::move(fuelling); }
  /// The engine's true VE at rpm and load (kPa); no value before setTrueVe.
  std::optional<double> trueVe(double rpm, double load) const;

 private:
  void step();
  // The measured AFR the wideband would settle at; sets the target, VE and EGO of the fuelling.
  double fuelledAfr(const SimFuelling& fuelling, double ownTarget);

  SimEngineState state_;
  qint64 steps_ = 0;
  double pedal_ = 0;
  std::optional<AnalysisGrid> trueBase_;
  SimVeError error_;
  std::optional<SimFuelling> fuelling_;
};

/// The physical value of a realtime channel the simulated engine models (by name, ignoring case,
/// with the usual aliases such as "clt" for coolant, in deg C); no value for channels it does
/// not know. Bit channels give the bits' value (1 for a set flag).
std::optional<double> simChannelValue(const QString& channelName, const SimEngineState& state);

/// The realtime block of the definition (OchBlockSize bytes, 100 when below 1) for the state:
/// every declared channel the engine models is stored at its offset through its scale,
/// translate and type in the definition's byte order (temperatures in deg F where the channel's
/// units say so); other bytes are 0. Channels with computed scale or translate are left 0.
QByteArray simRealtimeBlock(const EcuDefinition& definition, const SimEngineState& state);

/// A tooth-logger capture of a 36-1 trigger wheel: length bytes of records of recordLength
/// bytes (at least 4) ending in the tooth gap in microseconds, big-endian.
QByteArray simToothLog(int length, int recordLength, const SimEngineState& state);

/// A composite-logger capture: records of recordLength bytes (at least 5), a flag byte (bit 0
/// primary level, bit 1 secondary level, bit 2 trigger, bit 3 sync) followed by the running
/// time in microseconds, big-endian.
QByteArray simCompositeLog(int length, int recordLength, const SimEngineState& state);

}  // namespace tk::sim
