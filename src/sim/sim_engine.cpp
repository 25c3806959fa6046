#include "sim/sim_engine.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>

#include "definition/ecu_definition.h"
#include "definition/scaling.h"
#include "tune/raw_codec.h"

namespace tk::sim {
namespace {

constexpr double kStepS = 0.01;
constexpr double kCrankS = 1.5;
constexpr double kDriveS = 40.0;
constexpr double kBaroKpa = 100.0;
constexpr double kAmbientC = 20.0;
constexpr double kStoichAfr = 14.7;
constexpr int kWheelTeeth = 36;  // 36-1: tooth 36 is missing
constexpr int kDefaultBlockSize = 100;
// A wideband's range, in AFR; the lean end is also what no fuel at all reads.
constexpr double kRichEndAfr = 7.0;
constexpr double kLeanEndAfr = 25.0;
// The EGO correction: an integral controller on a warm engine at a steady operating point,
// moving the fuel by this many % per second per % of AFR error, within +-kEgoLimit %.
constexpr double kEgoGain = 1.0;
constexpr double kEgoLimit = 15.0;
constexpr double kEgoMinCoolant = 70.0;
constexpr double kEgoSteadyKpaS = 30.0;
// The reach of a VE error pattern's axes: one cycle of a wave spans about this much.
constexpr double kPatternRpm = 7000.0;
constexpr double kPatternKpa = 100.0;

// The driver's pedal (%) over one lap of the drive, each leg ending at endS after cranking.
struct Leg {
  double endS;
  double pedal;
};
constexpr Leg kDrive[] = {{8, 0}, {12, 35}, {20, 18}, {24, 85}, {28, 0}, {32, 12}, {kDriveS, 0}};

// Moves value one step towards target, as a first-order lag of tauS seconds.
double lag(double value, double target, double tauS) {
  return value + (target - value) * std::min(1.0, kStepS / tauS);
}

// 0 for a cold engine, 1 once it is warm.
double warmth(const SimEngineState& s) { return std::clamp((s.coolant - 20.0) / 60.0, 0.0, 1.0); }

double warmupEnrichment(const SimEngineState& s) { return 100.0 + 40.0 * (1.0 - warmth(s)); }

double flag(bool on) { return on ? 1.0 : 0.0; }

using Channel = std::function<double(const SimEngineState&)>;

struct ChannelEntry {
  Channel value;
  bool temperature = false;  // deg C, shown in deg F where the channel's units say so
};

// Realtime channels the engine knows, by lower-cased name.
const QHash<QString, ChannelEntry>& channelTable() {
  static const QHash<QString, ChannelEntry> table = [] {
    QHash<QString, ChannelEntry> t;
    const auto add = [&t](std::initializer_list<const char*> names, const Channel& f,
                          bool temperature = false) {
      for (const char* n : names) {
        t.insert(QString::fromLatin1(n), ChannelEntry{f, temperature});
      }
    };
    using S = SimEngineState;
    add({"secl"}, [](const S& s) { return std::fmod(std::floor(s.seconds), 256.0); });
    add({"runseconds", "runsecs"}, [](const S& s) { return std::floor(s.seconds); });
    add({"rpm"}, [](const S& s) { return s.rpm; });
    add({"map", "fuelload", "ignload"}, [](const S& s) { return s.map; });
    add({"mapdot"}, [](const S& s) { return s.mapDot; });
    add({"baro"}, [](const S&) { return kBaroKpa; });
    add({"tps", "throttle"}, [](const S& s) { return s.throttle; });
    add(
        {"coolant", "clt"}, [](const S& s) { return s.coolant; }, true);
    add(
        {"iat", "mat"}, [](const S& s) { return s.intakeAir; }, true);
    // Controllers of this class send temperatures as deg C + 40 in channels named "...Raw".
    add({"coolantraw"}, [](const S& s) { return s.coolant + 40.0; });
    add({"iatraw", "fueltempraw"}, [](const S& s) { return s.intakeAir + 40.0; });
    add({"afr", "afr1", "o2"}, [](const S& s) { return s.afr; });
    add({"afrtarget"}, [](const S& s) { return s.afrTarget; });
    add({"lambda", "lambda1"}, [](const S& s) { return s.afr / kStoichAfr; });
    add({"advance", "advance1", "spkadv"}, [](const S& s) { return s.advance; });
    add({"batteryvoltage", "battery", "batt"}, [](const S& s) { return s.battery; });
    add({"dwell"}, [](const S& s) { return s.cranking ? 4.5 : 3.0; });
    add({"pulsewidth", "pulsewidth1", "pulsewidth2", "pulsewidth3", "pulsewidth4", "pw", "pw1",
         "pw2"},
        [](const S& s) { return s.pulseWidth; });
    add({"vecurr", "ve", "ve1"}, [](const S& s) { return s.ve; });
    add({"warmupenrich", "wuecorrection", "gammaenrich"}, warmupEnrichment);
    add({"egocorrection", "ego"}, [](const S& s) {
      if (s.egoModelled) {
        return s.ego;
      }
      return s.fuelCut ? 100.0 : 100.0 + 3.0 * std::sin(s.seconds * 1.3);
    });
    add({"batcorrection", "aircorrection", "iatcorrection", "barocorrection"},
        [](const S&) { return 100.0; });
    add({"loopspersecond"}, [](const S& s) { return 4000.0 - s.rpm / 4.0; });
    add({"fuelpressure"}, [](const S& s) { return s.running ? 43.0 : 0.0; });  // PSI
    add({"oilpressure"}, [](const S& s) { return s.running ? 15.0 + s.rpm / 100.0 : 0.0; });
    add({"synclosscount", "synclosscounter"}, [](const S&) { return 0.0; });
    add({"running"}, [](const S& s) { return flag(s.running); });
    add({"cranking", "crank"}, [](const S& s) { return flag(s.cranking); });
    add({"sync"}, [](const S& s) { return flag(s.running || s.cranking); });
    add({"warmup"}, [](const S& s) { return flag(s.running && s.coolant < 70.0); });
    add({"ase"}, [](const S& s) { return flag(s.running && s.seconds < kCrankS + 20.0); });
    add({"dfcoon"}, [](const S& s) { return flag(s.fuelCut); });
    return t;
  }();
  return table;
}

// "F", "degF", or a degree sign and "F" (in whatever encoding the definition came).
bool isFahrenheit(const QString& units) {
  const QString u = units.trimmed();
  if (!u.endsWith(QLatin1Char('F'))) {
    return false;
  }
  const QString head = u.chopped(1).trimmed();
  return head.isEmpty() || head.compare(QLatin1String("deg"), Qt::CaseInsensitive) == 0 ||
         head.endsWith(QChar(0x00B0));
}

void appendBigEndian32(QByteArray& out, quint32 v) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.append(static_cast<char>((v >> shift) & 0xFF));
  }
}

// Microseconds between two teeth at the engine speed; the gap over the missing tooth is double.
double toothGapUs(double rpm) { return 60.0e6 / (std::max(rpm, 50.0) * kWheelTeeth); }

}  // namespace

SimVeError::SimVeError(double percent, quint32 seed) : percent_(percent) {
  std::mt19937 random(seed);
  // Raw draws, not a distribution: the standard fixes mt19937's output but not theirs.
  const auto unit = [&random] { return static_cast<double>(random()) / 4294967296.0; };
  constexpr double kTurn = 2.0 * std::numbers::pi;
  for (Wave& wave : waves_) {
    const double direction = kTurn * unit();
    const double cycles = 0.6 + 0.6 * unit();
    wave.amplitude = 0.5 + 0.5 * unit();
    wave.perRpm = kTurn * cycles * std::cos(direction) / kPatternRpm;
    wave.perKpa = kTurn * cycles * std::sin(direction) / kPatternKpa;
    wave.phase = kTurn * unit();
  }
}

double SimVeError::at(double rpm, double load) const {
  double sum = 0.0;
  double reach = 0.0;
  for (const Wave& wave : waves_) {
    sum += wave.amplitude * std::sin(wave.perRpm * rpm + wave.perKpa * load + wave.phase);
    reach += wave.amplitude;
  }
  return percent_ * sum / reach;
}

void SimEngine::setTrueVe(AnalysisGrid base, const SimVeError& error) {
  trueBase_ = std::move(base);
  error_ = error;
}

std::optional<double> SimEngine::trueVe(double rpm, double load) const {
  if (!trueBase_) {
    return std::nullopt;
  }
  return trueBase_->interpolate(rpm, load) * (1.0 + error_.at(rpm, load) / 100.0);
}

double SimEngine::fuelledAfr(const SimFuelling& fuelling, double ownTarget) {
  SimEngineState& s = state_;
  s.ve = fuelling.ve.interpolate(s.rpm, s.map);
  double target = fuelling.target.values.empty() ? 0.0 : fuelling.target.interpolate(s.rpm, s.map);
  if (target > 0.0 && target < 2.0) {
    target *= kStoichAfr;  // a lambda table
  }
  // The table's target; warm-up enrichment makes a cold engine richer than it, as the engine's
  // own target does.
  const bool table = target >= kRichEndAfr;
  s.afrTarget = table ? target : ownTarget;
  if (s.ve < 0.5) {
    return kLeanEndAfr;
  }
  const double mixture = s.afrTarget * trueVe(s.rpm, s.map).value_or(s.ve) / s.ve * 100.0 / s.ego -
                         (table ? 1.5 * (1.0 - warmth(s)) : 0.0);
  return std::clamp(mixture, kRichEndAfr, kLeanEndAfr);
}

SimEngine::SimEngine() {
  state_.map = kBaroKpa;
  state_.coolant = kAmbientC;
  state_.intakeAir = kAmbientC;
  state_.afr = kStoichAfr;
  state_.afrTarget = kStoichAfr;
  state_.battery = 12.6;
}

const SimEngineState& SimEngine::advanceTo(double seconds) {
  const auto target = static_cast<qint64>(std::floor(seconds / kStepS));
  while (steps_ < target) {
    step();
  }
  return state_;
}

void SimEngine::step() {
  SimEngineState& s = state_;
  ++steps_;
  s.seconds = static_cast<double>(steps_) * kStepS;
  s.cranking = s.seconds < kCrankS;
  const double lapS = std::fmod(std::max(s.seconds - kCrankS, 0.0), kDriveS);
  for (const Leg& leg : kDrive) {
    if (lapS < leg.endS) {
      pedal_ = s.cranking ? 0.0 : leg.pedal;
      break;
    }
  }
  s.throttle = lag(s.throttle, pedal_, 0.15);

  // A cold engine idles faster; the starter turns it at about 250 rpm.
  const double idle = 850.0 + 350.0 * (1.0 - warmth(s));
  const double rpmTarget = s.cranking ? 250.0 : std::min(idle + 60.0 * s.throttle, 6500.0);
  s.rpm = lag(s.rpm, rpmTarget, rpmTarget > s.rpm ? 0.5 + s.rpm / 6000.0 : 1.2);
  // It fires as the starter lets go.
  s.running = !s.cranking;
  s.fuelCut = s.running && s.throttle < 1.0 && s.rpm > idle + 400.0;

  // Manifold vacuum deepens with engine speed at a closed throttle and fills as it opens.
  const double closed = std::clamp(38.0 - 0.004 * (s.rpm - 850.0), 20.0, 40.0);
  const double mapTarget =
      s.cranking ? 92.0 : closed + (kBaroKpa - 2.0 - closed) * (1.0 - std::exp(-s.throttle / 30.0));
  const double mapBefore = s.map;
  s.map = lag(s.map, mapTarget, 0.08);
  s.mapDot = (s.map - mapBefore) / kStepS;

  // Combustion heats the coolant with load; the thermostat opens at 88 deg C.
  const double load = (s.rpm / 6000.0) * (s.map / kBaroKpa);
  const double heat = s.running ? 0.12 + 1.2 * load : 0.0;
  const double loss = 0.001 * (s.coolant - kAmbientC) + 0.5 * std::max(s.coolant - 88.0, 0.0);
  s.coolant += (heat - loss) * kStepS;
  // Intake air soaks up engine heat when little of it flows.
  const double airflow = std::clamp(2.0 * load, 0.0, 1.0);
  s.intakeAir =
      lag(s.intakeAir, kAmbientC + 5.0 + 0.2 * (s.coolant - kAmbientC) * (1.0 - airflow), 20.0);

  // Richer at high load and while cold; the wide-band sensor lags, reads lean on a tip-in that
  // the acceleration enrichment does not quite cover, and sees air alone under fuel cut.
  s.afrTarget = (s.map < 60.0 ? kStoichAfr : kStoichAfr - 2.0 * (s.map - 60.0) / 40.0) -
                1.5 * (1.0 - warmth(s));
  // With a fuelling model the mixture follows the tables the controller fuels by.
  const SimFuelling* fuelling = trueBase_ && fuelling_ ? &*fuelling_ : nullptr;
  const bool fuelled = fuelling != nullptr;
  const double settled = fuelled ? fuelledAfr(*fuelling, s.afrTarget) : s.afrTarget;
  const double seen = s.cranking  ? 11.5
                      : s.fuelCut ? 21.5
                                  : settled + std::clamp(0.015 * s.mapDot, -1.5, 2.5) +
                                        0.12 * std::sin(s.seconds * 9.7);
  s.afr = lag(s.afr, seen, 0.12);
  s.egoModelled = fuelled;
  if (fuelled && fuelling->closedLoop && s.running && !s.fuelCut && s.coolant >= kEgoMinCoolant &&
      std::abs(s.mapDot) < kEgoSteadyKpaS) {
    // Lean adds fuel, rich takes it away.
    s.ego = std::clamp(s.ego + kEgoGain * 100.0 * (s.afr / s.afrTarget - 1.0) * kStepS,
                       100.0 - kEgoLimit, 100.0 + kEgoLimit);
  } else {
    s.ego = 100.0;
  }

  s.advance = s.cranking ? 5.0
                         : 10.0 + 22.0 * std::clamp((s.rpm - 800.0) / 3500.0, 0.0, 1.0) -
                               0.12 * std::max(s.map - 40.0, 0.0);
  // The starter pulls the battery down; the alternator charges it once the engine turns.
  const double charging = 13.4 + 0.8 * std::clamp((s.rpm - 800.0) / 1500.0, 0.0, 1.0);
  s.battery = lag(s.battery, s.cranking ? 10.4 : (s.running ? charging : 12.5), 0.4);

  const double shape = std::max(1.0 - std::pow((s.rpm - 4500.0) / 5000.0, 2.0), 0.2);
  if (!fuelled) {
    s.ve = 35.0 + 50.0 * (s.map / kBaroKpa) * shape;
  }
  s.pulseWidth = s.cranking  ? 12.0
                 : s.fuelCut ? 0.0
                             : 1.0 + 9.0 * (s.ve / 100.0) * (s.map / kBaroKpa) *
                                         (kStoichAfr / s.afrTarget) * warmupEnrichment(s) / 100.0 *
                                         (s.ego / 100.0);
}

std::optional<double> simChannelValue(const QString& channelName, const SimEngineState& state) {
  const auto it = channelTable().constFind(channelName.toLower());
  if (it == channelTable().cend()) {
    return std::nullopt;
  }
  return it->value(state);
}

QByteArray simRealtimeBlock(const EcuDefinition& definition, const SimEngineState& state) {
  const int size = definition.OchBlockSize >= 1 ? definition.OchBlockSize : kDefaultBlockSize;
  QByteArray block(size, '\0');
  // The realtime block follows "big" or else little-endian order, like its reader.
  const bool bigEndian = definition.isBigEndian();
  for (const auto& [name, channel] : definition.OutputChannels) {
    if (channel.Expression || channel.DataType.isEmpty() || channel.ScaleExpression ||
        channel.TranslateExpression) {
      continue;
    }
    const auto entry = channelTable().constFind(name.toLower());
    const RawType type = rawTypeOf(channel.DataType);
    const int width = rawWidth(type);
    if (entry == channelTable().cend() || channel.Offset < 0 || channel.Offset + width > size) {
      continue;
    }
    double value = entry->value(state);
    if (entry->temperature && isFahrenheit(channel.Units)) {
      value = value * 1.8 + 32.0;
    }
    if (channel.Type == ConstantType::Bits) {
      if (channel.BitStart < 0 || channel.BitStart >= 8 * width) {
        continue;
      }
      const int bitCount = std::clamp(channel.BitEnd - channel.BitStart + 1, 1, 8 * width);
      const quint64 mask = ((quint64{1} << bitCount) - 1) << channel.BitStart;
      const auto bits = static_cast<quint64>(std::max(value, 0.0)) << channel.BitStart;
      const quint64 old = readUnsigned(block, channel.Offset, width, bigEndian);
      writeUnsigned(block, channel.Offset, width, bigEndian, (old & ~mask) | (bits & mask));
      continue;
    }
    const double scale = channel.Scale == 0.0 ? 1.0 : channel.Scale;
    // Stored as the controller stores a number in a field of that type: rounded half to even
    // and clamped; a type it does not know gets nothing.
    writeRaw(block, channel.Offset, type, bigEndian,
             rawFromPhysical(value, scale, channel.Translate));
  }
  return block;
}

QByteArray simToothLog(int length, int recordLength, const SimEngineState& state) {
  const int record = std::max(recordLength, 4);
  QByteArray log;
  const double gap = toothGapUs(state.rpm);
  for (int tooth = 1; log.size() + record <= length; ++tooth) {
    log.append(QByteArray(record - 4, '\0'));
    const bool missing = tooth % (kWheelTeeth - 1) == 0;
    appendBigEndian32(log, static_cast<quint32>(std::lround(missing ? 2 * gap : gap)));
  }
  log.append(QByteArray(std::max(length, 0) - log.size(), '\0'));
  return log;
}

QByteArray simCompositeLog(int length, int recordLength, const SimEngineState& state) {
  const int record = std::max(recordLength, 5);
  QByteArray log;
  const double gap = toothGapUs(state.rpm);
  double time = std::fmod(state.seconds * 1.0e6, 4.0e9);
  for (int tooth = 1; log.size() + record <= length; ++tooth) {
    const bool missing = tooth % (kWheelTeeth - 1) == 0;
    time += missing ? 2 * gap : gap;
    const bool cam = tooth % (2 * (kWheelTeeth - 1)) == 0;
    const auto flags =
        static_cast<char>((tooth % 2) | (cam ? 0x02 : 0) | 0x04 | (tooth > 35 ? 0x08 : 0));
    log.append(flags);
    log.append(QByteArray(record - 5, '\0'));
    appendBigEndian32(log, static_cast<quint32>(std::fmod(time, 4294967296.0)));
  }
  log.append(QByteArray(std::max(length, 0) - log.size(), '\0'));
  return log;
}

}  // namespace tk::sim
