#pragma once

#include <QString>

#include "dashboard/dashboard_layout.h"

namespace tk::conformance {

/// The fixed "GoldenDash" layout: every member set away from its default somewhere, and each
/// optional member both present and absent.
DashboardLayout goldenDashLayout();

/// Writes layoutToJson(goldenDashLayout()) to outPath; returns the exit code.
int dumpDashboard(const QString& outPath);

}  // namespace tk::conformance
