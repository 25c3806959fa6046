#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace tk {

/// Raised by the MLG reader and by MlgWriter::saveTo; the message is the user-facing text.
class MlgError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The value types an MLG field descriptor names; files may carry other codes too.
enum class MlgDataType : std::uint8_t {
  U08 = 0,
  S08 = 1,
  U16 = 2,
  S16 = 3,
  U32 = 4,
  S32 = 5,
  S64 = 6,
  F32 = 7,
  Bits08 = 10,
  Bits16 = 11,
  Bits32 = 12,
};

/// Size of the fixed file header by format version (22 below version 2, else 24).
int mlgHeaderLength(std::uint16_t formatVersion);
/// Size of one field descriptor by format version (55 below version 2, else 89).
int mlgDescriptorLength(std::uint16_t formatVersion);
/// Whether a data type code is one of the three bit-field types.
bool isMlgBitField(std::uint8_t dataType);
/// Bytes one value of the code takes in a record: 100-107 as their base type, unknown codes 4.
int mlgByteSize(std::uint8_t dataType);

/// One field descriptor. The reader fills every member; the writer takes the descriptive members
/// and computes index, recordOffset and byteSize itself.
struct MlgField {
  int index = 0;
  std::uint8_t dataType = static_cast<std::uint8_t>(MlgDataType::F32);
  QString name;
  QString units;
  std::uint8_t displayStyle = 0;
  float scale = 1.0f;
  float transform = 0.0f;
  std::int8_t digits = 0;
  QString category;
  int recordOffset = 0;
  int byteSize = 0;
  std::uint8_t bitFieldStyle = 0;
  std::uint32_t bitFieldNamesIndex = 0;
  std::uint8_t bitCount = 0;

  bool operator==(const MlgField&) const = default;
};

/// One data record: block counter, raw 10 us timestamp, seconds since the log start and the
/// checksum byte as stored. Its field values live in MlgLog::values.
struct MlgRecord {
  std::uint8_t counter = 0;
  std::uint16_t timestampRaw = 0;
  double absoluteTimestamp = 0.0;
  std::uint8_t checksum = 0;
};

/// One marker block; its absolute time is that of the last record before it.
struct MlgMarker {
  std::uint8_t counter = 0;
  std::uint16_t timestampRaw = 0;
  double absoluteTimestamp = 0.0;
  QString message;
};

/// A whole datalog as read: header values, info text, fields, records and markers. The records'
/// field values are one block, record after record, each record one double per field in field
/// order; a log of hours at hundreds of fields reads without one allocation per record.
struct MlgLog {
  std::uint16_t formatVersion = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t infoDataStart = 0;
  std::uint32_t dataBeginIndex = 0;
  std::uint16_t recordLength = 0;
  std::uint16_t numLoggerFields = 0;
  QString infoData;
  std::vector<MlgField> fields;
  std::vector<MlgRecord> records;
  /// records.size() * fields.size() values: record r's values start at r * fields.size().
  std::vector<double> values;
  std::vector<MlgMarker> markers;

  /// The values of record r, one per field in field order.
  std::span<const double> recordValues(std::size_t r) const {
    return std::span<const double>(values).subspan(r * fields.size(), fields.size());
  }
};

/// A field's stored value in its units: (raw + transform) x scale.
inline double physicalValue(const MlgField& field, double raw) {
  return (raw + field.transform) * field.scale;
}

/// Index of the first field whose name equals the given one ignoring case, or -1.
int findField(const MlgLog& log, QStringView name);

}  // namespace tk
