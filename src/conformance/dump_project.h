#pragma once

#include <QString>

#include "json/json_value.h"
#include "project/project_manager.h"

namespace tk::conformance {

/// The loaded state of a project: "project" (the project file's members, the definition's file
/// name instead of its path), "projectSettings" (the settings list) and "tune" (metadata, field
/// count and every value keyed by name; absent members as null, non-finite numbers as strings).
JsonValue projectStateJson(const project::ProjectManager& manager);

/// Opens the project (a legacy tune is upgraded but not saved) and writes projectStateJson;
/// returns 0, or 2 after "ERROR: no such file: <path>", "ERROR: <message>" for a failed open,
/// or "ERROR: cannot write <path>".
int dumpProject(const QString& projectPath, const QString& outPath);

/// Builds the fixed legacy project (project, page-image tune and settings files of
/// "TestProject") in a temporary folder from the definition and the raw image, then dumps it as
/// dumpProject does; returns 0, or 2 after an "ERROR: " line.
int dumpProjectLegacy(const QString& iniPath, const QString& imagePath, const QString& outPath);

}  // namespace tk::conformance
