#pragma once

#include <QList>
#include <QString>

#include "definition/ecu_definition.h"

namespace tk {

/// The built-in setting groups (sensor types and display units) in their fixed order; each group
/// has its default option selected.
const QList<SettingGroup>& defaultSettingGroups();

/// Reads a "defaultSettingGroups" XML document; elements it does not know are skipped.
QList<SettingGroup> readSettingGroupsXml(const QString& xml);

}  // namespace tk
