// Handlers of [Menu], [UserDefined], [GaugeConfigurations] and [FrontPage].
#include <QRegularExpression>

#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {
namespace {

bool isPlacementWord(const QString& t) {
  for (const char* word : {"North", "South", "East", "West", "Center"}) {
    if (equalsWord(t, word)) {
      return true;
    }
  }
  return false;
}

/// Among items[first...], the first containing '{' gives the condition, the second the
/// visibility condition, each without surrounding braces and spaces.
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

DialogDef* currentDialog(ReadState& state) {
  const qsizetype i = state.currentDialog;
  return i >= 0 && i < state.def.Dialogs.size() ? &state.def.Dialogs[i] : nullptr;
}

void addDialogItem(ReadState& state, DialogItemDef item) {
  if (DialogDef* dialog = currentDialog(state)) {
    // The components of a dialog often share their conditions: each is kept once.
    item.Condition = state.pool.get(item.Condition);
    item.VisibilityCondition = state.pool.get(item.VisibilityCondition);
    dialog->Items.append(std::move(item));
  }
}

/// "Label", name, {condition}, {visibility}: the shape most components share.
DialogItemDef labelledItem(const char* type, const QStringList& items) {
  DialogItemDef item;
  item.Type = QLatin1String(type);
  item.Label = unquote(items.at(0));
  item.FieldName = itemAt(items, 1).trimmed();
  scanConditions(items, 2, item.Condition, item.VisibilityCondition);
  return item;
}

void fieldLine(ReadState& state, const QStringList& items) {
  DialogItemDef item;
  if (items.size() == 1) {
    const QString t = items.at(0).trimmed();
    if (t.size() >= 2 && t.startsWith(u'"') && t.endsWith(u'"')) {
      item.Type = QStringLiteral("Label");
      item.Label = unquote(t);
      addDialogItem(state, std::move(item));
    }
    return;
  }
  item.Label = unquote(items.at(0));
  const QString name = items.at(1).trimmed();
  if (name.isEmpty() || (isBraced(name) && braceInside(name).isEmpty())) {
    item.Type = QStringLiteral("Label");
  } else {
    item.Type = QStringLiteral("Field");
    item.FieldName = name;
  }
  if (itemAt(items, 2).contains(u'{')) {
    item.Condition = stripBraces(items.at(2));
  }
  if (itemAt(items, 3).contains(u'{')) {
    item.VisibilityCondition = stripBraces(items.at(3));
  } else if (itemAt(items, 4).contains(u'{')) {
    item.VisibilityCondition = stripBraces(items.at(4));
  }
  addDialogItem(state, std::move(item));
}

void panelLine(ReadState& state, const QStringList& items) {
  DialogItemDef item;
  item.Type = QStringLiteral("Panel");
  item.FieldName = items.at(0).trimmed();
  const QString placement = itemAt(items, 1).trimmed();
  if (isPlacementWord(placement)) {
    item.LayoutPlacement = placement;
  }
  scanConditions(items, 1, item.Condition, item.VisibilityCondition);
  addDialogItem(state, std::move(item));
}

ReadoutDef readoutLine(const QStringList& items) {
  ReadoutDef readout;
  readout.Channel = items.at(0).trimmed();
  // A readout naming only a channel refers to the gauge of that name.
  readout.IsGaugeReference = items.size() == 1;
  readout.Title = unquote(itemAt(items, 1));
  readout.Units = unquote(itemAt(items, 2));
  double* limits[] = {&readout.Min,     &readout.Max,      &readout.LowDanger,
                      &readout.LowWarn, &readout.HighWarn, &readout.HighDanger};
  for (qsizetype i = 3; i < items.size() && i < 9; ++i) {
    if (const auto d = parseDouble(items.at(i))) {
      *limits[i - 3] = *d;
    }
  }
  if (const auto n = parseInt(itemAt(items, 9))) {
    readout.ValueDigits = *n;
  }
  if (const auto n = parseInt(itemAt(items, 10))) {
    readout.LabelDigits = *n;
  }
  return readout;
}

}  // namespace

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

void handleUserDefinedLine(ReadState& state, const QString& line) {
  const PreparedLine p = prepareLine(state, line);
  if (!p.hasKey) {
    return;
  }
  const QString& key = p.key;
  const QStringList& items = p.items;
  EcuDefinition& def = state.def;
  if (equalsWord(key, "dialog")) {
    state.closeHelpTopic();
    DialogDef dialog;
    dialog.Name = items.at(0).trimmed();
    dialog.Label = unquote(itemAt(items, 1));
    const QString layout = itemAt(items, 2).trimmed().toLower();
    for (const char* word : {"yaxis", "xaxis", "border", "card", "indexcard"}) {
      if (layout == QLatin1String(word)) {
        dialog.LayoutType = layout;
      }
    }
    def.Dialogs.append(dialog);
    state.currentDialog = def.Dialogs.size() - 1;
    state.currentSelectorItem = -1;
  } else if (equalsWord(key, "help") || equalsWord(key, "text")) {
    handleHelpTopic(state, key, p.value);
  } else if (equalsWord(key, "webHelp")) {
    // Inside an open help topic webHelp belongs to the topic, otherwise to the dialog.
    if (state.openHelp) {
      handleHelpTopic(state, key, p.value);
    } else if (DialogDef* dialog = currentDialog(state)) {
      dialog->WebHelp = unquote(p.value);
    }
  } else if (equalsWord(key, "topicHelp")) {
    if (DialogDef* dialog = currentDialog(state)) {
      dialog->TopicHelp = unquote(p.value);
    }
  } else if (equalsWord(key, "field")) {
    fieldLine(state, items);
  } else if (equalsWord(key, "commandButton")) {
    DialogItemDef item;
    item.Type = QStringLiteral("CommandButton");
    item.Label = unquote(items.at(0));
    item.Action = itemAt(items, 1).trimmed();
    scanConditions(items, 2, item.Condition, item.VisibilityCondition);
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "panel")) {
    panelLine(state, items);
  } else if (equalsWord(key, "radio")) {
    // radio = orientation, "Label", field, {condition}
    DialogItemDef item = labelledItem("Radio", items.mid(1));
    item.Orientation = items.at(0).trimmed();
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "slider")) {
    // slider = "Label", field, orientation, {condition}
    DialogItemDef item = labelledItem("Slider", items);
    const QString orientation = itemAt(items, 2).trimmed();
    if (!orientation.isEmpty() && !orientation.contains(u'{')) {
      item.Orientation = orientation;
    }
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "array1D")) {
    addDialogItem(state, labelledItem("Array1D", items));
  } else if (equalsWord(key, "runtimeValue")) {
    addDialogItem(state, labelledItem("RuntimeValue", items));
  } else if (equalsWord(key, "logFieldSelector")) {
    addDialogItem(state, labelledItem("LogFieldSelector", items));
  } else if (equalsWord(key, "channelSelector")) {
    addDialogItem(state, labelledItem("ChannelSelector", items));
  } else if (equalsWord(key, "canDeviceSelector")) {
    DialogItemDef item = labelledItem("CanDeviceSelector", items);
    item.CanIdConstant = item.FieldName;
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "canClientIdSelector")) {
    DialogItemDef item = labelledItem("CanClientIdSelector", items);
    item.DeviceCanIdConstant = item.FieldName;
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "settingSelector")) {
    // settingSelector = "Label", {condition}; its settingOption lines follow.
    DialogItemDef item;
    item.Type = QStringLiteral("SettingSelector");
    item.Label = unquote(items.at(0));
    item.SelectorName = item.Label;
    scanConditions(items, 1, item.Condition, item.VisibilityCondition);
    if (DialogDef* dialog = currentDialog(state)) {
      dialog->Items.append(item);
      state.currentSelectorItem = dialog->Items.size() - 1;
    }
  } else if (equalsWord(key, "settingOption")) {
    DialogDef* dialog = currentDialog(state);
    if (dialog && state.currentSelectorItem >= 0 &&
        state.currentSelectorItem < dialog->Items.size()) {
      dialog->Items[state.currentSelectorItem].SettingOptions.append(unquote(items.at(0)));
    }
  } else if (equalsWord(key, "liveGraph")) {
    LiveGraphDef graph;
    graph.Name = items.at(0).trimmed();
    graph.Title = unquote(itemAt(items, 1));
    graph.Position = itemAt(items, 2).trimmed();
    def.LiveGraphs.append(graph);
    state.currentLiveGraph = def.LiveGraphs.size() - 1;
    DialogItemDef item;
    item.Type = QStringLiteral("LiveGraph");
    item.FieldName = graph.Name;
    item.Label = graph.Title;
    if (isPlacementWord(graph.Position)) {
      item.LayoutPlacement = graph.Position;
    }
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "graphLine")) {
    if (state.currentLiveGraph >= 0 && state.currentLiveGraph < def.LiveGraphs.size()) {
      def.LiveGraphs[state.currentLiveGraph].Channels.append(items.at(0).trimmed());
    }
  } else if (equalsWord(key, "gauge")) {
    DialogItemDef item;
    item.Type = QStringLiteral("Gauge");
    item.FieldName = items.at(0).trimmed();
    const QString placement = itemAt(items, 1).trimmed();
    if (isPlacementWord(placement)) {
      item.LayoutPlacement = placement;
    }
    def.GaugeDialogs.append(item.FieldName);
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "displayOnlyField")) {
    DialogItemDef item = labelledItem("DisplayOnlyField", items);
    def.DisplayOnlyFields.append({item.Label, item.FieldName, item.Condition});
    addDialogItem(state, std::move(item));
  } else if (equalsWord(key, "indicatorPanel") || equalsWord(key, "readoutPanel")) {
    const QString name = items.at(0).trimmed();
    const int columns = parseInt(itemAt(items, 1)).value_or(1);
    const QString third = itemAt(items, 2);
    const QString condition = third.contains(u'{') ? stripBraces(third) : QString();
    if (equalsWord(key, "indicatorPanel")) {
      def.IndicatorPanels.append({name, columns, condition, {}});
      state.currentIndicatorPanel = def.IndicatorPanels.size() - 1;
    } else {
      def.ReadoutPanels.append({name, columns, condition, {}});
      state.currentReadoutPanel = def.ReadoutPanels.size() - 1;
    }
  } else if (equalsWord(key, "indicator")) {
    const qsizetype i = state.currentIndicatorPanel;
    if (i >= 0 && i < def.IndicatorPanels.size()) {
      if (auto indicator = parseIndicator(p.value)) {
        def.IndicatorPanels[i].Indicators.append(*indicator);
      }
    }
  } else if (equalsWord(key, "readout")) {
    const qsizetype i = state.currentReadoutPanel;
    if (i >= 0 && i < def.ReadoutPanels.size()) {
      def.ReadoutPanels[i].Readouts.append(readoutLine(items));
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
