// Handlers of [TableEditor] and [CurveEditor], and the derived Scalars map.

#include "definition/ini_read_state.h"
#include "definition/ini_text.h"

namespace tk::detail {

void handleTableEditorLine(ReadState& state, const QString& line) {
  const PreparedLine p = prepareLine(state, line);
  if (!p.hasKey) {
    return;
  }
  const QStringList& items = p.items;
  const auto item = [&items](qsizetype i) { return itemAt(items, i).trimmed(); };
  if (equalsWord(p.key, "table")) {
    TableDef table;
    table.Id = item(0);
    table.Map3dId = item(1);
    table.Title = unquote(item(2));
    if (const auto n = parseInt(item(3))) {
      table.Page = *n;
    }
    state.currentTableId = table.Id;
    state.hasCurrentTable = true;
    state.def.Tables.insert(table.Id, table);
    return;
  }
  TableDef* table = state.hasCurrentTable ? state.def.Tables.find(state.currentTableId) : nullptr;
  if (!table) {
    return;
  }
  if (equalsWord(p.key, "xBins")) {
    table->XBinVariable = item(0);
    table->XBinSource = item(1);
    table->XBinReadOnly = item(2) == QLatin1String("readOnly");
  } else if (equalsWord(p.key, "yBins")) {
    table->YBinVariable = item(0);
    table->YBinSource = item(1);
    table->YBinReadOnly = item(2) == QLatin1String("readOnly");
  } else if (equalsWord(p.key, "zBins")) {
    table->ZBinVariable = item(0);
  } else if (equalsWord(p.key, "xyLabels")) {
    table->XyLabels.clear();
    for (const QString& label : items) {
      table->XyLabels.append(unquote(label));
    }
  } else if (equalsWord(p.key, "upDownLabel")) {
    QStringList labels;
    for (const QString& label : items) {
      labels.append(unquote(label));
    }
    table->UpDownLabel = labels.join(QStringLiteral(", "));
  } else if (equalsWord(p.key, "gridOrient")) {
    table->GridOrient = p.value;
  } else if (equalsWord(p.key, "topicHelp")) {
    table->TopicHelp = unquote(p.value);
  } else if (equalsWord(p.key, "gridHeight")) {
    if (const auto d = parseDouble(p.value)) {
      table->GridHeight = *d;
    }
  } else if (equalsWord(p.key, "userPassword")) {
    table->UserPassword = p.value.trimmed();
  }
}

void handleCurveEditorLine(ReadState& state, const QString& line) {
  const PreparedLine p = prepareLine(state, line);
  if (!p.hasKey) {
    return;
  }
  const QStringList& items = p.items;
  const auto item = [&items](qsizetype i) { return itemAt(items, i).trimmed(); };
  const auto unquotedItems = [&items] {
    QStringList out;
    for (const QString& s : items) {
      out.append(unquote(s));
    }
    return out;
  };
  if (equalsWord(p.key, "curve")) {
    CurveDef curve;
    curve.Id = item(0);
    curve.Title = unquote(item(1));
    state.currentCurveId = curve.Id;
    state.hasCurrentCurve = true;
    state.def.Curves.insert(curve.Id, curve);
    return;
  }
  CurveDef* curve = state.hasCurrentCurve ? state.def.Curves.find(state.currentCurveId) : nullptr;
  if (!curve) {
    return;
  }
  if (equalsWord(p.key, "columnLabel")) {
    curve->ColumnLabels = unquotedItems();
  } else if (equalsWord(p.key, "xAxis")) {
    curve->XAxis = p.value;
  } else if (equalsWord(p.key, "yAxis")) {
    curve->YAxis = p.value;
  } else if (equalsWord(p.key, "xBins")) {
    curve->XBinVariable = item(0);
    if (items.size() >= 2) {
      if (item(1) == QLatin1String("readOnly")) {
        curve->XBinReadOnly = true;
      } else {
        curve->XBinChannel = unquote(item(1));
      }
    }
    if (item(2) == QLatin1String("readOnly")) {
      curve->XBinReadOnly = true;
    }
  } else if (equalsWord(p.key, "yBins")) {
    curve->YBinVariable = item(0);
  } else if (equalsWord(p.key, "gauge")) {
    curve->Gauge = item(0);
  } else if (equalsWord(p.key, "topicHelp")) {
    curve->TopicHelp = unquote(p.value);
  } else if (equalsWord(p.key, "showTextValues")) {
    curve->ShowTextValues = isBooleanTrue(p.value);
  } else if (equalsWord(p.key, "lineLabel")) {
    curve->LineLabels = unquotedItems();
  } else if (equalsWord(p.key, "size")) {
    const auto a = parseInt(item(0));
    const auto b = parseInt(item(1));
    if (a && b) {
      curve->Size = std::make_pair(*a, *b);
    }
  } else if (equalsWord(p.key, "suppressGraph")) {
    curve->SuppressGraph = isBooleanTrue(p.value);
  }
}

void buildScalars(EcuDefinition& definition) {
  // The first labelled dialog item of each field name, found in one walk over the dialogs.
  OrderedMap<QString> titles;
  for (const DialogDef& dialog : definition.Dialogs) {
    for (const DialogItemDef& item : dialog.Items) {
      if (!item.Label.isEmpty() && !titles.contains(item.FieldName)) {
        titles.insert(item.FieldName, item.Label);
      }
    }
  }
  for (const PageGroup& page : definition.Pages) {
    for (const ConstantDef& c : page.Fields) {
      if (c.Type != ConstantType::Scalar || !c.Shape.isEmpty() ||
          definition.Scalars.contains(c.Name)) {
        continue;
      }
      ScalarDef scalar;
      scalar.Name = c.Name;
      const QString* title = titles.find(c.Name);
      scalar.Title = title != nullptr ? *title : c.Name;
      scalar.Page = page.PageNumber;
      scalar.Offset = c.Offset;
      scalar.DataType = c.DataType;
      scalar.Units = c.Units;
      scalar.Scale = c.Scale;
      scalar.Translate = c.Translate;
      scalar.Min = c.Min;
      scalar.Max = c.Max;
      scalar.Digits = c.Digits;
      definition.Scalars.insert(c.Name, scalar);
    }
  }
}

}  // namespace tk::detail
