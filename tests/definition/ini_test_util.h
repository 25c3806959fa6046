#pragma once

#include "definition/ecu_definition.h"
#include "definition/ini_parser.h"
#include "json/json_value.h"
#include "json/json_writer.h"

#include <QByteArray>
#include <QString>

namespace tk::test {

/// Parses definition text given as UTF-8 source (read as Latin-1 by the reader, as files are).
inline EcuDefinition parseIni(const char* text, const IniParser& parser = IniParser()) {
  return parser.parseBytes(QByteArray(text), QString());
}

/// The canonical text of one member of an object (the member's value only).
inline QByteArray memberText(const JsonValue& object, const char* key) {
  const JsonValue* v = object.find(QString::fromUtf8(key));
  return v ? serialize(*v) : QByteArray("<missing>");
}

}  // namespace tk::test
