#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <optional>

#include "definition/ecu_definition.h"
#include "definition/ini_parser.h"
#include "json/json_value.h"
#include "json/json_writer.h"

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

/// A list of texts given as UTF-8 literals, for comparing several text fields at once.
inline QStringList strings(std::initializer_list<const char*> items) {
  QStringList out;
  for (const char* item : items) {
    out.append(QString::fromUtf8(item));
  }
  return out;
}

/// The keys of an ordered map, in their order.
template <typename V>
QStringList mapKeys(const OrderedMap<V>& map) {
  QStringList keys;
  for (const auto& [key, value] : map) {
    keys.append(key);
  }
  return keys;
}

/// An optional text, or "<none>" when absent.
inline QString orNone(const std::optional<QString>& text) {
  return text.value_or(QStringLiteral("<none>"));
}

}  // namespace tk::test
