#include "json/ascii_text.h"

namespace tk {

int hexDigitValue(QChar c) {
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

QString asciiText(QByteArrayView bytes) {
  QString text(bytes.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    text[i] = asciiChar(static_cast<unsigned char>(bytes[i]));
  }
  return text;
}

QByteArray asciiBytes(QStringView text) {
  QByteArray bytes(text.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    bytes[i] = unit < 128 ? static_cast<char>(unit) : '?';
  }
  return bytes;
}

}  // namespace tk
