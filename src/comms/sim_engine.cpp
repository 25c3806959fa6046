#include "comms/sim_engine.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <numbers>

#include "definition/ecu_definition.h"

namespace tk::comms {
namespace {

constexpr double kCyclePeriodS = 30.0;
constexpr double kWarmUpTimeConstantS = 90.0;
constexpr int kWheelTeeth = 36;  // 36-1: tooth 36 is missing
constexpr int kDefaultBlockSize = 100;

using Channel = std::function<double(const SimEngineState&)>;

// Realtime channels the engine knows, by lower-cased name.
const QHash<QString, Channel>& channelTable() {
  static const QHash<QString, Channel> table = [] {
    QHash<QString, Channel> t;
    const auto add = [&t](std::initializer_list<const char*> names, const Channel& f) {
      for (const char* n : names) {
        t.insert(QString::fromLatin1(n), f);
      }
    };
    add({"secl"}, [](const SimEngineState& s) { return std::fmod(std::floor(s.seconds), 256.0); });
    add({"runseconds", "runsecs"}, [](const SimEngineState& s) { return std::floor(s.seconds); });
    add({"rpm"}, [](const SimEngineState& s) { return s.rpm; });
    add({"map"}, [](const SimEngineState& s) { return s.map; });
    add({"tps", "throttle"}, [](const SimEngineState& s) { return s.load * 100.0; });
    add({"coolant", "clt"}, [](const SimEngineState& s) { return s.coolant; });
    add({"iat", "mat"}, [](const SimEngineState& s) { return s.intakeAir; });
    add({"afr", "afr1", "o2"}, [](const SimEngineState& s) { return s.afr; });
    add({"lambda", "lambda1"}, [](const SimEngineState& s) { return s.afr / 14.7; });
    add({"advance", "spkadv"}, [](const SimEngineState& s) { return s.advance; });
    add({"batteryvoltage", "battery", "batt"}, [](const SimEngineState& s) { return s.battery; });
    add({"dwell"}, [](const SimEngineState&) { return 3.0; });
    add({"pulsewidth", "pw", "pw1"}, [](const SimEngineState& s) { return 1.5 + 8.5 * s.load; });
    add({"vecurr", "ve", "ve1"}, [](const SimEngineState& s) { return 40.0 + 50.0 * s.load; });
    add({"egocorrection", "ego"},
        [](const SimEngineState& s) { return 100.0 + 3.0 * std::sin(s.seconds * 1.3); });
    add({"batcorrection"}, [](const SimEngineState&) { return 100.0; });
    add({"loopspersecond"}, [](const SimEngineState& s) { return 4000.0 - s.rpm / 4.0; });
    add({"fuelpressure"},
        [](const SimEngineState& s) { return 300.0 + 4.0 * std::sin(s.seconds * 5.0); });
    add({"knockcount"}, [](const SimEngineState& s) { return std::floor(s.seconds / 45.0); });
    add({"synclosscount"}, [](const SimEngineState&) { return 0.0; });
    add({"running"}, [](const SimEngineState& s) { return s.rpm > 0 ? 1.0 : 0.0; });
    add({"cranking"}, [](const SimEngineState& s) { return s.rpm < 400 ? 1.0 : 0.0; });
    return t;
  }();
  return table;
}

// Round half to even and clamp, as the controller stores a number in a field of that type.
std::optional<quint64> rawBits(const QString& dataType, double raw) {
  const QString t = dataType.toUpper();
  if (t == QLatin1String("F32")) {
    return std::bit_cast<quint32>(static_cast<float>(raw));
  }
  struct Range {
    const char* name;
    double low;
    double high;
    int bytes;
  };
  static const Range kRanges[] = {
      {"U08", 0, 255, 1},          {"S08", -128, 127, 1},
      {"U16", 0, 65535, 2},        {"S16", -32768, 32767, 2},
      {"U32", 0, 4294967295.0, 4}, {"S32", -2147483648.0, 2147483647.0, 4}};
  for (const Range& r : kRanges) {
    if (t == QLatin1String(r.name)) {
      const double v = std::clamp(std::nearbyint(std::isnan(raw) ? 0.0 : raw), r.low, r.high);
      // Two's complement of the rounded value, cut to the field's width.
      return static_cast<quint64>(static_cast<qint64>(v)) & ((quint64{1} << (8 * r.bytes)) - 1);
    }
  }
  return std::nullopt;
}

int typeBytes(const QString& dataType) {
  const QString t = dataType.toUpper();
  if (t.endsWith(QLatin1String("16"))) {
    return 2;
  }
  if (t.endsWith(QLatin1String("32"))) {
    return 4;
  }
  return 1;
}

quint64 readBytes(const QByteArray& block, int offset, int width, bool bigEndian) {
  quint64 v = 0;
  for (int k = 0; k < width; ++k) {
    const auto b = static_cast<quint8>(block[offset + (bigEndian ? k : width - 1 - k)]);
    v = (v << 8) | b;
  }
  return v;
}

void writeBytes(QByteArray& block, int offset, int width, bool bigEndian, quint64 v) {
  for (int k = 0; k < width; ++k) {
    const auto b = static_cast<char>((v >> (8 * k)) & 0xFF);
    block[offset + (bigEndian ? width - 1 - k : k)] = b;
  }
}

void appendBigEndian32(QByteArray& out, quint32 v) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.append(static_cast<char>((v >> shift) & 0xFF));
  }
}

// Microseconds between two teeth at the engine speed; the gap over the missing tooth is double.
double toothGapUs(double rpm) { return 60.0e6 / (std::max(rpm, 50.0) * kWheelTeeth); }

}  // namespace

SimEngineState simEngineState(double seconds) {
  SimEngineState s;
  s.seconds = std::max(seconds, 0.0);
  const double phase = std::fmod(s.seconds, kCyclePeriodS) / kCyclePeriodS;
  s.load = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * phase);
  s.rpm = 850.0 + 4650.0 * s.load + 15.0 * std::sin(s.seconds * 7.0);
  s.coolant = 90.0 - 70.0 * std::exp(-s.seconds / kWarmUpTimeConstantS);
  s.intakeAir = 25.0 + 10.0 * s.load;
  s.map = 32.0 + 68.0 * s.load;
  s.afr = 14.7 - 2.2 * s.load + 0.2 * std::sin(s.seconds * 3.1);
  s.advance = 10.0 + 20.0 * (s.rpm / 6000.0) - 6.0 * s.load;
  s.battery = 13.8 + 0.1 * std::sin(s.seconds * 0.7);
  return s;
}

std::optional<double> simChannelValue(const QString& channelName, const SimEngineState& state) {
  const auto it = channelTable().constFind(channelName.toLower());
  if (it == channelTable().cend()) {
    return std::nullopt;
  }
  return (*it)(state);
}

QByteArray simRealtimeBlock(const EcuDefinition& definition, const SimEngineState& state) {
  const int size = definition.OchBlockSize >= 1 ? definition.OchBlockSize : kDefaultBlockSize;
  QByteArray block(size, '\0');
  // The realtime block follows "big" or else little-endian order, like its reader.
  const bool bigEndian = definition.isBigEndian();
  for (const auto& [name, channel] : definition.OutputChannels) {
    if (channel.Expression || channel.DataType.isEmpty()) {
      continue;
    }
    const std::optional<double> value = simChannelValue(name, state);
    const int width = typeBytes(channel.DataType);
    if (!value || channel.Offset < 0 || channel.Offset + width > size) {
      continue;
    }
    if (channel.Type == ConstantType::Bits) {
      if (channel.BitStart < 0 || channel.BitStart >= 8 * width) {
        continue;
      }
      const int bitCount = std::clamp(channel.BitEnd - channel.BitStart + 1, 1, 8 * width);
      const quint64 mask = ((quint64{1} << bitCount) - 1) << channel.BitStart;
      const auto bits = static_cast<quint64>(std::max(*value, 0.0)) << channel.BitStart;
      const quint64 old = readBytes(block, channel.Offset, width, bigEndian);
      writeBytes(block, channel.Offset, width, bigEndian, (old & ~mask) | (bits & mask));
      continue;
    }
    const double scale = channel.Scale == 0.0 ? 1.0 : channel.Scale;
    if (const std::optional<quint64> raw =
            rawBits(channel.DataType, (*value - channel.Translate) / scale)) {
      writeBytes(block, channel.Offset, width, bigEndian, *raw);
    }
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

}  // namespace tk::comms
