#include "formats/mlg_writer.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "json/ascii_text.h"

namespace tk {
namespace {

constexpr int kMaxCount = 0xFFFF;
constexpr int kMarkerMessageBytes = 50;
constexpr int kNameBytes = 34;
constexpr int kUnitsBytes = 10;
constexpr int kCategoryBytes = 34;

template <typename T>
void appendBigEndian(QByteArray& out, T value) {
  char raw[sizeof(T)];
  qToBigEndian(value, raw);
  out.append(raw, sizeof(T));
}

void appendFloatBits(QByteArray& out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  appendBigEndian(out, bits);
}

// A fixed-width text keeps at most width - 1 characters so that a 0x00 always ends it.
void appendFixedText(QByteArray& out, const QString& text, int width) {
  const QByteArray bytes = asciiBytes(QStringView(text).left(width - 1));
  out.append(bytes);
  out.append(width - bytes.size(), '\0');
}

// Integers are stored unscaled: truncated toward zero, NaN as 0, out-of-range values pinned to
// the type's limits (so a negative value in an unsigned field is 0).
template <typename T>
T saturate(double v) {
  constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
  constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
  if (std::isnan(v)) {
    return 0;
  }
  if (v <= lo) {
    return std::numeric_limits<T>::min();
  }
  // For 64 bits hi rounds up to 2^63, so everything from 2^63 on saturates.
  if (v >= hi) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(v);
}

template <typename T>
void storeBigEndian(char* at, T value) {
  qToBigEndian(value, at);
}

void encodeValue(char* at, std::uint8_t dataType, double v) {
  const int code = dataType >= 100 && dataType <= 107 ? dataType - 100 : dataType;
  switch (code) {
    case 0:
    case 10:
      storeBigEndian(at, saturate<std::uint8_t>(v));
      break;
    case 1:
      storeBigEndian(at, saturate<std::int8_t>(v));
      break;
    case 2:
    case 11:
      storeBigEndian(at, saturate<std::uint16_t>(v));
      break;
    case 3:
      storeBigEndian(at, saturate<std::int16_t>(v));
      break;
    case 4:
    case 12:
      storeBigEndian(at, saturate<std::uint32_t>(v));
      break;
    case 5:
      storeBigEndian(at, saturate<std::int32_t>(v));
      break;
    case 6:
      storeBigEndian(at, saturate<std::int64_t>(v));
      break;
    case 7: {
      const float f = static_cast<float>(v);
      std::uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      storeBigEndian(at, bits);
      break;
    }
    default:
      // A code this format does not know keeps its four bytes zero, which readers decode as 0;
      // descriptors copied from a read log can therefore be written back unchanged.
      break;
  }
}

void appendDescriptor(QByteArray& out, const MlgField& field, std::uint16_t formatVersion) {
  out.append(static_cast<char>(field.dataType));
  appendFixedText(out, field.name, kNameBytes);
  appendFixedText(out, field.units, kUnitsBytes);
  out.append(static_cast<char>(field.displayStyle));
  if (isMlgBitField(field.dataType)) {
    out.append(static_cast<char>(field.bitFieldStyle));
    appendBigEndian(out, field.bitFieldNamesIndex);
    out.append(static_cast<char>(field.bitCount));
    out.append(3, '\0');
  } else {
    appendFloatBits(out, field.scale);
    appendFloatBits(out, field.transform);
    out.append(static_cast<char>(field.digits));
  }
  if (formatVersion >= 2) {
    appendFixedText(out, field.category, kCategoryBytes);
  }
}

}  // namespace

MlgWriter::MlgWriter(std::vector<MlgField> fields, std::uint16_t formatVersion)
    : fields_(std::move(fields)), formatVersion_(formatVersion) {
  if (fields_.size() > static_cast<std::size_t>(kMaxCount)) {
    throw std::invalid_argument("An MLG file holds at most 65535 fields, not " +
                                std::to_string(fields_.size()));
  }
  long long offset = 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    MlgField& field = fields_[i];
    field.index = static_cast<int>(i);
    field.byteSize = mlgByteSize(field.dataType);
    field.recordOffset = static_cast<int>(offset);
    offset += field.byteSize;
  }
  if (offset > kMaxCount) {
    throw std::invalid_argument("An MLG record holds at most 65535 bytes, not " +
                                std::to_string(offset));
  }
  recordLength_ = static_cast<int>(offset);
}

void MlgWriter::writeHeader(std::uint32_t timestamp, const QString& infoText) {
  if (headerWritten_) {
    throw std::logic_error("Header has already been written");
  }
  const qsizetype descriptorsEnd = mlgHeaderLength(formatVersion_) +
                                   static_cast<qsizetype>(mlgDescriptorLength(formatVersion_)) *
                                       static_cast<qsizetype>(fields_.size());
  const bool hasInfo = !infoText.isEmpty();
  const qsizetype infoDataStart = hasInfo ? descriptorsEnd : 0;
  const qsizetype dataBeginIndex = hasInfo ? descriptorsEnd + infoText.size() + 1 : descriptorsEnd;
  // Refuse offsets the header cannot hold rather than write a file that points elsewhere.
  if (formatVersion_ < 2 && infoDataStart > kMaxCount) {
    throw std::invalid_argument(
        "An MLG version 1 file cannot place its info text beyond byte 65535");
  }
  if (dataBeginIndex > static_cast<qsizetype>(std::numeric_limits<std::uint32_t>::max())) {
    throw std::invalid_argument("MLG info text too long for a 32-bit data offset");
  }

  bytes_.reserve(dataBeginIndex);
  bytes_.append("MLVLG", 6);  // the five letters and their terminating 0x00
  appendBigEndian(bytes_, formatVersion_);
  appendBigEndian(bytes_, timestamp);
  if (formatVersion_ >= 2) {
    appendBigEndian(bytes_, static_cast<std::uint32_t>(infoDataStart));
  } else {
    appendBigEndian(bytes_, static_cast<std::uint16_t>(infoDataStart));
  }
  appendBigEndian(bytes_, static_cast<std::uint32_t>(dataBeginIndex));
  appendBigEndian(bytes_, static_cast<std::uint16_t>(recordLength_));
  appendBigEndian(bytes_, static_cast<std::uint16_t>(fields_.size()));
  for (const MlgField& field : fields_) {
    appendDescriptor(bytes_, field, formatVersion_);
  }
  if (hasInfo) {
    bytes_.append(asciiBytes(infoText));
    bytes_.append('\0');
  }
  headerWritten_ = true;
}

void MlgWriter::appendBlockStart(std::uint8_t blockType, std::uint16_t timestamp) {
  bytes_.append(static_cast<char>(blockType));
  bytes_.append(static_cast<char>(counter_));
  // The block counter runs through 255 values, 0 to 254.
  counter_ = static_cast<std::uint8_t>((counter_ + 1) % 255);
  appendBigEndian(bytes_, timestamp);
}

void MlgWriter::writeRecord(std::uint16_t timestamp, std::span<const double> values) {
  if (!headerWritten_) {
    throw std::logic_error("Header must be written before data records");
  }
  if (values.size() != fields_.size()) {
    throw std::invalid_argument("Values array length must match field count");
  }
  appendBlockStart(0x00, timestamp);
  const qsizetype start = bytes_.size();
  bytes_.append(recordLength_, '\0');
  char* record = bytes_.data() + start;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    encodeValue(record + fields_[i].recordOffset, fields_[i].dataType, values[i]);
  }
  unsigned sum = 0;
  for (int i = 0; i < recordLength_; ++i) {
    sum += static_cast<unsigned char>(record[i]);
  }
  bytes_.append(static_cast<char>(sum & 0xFF));
  ++recordCount_;
}

void MlgWriter::writeMarker(std::uint16_t timestamp, const QString& message) {
  if (!headerWritten_) {
    throw std::logic_error("Header must be written before markers");
  }
  appendBlockStart(0x01, timestamp);
  appendFixedText(bytes_, message, kMarkerMessageBytes);
  ++markerCount_;
}

void MlgWriter::saveTo(const QString& path) const {
  QFile file(path);
  // A short write (full disk) loses the log just as surely as an unopenable file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(bytes_) != bytes_.size() || !file.flush()) {
    throw MlgError("Cannot write MLG file: " + path.toStdString());
  }
}

}  // namespace tk
