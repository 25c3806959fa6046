#pragma once

#include <QByteArray>
#include <QString>

namespace tk {

/// Storage types a page element can have; Other covers every unknown type text.
enum class RawType { U08, S08, U16, S16, U32, S32, F32, Other };

/// The storage type of a data type text, upper-cased and matched exactly ("u16" is U16).
RawType rawTypeOf(const QString& dataType);
/// Bytes a storage type reads (Other reads one byte).
int rawWidth(RawType type);

/// The number stored at offset: 0 when the element does not lie wholly inside the page.
double readRaw(const QByteArray& page, int offset, RawType type, bool bigEndian);
/// As above, with the type given as text.
double readRaw(const QByteArray& page, int offset, const QString& dataType, bool bigEndian);

/// Stores raw at offset when the element lies wholly inside the page: integers are rounded half
/// to even and clamped to the type's range (NaN writes 0, infinities the bound); F32 is converted
/// to single precision. Type Other writes nothing.
void writeRaw(QByteArray& page, int offset, RawType type, bool bigEndian, double raw);
/// As above, with the type given as text.
void writeRaw(QByteArray& page, int offset, const QString& dataType, bool bigEndian, double raw);

/// Rounds to the nearest integer, ties to even, keeping the sign of zero (-0.5 gives -0).
double roundHalfEven(double x);
/// x rounded half to even and clamped to the integer range of type (NaN gives 0, infinities the
/// bound); F32 gives x converted to single precision; Other gives x unchanged.
double toStorable(double x, RawType type);

/// Reads width (1..8) bytes at offset as one unsigned integer in the given byte order; the caller
/// has checked that they lie inside the page.
quint64 readUnsigned(const QByteArray& page, int offset, int width, bool bigEndian);
/// Writes the low width (1..8) bytes of value at offset in the given byte order; the caller has
/// checked that they lie inside the page.
void writeUnsigned(QByteArray& page, int offset, int width, bool bigEndian, quint64 value);

}  // namespace tk
