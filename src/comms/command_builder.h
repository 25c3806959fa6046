#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

/// One piece of a command template: literal bytes or a percent field with its width.
struct TemplatePart {
  enum class Kind { Literal, Count, Offset, Identifier, Value };
  Kind kind = Kind::Literal;
  QByteArray literal;  ///< Literal only
  int width = 0;       ///< the digits after "%" (0 when none)

  bool operator==(const TemplatePart& other) const = default;
};

/// The template split into literal bytes ("\xHH" decoded, the CAN-id placeholder replaced) and
/// fields; unknown fields are dropped and a field cut off by the end ends the list.
QList<TemplatePart> templateParts(const QString& commandTemplate, int canId);

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

/// The numbers and value found in a command by matchCommand; -1 for a field the template lacks.
struct CommandFields {
  int offset = -1;
  int count = -1;
  QByteArray value;

  bool operator==(const CommandFields& other) const = default;
};

/// Reads command bytes back against the template that built them (the ECU's side of
/// buildCommand); no value when the bytes do not have the template's form.
std::optional<CommandFields> matchCommand(const QString& commandTemplate,
                                          const QString& pageIdentifier, const QString& endianness,
                                          int canId, const QByteArray& bytes);

/// The chunk-write command of a page (0-based index) for value at offset, built from the
/// definition's chunk-write template, its page identifier and endianness (no framing); no value
/// when the page has no template.
std::optional<QByteArray> buildChunkWriteCommand(const EcuDefinition& definition, int pageIndex,
                                                 int offset, const QByteArray& value);
/// buildChunkWriteCommand, framed.
std::optional<QByteArray> buildChunkWriteFrame(const EcuDefinition& definition, int pageIndex,
                                               int offset, const QByteArray& value);

/// The bytes of a whole-command text: "\xHH" escapes decoded, the CAN-id placeholder replaced,
/// every other character its low byte.
QByteArray decodeEscapes(const QString& text, int canId);
/// The bytes of a text: "\xHH" escapes decoded (a malformed one leaves its backslash as a byte),
/// every other character its low byte; the CAN-id placeholder stays as it is.
QByteArray decodeHexEscapes(const QString& text);

}  // namespace tk::comms
