#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tk::comms {

/// True exactly when the definition's endianness text, lower-cased, is "little".
bool isLittleEndianCommandOrder(const QString& endianness);

/// Exactly width bytes of value, least significant first when littleEndian; bytes beyond the
/// fourth repeat the sign.
QByteArray intToBytes(int value, int width, bool littleEndian);

/// The page identifier's bytes ("\xHH" escapes decoded, the CAN-id placeholder replaced), padded
/// with leading zero bytes to width; never shortened.
QByteArray expandPageIdentifier(const QString& identifier, int width, int canId);

/// The command bytes of a template such as "R%2i%2o%2c" or "C%2i%2o%2c%v" (no framing).
QByteArray buildCommand(const QString& commandTemplate, const QString& pageIdentifier, int offset,
                        int count, const std::optional<QByteArray>& value,
                        const QString& endianness, int canId);

/// The bytes of a whole-command text: "\xHH" escapes decoded, the CAN-id placeholder replaced,
/// every other character its low byte.
QByteArray decodeEscapes(const QString& text, int canId);

}  // namespace tk::comms
