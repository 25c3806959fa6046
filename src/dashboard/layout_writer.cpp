#include "dashboard/layout_writer.h"

#include "dashboard/layout_fields.h"

namespace tk {
namespace {

template <typename R>
JsonValue toJson(const R& record);
JsonValue toJson(const ChannelListItem& item);

JsonValue toJson(const QString& s) { return s; }
JsonValue toJson(int i) { return i; }
JsonValue toJson(double d) { return d; }
JsonValue toJson(bool b) { return b; }

template <typename T>
JsonValue toJson(const QList<T>& list) {
  JsonValue array = JsonValue::array();
  for (const T& element : list) {
    array.append(toJson(element));
  }
  return array;
}

template <typename T>
void insertMember(JsonValue& object, const char* key, const T& value) {
  object.insert(QLatin1String(key), toJson(value));
}

// An absent optional is left out entirely, never written as null.
template <typename T>
void insertMember(JsonValue& object, const char* key, const std::optional<T>& value) {
  if (value) {
    insertMember(object, key, *value);
  }
}

template <typename R>
JsonValue fieldsToJson(const R& record) {
  JsonValue object = JsonValue::object();
  for (const detail::LayoutField<R>& field : detail::fieldsOf(record)) {
    if (field.writtenWhen && !field.writtenWhen(record)) {
      continue;
    }
    std::visit([&](auto member) { insertMember(object, field.key, record.*member); }, field.member);
  }
  return object;
}

template <typename R>
JsonValue toJson(const R& record) {
  return fieldsToJson(record);
}

JsonValue toJson(const ChannelListItem& item) {
  JsonValue object = fieldsToJson(item);
  object.insert(QStringLiteral("isTableOrCurve"),
                item.tableOrCurveId.has_value() && !item.tableOrCurveId->isEmpty());
  return object;
}

}  // namespace

JsonValue layoutToJson(const DashboardLayout& layout) { return toJson(layout); }

}  // namespace tk
