#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace tk {

struct ConstantDef;

/// The timestamp text of a tune that was never saved or written.
inline constexpr char kEmptyTimestamp[] = "0001-01-01T00:00:00";

/// Raw page images: page number (1-based, key n is page n of the definition) -> page bytes.
using PageImages = QMap<int, QByteArray>;

/// One constant's value in physical units; members in file order.
struct TuneValue {
  /// The constant's name, spelled as in the definition.
  QString name;
  /// Units text at the time the value was produced.
  std::optional<QString> units;
  /// Decimal digits for display.
  int digits = 0;
  /// Value of a Scalar constant.
  std::optional<double> scalarValue;
  /// Every element of an Array constant, in storage order.
  std::optional<QList<double>> arrayValues;
  /// Second dimension of the shape; 1 for a one-dimensional array.
  std::optional<int> rows;
  /// First dimension of the shape.
  std::optional<int> cols;
  /// Value of a String constant.
  std::optional<QString> stringValue;
  /// Option label matching bitsRawValue.
  std::optional<QString> enumValue;
  /// Raw value of a Bits constant, already shifted and masked.
  std::optional<int> bitsRawValue;

  bool operator==(const TuneValue&) const = default;
};

/// A tune: one record per constant plus document metadata. Records are found by exact name
/// through an index kept beside the list; when two records share a name the first one is found.
struct Tune {
  /// The values, in order.
  QList<TuneValue> fields;
  /// Signature of the definition the tune belongs to.
  QString signature;
  /// Firmware version text, when known.
  std::optional<QString> firmwareInfo;
  /// Page count of the definition.
  int nPages = 0;
  /// Time of the last save (ISO-8601 UTC with milliseconds), or kEmptyTimestamp.
  QString lastSaved = QLatin1String(kEmptyTimestamp);
  /// Time of the last write to or read from a controller, or kEmptyTimestamp.
  QString writeTimestamp = QLatin1String(kEmptyTimestamp);
  /// Raw page images carried by a legacy tune file.
  std::optional<PageImages> pages;

  /// The first record named exactly name, or nullptr. Adding, removing or replacing records of
  /// `fields` is noticed; renaming a record in place needs invalidateIndex() before a lookup.
  const TuneValue* find(const QString& name) const;
  /// The first record named exactly name, or nullptr (same rules as the const overload).
  TuneValue* find(const QString& name);
  /// Replaces the first record of value's name, or appends value; returns the stored record.
  TuneValue& upsert(TuneValue value);
  /// Forgets the name index; the next lookup rebuilds it.
  void invalidateIndex() const;

  /// Compares values and metadata (not the index).
  bool operator==(const Tune& other) const;

 private:
  qsizetype indexOf(const QString& name) const;
  void rebuildIndex() const;

  mutable QHash<QString, qsizetype> index_;
  mutable qsizetype indexedCount_ = -1;
  mutable const TuneValue* indexedData_ = nullptr;
};

/// A change of stored page bytes, as handed to the page-write observer.
struct PageWrite {
  /// 0-based page index (page number - 1).
  int pageIndex = 0;
  /// Byte offset within the page.
  int offset = 0;
  /// The bytes now stored there.
  QByteArray bytes;
  /// What caused it: a constant's name, names joined with "+", or a batch label.
  QString source;

  bool operator==(const PageWrite&) const = default;
};

/// Result of looking a constant up: the constant (owned by the definition it came from, valid
/// until that definition is replaced or changed) and the number of the page group declaring it.
struct FieldRef {
  const ConstantDef* constant = nullptr;
  int pageNumber = 0;
};

}  // namespace tk
