#pragma once

#include <QByteArray>
#include <stdexcept>

#include "dashboard/dashboard_layout.h"

namespace tk {

/// Raised when layout text is not a JSON object; the message is the user-facing text.
class LayoutReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Builds a layout from JSON text, starting from the defaults and taking each member that is
/// present with a usable value; a member of the wrong type, null or an integer member that is not
/// a whole 32-bit number leaves the default, and list elements of the wrong type are skipped.
/// Throws LayoutReadError "Failed to parse dashboard layout: <reason>" when the text is not JSON
/// or its top level is not an object.
DashboardLayout layoutFromJson(const QByteArray& json);

}  // namespace tk
