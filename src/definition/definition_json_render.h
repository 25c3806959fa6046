#pragma once

// Builders of the canonical definition JSON that know the definition's own containers.

#include "definition/ecu_definition.h"
#include "json/json_builder.h"

namespace tk::detail {

template <typename V, typename F>
JsonValue orderedOf(const OrderedMap<V>& map, F render) {
  JsonValue o = JsonValue::object();
  for (const auto& [key, value] : map) {
    o.insert(key, render(value));
  }
  return o;
}

}  // namespace tk::detail
