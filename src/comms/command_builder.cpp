#include "comms/command_builder.h"

#include <algorithm>

#include "comms/ecu_command_service.h"
#include "definition/ecu_definition.h"
#include "json/ascii_text.h"

namespace tk::comms {
namespace {

// A field width written with absurdly many digits is held at the largest frame a command can
// travel in, so that a hostile definition cannot make us allocate without bound.
constexpr int kMaxFieldWidth = 32768;

// The byte of a "\xHH" escape starting at i, when there is a complete one there.
std::optional<char> escapeAt(const QString& text, qsizetype i) {
  if (text.at(i) != QLatin1Char('\\') || i + 3 >= text.size() ||
      text.at(i + 1) != QLatin1Char('x')) {
    return std::nullopt;
  }
  const int high = hexDigitValue(text.at(i + 2));
  const int low = hexDigitValue(text.at(i + 3));
  if (high < 0 || low < 0) {
    return std::nullopt;
  }
  return static_cast<char>(high * 16 + low);
}

char lowByte(QChar c) { return static_cast<char>(c.unicode() & 0xFF); }

// The "\$tsCanId" form goes first so that its backslash does not survive as a byte.
QString replaceCanId(QString text, int canId) {
  const QString id(QChar(static_cast<char16_t>(canId & 0xFFFF)));
  text.replace(QStringLiteral("\\$tsCanId"), id);
  text.replace(QStringLiteral("$tsCanId"), id);
  return text;
}

QByteArray decodeReplaced(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (qsizetype i = 0; i < text.size();) {
    if (const std::optional<char> b = escapeAt(text, i)) {
      bytes.append(*b);
      i += 4;
    } else {
      bytes.append(lowByte(text.at(i)));
      ++i;
    }
  }
  return bytes;
}

}  // namespace

bool isLittleEndianCommandOrder(const QString& endianness) {
  return endianness.toLower() == QLatin1String("little");
}

QByteArray intToBytes(int value, int width, bool littleEndian) {
  QByteArray bytes(std::max(width, 0), '\0');
  const qint64 v = value;
  for (int k = 0; k < bytes.size(); ++k) {
    const auto b = static_cast<char>((v >> std::min(8 * k, 63)) & 0xFF);
    bytes[littleEndian ? k : bytes.size() - 1 - k] = b;
  }
  return bytes;
}

QByteArray expandPageIdentifier(const QString& identifier, int width, int canId) {
  QByteArray bytes = decodeReplaced(replaceCanId(identifier, canId));
  if (bytes.size() < width) {
    bytes.prepend(QByteArray(width - bytes.size(), '\0'));
  }
  return bytes;
}

QList<TemplatePart> templateParts(const QString& commandTemplate, int canId) {
  const QString t = replaceCanId(commandTemplate, canId);
  QList<TemplatePart> parts;
  const auto literal = [&parts](char b) {
    if (parts.isEmpty() || parts.back().kind != TemplatePart::Kind::Literal) {
      parts.append(TemplatePart{});
    }
    parts.back().literal.append(b);
  };
  for (qsizetype i = 0; i < t.size();) {
    if (const std::optional<char> b = escapeAt(t, i)) {
      literal(*b);
      i += 4;
      continue;
    }
    if (t.at(i) != QLatin1Char('%')) {
      literal(lowByte(t.at(i)));
      ++i;
      continue;
    }
    qsizetype j = i + 1;
    int width = 0;
    while (j < t.size() && t.at(j) >= QLatin1Char('0') && t.at(j) <= QLatin1Char('9')) {
      width = std::min(width * 10 + (t.at(j).unicode() - u'0'), kMaxFieldWidth);
      ++j;
    }
    if (j >= t.size()) {
      break;  // a field cut off by the end of the template is dropped, and so is the rest
    }
    switch (t.at(j).unicode()) {
      case u'c':
        parts.append(TemplatePart{TemplatePart::Kind::Count, {}, width});
        break;
      case u'o':
        parts.append(TemplatePart{TemplatePart::Kind::Offset, {}, width});
        break;
      case u'i':
        parts.append(TemplatePart{TemplatePart::Kind::Identifier, {}, width});
        break;
      case u'v':
        parts.append(TemplatePart{TemplatePart::Kind::Value, {}, width});
        break;
      default:
        break;  // an unknown field letter drops the whole field
    }
    i = j + 1;
  }
  return parts;
}

QByteArray buildCommand(const QString& commandTemplate, const QString& pageIdentifier, int offset,
                        int count, const std::optional<QByteArray>& value,
                        const QString& endianness, int canId) {
  const bool little = isLittleEndianCommandOrder(endianness);
  QByteArray bytes;
  for (const TemplatePart& part : templateParts(commandTemplate, canId)) {
    switch (part.kind) {
      case TemplatePart::Kind::Literal:
        bytes.append(part.literal);
        break;
      case TemplatePart::Kind::Count:
        bytes.append(intToBytes(count, part.width, little));
        break;
      case TemplatePart::Kind::Offset:
        bytes.append(intToBytes(offset, part.width, little));
        break;
      case TemplatePart::Kind::Identifier:
        bytes.append(expandPageIdentifier(pageIdentifier, part.width, canId));
        break;
      case TemplatePart::Kind::Value:
        if (value) {
          bytes.append(*value);
        }
        break;
    }
  }
  return bytes;
}

std::optional<CommandFields> matchCommand(const QString& commandTemplate,
                                          const QString& pageIdentifier, const QString& endianness,
                                          int canId, const QByteArray& bytes) {
  const bool little = isLittleEndianCommandOrder(endianness);
  const QList<TemplatePart> parts = templateParts(commandTemplate, canId);
  const QByteArray identifier = expandPageIdentifier(pageIdentifier, 0, canId);
  const auto fixedLength = [&identifier](const TemplatePart& part) -> qsizetype {
    switch (part.kind) {
      case TemplatePart::Kind::Literal:
        return part.literal.size();
      case TemplatePart::Kind::Identifier:
        return std::max<qsizetype>(identifier.size(), part.width);
      case TemplatePart::Kind::Count:
      case TemplatePart::Kind::Offset:
        return part.width;
      case TemplatePart::Kind::Value:
        return 0;
    }
    return 0;
  };
  CommandFields fields;
  qsizetype pos = 0;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const TemplatePart& part = parts.at(i);
    qsizetype length = fixedLength(part);
    if (part.kind == TemplatePart::Kind::Value) {
      // The value takes whatever the parts after it leave over.
      qsizetype tail = 0;
      for (qsizetype k = i + 1; k < parts.size(); ++k) {
        tail += fixedLength(parts.at(k));
      }
      length = bytes.size() - pos - tail;
    }
    if (length < 0 || pos + length > bytes.size()) {
      return std::nullopt;
    }
    const QByteArray piece = bytes.mid(pos, length);
    pos += length;
    switch (part.kind) {
      case TemplatePart::Kind::Literal:
        if (piece != part.literal) {
          return std::nullopt;
        }
        break;
      case TemplatePart::Kind::Identifier:
        if (piece != expandPageIdentifier(pageIdentifier, part.width, canId)) {
          return std::nullopt;
        }
        break;
      case TemplatePart::Kind::Count:
      case TemplatePart::Kind::Offset: {
        quint64 number = 0;
        for (qsizetype k = 0; k < piece.size(); ++k) {
          const auto b = static_cast<quint8>(piece.at(little ? piece.size() - 1 - k : k));
          number = (number << 8) | b;
          if (number > 0x7FFFFFFFu) {
            return std::nullopt;  // not a number an int offset or count can hold
          }
        }
        (part.kind == TemplatePart::Kind::Count ? fields.count : fields.offset) =
            static_cast<int>(number);
        break;
      }
      case TemplatePart::Kind::Value:
        fields.value = piece;
        break;
    }
  }
  if (pos != bytes.size()) {
    return std::nullopt;
  }
  return fields;
}

std::optional<QByteArray> buildChunkWriteCommand(const EcuDefinition& definition, int pageIndex,
                                                 int offset, const QByteArray& value) {
  const QString commandTemplate = definition.PageChunkWriteCommands.value(pageIndex);
  if (commandTemplate.isEmpty()) {
    return std::nullopt;
  }
  return buildCommand(commandTemplate, definition.PageIdentifiers.value(pageIndex), offset,
                      static_cast<int>(value.size()), value, definition.Endianness, 0);
}

std::optional<QByteArray> buildChunkWriteFrame(const EcuDefinition& definition, int pageIndex,
                                               int offset, const QByteArray& value) {
  if (std::optional<QByteArray> command =
          buildChunkWriteCommand(definition, pageIndex, offset, value)) {
    return EcuCommandService::wrapFrame(*command);
  }
  return std::nullopt;
}

QByteArray decodeEscapes(const QString& text, int canId) {
  if (text.isEmpty()) {
    return {};
  }
  return decodeReplaced(replaceCanId(text, canId));
}

QByteArray decodeHexEscapes(const QString& text) { return decodeReplaced(text); }

}  // namespace tk::comms
