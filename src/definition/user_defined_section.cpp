// Handler of [UserDefined]: dialogs, their components, panels and help topics, one row per
// keyword.
#include <algorithm>
#include <cstddef>

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

void fieldLine(ReadState& state, const PreparedLine& p) {
  const QStringList& items = p.items;
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

void panelLine(ReadState& state, const PreparedLine& p) {
  const QStringList& items = p.items;
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

ReadoutDef readout(const QStringList& items) {
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

// [UserDefined] keywords. Each handler gets the prepared line (key, value, items).

void dialogLine(ReadState& state, const PreparedLine& p) {
  state.closeHelpTopic();
  DialogDef dialog;
  dialog.Name = p.items.at(0).trimmed();
  dialog.Label = unquote(itemAt(p.items, 1));
  const QString layout = itemAt(p.items, 2).trimmed().toLower();
  for (const char* word : {"yaxis", "xaxis", "border", "card", "indexcard"}) {
    if (layout == QLatin1String(word)) {
      dialog.LayoutType = layout;
    }
  }
  state.def.Dialogs.append(dialog);
  state.currentDialog = state.def.Dialogs.size() - 1;
  state.currentSelectorItem = -1;
}

void helpTopicLine(ReadState& state, const PreparedLine& p) {
  handleHelpTopic(state, p.key, p.value);
}

// Inside an open help topic webHelp belongs to the topic, otherwise to the dialog.
void webHelpLine(ReadState& state, const PreparedLine& p) {
  if (state.openHelp) {
    handleHelpTopic(state, p.key, p.value);
  } else if (DialogDef* dialog = currentDialog(state)) {
    dialog->WebHelp = unquote(p.value);
  }
}

void topicHelpLine(ReadState& state, const PreparedLine& p) {
  if (DialogDef* dialog = currentDialog(state)) {
    dialog->TopicHelp = unquote(p.value);
  }
}

void commandButtonLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item;
  item.Type = QStringLiteral("CommandButton");
  item.Label = unquote(p.items.at(0));
  item.Action = itemAt(p.items, 1).trimmed();
  scanConditions(p.items, 2, item.Condition, item.VisibilityCondition);
  addDialogItem(state, std::move(item));
}

// radio = orientation, "Label", field, {condition}
void radioLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item = labelledItem("Radio", p.items.mid(1));
  item.Orientation = p.items.at(0).trimmed();
  addDialogItem(state, std::move(item));
}

// slider = "Label", field, orientation, {condition}
void sliderLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item = labelledItem("Slider", p.items);
  const QString orientation = itemAt(p.items, 2).trimmed();
  if (!orientation.isEmpty() && !orientation.contains(u'{')) {
    item.Orientation = orientation;
  }
  addDialogItem(state, std::move(item));
}

// settingSelector = "Label", {condition}; its settingOption lines follow.
void settingSelectorLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item;
  item.Type = QStringLiteral("SettingSelector");
  item.Label = unquote(p.items.at(0));
  item.SelectorName = item.Label;
  scanConditions(p.items, 1, item.Condition, item.VisibilityCondition);
  if (DialogDef* dialog = currentDialog(state)) {
    dialog->Items.append(item);
    state.currentSelectorItem = dialog->Items.size() - 1;
  }
}

void settingOptionLine(ReadState& state, const PreparedLine& p) {
  DialogDef* dialog = currentDialog(state);
  if (dialog && state.currentSelectorItem >= 0 &&
      state.currentSelectorItem < dialog->Items.size()) {
    dialog->Items[state.currentSelectorItem].SettingOptions.append(unquote(p.items.at(0)));
  }
}

void liveGraphLine(ReadState& state, const PreparedLine& p) {
  LiveGraphDef graph;
  graph.Name = p.items.at(0).trimmed();
  graph.Title = unquote(itemAt(p.items, 1));
  graph.Position = itemAt(p.items, 2).trimmed();
  state.def.LiveGraphs.append(graph);
  state.currentLiveGraph = state.def.LiveGraphs.size() - 1;
  DialogItemDef item;
  item.Type = QStringLiteral("LiveGraph");
  item.FieldName = graph.Name;
  item.Label = graph.Title;
  if (isPlacementWord(graph.Position)) {
    item.LayoutPlacement = graph.Position;
  }
  addDialogItem(state, std::move(item));
}

void graphLineLine(ReadState& state, const PreparedLine& p) {
  QList<LiveGraphDef>& graphs = state.def.LiveGraphs;
  if (state.currentLiveGraph >= 0 && state.currentLiveGraph < graphs.size()) {
    graphs[state.currentLiveGraph].Channels.append(p.items.at(0).trimmed());
  }
}

void gaugeLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item;
  item.Type = QStringLiteral("Gauge");
  item.FieldName = p.items.at(0).trimmed();
  const QString placement = itemAt(p.items, 1).trimmed();
  if (isPlacementWord(placement)) {
    item.LayoutPlacement = placement;
  }
  state.def.GaugeDialogs.append(item.FieldName);
  addDialogItem(state, std::move(item));
}

void canDeviceSelectorLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item = labelledItem("CanDeviceSelector", p.items);
  item.CanIdConstant = item.FieldName;
  addDialogItem(state, std::move(item));
}

void canClientIdSelectorLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item = labelledItem("CanClientIdSelector", p.items);
  item.DeviceCanIdConstant = item.FieldName;
  addDialogItem(state, std::move(item));
}

void displayOnlyFieldLine(ReadState& state, const PreparedLine& p) {
  DialogItemDef item = labelledItem("DisplayOnlyField", p.items);
  state.def.DisplayOnlyFields.append({item.Label, item.FieldName, item.Condition});
  addDialogItem(state, std::move(item));
}

/// indicatorPanel and readoutPanel = name, columns (1 when missing), {enable condition}.
template <typename Panel>
void panelHeader(const PreparedLine& p, QList<Panel>& panels, qsizetype& current) {
  const QString third = itemAt(p.items, 2);
  panels.append({p.items.at(0).trimmed(),
                 parseInt(itemAt(p.items, 1)).value_or(1),
                 third.contains(u'{') ? stripBraces(third) : QString(),
                 {}});
  current = panels.size() - 1;
}

void indicatorPanelLine(ReadState& state, const PreparedLine& p) {
  panelHeader(p, state.def.IndicatorPanels, state.currentIndicatorPanel);
}

void readoutPanelLine(ReadState& state, const PreparedLine& p) {
  panelHeader(p, state.def.ReadoutPanels, state.currentReadoutPanel);
}

void indicatorLine(ReadState& state, const PreparedLine& p) {
  const qsizetype i = state.currentIndicatorPanel;
  if (i >= 0 && i < state.def.IndicatorPanels.size()) {
    if (auto indicator = parseIndicator(p.value)) {
      state.def.IndicatorPanels[i].Indicators.append(*indicator);
    }
  }
}

void readoutLine(ReadState& state, const PreparedLine& p) {
  const qsizetype i = state.currentReadoutPanel;
  if (i >= 0 && i < state.def.ReadoutPanels.size()) {
    state.def.ReadoutPanels[i].Readouts.append(readout(p.items));
  }
}

using KeywordHandler = void (*)(ReadState&, const PreparedLine&);

/// One [UserDefined] keyword (compared ignoring case) and its handler.
struct KeywordRow {
  const char* keyword;
  KeywordHandler handle;
};

/// The item type of a component keyword that has the common "Label", name, {conditions} shape.
template <std::size_t N>
struct ItemType {
  constexpr ItemType(const char (&text)[N]) { std::copy_n(text, N, name); }
  char name[N];
};

template <ItemType type>
void labelledLine(ReadState& state, const PreparedLine& p) {
  addDialogItem(state, labelledItem(type.name, p.items));
}

const KeywordRow kUserDefinedKeywords[] = {
    {"dialog", dialogLine},
    {"help", helpTopicLine},
    {"text", helpTopicLine},
    {"webHelp", webHelpLine},
    {"topicHelp", topicHelpLine},
    {"field", fieldLine},
    {"commandButton", commandButtonLine},
    {"panel", panelLine},
    {"radio", radioLine},
    {"slider", sliderLine},
    {"array1D", labelledLine<"Array1D">},
    {"runtimeValue", labelledLine<"RuntimeValue">},
    {"logFieldSelector", labelledLine<"LogFieldSelector">},
    {"channelSelector", labelledLine<"ChannelSelector">},
    {"canDeviceSelector", canDeviceSelectorLine},
    {"canClientIdSelector", canClientIdSelectorLine},
    {"settingSelector", settingSelectorLine},
    {"settingOption", settingOptionLine},
    {"liveGraph", liveGraphLine},
    {"graphLine", graphLineLine},
    {"gauge", gaugeLine},
    {"displayOnlyField", displayOnlyFieldLine},
    {"indicatorPanel", indicatorPanelLine},
    {"indicator", indicatorLine},
    {"readoutPanel", readoutPanelLine},
    {"readout", readoutLine},
};
}  // namespace

void handleUserDefinedLine(ReadState& state, const QString& line) {
  const PreparedLine p = prepareLine(state, line);
  if (!p.hasKey) {
    return;
  }
  for (const KeywordRow& row : kUserDefinedKeywords) {
    if (equalsWord(p.key, row.keyword)) {
      row.handle(state, p);
      return;
    }
  }
}

}  // namespace tk::detail
