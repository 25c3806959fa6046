#include "comms/ecu_text.h"

namespace tk::comms {

QString textFromEcuBytes(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text.append(b >= 0x80 ? QLatin1Char('?') : QLatin1Char(static_cast<char>(b)));
  }
  return text;
}

QByteArray ecuBytesFromText(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (const QChar ch : text) {
    bytes.append(ch.unicode() < 128 ? static_cast<char>(ch.unicode()) : '?');
  }
  return bytes;
}

QString withoutTrailingLineEnds(const QString& text) {
  qsizetype end = text.size();
  while (end > 0) {
    const char16_t c = text.at(end - 1).unicode();
    if (c != u'\0' && c != u'\r' && c != u'\n') {
      break;
    }
    --end;
  }
  return text.left(end);
}

}  // namespace tk::comms
