#include "project/setting_choice.h"

#include <QFileInfo>
#include <QStringList>

#include "project/math_channels.h"
#include "tune/tune_reexpress.h"

namespace tk::project {
namespace {

template <typename T, typename NameOf>
const T* findNamed(const QList<T>& items, const QString& name, NameOf nameOf) {
  for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
    for (const T& item : items) {
      if (nameOf(item).compare(name, cs) == 0) {
        return &item;
      }
    }
  }
  return nullptr;
}

// The definition the project was opened with: the copy beside the project file, else the
// recorded path.
QString definitionPath(const ProjectManager& manager) {
  const QString copy = QFileInfo(manager.projectPath()).absolutePath() + QLatin1Char('/') +
                       QLatin1String(kProjectIniFileName);
  return QFileInfo(copy).isFile() ? copy : manager.project()->iniFilePath;
}

}  // namespace

SettingChoice chooseSettingOption(ProjectManager& manager, const QString& group,
                                  const QString& option) {
  const EcuDefinition* definition = manager.definition();
  if (definition == nullptr || manager.tune() == nullptr || manager.project() == nullptr) {
    throw ProjectError(QStringLiteral("No project loaded"));
  }
  QList<SettingGroup> groups;
  QStringList groupNames;
  for (const auto& entry : definition->SettingGroups) {
    groups.append(entry.second);
    groupNames.append(entry.second.Name);
  }
  const SettingGroup* chosenGroup =
      findNamed(groups, group, [](const SettingGroup& g) { return g.Name; });
  if (chosenGroup == nullptr) {
    throw ProjectError(
        groupNames.isEmpty()
            ? QStringLiteral("Setting group '%1' not found; the definition has none").arg(group)
            : QStringLiteral("Setting group '%1' not found; the groups are: %2")
                  .arg(group, groupNames.join(QStringLiteral(", "))));
  }
  const SettingOption* chosenOption =
      findNamed(chosenGroup->Options, option, [](const SettingOption& o) { return o.Name; });
  if (chosenOption == nullptr) {
    QStringList optionNames;
    for (const SettingOption& o : chosenGroup->Options) {
      optionNames.append(o.Name);
    }
    throw ProjectError(QStringLiteral("Setting group '%1' has no option '%2'; its options are: %3")
                           .arg(chosenGroup->Name, option, optionNames.join(QStringLiteral(", "))));
  }
  SettingChoice choice{chosenGroup->Name, chosenOption->Name, chosenGroup->SelectedOption};

  ProjectFile project = *manager.project();
  GroupSelections& selections = project.iniSettings.settingGroupSelections;
  bool recorded = false;
  for (auto& [name, selected] : selections) {
    if (name == choice.group) {
      selected = choice.option;
      recorded = true;
    }
  }
  if (!recorded) {
    selections.append({choice.group, choice.option});
  }
  EcuDefinition reread = readProjectDefinition(definitionPath(manager), project.iniSettings);
  registerMathChannels(reread, project.mathChannels);

  // The bytes are what the controller holds: the old definition encodes them, the new one reads
  // them back in its units.
  const PageImages images = manager.pageImages();
  Tune tune = reexpressTune(*manager.tune(), images, reread);
  *manager.mutableProject() = std::move(project);
  manager.editor().load(std::move(reread), std::move(tune));
  manager.editor().markModified();
  manager.editor().announceTuneReplaced();
  return choice;
}

}  // namespace tk::project
