#include "tune/raw_codec.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tk {

namespace {

struct IntRange {
  double low;
  double high;
};

IntRange intRange(RawType type) {
  switch (type) {
    case RawType::U08:
      return {0.0, 255.0};
    case RawType::S08:
      return {-128.0, 127.0};
    case RawType::U16:
      return {0.0, 65535.0};
    case RawType::S16:
      return {-32768.0, 32767.0};
    case RawType::U32:
      return {0.0, 4294967295.0};
    case RawType::S32:
      return {-2147483648.0, 2147483647.0};
    case RawType::F32:
    case RawType::Other:
      break;
  }
  return {0.0, 0.0};
}

// Double to single precision with IEEE round-to-nearest, without the undefined behaviour of a
// plain cast when the value lies outside the float range: beyond the largest float by half a unit
// of its last place or more it becomes an infinity, as the hardware conversion would.
float toSingle(double x) {
  constexpr double kMaxFloat = std::numeric_limits<float>::max();
  // Halfway between the largest float and the next power of two (2^128).
  constexpr double kOverflow = kMaxFloat + 0x1p103;
  if (std::isnan(x)) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  if (x >= kOverflow) {
    return std::numeric_limits<float>::infinity();
  }
  if (x <= -kOverflow) {
    return -std::numeric_limits<float>::infinity();
  }
  if (x > kMaxFloat) {
    return std::numeric_limits<float>::max();
  }
  if (x < -kMaxFloat) {
    return -std::numeric_limits<float>::max();
  }
  return static_cast<float>(x);
}

bool fits(const QByteArray& page, int offset, int width) {
  return offset >= 0 && static_cast<qint64>(offset) + width <= page.size();
}

}  // namespace

RawType rawTypeOf(const QString& dataType) {
  const QString t = dataType.toUpper();
  if (t == QLatin1String("U08")) {
    return RawType::U08;
  }
  if (t == QLatin1String("S08")) {
    return RawType::S08;
  }
  if (t == QLatin1String("U16")) {
    return RawType::U16;
  }
  if (t == QLatin1String("S16")) {
    return RawType::S16;
  }
  if (t == QLatin1String("U32")) {
    return RawType::U32;
  }
  if (t == QLatin1String("S32")) {
    return RawType::S32;
  }
  if (t == QLatin1String("F32")) {
    return RawType::F32;
  }
  return RawType::Other;
}

int rawWidth(RawType type) {
  switch (type) {
    case RawType::U16:
    case RawType::S16:
      return 2;
    case RawType::U32:
    case RawType::S32:
    case RawType::F32:
      return 4;
    case RawType::U08:
    case RawType::S08:
    case RawType::Other:
      break;
  }
  return 1;
}

quint64 readUnsigned(const QByteArray& page, int offset, int width, bool bigEndian) {
  quint64 value = 0;
  for (int i = 0; i < width; ++i) {
    const int at = bigEndian ? offset + i : offset + width - 1 - i;
    value = (value << 8) | static_cast<quint8>(page.at(at));
  }
  return value;
}

void writeUnsigned(QByteArray& page, int offset, int width, bool bigEndian, quint64 value) {
  for (int i = 0; i < width; ++i) {
    const int at = bigEndian ? offset + width - 1 - i : offset + i;
    page[at] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
}

double readRaw(const QByteArray& page, int offset, RawType type, bool bigEndian) {
  const int width = rawWidth(type);
  if (!fits(page, offset, width)) {
    return 0.0;
  }
  const quint64 u = readUnsigned(page, offset, width, bigEndian);
  switch (type) {
    case RawType::S08:
      return static_cast<std::int8_t>(u);
    case RawType::S16:
      return static_cast<std::int16_t>(u);
    case RawType::S32:
      return static_cast<std::int32_t>(u);
    case RawType::F32:
      return std::bit_cast<float>(static_cast<std::uint32_t>(u));
    case RawType::U08:
    case RawType::U16:
    case RawType::U32:
    case RawType::Other:
      break;
  }
  return static_cast<double>(u);
}

double readRaw(const QByteArray& page, int offset, const QString& dataType, bool bigEndian) {
  return readRaw(page, offset, rawTypeOf(dataType), bigEndian);
}

double roundHalfEven(double x) {
  if (!std::isfinite(x)) {
    return x;
  }
  double r = std::floor(x);
  const double fraction = x - r;  // exact: x and floor(x) share the exponent range
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0.0)) {
    r += 1.0;
  }
  return std::copysign(r, x);
}

double toStorable(double x, RawType type) {
  if (type == RawType::Other) {
    return x;
  }
  if (type == RawType::F32) {
    return toSingle(x);
  }
  if (std::isnan(x)) {
    return 0.0;
  }
  const IntRange range = intRange(type);
  const double r = roundHalfEven(x);  // infinities pass through and are clamped below
  if (r < range.low) {
    return range.low;
  }
  if (r > range.high) {
    return range.high;
  }
  return r;
}

void writeRaw(QByteArray& page, int offset, RawType type, bool bigEndian, double raw) {
  const int width = rawWidth(type);
  if (type == RawType::Other || !fits(page, offset, width)) {
    return;
  }
  quint64 bits = 0;
  if (type == RawType::F32) {
    float f = 0.0F;
    if (std::isinf(raw)) {
      f = std::copysign(std::numeric_limits<float>::max(), static_cast<float>(raw));
    } else if (!std::isnan(raw)) {
      f = toSingle(raw);
    }
    bits = std::bit_cast<std::uint32_t>(f);
  } else {
    // Two's complement of the clamped integer; the mask keeps the element's width.
    const auto value = static_cast<std::int64_t>(toStorable(raw, type));
    bits = static_cast<quint64>(value);
  }
  writeUnsigned(page, offset, width, bigEndian, bits);
}

void writeRaw(QByteArray& page, int offset, const QString& dataType, bool bigEndian, double raw) {
  writeRaw(page, offset, rawTypeOf(dataType), bigEndian, raw);
}

}  // namespace tk
