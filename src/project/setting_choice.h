#pragma once

#include <QString>

#include "project/project_manager.h"

namespace tk::project {

/// What choosing a setting option did.
struct SettingChoice {
  /// The group, spelled as the definition spells it.
  QString group;
  /// The option now selected, spelled as the definition spells it.
  QString option;
  /// The option selected before.
  QString previous;
};

/// Selects option in the loaded definition's setting group group (names exact, else ignoring
/// case), built-in groups included: the project's selection is recorded, the definition read
/// again with it, and the tune re-expressed so that every page byte keeps its value while values,
/// units and digits follow the choice. An unknown group or option throws ProjectError naming the
/// choices, with nothing changed. The caller saves.
SettingChoice chooseSettingOption(ProjectManager& manager, const QString& group,
                                  const QString& option);

}  // namespace tk::project
