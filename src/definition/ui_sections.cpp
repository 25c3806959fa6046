// Handlers of [Menu], [GaugeConfigurations] and [FrontPage], and the pieces that [UserDefined]
// shares with them.
#include <QRegularExpression>

#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {
namespace {

MenuItemDef menuItem(const QStringList& items) {
  MenuItemDef item;
  const QString first = items.at(0).trimmed();
  const qsizetype quote = first.indexOf(u'"', 1);
  qsizetype scanStart = 2;
  if (quote > 0) {
    item.Action = first.left(quote).trimmed();
    item.Label = unquote(first.mid(quote));
    scanStart = 1;
  } else {
    item.Action = first;
    item.Label = items.size() >= 2 ? unquote(items.at(1)) : item.Action;
  }
  scanConditions(items, scanStart, item.Condition, item.VisibilityCondition);
  if (item.Action == QLatin1String("std_separator")) {
    item.Type = QStringLiteral("Separator");
    item.Label = QStringLiteral("-");
  }
  return item;
}

/// The first menu item (depth first) whose Action is action, or nullptr.
MenuItemDef* findMenuItem(std::vector<MenuItemDef>& items, const QString& action) {
  for (MenuItemDef& item : items) {
    if (item.Action == action) {
      return &item;
    }
    if (MenuItemDef* child = findMenuItem(item.SubItems, action)) {
      return child;
    }
  }
  return nullptr;
}

MenuItemDef* findMenuItem(QList<MenuDef>& menus, const QString& action) {
  for (MenuDef& menu : menus) {
    for (MenuItemDef& item : menu.Items) {
      if (item.Action == action) {
        return &item;
      }
      if (MenuItemDef* child = findMenuItem(item.SubItems, action)) {
        return child;
      }
    }
  }
  return nullptr;
}

bool removeMenuItem(QList<MenuDef>& menus, const QString& action) {
  for (MenuDef& menu : menus) {
    for (qsizetype i = 0; i < menu.Items.size(); ++i) {
      if (menu.Items.at(i).Action == action) {
        menu.Items.removeAt(i);
        return true;
      }
      std::vector<MenuItemDef>& children = menu.Items[i].SubItems;
      for (auto it = children.begin(); it != children.end(); ++it) {
        if (it->Action == action) {
          children.erase(it);
          return true;
        }
      }
    }
  }
  return false;
}
/// Reads one label of an indicator, with the bitStringValue parts when the label uses them.
void indicatorLabel(const QString& label, QString& text, std::optional<QString>& prefix,
                    std::optional<QString>& list, std::optional<QString>& channel) {
  static const QRegularExpression pattern(QStringLiteral(
      "\\{\\s*([^}]*?)bitStringValue\\s*\\(\\s*(\\w+)\\s*,\\s*(\\w+)\\s*\\)\\s*\\}"));
  text = label;
  if (!label.contains(QLatin1String("bitStringValue"))) {
    return;
  }
  const QRegularExpressionMatch match = pattern.match(label);
  if (match.hasMatch()) {
    prefix = match.captured(1);
    list = match.captured(2);
    channel = match.captured(3);
  }
}

}  // namespace

void scanConditions(const QStringList& items, qsizetype first, QString& condition,
                    QString& visibility) {
  int found = 0;
  for (qsizetype i = first; i < items.size() && found < 2; ++i) {
    if (items.at(i).contains(u'{')) {
      (found == 0 ? condition : visibility) = stripBraces(items.at(i));
      ++found;
    }
  }
}

std::optional<IndicatorDef> parseIndicator(const QString& value) {
  const QStringList items = splitList(value);
  if (items.size() < 3) {
    return std::nullopt;
  }
  IndicatorDef indicator;
  indicator.Condition = trimChars(items.at(0).trimmed(), QStringLiteral("{}"));
  indicatorLabel(unquote(items.at(1)), indicator.OffLabel, indicator.OffLabelPrefix,
                 indicator.OffBitStringList, indicator.OffBitStringChannel);
  indicatorLabel(unquote(items.at(2)), indicator.OnLabel, indicator.OnLabelPrefix,
                 indicator.OnBitStringList, indicator.OnBitStringChannel);
  QString* colours[] = {&indicator.OffBackground, &indicator.OffForeground, &indicator.OnBackground,
                        &indicator.OnForeground};
  for (qsizetype i = 3; i < items.size() && i < 7; ++i) {
    *colours[i - 3] = unquote(items.at(i));
  }
  return indicator;
}

void handleMenuLine(ReadState& state, const QString& line) {
  const PreparedLine p = prepareLine(state, line);
  if (!p.hasKey) {
    return;
  }
  QList<MenuDef>& menus = state.def.Menus;
  const QString& key = p.key;
  if (equalsWord(key, "menu")) {
    MenuDef menu;
    menu.Name = unquote(p.items.at(0));
    menus.append(menu);
    state.currentMenuGroup = -1;
    return;
  }
  if (menus.isEmpty()) {
    return;
  }
  QList<MenuItemDef>& items = menus.last().Items;
  if (equalsWord(key, "subMenu")) {
    items.append(menuItem(p.items));
    state.currentMenuGroup = -1;
  } else if (equalsWord(key, "groupMenu")) {
    // groupMenu = "Label", {condition}, {visibility}: a submenu holding the groupChildMenu items.
    MenuItemDef group;
    group.Type = QStringLiteral("Menu");
    group.Label = unquote(p.items.at(0));
    scanConditions(p.items, 1, group.Condition, group.VisibilityCondition);
    items.append(group);
    state.currentMenuGroup = items.size() - 1;
  } else if (equalsWord(key, "groupChildMenu")) {
    if (state.currentMenuGroup >= 0 && state.currentMenuGroup < items.size()) {
      items[state.currentMenuGroup].SubItems.push_back(menuItem(p.items));
    }
  } else if (equalsWord(key, "removeSubMenu")) {
    removeMenuItem(menus, p.items.at(0).trimmed());
    state.currentMenuGroup = -1;
  } else if (equalsWord(key, "updateSubMenuLabel")) {
    // updateSubMenuLabel = action, "new label"
    if (MenuItemDef* item = findMenuItem(menus, p.items.at(0).trimmed())) {
      item->Label = unquote(itemAt(p.items, 1));
    }
  } else if (equalsWord(key, "replaceSubMenu")) {
    // replaceSubMenu = old action, new action, "label", {condition}, {visibility}
    if (MenuItemDef* item = findMenuItem(menus, p.items.at(0).trimmed())) {
      if (p.items.size() >= 2) {
        *item = menuItem(p.items.mid(1));
      }
    }
  }
}
void handleGauge(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "gaugeCategory")) {
    state.gaugeCategory = unquote(value);
    return;
  }
  const QStringList items = splitList(value);
  if (items.size() < 3) {
    return;
  }
  GaugeDef gauge;
  gauge.Name = key;
  gauge.Channel = items.at(0).trimmed();
  gauge.Title = unquote(items.at(1));
  gauge.Units = unquote(items.at(2));
  gauge.Category = state.gaugeCategory;
  // A limit written as an expression keeps 0 as its number; users of the gauge evaluate it.
  const std::pair<double*, std::optional<QString>*> limits[] = {
      {&gauge.Min, &gauge.MinExpression},
      {&gauge.Max, &gauge.MaxExpression},
      {&gauge.LowDanger, &gauge.LowDangerExpression},
      {&gauge.LowWarning, &gauge.LowWarningExpression},
      {&gauge.HighWarning, &gauge.HighWarningExpression},
      {&gauge.HighDanger, &gauge.HighDangerExpression},
      {&gauge.ValueDigits, &gauge.ValueDigitsExpression},
      {&gauge.LabelDigits, &gauge.LabelDigitsExpression},
  };
  for (qsizetype i = 3; i < items.size() && i < 11; ++i) {
    const QString item = items.at(i).trimmed();
    if (isBraced(item)) {
      *limits[i - 3].second = braceInside(item);
    } else if (const auto d = parseDouble(item)) {
      *limits[i - 3].first = *d;
    }
  }
  if (items.size() >= 12) {
    gauge.ActiveCondition = stripBraces(items.at(11));
  }
  state.def.Gauges.insert(key, gauge);
}

void handleFrontPage(ReadState& state, const QString& key, const QString& value) {
  FrontPageDef& page = state.def.FrontPage;
  if (key.startsWith(QLatin1String("gauge"), Qt::CaseInsensitive)) {
    page.GaugeRefs.append(value.trimmed());
  } else if (equalsWord(key, "indicator")) {
    if (auto indicator = parseIndicator(value)) {
      page.Indicators.append(*indicator);
    }
  } else if (equalsWord(key, "indicatorTemplate")) {
    if (auto indicator = parseIndicator(value)) {
      page.IndicatorTemplates.append(*indicator);
    }
  }
}

}  // namespace tk::detail
