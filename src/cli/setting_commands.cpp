#include "cli/setting_commands.h"

#include "cli/command_support.h"
#include "project/setting_choice.h"

namespace tk::cli {

JsonValue listSettingGroups(CommandContext& context) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  JsonValue groups = JsonValue::array();
  for (const auto& entry : definition.SettingGroups) {
    const SettingGroup& group = entry.second;
    JsonValue options = JsonValue::array();
    for (const SettingOption& option : group.Options) {
      JsonValue item = JsonValue::object();
      item.insert(QStringLiteral("name"), option.Name);
      item.insert(QStringLiteral("displayName"), option.DisplayName);
      options.append(std::move(item));
    }
    JsonValue item = JsonValue::object();
    item.insert(QStringLiteral("name"), group.Name);
    item.insert(QStringLiteral("displayName"), group.DisplayName);
    item.insert(QStringLiteral("selected"), group.SelectedOption);
    item.insert(QStringLiteral("options"), std::move(options));
    groups.append(std::move(item));
  }
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("count"), static_cast<long long>(definition.SettingGroups.size()));
  data.insert(QStringLiteral("groups"), std::move(groups));
  return data;
}

JsonValue setSettingGroup(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  requireDefinition(manager);
  requireTune(manager);
  const CommandOptions& options = context.options();
  const project::SettingChoice choice = project::chooseSettingOption(
      manager, options.value(QStringLiteral("group")), options.value(QStringLiteral("option")));
  context.setEditLabel(QStringLiteral("set-setting-group(%1)").arg(choice.group));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("group"), choice.group);
  data.insert(QStringLiteral("option"), choice.option);
  data.insert(QStringLiteral("previous"), choice.previous);
  return data;
}

}  // namespace tk::cli
