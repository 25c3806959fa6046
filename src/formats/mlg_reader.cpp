#include "formats/mlg_reader.h"

#include <QFile>
#include <QtEndian>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "json/ascii_text.h"
#include "json/input_file.h"

namespace tk {
namespace {

constexpr int kSignatureBytes = 6;
constexpr int kMarkerBlockBytes = 54;  // type, counter, 2-byte timestamp, 50-byte message
constexpr int kMarkerMessageBytes = 50;
constexpr int kMaxInfoBytes = 1024;
// A drop of more than this between successive record timestamps means the 16-bit clock wrapped.
constexpr int kWrapDrop = 30000;
constexpr double kTimestampUnitSeconds = 0.00001;

[[noreturn]] void throwTruncated() { throw MlgError("Unexpected end of MLG file"); }

// Reads bounded by the end of the data: every read checks what is left first, and a position set
// beyond the end simply leaves nothing to read.
class Cursor {
 public:
  explicit Cursor(QByteArrayView bytes)
      : data_(reinterpret_cast<const std::uint8_t*>(bytes.data())),
        size_(static_cast<std::uint64_t>(bytes.size())) {}

  bool atEnd() const { return pos_ >= size_; }
  std::uint64_t remaining() const { return atEnd() ? 0 : size_ - pos_; }
  std::uint64_t position() const { return pos_; }
  void seek(std::uint64_t offset) { pos_ = offset; }

  // The next n bytes; the position moves past them.
  const std::uint8_t* take(std::uint64_t n) {
    if (pos_ > size_ || n > size_ - pos_) {
      throwTruncated();
    }
    const std::uint8_t* at = data_ + pos_;
    pos_ += n;
    return at;
  }
  std::uint8_t u8() { return *take(1); }
  std::uint16_t u16() { return qFromBigEndian<std::uint16_t>(take(2)); }
  std::uint32_t u32() { return qFromBigEndian<std::uint32_t>(take(4)); }

 private:
  const std::uint8_t* data_;
  std::uint64_t size_;
  std::uint64_t pos_ = 0;
};

float floatAt(const std::uint8_t* at) {
  return std::bit_cast<float>(qFromBigEndian<std::uint32_t>(at));
}

// Names, units and categories: the bytes before the first 0x00 of the fixed-width text, each byte
// the character of the same code.
QString fixedText(const std::uint8_t* at, int width) {
  const void* zero = std::memchr(at, 0, static_cast<std::size_t>(width));
  const qsizetype length = zero ? static_cast<const std::uint8_t*>(zero) - at : width;
  return QString::fromLatin1(reinterpret_cast<const char*>(at), length);
}

MlgField parseDescriptor(const std::uint8_t* d, int index, std::uint16_t formatVersion) {
  MlgField field;
  field.index = index;
  field.dataType = d[0];
  field.name = fixedText(d + 1, 34);
  field.units = fixedText(d + 35, 10);
  field.displayStyle = d[45];
  if (isMlgBitField(field.dataType)) {
    field.bitFieldStyle = d[46];
    field.bitFieldNamesIndex = qFromBigEndian<std::uint32_t>(d + 47);
    field.bitCount = d[51];
    field.scale = 1.0f;
    field.transform = 0.0f;
    field.digits = 0;
  } else {
    field.scale = floatAt(d + 46);
    field.transform = floatAt(d + 50);
    field.digits = static_cast<std::int8_t>(d[54]);
  }
  if (formatVersion >= 2) {
    field.category = fixedText(d + 55, 34);
  }
  field.byteSize = mlgByteSize(field.dataType);
  return field;
}

// How one field's value is taken out of a record. Fields of unknown type and fields that do not
// fit inside the record have no decoder and stay 0.0.
struct Decoder {
  std::size_t index;
  int offset;
  int code;
};

std::vector<Decoder> buildDecoders(const std::vector<MlgField>& fields, int recordLength) {
  std::vector<Decoder> decoders;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const MlgField& f = fields[i];
    const int code = f.dataType >= 100 && f.dataType <= 107 ? f.dataType - 100 : f.dataType;
    const bool known = code <= 7 || isMlgBitField(static_cast<std::uint8_t>(code));
    if (known && f.recordOffset + f.byteSize <= recordLength) {
      decoders.push_back({i, f.recordOffset, code});
    }
  }
  return decoders;
}

double decodeValue(const std::uint8_t* at, int code) {
  switch (code) {
    case 0:
    case 10:
      return at[0];
    case 1:
      return static_cast<std::int8_t>(at[0]);
    case 2:
    case 11:
      return qFromBigEndian<std::uint16_t>(at);
    case 3:
      return qFromBigEndian<std::int16_t>(at);
    case 4:
    case 12:
      return qFromBigEndian<std::uint32_t>(at);
    case 5:
      return qFromBigEndian<std::int32_t>(at);
    case 6:
      return static_cast<double>(qFromBigEndian<std::int64_t>(at));
    default:  // 7; buildDecoders admits no other code
      return floatAt(at);
  }
}

QString markerMessage(Cursor& cursor) {
  // The message ends at its first 0x00; the bytes after it are not read, so a log cut inside the
  // padding of its last marker still yields that marker.
  QString message;
  for (int i = 0; i < kMarkerMessageBytes; ++i) {
    const std::uint8_t b = cursor.u8();
    if (b == 0) {
      break;
    }
    message.append(asciiChar(b));
  }
  return message;
}

void readBlocks(Cursor& cursor, MlgLog& log) {
  const int recordLength = log.recordLength;
  const std::vector<Decoder> decoders = buildDecoders(log.fields, recordLength);
  const std::size_t fieldCount = log.fields.size();
  // Each record takes at least recordLength + 5 bytes, so this bounds the record count; it is
  // exact for a log without markers. With no more fields than record bytes (checked with the
  // header) the values reserved stay below one per byte of the file.
  const std::uint64_t maxRecords =
      cursor.remaining() / (static_cast<std::uint64_t>(recordLength) + 5);
  log.records.reserve(static_cast<std::size_t>(maxRecords));
  log.values.reserve(static_cast<std::size_t>(maxRecords * fieldCount));

  long long wraps = 0;
  int previousTimestamp = -1;
  double lastAbsolute = 0.0;
  while (!cursor.atEnd()) {
    const std::uint8_t blockType = cursor.u8();
    if (blockType == 0x00) {
      MlgRecord record;
      record.counter = cursor.u8();
      record.timestampRaw = cursor.u16();
      const std::uint8_t* bytes = cursor.take(static_cast<std::uint64_t>(recordLength) + 1);
      record.checksum = bytes[recordLength];  // kept as stored, never verified
      // Loggers pad the end of a file with zeros: a zero block after real records ends the log.
      if (!log.records.empty() && record.counter == 0 && record.timestampRaw == 0) {
        break;
      }
      const std::size_t first = log.values.size();
      log.values.resize(first + fieldCount);  // fields without a decoder stay 0.0
      double* out = log.values.data() + first;
      for (const Decoder& d : decoders) {
        out[d.index] = decodeValue(bytes + d.offset, d.code);
      }
      if (previousTimestamp - record.timestampRaw > kWrapDrop) {
        ++wraps;
      }
      previousTimestamp = record.timestampRaw;
      record.absoluteTimestamp =
          static_cast<double>(wraps * 65536 + record.timestampRaw) * kTimestampUnitSeconds;
      lastAbsolute = record.absoluteTimestamp;
      log.records.push_back(record);
    } else if (blockType == 0x01) {
      const std::uint64_t start = cursor.position() - 1;
      MlgMarker marker;
      marker.counter = cursor.u8();
      marker.timestampRaw = cursor.u16();
      marker.message = markerMessage(cursor);
      marker.absoluteTimestamp = lastAbsolute;
      log.markers.push_back(std::move(marker));
      cursor.seek(start + kMarkerBlockBytes);
    }
    // Any other byte is skipped on its own so that reading falls back into step after damage.
  }
}

}  // namespace

MlgLog parseMlg(QByteArrayView bytes) {
  Cursor cursor(bytes);
  MlgLog log;

  const std::uint8_t* signature = cursor.take(kSignatureBytes);
  const QString found = fixedText(signature, kSignatureBytes).left(5);
  if (found != QLatin1String("MLVLG")) {
    throw MlgError("Invalid MLG file format. Expected 'MLVLG', got '" + found.toStdString() + "'");
  }
  log.formatVersion = cursor.u16();
  log.timestamp = cursor.u32();
  log.infoDataStart = log.formatVersion < 2 ? cursor.u16() : cursor.u32();
  log.dataBeginIndex = cursor.u32();
  log.recordLength = cursor.u16();
  log.numLoggerFields = cursor.u16();
  // Every field takes at least one byte of a record, so more fields than record bytes describe no
  // log. Refusing them bounds the decoded values by the file's size: a record of n bytes then
  // yields at most n values, never thousands of values per five bytes of file.
  if (log.numLoggerFields > log.recordLength) {
    throw MlgError("Invalid MLG file format. " + std::to_string(log.numLoggerFields) +
                   " fields do not fit a record length of " + std::to_string(log.recordLength) +
                   " bytes");
  }

  const int descriptorLength = mlgDescriptorLength(log.formatVersion);
  int offset = 0;
  for (int i = 0; i < log.numLoggerFields; ++i) {
    MlgField field = parseDescriptor(cursor.take(descriptorLength), i, log.formatVersion);
    field.recordOffset = offset;
    offset += field.byteSize;
    log.fields.push_back(std::move(field));
  }

  if (log.infoDataStart != 0) {
    cursor.seek(log.infoDataStart);
    QString info;
    for (int i = 0; i < kMaxInfoBytes; ++i) {
      const std::uint8_t b = cursor.u8();
      if (b == 0) {
        break;
      }
      info.append(QChar(b));
    }
    log.infoData = info;
  }

  cursor.seek(log.dataBeginIndex);
  readBlocks(cursor, log);
  return log;
}

MlgLog readMlgFile(const QString& path) {
  if (const std::optional<QString> problem = inputFileProblem(path, kMaxLogFileBytes)) {
    throw MlgError("Cannot open MLG file: " + path.toStdString() + ": " + problem->toStdString());
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw MlgError("Cannot open MLG file: " + path.toStdString());
  }
  const QByteArray bytes = file.readAll();
  file.close();
  return parseMlg(bytes);
}

}  // namespace tk
