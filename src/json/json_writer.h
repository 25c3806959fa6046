#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

#include "json/json_value.h"

namespace tk {

/// Raised when a tree holds a non-finite double or float; nothing has been written.
class JsonWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The canonical text: two-blank indent, ASCII only, no trailing line feed. Throws JsonWriteError.
QByteArray serialize(const JsonValue& value);

/// Writes serialize(value) plus one line feed; returns 0, or prints "ERROR: cannot write <path>"
/// and returns 2 when the file cannot be opened.
int writeJsonFile(const JsonValue& value, const QString& path);

/// A double as a JSON number, or the string "NaN", "Infinity" or "-Infinity" when not finite.
JsonValue numberOrNonFinite(double x);

}  // namespace tk
