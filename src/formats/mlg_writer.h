#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/mlg_model.h"

namespace tk {

/// Builds an MLG datalog in memory (header once, then data records and markers in the order
/// written) and writes the whole file at once with saveTo.
class MlgWriter {
 public:
  /// Takes the descriptors in record order and computes index, byteSize, recordOffset and the
  /// record length; throws std::invalid_argument when they exceed the format's 16-bit counts.
  explicit MlgWriter(std::vector<MlgField> fields, std::uint16_t formatVersion = 2);

  /// Emits header, descriptors and info text; throws std::logic_error when called twice.
  void writeHeader(std::uint32_t timestamp, const QString& infoText);
  /// Emits one data record, each value truncated and saturated to its field's type; throws
  /// std::logic_error before the header, std::invalid_argument for a wrong value count.
  void writeRecord(std::uint16_t timestamp, std::span<const double> values);
  /// Emits one marker holding at most 49 characters of the message; std::logic_error before the
  /// header.
  void writeMarker(std::uint16_t timestamp, const QString& message);
  /// Writes every byte built so far to the file, truncating it; throws MlgError
  /// "Cannot write MLG file: <path>" when it cannot be written.
  void saveTo(const QString& path) const;

  /// The fields with index, byteSize and recordOffset filled in.
  const std::vector<MlgField>& fields() const { return fields_; }
  /// The format version the file is laid out for.
  std::uint16_t formatVersion() const { return formatVersion_; }
  /// Bytes of field values in one data record.
  int recordLength() const { return recordLength_; }
  /// Data records written so far.
  qsizetype recordCount() const { return recordCount_; }
  /// Markers written so far.
  qsizetype markerCount() const { return markerCount_; }
  /// The file content built so far.
  const QByteArray& bytes() const { return bytes_; }

 private:
  void appendBlockStart(std::uint8_t blockType, std::uint16_t timestamp);

  std::vector<MlgField> fields_;
  std::uint16_t formatVersion_;
  int recordLength_ = 0;
  bool headerWritten_ = false;
  std::uint8_t counter_ = 0;
  qsizetype recordCount_ = 0;
  qsizetype markerCount_ = 0;
  QByteArray bytes_;
};

}  // namespace tk
