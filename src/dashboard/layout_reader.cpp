#include "dashboard/layout_reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>
#include <limits>

#include "dashboard/layout_fields.h"

namespace tk {
namespace {

// Lenient like the project files, as someone editing a layout by hand would expect: a member it
// cannot use keeps its default and the rest of the layout still loads. Only text that is no JSON
// object at all is refused, since nothing of a layout can be taken from it.

template <typename R>
bool readValue(const QJsonValue& value, R& record);

bool readValue(const QJsonValue& value, QString& out) {
  if (!value.isString()) {
    return false;
  }
  out = value.toString();
  return true;
}

bool readValue(const QJsonValue& value, double& out) {
  if (!value.isDouble()) {
    return false;
  }
  out = value.toDouble();
  return true;
}

bool readValue(const QJsonValue& value, int& out) {
  if (!value.isDouble()) {
    return false;
  }
  const double d = value.toDouble();
  if (d != std::floor(d) || d < std::numeric_limits<int>::min() ||
      d > std::numeric_limits<int>::max()) {
    return false;
  }
  out = static_cast<int>(d);
  return true;
}

bool readValue(const QJsonValue& value, bool& out) {
  if (!value.isBool()) {
    return false;
  }
  out = value.toBool();
  return true;
}

template <typename T>
bool readValue(const QJsonValue& value, std::optional<T>& out) {
  T inner{};
  if (!readValue(value, inner)) {
    return false;
  }
  out = std::move(inner);
  return true;
}

template <typename T>
bool readValue(const QJsonValue& value, QList<T>& out) {
  if (!value.isArray()) {
    return false;
  }
  out.clear();
  const QJsonArray array = value.toArray();
  for (const QJsonValue& element : array) {
    T item{};
    if (readValue(element, item)) {
      out.append(std::move(item));
    }
  }
  return true;
}

template <typename R>
void readFields(const QJsonObject& object, R& record) {
  for (const detail::LayoutField<R>& field : detail::fieldsOf(record)) {
    const auto it = object.constFind(QLatin1String(field.key));
    if (it != object.constEnd()) {
      std::visit([&](auto member) { readValue(*it, record.*member); }, field.member);
    }
  }
}

template <typename R>
bool readValue(const QJsonValue& value, R& record) {
  if (!value.isObject()) {
    return false;
  }
  readFields(value.toObject(), record);
  return true;
}

}  // namespace

DashboardLayout layoutFromJson(const QByteArray& json) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  const QString prefix = QStringLiteral("Failed to parse dashboard layout: ");
  if (error.error != QJsonParseError::NoError) {
    throw LayoutReadError((prefix + error.errorString()).toStdString());
  }
  if (!document.isObject()) {
    throw LayoutReadError((prefix + QStringLiteral("not a JSON object")).toStdString());
  }
  DashboardLayout layout;
  readFields(document.object(), layout);
  return layout;
}

}  // namespace tk
