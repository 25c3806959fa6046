#pragma once

// The byte and text rules shared by every layer that moves text in and out of bytes: controller
// replies, command templates, log headers. One rule each, spelled once.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>

namespace tk {

/// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(QChar c);

/// One byte as a character: bytes of 0x80 and above become "?".
inline QChar asciiChar(unsigned char byte) { return QChar(byte < 0x80 ? byte : u'?'); }

/// Bytes as text, one character per byte; bytes of 0x80 and above become "?".
QString asciiText(QByteArrayView bytes);

/// Text as bytes, one byte per UTF-16 code unit; code units of 128 and above become "?".
QByteArray asciiBytes(QStringView text);

}  // namespace tk
