#pragma once

#include <QString>
#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

namespace tk {

/// A JSON value with exactly eight kinds; objects keep insertion order and duplicate keys.
class JsonValue {
 public:
  /// Kinds in their fixed index order.
  enum class Kind {
    Null = 0,
    Bool = 1,
    Int = 2,
    Double = 3,
    Float = 4,
    String = 5,
    Array = 6,
    Object = 7
  };
  using Array = std::vector<JsonValue>;
  using Member = std::pair<QString, JsonValue>;
  using Object = std::vector<Member>;

  /// Null.
  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool b) : v_(b) {}
  JsonValue(int i) : v_(static_cast<std::int64_t>(i)) {}
  JsonValue(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
  JsonValue(long i) : v_(static_cast<std::int64_t>(i)) {}
  JsonValue(long long i) : v_(static_cast<std::int64_t>(i)) {}
  JsonValue(double d) : v_(d) {}
  /// A single-precision float, written with the float number form.
  JsonValue(float f) : v_(f) {}
  JsonValue(const QString& s) : v_(s) {}
  JsonValue(QString&& s) : v_(std::move(s)) {}
  /// UTF-8 text.
  JsonValue(const char* utf8) : v_(QString::fromUtf8(utf8)) {}
  JsonValue(Array a) : v_(std::move(a)) {}
  JsonValue(Object o) : v_(std::move(o)) {}

  /// An empty array.
  static JsonValue array() { return JsonValue(Array{}); }
  /// An empty object.
  static JsonValue object() { return JsonValue(Object{}); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isObject() const { return kind() == Kind::Object; }

  /// Typed accessors; calling one for another kind is a programmer error.
  bool toBool() const { return std::get<bool>(v_); }
  std::int64_t toInt() const { return std::get<std::int64_t>(v_); }
  double toDouble() const { return std::get<double>(v_); }
  float toFloat() const { return std::get<float>(v_); }
  const QString& toString() const { return std::get<QString>(v_); }
  const Array& elements() const { return std::get<Array>(v_); }
  Array& elements() { return std::get<Array>(v_); }
  const Object& members() const { return std::get<Object>(v_); }
  Object& members() { return std::get<Object>(v_); }

  /// Appends an element to an array.
  JsonValue& append(JsonValue value);
  /// Appends a member to an object, never replacing an existing key.
  JsonValue& insert(const QString& key, JsonValue value);
  /// The first member with this key, or nullptr; objects only.
  const JsonValue* find(const QString& key) const;
  /// Element or member count; 0 for scalars.
  std::size_t size() const;

  bool operator==(const JsonValue& other) const = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, float, QString, Array, Object> v_;
};

}  // namespace tk
