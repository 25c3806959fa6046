#pragma once

#include <QByteArray>
#include <QString>

namespace tk::comms {

/// Text received from an ECU: one character per byte, bytes of 0x80 and above become "?".
QString textFromEcuBytes(const QByteArray& bytes);
/// Text sent to an ECU: one byte per UTF-16 code unit, code units of 128 and above become "?".
QByteArray ecuBytesFromText(const QString& text);
/// The text without its trailing NUL, CR and LF characters.
QString withoutTrailingLineEnds(const QString& text);

}  // namespace tk::comms
