#pragma once

// Small builders for JSON documents written member by member: the canonical definition JSON,
// the conformance dumps and the command results.

#include <QMap>
#include <QStringList>
#include <optional>

#include "json/json_value.h"
#include "json/json_writer.h"

namespace tk::detail {

/// Builds an object member by member in the order written.
class Obj {
 public:
  Obj& add(const char* key, JsonValue value) {
    v_.insert(QLatin1String(key), std::move(value));
    return *this;
  }
  JsonValue take() { return std::move(v_); }

 private:
  JsonValue v_ = JsonValue::object();
};

// A hostile file may write "nan" or "inf" as a limit or scale; such values render as the strings
// "NaN", "Infinity" and "-Infinity" so that the document can always be written.
inline JsonValue num(double x) { return numberOrNonFinite(x); }

inline JsonValue opt(const std::optional<QString>& s) { return s ? JsonValue(*s) : JsonValue(); }

inline JsonValue strings(const QStringList& list) {
  JsonValue a = JsonValue::array();
  for (const QString& s : list) {
    a.append(s);
  }
  return a;
}

inline JsonValue ints(const QList<int>& list) {
  JsonValue a = JsonValue::array();
  for (int n : list) {
    a.append(n);
  }
  return a;
}

template <typename List, typename F>
JsonValue arrayOf(const List& list, F render) {
  JsonValue a = JsonValue::array();
  for (const auto& item : list) {
    a.append(render(item));
  }
  return a;
}

/// A sorted string map as an object in ascending key order.
inline JsonValue stringMap(const QMap<QString, QString>& map) {
  JsonValue o = JsonValue::object();
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    o.insert(it.key(), it.value());
  }
  return o;
}

/// A list rendered as an object keyed by each entry's name; repeated names repeat the key.
template <typename List, typename Key, typename F>
JsonValue keyedList(const List& list, Key key, F render) {
  JsonValue o = JsonValue::object();
  for (const auto& item : list) {
    o.insert(key(item), render(item));
  }
  return o;
}

}  // namespace tk::detail
