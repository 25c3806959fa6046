#include "json/json_value.h"

namespace tk {

JsonValue& JsonValue::append(JsonValue value) {
  elements().push_back(std::move(value));
  return *this;
}

JsonValue& JsonValue::insert(const QString& key, JsonValue value) {
  members().emplace_back(key, std::move(value));
  return *this;
}

const JsonValue* JsonValue::find(const QString& key) const {
  for (const Member& m : members()) {
    if (m.first == key) {
      return &m.second;
    }
  }
  return nullptr;
}

std::size_t JsonValue::size() const {
  switch (kind()) {
    case Kind::Array:
      return elements().size();
    case Kind::Object:
      return members().size();
    default:
      return 0;
  }
}

}  // namespace tk
