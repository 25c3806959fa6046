// Handlers of [ControllerCommands], [EventTriggers], [Tools], [UserShortcuts], [KeyActions],
// [DatalogViews], [VeAnalyze], [WueAnalyze], [LoggerDefinition], [ReferenceTables], [PortEditor].
#include <QRegularExpression>

#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {
namespace {

bool isTrueWord(const QString& value) { return equalsWord(value.trimmed(), "true"); }

QStringList unquotedFrom(const QStringList& items, qsizetype first) {
  QStringList out;
  for (qsizetype i = first; i < items.size(); ++i) {
    out.append(unquote(items.at(i)));
  }
  return out;
}

void setInt(int& field, const QString& text) {
  if (const auto n = parseInt(text)) {
    field = *n;
  }
}

void setDouble(double& field, const QString& text) {
  if (const auto d = parseDouble(text)) {
    field = *d;
  }
}

/// filter = name, "Display name", channel, operator, default, [blank], adjustable. Real files
/// also write channel and operator in one item separated by blanks, so the items after the
/// display name are taken as one run of blank-separated words.
void addFilter(QList<AnalysisFilter>& filters, const QStringList& items) {
  const QString name = items.at(0).trimmed();
  if (name.startsWith(QLatin1String("std_"), Qt::CaseInsensitive)) {
    return;  // built-in filters are part of the analysis itself
  }
  AnalysisFilter filter;
  filter.Name = name;
  filter.DisplayName = unquote(itemAt(items, 1));
  static const QRegularExpression blanks(QStringLiteral("\\s+"));
  QStringList words;
  for (qsizetype i = 2; i < items.size(); ++i) {
    words.append(items.at(i).split(blanks, Qt::SkipEmptyParts));
  }
  qsizetype w = 0;
  if (w < words.size()) {
    filter.ChannelName = words.at(w++);
  }
  static const QStringList operators = {QStringLiteral(">"),  QStringLiteral("<"),
                                        QStringLiteral(">="), QStringLiteral("<="),
                                        QStringLiteral("="),  QStringLiteral("!=")};
  if (w < words.size() && operators.contains(words.at(w))) {
    filter.Operator = words.at(w++);
  } else if (w + 1 < words.size() && words.at(w) == QLatin1String("&")) {
    // "engine & 16": a flag test is none of the comparisons, so the record keeps its literal
    // reading (no operator, default 0); the mask is kept aside for the log analysis.
    filter.FlagBits = parseDouble(words.at(w + 1));
  }
  if (w < words.size()) {
    if (const auto d = parseDouble(words.at(w))) {
      filter.DefaultValue = *d;
      ++w;
    }
  }
  if (w < words.size()) {
    const QString adjustable = words.at(w);
    filter.UserAdjustable = isTrueWord(adjustable) || adjustable == QLatin1String("1");
  }
  filters.append(filter);
}

LoggerField loggerField(const QStringList& items) {
  LoggerField field;
  field.Name = items.at(0).trimmed();
  field.HeaderName = unquote(items.at(1));
  field.StartBit = parseInt(items.at(2)).value_or(0);
  field.BitCount = parseInt(items.at(3)).value_or(0);
  if (items.size() >= 5) {
    field.Scale = items.at(4).trimmed();
  }
  // After the scale: a number is the translate, a word in braces the update condition, "hidden"
  // hides the field and any other text is the units.
  for (qsizetype i = 5; i < items.size(); ++i) {
    const QString item = items.at(i).trimmed();
    if (isBraced(item)) {
      field.UpdateCondition = stripBraces(item);
    } else if (equalsWord(item, "hidden")) {
      field.Hidden = true;
    } else if (parseDouble(item) && field.Units.isEmpty()) {
      field.Translate = item;
    } else {
      field.Units = unquote(item);
    }
  }
  return field;
}

}  // namespace

void handleControllerCommand(ReadState& state, const QString& key, const QString& value) {
  EcuDefinition& def = state.def;
  if (key.startsWith(QLatin1String("cmd_"), Qt::CaseInsensitive)) {
    def.Commands.insert(key, unquote(value));
  } else if (equalsWord(key, "displayCommand")) {
    const QString text = value.trimmed();
    if (!def.DisplayCommands.contains(text, Qt::CaseInsensitive)) {
      def.DisplayCommands.append(text);
    }
  } else if (!key.isEmpty()) {
    def.OtherCommands.insert(key, unquote(value));
  }
}

void handleEventTrigger(ReadState& state, const QString& key, const QString& value) {
  const QStringList items = splitList(value);
  if (equalsWord(key, "triggeredPageRefresh")) {
    if (const auto page = parseInt(items.at(0))) {
      state.def.TriggeredPageRefreshes.append({*page, stripBraces(itemAt(items, 1))});
    }
  } else if (equalsWord(key, "timedPageRefresh")) {
    const auto page = parseInt(items.at(0));
    const auto interval = parseInt(itemAt(items, 1));
    if (page && interval) {
      state.def.TriggeredPageRefreshes.append({*page, QStringLiteral("timer:%1").arg(*interval)});
    }
  }
}

void handleTool(ReadState& state, const QString& key, const QString& value) {
  const QStringList items = splitList(value);
  if (equalsWord(key, "addTool") && items.size() >= 3) {
    state.def.Tools.append({items.at(0).trimmed(), unquote(items.at(1)), items.at(2).trimmed()});
  }
}

void handleUserShortcut(ReadState& state, const QString& key, const QString& value) {
  const QStringList items = splitList(value);
  if (!equalsWord(key, "shortcut") || items.size() < 5) {
    return;
  }
  const EcuDefinition& def = state.def;
  ShortcutDef shortcut;
  shortcut.Id = items.at(0).trimmed();
  shortcut.Name = unquote(items.at(1));
  shortcut.Key = unquote(items.at(2));
  shortcut.Modifiers = unquote(items.at(3));
  shortcut.Target = unquote(items.at(4));
  shortcut.IsToggle = isTrueWord(itemAt(items, 5));
  shortcut.Condition = unquote(itemAt(items, 6));
  const QString& target = shortcut.Target;
  const auto isDialog = [&] {
    for (const DialogDef& dialog : def.Dialogs) {
      if (dialog.Name == target) {
        return true;
      }
    }
    return false;
  };
  const auto targetType = [&]() -> QString {
    if (target.isEmpty()) {
      return QStringLiteral("Unknown");
    }
    if (def.Tables.contains(target)) {
      return QStringLiteral("Table");
    }
    if (def.Curves.contains(target)) {
      return QStringLiteral("Curve");
    }
    if (isDialog()) {
      return QStringLiteral("Dialog");
    }
    if (def.Scalars.contains(target)) {
      return QStringLiteral("Scalar");
    }
    if (def.findConstant(target)) {
      return QStringLiteral("Field");
    }
    if (def.OutputChannels.contains(target)) {
      return QStringLiteral("OutputChannel");
    }
    return QStringLiteral("Unknown");
  };
  shortcut.TargetType = targetType();
  state.def.UserShortcuts.insert(shortcut.Id, shortcut);
}

void handleKeyAction(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "showPanel")) {
    const QStringList items = splitList(value);
    state.def.KeyActions.append(
        {QStringLiteral("showPanel"), items.at(0).trimmed(), itemAt(items, 1).trimmed()});
  }
}

void handleDatalogView(ReadState& state, const QString& key, const QString& value) {
  if (equalsWord(key, "logViewName")) {
    if (state.openDatalogView) {
      state.def.DatalogViews.append(*state.openDatalogView);
    }
    state.openDatalogView = DatalogView{unquote(value), {}};
  } else if (key.startsWith(QLatin1String("graph"), Qt::CaseInsensitive) && state.openDatalogView) {
    state.openDatalogView->GraphTraces.append(value.trimmed());
  }
}

void handleVeAnalyze(ReadState& state, const QString& key, const QString& value) {
  VeAnalyzeDef& ve = state.def.VeAnalyze;
  const QStringList items = splitList(value);
  if (equalsWord(key, "veAnalyzeMap")) {
    QString* fields[] = {&ve.VeTableName, &ve.LambdaTargetTableName, &ve.LambdaChannelName,
                         &ve.EgoCorrectionChannelName};
    for (qsizetype i = 0; i < items.size() && i < 4; ++i) {
      *fields[i] = items.at(i).trimmed();
    }
    if (items.size() >= 5) {
      ve.ActiveCondition = items.at(4).trimmed();
    }
  } else if (equalsWord(key, "lambdaTargetTables")) {
    ve.LambdaTargetTables.clear();
    for (const QString& item : items) {
      ve.LambdaTargetTables.append(item.trimmed());
    }
  } else if (equalsWord(key, "filter")) {
    addFilter(ve.Filters, items);
  }
}

void handleWueAnalyze(ReadState& state, const QString& key, const QString& value) {
  WueAnalyzeDef& wue = state.def.WueAnalyze;
  const QStringList items = splitList(value);
  if (equalsWord(key, "wueAnalyzeMap")) {
    QString* fields[] = {&wue.WueTableName, &wue.TargetTableName, &wue.ChannelName,
                         &wue.ActiveCondition};
    for (qsizetype i = 0; i < items.size() && i < 4; ++i) {
      *fields[i] = items.at(i).trimmed();
    }
  } else if (equalsWord(key, "filter")) {
    addFilter(wue.Filters, items);
  }
}

void handleLogger(ReadState& state, const QString& key, const QString& value) {
  const QStringList items = splitList(value);
  if (equalsWord(key, "loggerDef")) {
    if (state.openLogger) {
      state.def.LoggerDefinitions.insert(state.openLogger->Name, *state.openLogger);
    }
    LoggerDef logger;
    logger.Name = items.at(0).trimmed();
    logger.DisplayName = unquote(itemAt(items, 1));
    if (items.size() >= 3) {
      logger.Type = items.at(2).trimmed();
    }
    state.openLogger = logger;
    return;
  }
  if (!state.openLogger) {
    return;
  }
  LoggerDef& logger = *state.openLogger;
  if (equalsWord(key, "startCommand")) {
    logger.StartCommand = unquote(value);
  } else if (equalsWord(key, "stopCommand")) {
    logger.StopCommand = unquote(value);
  } else if (equalsWord(key, "dataReadCommand")) {
    logger.DataReadCommand = unquote(value);
  } else if (equalsWord(key, "defaultXAxis")) {
    logger.DefaultXAxis = unquote(value);
  } else if (equalsWord(key, "dataReadyCondition")) {
    logger.DataReadyCondition = stripBraces(value);
  } else if (equalsWord(key, "dataReadTimeout")) {
    setInt(logger.DataReadTimeout, value);
  } else if (equalsWord(key, "dataLength")) {
    setInt(logger.DataLength, value);
  } else if (equalsWord(key, "overlaidDatasetCount")) {
    setInt(logger.OverlaidDatasetCount, value);
  } else if (equalsWord(key, "slavePort")) {
    setInt(logger.SlavePort, value);
  } else if (equalsWord(key, "continuousRead")) {
    logger.ContinuousRead = isTrueWord(value);
  } else if (equalsWord(key, "stopOnExit")) {
    logger.StopOnExit = isTrueWord(value);
  } else if (equalsWord(key, "recordDef")) {
    int* fields[] = {&logger.HeaderLength, &logger.FooterLength, &logger.RecordLength};
    for (qsizetype i = 0; i < items.size() && i < 3; ++i) {
      setInt(*fields[i], items.at(i));
    }
  } else if (equalsWord(key, "logProcessorType")) {
    logger.LogProcessorType = value.trimmed();
  } else if (equalsWord(key, "headerField") || equalsWord(key, "recordField")) {
    if (items.size() >= 4) {
      (equalsWord(key, "headerField") ? logger.HeaderFields : logger.RecordFields)
          .append(loggerField(items));
    }
  } else if (equalsWord(key, "calcField")) {
    LoggerCalcField field;
    field.Name = items.at(0).trimmed();
    field.HeaderName = unquote(itemAt(items, 1));
    field.Units = unquote(itemAt(items, 2));
    for (qsizetype i = 3; i < items.size(); ++i) {
      const QString item = items.at(i).trimmed();
      if (equalsWord(item, "hidden")) {
        field.Hidden = true;
      } else if (isBraced(item)) {
        field.Expression = stripBraces(item);
      }
    }
    logger.CalcFields.append(field);
  } else if (equalsWord(key, "verticalMarker")) {
    // verticalMarker = field, {condition}, colour, "label"
    if (items.size() >= 4) {
      logger.VerticalMarkers.append({items.at(0).trimmed(), stripBraces(items.at(1)),
                                     items.at(2).trimmed(), unquote(items.at(3))});
    }
  }
}

void handleReferenceTable(ReadState& state, const QString& key, const QString& value) {
  const QStringList items = splitList(value);
  if (equalsWord(key, "referenceTable")) {
    if (state.openReferenceTable) {
      state.def.ReferenceTables.insert(state.openReferenceTable->Name, *state.openReferenceTable);
    }
    ReferenceTableDef table;
    table.Name = items.at(0).trimmed();
    table.Title = unquote(itemAt(items, 1));
    state.openReferenceTable = table;
    return;
  }
  if (!state.openReferenceTable) {
    return;
  }
  ReferenceTableDef& table = *state.openReferenceTable;
  if (equalsWord(key, "topicHelp")) {
    table.TopicHelp = unquote(value);
  } else if (equalsWord(key, "solutionsLabel")) {
    table.SolutionsLabel = unquote(value);
  } else if (equalsWord(key, "adcCount")) {
    setInt(table.AdcCount, value);
  } else if (equalsWord(key, "bytesPerAdc")) {
    setInt(table.BytesPerAdc, value);
  } else if (equalsWord(key, "tableStartOffset")) {
    setInt(table.TableStartOffset, value);
  } else if (equalsWord(key, "scale")) {
    setDouble(table.Scale, value);
  } else if (equalsWord(key, "tableIdentifier")) {
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
      if (const auto id = parseInt(items.at(i))) {
        table.TableIdentifiers.append({*id, unquote(items.at(i + 1))});
      }
    }
  } else if (equalsWord(key, "tableLimits")) {
    // tableLimits = identifier, min, max, default
    const auto id = parseInt(items.at(0));
    if (items.size() >= 4 && id) {
      TableLimit limit;
      limit.Id = *id;
      setDouble(limit.Min, items.at(1));
      setDouble(limit.Max, items.at(2));
      setDouble(limit.Default, items.at(3));
      table.TableLimits.append(limit);
    }
  } else if (equalsWord(key, "thermOption")) {
    ThermOption option;
    option.Name = unquote(items.at(0));
    double* fields[] = {&option.ResistorBias, &option.TempPoint1, &option.ResPoint1,
                        &option.TempPoint2,   &option.ResPoint2,  &option.TempPoint3,
                        &option.ResPoint3};
    for (qsizetype i = 1; i < items.size() && i < 8; ++i) {
      setDouble(*fields[i - 1], items.at(i));
    }
    table.ThermOptions.append(option);
  } else if (equalsWord(key, "tableGenerator")) {
    TableGenerator generator;
    generator.Type = items.at(0).trimmed();
    generator.Label = unquote(itemAt(items, 1));
    generator.XUnits = unquote(itemAt(items, 2));
    generator.YUnits = unquote(itemAt(items, 3));
    double* fields[] = {&generator.XLow, &generator.XHigh, &generator.YLow, &generator.YHigh};
    for (qsizetype i = 4; i < items.size() && i < 8; ++i) {
      setDouble(*fields[i - 4], items.at(i));
    }
    table.TableGenerators.append(generator);
  } else if (equalsWord(key, "solution")) {
    // solution = "Name", {expression}; a plain second item names a table generator instead.
    ReferenceSolution solution;
    solution.Name = unquote(items.at(0));
    const QString second = itemAt(items, 1).trimmed();
    if (isBraced(second)) {
      solution.Expression = stripBraces(second);
    } else {
      solution.Expression = second;
      solution.IsGenerator = !second.isEmpty();
    }
    table.Solutions.append(solution);
  }
}

void handlePortEditor(ReadState& state, const QString& key, const QString& value) {
  PortEditorDef& port = state.def.PortEditor;
  const QStringList items = splitList(value);
  if (equalsWord(key, "portEditor")) {
    port.Name = items.at(0).trimmed();
    port.Title = unquote(itemAt(items, 1));
  } else if (equalsWord(key, "topicHelp")) {
    port.TopicHelp = unquote(value);
  } else if (equalsWord(key, "enabledPorts")) {
    port.EnabledFieldName = items.at(0).trimmed();
    port.EnabledPorts = unquotedFrom(items, 1);
  } else if (equalsWord(key, "operators")) {
    port.OperatorsFieldName = items.at(0).trimmed();
    port.Operators = unquotedFrom(items, 1);
  } else {
    static const std::pair<const char*, QString PortEditorDef::*> kFieldNames[] = {
        {"threshold", &PortEditorDef::ThresholdFieldName},
        {"hysteresis", &PortEditorDef::HysteresisFieldName},
        {"powerOnValue", &PortEditorDef::PowerOnValueFieldName},
        {"triggerValue", &PortEditorDef::TriggerValueFieldName},
        {"outputOffset", &PortEditorDef::OutputOffsetFieldName},
        {"outputSize", &PortEditorDef::OutputSizeFieldName},
        {"outputName", &PortEditorDef::OutputNameFieldName},
        {"portActiveDelay", &PortEditorDef::ActiveDelayFieldName},
        {"portInactiveDelay", &PortEditorDef::InactiveDelayFieldName},
        {"conditionRelationship", &PortEditorDef::ConditionRelationshipFieldName},
    };
    for (const auto& [word, field] : kFieldNames) {
      if (equalsWord(key, word)) {
        port.*field = value.trimmed();
        return;
      }
    }
    // outputCanId, activateOption, extendedDataInSize and filter32BitChannels configure the
    // desktop editor only; nothing of them is kept.
  }
}

void closeControllerRecords(ReadState& state) {
  if (state.openLogger) {
    state.def.LoggerDefinitions.insert(state.openLogger->Name, *state.openLogger);
    state.openLogger.reset();
  }
  if (state.openReferenceTable) {
    state.def.ReferenceTables.insert(state.openReferenceTable->Name, *state.openReferenceTable);
    state.openReferenceTable.reset();
  }
  if (state.openDatalogView) {
    state.def.DatalogViews.append(*state.openDatalogView);
    state.openDatalogView.reset();
  }
}

}  // namespace tk::detail
