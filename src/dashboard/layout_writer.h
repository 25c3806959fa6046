#pragma once

#include "dashboard/dashboard_layout.h"
#include "json/json_value.h"

namespace tk {

/// The layout as a JSON object with members in table order; absent optional members and the
/// graph members of non-graph widgets are left out. Doubles keep the double kind, so a
/// non-finite one makes serialize throw.
JsonValue layoutToJson(const DashboardLayout& layout);

}  // namespace tk
