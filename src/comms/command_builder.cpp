#include "comms/command_builder.h"

#include <algorithm>

namespace tk::comms {
namespace {

// A field width written with absurdly many digits is held at the largest frame a command can
// travel in, so that a hostile definition cannot make us allocate without bound.
constexpr int kMaxFieldWidth = 32768;

int hexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') {
    return u - u'0';
  }
  if (u >= u'a' && u <= u'f') {
    return u - u'a' + 10;
  }
  if (u >= u'A' && u <= u'F') {
    return u - u'A' + 10;
  }
  return -1;
}

// The byte of a "\xHH" escape starting at i, when there is a complete one there.
std::optional<char> escapeAt(const QString& text, qsizetype i) {
  if (text.at(i) != QLatin1Char('\\') || i + 3 >= text.size() || text.at(i + 1) != QLatin1Char('x')) {
    return std::nullopt;
  }
  const int high = hexDigit(text.at(i + 2));
  const int low = hexDigit(text.at(i + 3));
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

QByteArray buildCommand(const QString& commandTemplate, const QString& pageIdentifier, int offset,
                        int count, const std::optional<QByteArray>& value,
                        const QString& endianness, int canId) {
  const bool little = isLittleEndianCommandOrder(endianness);
  const QString t = replaceCanId(commandTemplate, canId);
  QByteArray bytes;
  for (qsizetype i = 0; i < t.size();) {
    if (const std::optional<char> b = escapeAt(t, i)) {
      bytes.append(*b);
      i += 4;
      continue;
    }
    if (t.at(i) != QLatin1Char('%')) {
      bytes.append(lowByte(t.at(i)));
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
      break;  // a field cut off by the end of the template is dropped
    }
    switch (t.at(j).unicode()) {
      case u'c':
        bytes.append(intToBytes(count, width, little));
        break;
      case u'o':
        bytes.append(intToBytes(offset, width, little));
        break;
      case u'i':
        bytes.append(expandPageIdentifier(pageIdentifier, width, canId));
        break;
      case u'v':
        if (value) {
          bytes.append(*value);
        }
        break;
      default:
        break;  // an unknown field letter drops the whole field
    }
    i = j + 1;
  }
  return bytes;
}

QByteArray decodeEscapes(const QString& text, int canId) {
  if (text.isEmpty()) {
    return {};
  }
  return decodeReplaced(replaceCanId(text, canId));
}

}  // namespace tk::comms
