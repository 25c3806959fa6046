#pragma once

#include <ostream>

#include "dashboard/layout_writer.h"
#include "json/json_writer.h"

namespace tk {

/// Shows a layout in failure messages as its JSON text.
inline void PrintTo(const DashboardLayout& layout, std::ostream* os) {
  *os << '\n' << serialize(layoutToJson(layout)).toStdString();
}

}  // namespace tk
