#pragma once

// Small helpers shared by the communications tests.

#include <QByteArray>

#include "comms/crc32.h"
#include "definition/ecu_definition.h"
#include "definition/ini_parser.h"
#include "support/test_support.h"
#include "tune/tune_value.h"

namespace tk::test {

inline QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

/// A response frame as an ECU sends it: length, payload, CRC-32 of the payload big-endian.
inline QByteArray responseFrame(const QByteArray& payload) {
  QByteArray frame;
  frame.append(char((payload.size() >> 8) & 0xFF)).append(char(payload.size() & 0xFF));
  frame.append(payload);
  const quint32 crc = comms::crc32(payload);
  for (int shift = 24; shift >= 0; shift -= 8) {
    frame.append(char((crc >> shift) & 0xFF));
  }
  return frame;
}

/// A success response carrying data.
inline QByteArray okFrame(const QByteArray& data) {
  return responseFrame(QByteArray(1, '\0') + data);
}

/// The three-page synthetic definition tests/data/tunefields.ini, parsed once.
inline const EcuDefinition& syntheticDefinition() {
  static const EcuDefinition d = IniParser().parse(dataPath(QStringLiteral("tunefields.ini")));
  return d;
}

/// Pages 1..3 (288, 512 and 128 bytes) of tests/data/tuneimg-synthetic.bin.
inline PageImages syntheticPages() {
  const QByteArray image = readFile(dataPath(QStringLiteral("tuneimg-synthetic.bin")));
  return {{1, image.mid(0, 288)}, {2, image.mid(288, 512)}, {3, image.mid(800, 128)}};
}

}  // namespace tk::test
