#pragma once

#include <QByteArray>
#include <QString>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk::test {

/// The synthetic definition tests/data/tune/<name>.
inline EcuDefinition tuneDefinition(const char* name) {
  return IniParser().parseBytes(readFile(dataPath(QStringLiteral("tune/") + QLatin1String(name))),
                                QString());
}

/// Bytes from hex text; spaces are skipped ("61 62 00").
inline QByteArray fromHex(const char* hex) { return QByteArray::fromHex(QByteArray(hex)); }

/// Hex text of bytes, space separated ("61 62 00"), for readable failures.
inline QString hexOf(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

}  // namespace tk::test
