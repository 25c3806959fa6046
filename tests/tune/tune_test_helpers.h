#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "definition/ini_parser.h"

namespace tk::test {

/// A definition read from inline INI text (no includes).
inline EcuDefinition parseDefinition(const char* text) {
  return IniParser().parseBytes(QByteArray(text), QString());
}

/// Bytes from a list of values 0..255.
inline QByteArray bytesOf(const std::vector<int>& values) {
  QByteArray out;
  for (int v : values) {
    out.append(static_cast<char>(v));
  }
  return out;
}

/// Hex text of bytes, space separated ("61 62 00"), for readable failures.
inline QString hexOf(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

}  // namespace tk::test
